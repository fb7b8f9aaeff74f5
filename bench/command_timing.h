#pragma once

// What the benchmarks of the commands share: a command run in a child process of its own on a
// state and catalogue loaded from the settings file, as the main window does, timed as the
// window would see it; the copies it is compared with; and the median of several runs.
//
// The UiServices notes when it is asked to yield: the longest gap is the longest time the
// window's event loop would have waited for a turn (from the command's start to its first
// yield, between two yields, from the last one to its end). "peak" is the child's peak
// resident memory (ru_maxrss).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "commands/silent_ui_services.h"
#include "platform/platform.h"
#include "store/settings_file.h"

namespace vantory::bench {

using Clock = std::chrono::steady_clock;

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

// Notes the longest time between two turns it is given, and the messages it is asked to show,
// which a failed command prints.
class TimingUi : public SilentUiServices {
  public:
    std::vector<std::string> messages;

    void messageBox(const std::string& text, int, const std::string&) override {
        messages.push_back(text);
    }
    void printMessages() const {
        for (const std::string& text : messages) {
            std::fprintf(stderr, "message: %s\n", text.c_str());
        }
    }
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

class NoBusy : public BusyState {
  public:
    void OpRunning(bool) override {}
};

// Runs `work` in a child, which reports its own timing through a pipe.
inline Run runInChild(const std::function<Timing()>& work) {
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

inline bool writeWhole(int fd, const char* data, size_t n) {
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
inline Timing copyFiles(const std::vector<std::string>& files, const std::string& folder,
                        bool each) {
    const auto start = Clock::now();
    std::vector<char> buffer(size_t{1} << 20);
    bool ok = true;
    for (const std::string& file : files) {
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        const std::string to = folder + "/" + std::filesystem::path(file).filename().string();
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

// Fills each file with `bytes` of pseudo-random content.
inline bool writeSources(const std::vector<std::string>& files, size_t bytes) {
    uint64_t x = 0x9E3779B97F4A7C15ull;
    std::string content(bytes, '\0');
    for (const std::string& file : files) {
        for (size_t i = 0; i < bytes; ++i) {  // xorshift64
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            content[i] = static_cast<char>(x >> 56);
        }
        if (!platform::writeFileAtomically(file, content).ok()) {
            return false;
        }
    }
    return true;
}

// `work` timed as the window would see it, given the UiServices that notes its turns.
inline Timing timed(const std::function<bool(TimingUi&)>& work) {
    TimingUi ui;
    const auto start = Clock::now();
    ui.start();
    const bool ok = work(ui);
    const double gap = ui.finish();
    if (!ok) {
        ui.printMessages();
    }
    return {ok, std::chrono::duration<double>(Clock::now() - start).count(), gap};
}

// A command on the state and catalogue that the settings file holds.
inline Timing runCommand(ProgramState state, bool slowRun,
                         const std::function<bool(CommandContext&)>& command) {
    NoBusy busy;
    Catalogue catalogue;
    if (!ReadSettings(state).ok() || !loadList(state, catalogue).ok()) {
        return {};
    }
    state.bolSlowRun = slowRun;
    return timed([&](TimingUi& ui) {
        CommandContext context{state, ui, catalogue, busy};
        return command(context);
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

}  // namespace vantory::bench
