// Many small files through the real commands, against a copy of the same files.
//
// Makes BENCH_SMALL_FILES files (default 900, the list's limit) of BENCH_SMALL_KIB KiB each
// (default 64) in a new folder under TMPDIR (default /tmp), then BENCH_SMALL_RUNS times
// (default 3):
//   copy         each file copied into a new folder and flushed (fsync), then the folder;
//                and all copied, then the file system flushed once (syncfs), as cp and sync
//   hide sealed  HideSelection with encrypt-when-hiding on, Slow Run on, then off
//   restore all  RestoreAll of those entries, the originals having been deleted first
//   hide plain   HideSelection with it off (the files move into storage), then RestoreAll
// Each command runs in a child process of its own, on a ProgramState and catalogue loaded
// from the settings file as the main window does, with a UiServices that notes when it is
// asked to yield: the longest gap is the longest time the window's event loop would have
// waited for a turn (from the command's start to its first yield, between two yields, from
// the last one to its end). "peak" is the child's peak resident memory (ru_maxrss). Every
// restore is checked against the copy, byte for byte. Prints the median of the runs:
//   copy + fsync: <s> s ...
//   copy + one sync: <s> s ...
//   <command>: <s> s, <ratio>x copy, <ratio>x copy + one sync[, <ratio>x plain hide],
//              peak <MiB> MiB, longest gap <ms> ms

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "commands/command_context.h"
#include "commands/hide_command.h"
#include "commands/restore_command.h"
#include "commands/silent_ui_services.h"
#include "platform/platform.h"
#include "store/settings_file.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// What a child sends back through its pipe.
struct Timing {
    bool ok = false;
    double seconds = 0;
    double longestGap = 0;
};

struct Run {
    Timing timing;
    double peakMiB = 0;
};

// Notes the longest time between two turns it is given.
class TimingUi : public vantory::SilentUiServices {
  public:
    void start() { last_ = Clock::now(); }
    void yield() override { note(); }
    double finish() {
        note();
        return longest_;
    }

  private:
    void note() {
        const auto now = Clock::now();
        longest_ = std::max(longest_, std::chrono::duration<double>(now - last_).count());
        last_ = now;
    }
    Clock::time_point last_ = Clock::now();
    double longest_ = 0;
};

class NoBusy : public vantory::BusyState {
  public:
    void OpRunning(bool) override {}
};

// Runs `work` in a child, which reports its own timing through a pipe.
Run runInChild(const std::function<Timing()>& work) {
    ::sync();
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        const Timing timing = work();
        const bool sent = ::write(pipeEnds[1], &timing, sizeof timing) == sizeof timing;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    Run run;
    if (child > 0 && ::read(pipeEnds[0], &run.timing, sizeof run.timing) != sizeof run.timing) {
        run.timing.ok = false;
    }
    ::close(pipeEnds[0]);
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        run.timing.ok = false;
    }
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

bool writeWhole(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w <= 0) {
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Copies each file into `folder`, flushing each (`each`), then the folder; or copies them all
// and flushes the file system once, as cp and sync do.
Timing copyFiles(const std::vector<std::string>& files, const std::string& folder, bool each) {
    const auto start = Clock::now();
    std::vector<char> buffer(size_t{1} << 20);
    bool ok = true;
    for (const std::string& file : files) {
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const std::string to = folder + "/" + fs::path(file).filename().string();
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ssize_t got = 0;
        while (in >= 0 && out >= 0 && (got = ::read(in, buffer.data(), buffer.size())) > 0) {
            ok = ok && writeWhole(out, buffer.data(), static_cast<size_t>(got));
        }
        ok = ok && in >= 0 && out >= 0 && got == 0 && (!each || ::fsync(out) == 0);
        ::close(in);
        ::close(out);
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && (each ? ::fsync(dir) : ::syncfs(dir)) == 0;
    ::close(dir);
    return {ok, std::chrono::duration<double>(Clock::now() - start).count(), 0};
}

bool writeSources(const std::vector<std::string>& files, size_t bytes) {
    uint64_t x = 0x9E3779B97F4A7C15ull;
    std::string content(bytes, '\0');
    for (const std::string& file : files) {
        for (size_t i = 0; i < bytes; ++i) {  // xorshift64
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            content[i] = static_cast<char>(x >> 56);
        }
        if (!vantory::platform::writeFileAtomically(file, content).ok()) {
            return false;
        }
    }
    return true;
}

// A command on the state and catalogue that the settings file holds, timed as the window
// would see it.
Timing runCommand(vantory::ProgramState state, bool slowRun,
                  const std::function<bool(vantory::CommandContext&)>& command) {
    TimingUi ui;
    NoBusy busy;
    vantory::Catalogue catalogue;
    if (!vantory::ReadSettings(state).ok() || !vantory::loadList(state, catalogue).ok()) {
        return {};
    }
    state.bolSlowRun = slowRun;
    vantory::CommandContext context{state, ui, catalogue, busy};
    const auto start = Clock::now();
    ui.start();
    const bool ok = command(context);
    const double gap = ui.finish();
    return {ok, std::chrono::duration<double>(Clock::now() - start).count(), gap};
}

bool sameFiles(const std::vector<std::string>& files, const std::string& copies) {
    return std::all_of(files.begin(), files.end(), [&](const std::string& file) {
        const std::string copy = copies + "/" + fs::path(file).filename().string();
        return vantory::platform::readWholeFile(file) == vantory::platform::readWholeFile(copy);
    });
}

struct Series {
    std::string name;
    std::vector<Run> runs;

    bool ok() const {
        return !runs.empty() &&
               std::all_of(runs.begin(), runs.end(), [](const Run& r) { return r.timing.ok; });
    }
    // Median of one figure of the runs.
    double median(double (*figure)(const Run&)) const {
        std::vector<double> values;
        for (const Run& run : runs) {
            values.push_back(figure(run));
        }
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    double seconds() const {
        return median([](const Run& r) { return r.timing.seconds; });
    }
    double gapMs() const {
        return 1000 * median([](const Run& r) { return r.timing.longestGap; });
    }
    double peakMiB() const {
        return median([](const Run& r) { return r.peakMiB; });
    }
};

}  // namespace

using vantory::bench::makeWorkFolder;
using vantory::bench::numberFromEnvironment;

int main() {
    const size_t count = numberFromEnvironment("BENCH_SMALL_FILES", 900);
    const size_t kib = numberFromEnvironment("BENCH_SMALL_KIB", 64);
    const uint64_t runs = std::max<uint64_t>(1, numberFromEnvironment("BENCH_SMALL_RUNS", 3));
    const std::optional<std::string> work = makeWorkFolder("vantory-small-files-bench");
    if (!work) {
        return 1;
    }
    const std::string folder = *work;
    std::printf("small files: %zu x %zu KiB in %s, median of %llu runs\n", count, kib,
                folder.c_str(), static_cast<unsigned long long>(runs));
    std::fflush(stdout);

    vantory::ProgramState state;
    state.strSystemDir = folder + "/settings";
    state.strPassword = "kumquat";
    state.strStorageDir = folder + "/store/";
    state.strExtension = "txt";
    std::vector<std::string> files;
    for (size_t i = 0; i < count; ++i) {
        files.push_back(folder + "/home/photo " + std::to_string(1000 + i) + ".jpg");
    }
    fs::create_directories(folder + "/home");
    fs::create_directories(folder + "/store");
    fs::create_directories(state.strSystemDir);
    if (!writeSources(files, kib << 10) || !vantory::WriteFactorySettings(state).ok()) {
        std::fprintf(stderr, "cannot set up %s\n", folder.c_str());
        return 1;
    }

    const auto hide = [&](bool sealed) {
        return [&files, sealed](vantory::CommandContext& c) {
            c.state.bolEncrypt = sealed;
            return vantory::HideSelection(c, files).hidden == files.size();
        };
    };
    const auto restoreAll = [&files](vantory::CommandContext& c) {
        return vantory::RestoreAll(c).stillHidden.empty() && c.catalogue.empty() &&
               std::all_of(files.begin(), files.end(),
                           [](const std::string& f) { return vantory::FileExists(f); });
    };
    const std::string copies = folder + "/copies";
    Series copy{"copy + fsync", {}}, copySync{"copy + one sync", {}};
    Series sealedHide[2] = {{"hide sealed, Slow Run on", {}}, {"hide sealed, Slow Run off", {}}};
    Series sealedRestore[2] = {{"restore all sealed, Slow Run on", {}},
                               {"restore all sealed, Slow Run off", {}}};
    Series plainHide{"hide plain", {}}, plainRestore{"restore all plain", {}};
    bool same = true;
    for (uint64_t run = 0; run < runs && same; ++run) {
        fs::create_directories(copies);
        copySync.runs.push_back(runInChild([&] { return copyFiles(files, copies, false); }));
        fs::remove_all(copies);
        fs::create_directories(copies);
        copy.runs.push_back(runInChild([&] { return copyFiles(files, copies, true); }));
        for (int slow = 0; slow < 2; ++slow) {
            const bool slowRun = slow == 0;
            sealedHide[slow].runs.push_back(
                runInChild([&] { return runCommand(state, slowRun, hide(true)); }));
            for (const std::string& file : files) {
                fs::remove(file);
            }
            sealedRestore[slow].runs.push_back(
                runInChild([&] { return runCommand(state, slowRun, restoreAll); }));
            same = same && sameFiles(files, copies);
        }
        plainHide.runs.push_back(runInChild([&] { return runCommand(state, true, hide(false)); }));
        plainRestore.runs.push_back(
            runInChild([&] { return runCommand(state, true, restoreAll); }));
        same = same && sameFiles(files, copies);
        fs::remove_all(copies);
    }

    const double base = copy.seconds();
    std::printf("%s: %.3f s (each file flushed)\n", copy.name.c_str(), base);
    std::printf("%s: %.3f s (the file system flushed once at the end)\n", copySync.name.c_str(),
                copySync.seconds());
    bool ok = copy.ok() && copySync.ok();
    const auto print = [&](const Series& series, const Series* plain) {
        std::printf("%s: %.3f s, %.2fx copy, %.2fx copy + one sync", series.name.c_str(),
                    series.seconds(), series.seconds() / base,
                    series.seconds() / copySync.seconds());
        if (plain != nullptr) {
            std::printf(", %.2fx plain hide", series.seconds() / plain->seconds());
        }
        std::printf(", peak %.1f MiB, longest gap %.0f ms\n", series.peakMiB(), series.gapMs());
        ok = ok && series.ok();
    };
    for (int slow = 0; slow < 2; ++slow) {
        print(sealedHide[slow], &plainHide);
        print(sealedRestore[slow], nullptr);
    }
    print(plainHide, nullptr);
    print(plainRestore, nullptr);
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (!ok || !same) {
        std::fprintf(stderr, ok ? "a restored file differs from its original\n"
                                : "a command did not do all its work\n");
        return 1;
    }
    return 0;
}
