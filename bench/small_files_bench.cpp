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
// Each command runs in a child process of its own, timed as command_timing.h describes. Every
// restore is checked against the copy, byte for byte. Prints the median of the runs:
//   copy + fsync: <s> s ...
//   copy + one sync: <s> s ...
//   <command>: <s> s, <ratio>x copy, <ratio>x copy + one sync[, <ratio>x plain hide],
//              peak <MiB> MiB, longest gap <ms> ms

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "command_timing.h"
#include "commands/hide_command.h"
#include "commands/restore_command.h"

namespace {

namespace fs = std::filesystem;
using namespace vantory::bench;

bool sameFiles(const std::vector<std::string>& files, const std::string& copies) {
    return std::all_of(files.begin(), files.end(), [&](const std::string& file) {
        const std::string copy = copies + "/" + fs::path(file).filename().string();
        return vantory::platform::readWholeFile(file) == vantory::platform::readWholeFile(copy);
    });
}

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
