// The commands besides hiding and restoring all, on a full list of sealed files, each against
// the copy of the same files it is compared with.
//
// Hides BENCH_COMMANDS_FILES files (default 900, the list's limit) of BENCH_COMMANDS_KIB KiB
// each (default 64) sealed, in a new folder under TMPDIR (default /tmp), then
// BENCH_COMMANDS_RUNS times (default 3):
//   copy                  the stored files copied into a new folder, each flushed (fsync), then
//                         the folder; and all copied, then the file system flushed once
//   change password       ChangePass, to another password and back on the next run
//   set storage folder    ChangeStorageDir to a new folder beside the storage folder and back;
//                         and to a folder on a tmpfs (BENCH_TMPFS, default /dev/shm), timed
//                         there only, against a copy onto it and one sync
//   set extension         ChangeExtension to another extension and back
//   start                 PrepareStart: the start up to the password window
//   password to a list    what the main window does once the password is typed: the list
//                         read, interrupted work looked for, the store check
//   restore first         RestoreSelected of the first entry (the others renumbered), its
//                         original moved aside first and compared with it after; the file is
//                         hidden again, at the end of the list, untimed
// Each runs in a child process of its own, with Slow Run on as the main window starts, timed
// as command_timing.h describes. BENCH_COMMANDS_ONLY=<text> runs only the commands whose
// name holds the text (and the copies). Prints the median of the runs, each command as
//   <command>: <s> s, <ratio>x <copy>, peak <MiB> MiB, longest gap <ms> ms

#include <sys/stat.h>
#include <sys/vfs.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "command_timing.h"
#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/recovery.h"
#include "commands/restore_command.h"
#include "commands/startup.h"
#include "commands/storage_settings.h"
#include "commands/store_check.h"
#include "store/stored_name.h"

namespace {

namespace fs = std::filesystem;
using namespace vantory::bench;

constexpr long kTmpfsMagic = 0x01021994;

// A folder on a tmpfs other than the file system of `work`, or why there is none.
std::optional<std::string> tmpfsFolder(const std::string& work, std::string& why) {
    const char* given = std::getenv("BENCH_TMPFS");
    const std::string base = given != nullptr && given[0] != '\0' ? given : "/dev/shm";
    struct statfs fsInfo {};
    struct stat there {
    }, here{};
    if (::statfs(base.c_str(), &fsInfo) != 0 || ::stat(base.c_str(), &there) != 0 ||
        ::stat(work.c_str(), &here) != 0) {
        why = base + " cannot be reached";
        return std::nullopt;
    }
    if (static_cast<long>(fsInfo.f_type) != kTmpfsMagic) {
        why = base + " is not a tmpfs (set BENCH_TMPFS to one)";
        return std::nullopt;
    }
    if (there.st_dev == here.st_dev) {
        why = base + " is on the file system of " + work;
        return std::nullopt;
    }
    std::string name = base + "/vantory-commands-bench-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        why = base + " cannot be written";
        return std::nullopt;
    }
    return name;
}

bool sameContent(const std::string& a, const std::string& b) {
    const auto x = vantory::platform::readWholeFile(a);
    return x && x == vantory::platform::readWholeFile(b);
}

}  // namespace

int main() {
    const size_t count = numberFromEnvironment("BENCH_COMMANDS_FILES", 900);
    const size_t kib = numberFromEnvironment("BENCH_COMMANDS_KIB", 64);
    const uint64_t runs = std::max<uint64_t>(1, numberFromEnvironment("BENCH_COMMANDS_RUNS", 3));
    const std::optional<std::string> work = makeWorkFolder("vantory-commands-bench");
    if (!work) {
        return 1;
    }
    const std::string folder = *work;
    std::printf("commands: %zu sealed files of %zu KiB in %s, median of %llu runs\n", count, kib,
                folder.c_str(), static_cast<unsigned long long>(runs));
    std::fflush(stdout);

    // The start finds its settings where the program does.
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    vantory::ProgramState state;
    state.strSystemDir = folder + "/config/vantory";
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
    fs::permissions(state.strSystemDir, fs::perms::owner_all);
    const auto hide = [](std::vector<std::string> paths) {
        return [paths](vantory::CommandContext& c) {
            c.state.bolEncrypt = true;
            return vantory::HideSelection(c, paths).hidden == paths.size();
        };
    };
    if (!writeSources(files, kib << 10) || !vantory::WriteFactorySettings(state).ok() ||
        !runInChild([&] { return runCommand(state, true, hide(files)); }).timing.ok) {
        std::fprintf(stderr, "cannot set up %s\n", folder.c_str());
        return 1;
    }
    // The settings file names the storage folder and extension each command starts from.
    const auto settings = [&] {
        vantory::ProgramState now = state;
        (void)vantory::ReadSettings(now);
        return now;
    };
    const auto storedFiles = [&] {
        const vantory::ProgramState now = settings();
        std::vector<std::string> stored;
        for (size_t i = 0; i < count; ++i) {
            stored.push_back(vantory::StoredPath(now, i));
        }
        return stored;
    };

    std::string noTmpfs;
    const std::optional<std::string> tmpfs = tmpfsFolder(folder, noTmpfs);
    const std::string copies = folder + "/copies";
    Series copy{"copy + fsync", {}}, copySync{"copy + one sync", {}},
        copyTmpfs{"copy onto the tmpfs + one sync", {}};
    Series password{"change password", {}}, storage{"set storage folder, same file system", {}},
        storageTmpfs{"set storage folder, onto a tmpfs", {}},
        extension{"set encrypted file extension", {}}, start{"start to the password window", {}},
        list{"password to a full list", {}},
        restoreFirst{"restore selected, first of " + std::to_string(count), {}};
    const char* only = std::getenv("BENCH_COMMANDS_ONLY");
    const auto wanted = [only](const Series& series) {
        return only == nullptr || series.name.find(only) != std::string::npos;
    };
    const auto measure = [&](Series& series, const std::function<Timing()>& work) {
        if (wanted(series)) {
            series.runs.push_back(runInChild(work));
        }
    };
    bool same = true;
    for (uint64_t run = 0; run < runs && same; ++run) {
        const bool there = run % 2 == 0;
        fs::create_directories(copies);
        copySync.runs.push_back(
            runInChild([&] { return copyFiles(storedFiles(), copies, false); }));
        fs::remove_all(copies);
        fs::create_directories(copies);
        copy.runs.push_back(runInChild([&] { return copyFiles(storedFiles(), copies, true); }));
        fs::remove_all(copies);

        measure(password, [&] {
            return runCommand(settings(), true, [&](vantory::CommandContext& c) {
                return vantory::ChangePass(c, there ? "kumquat 2" : "kumquat").result ==
                       vantory::ChangePassOutcome::Result::kChanged;
            });
        });
        measure(storage, [&] {
            return runCommand(settings(), true, [&](vantory::CommandContext& c) {
                return vantory::ChangeStorageDir(c, folder + (there ? "/store 2/" : "/store/"),
                                                 vantory::MoveStoredFile);
            });
        });
        measure(extension, [&] {
            return runCommand(settings(), true, [&](vantory::CommandContext& c) {
                return vantory::ChangeExtension(c, there ? "dat" : "txt", vantory::MoveStoredFile);
            });
        });
        if (tmpfs && wanted(storageTmpfs)) {
            const std::string home = settings().strStorageDir;
            fs::create_directories(*tmpfs + "/copies");
            copyTmpfs.runs.push_back(
                runInChild([&] { return copyFiles(storedFiles(), *tmpfs + "/copies", false); }));
            fs::remove_all(*tmpfs + "/copies");
            const auto moveTo = [&](const std::string& to) {
                return runInChild([&] {
                    return runCommand(settings(), true, [&](vantory::CommandContext& c) {
                        return vantory::ChangeStorageDir(c, to, vantory::MoveStoredFile);
                    });
                });
            };
            storageTmpfs.runs.push_back(moveTo(*tmpfs + "/store/"));
            same = same && moveTo(home).timing.ok;
        }

        measure(start, [&] {
            vantory::ProgramState fresh;
            return timed([&](TimingUi& ui) {
                return vantory::PrepareStart(fresh, ui) == vantory::StartOutcome::kReady;
            });
        });
        measure(list, [&] {
            vantory::ProgramState fresh;
            TimingUi quiet;
            NoBusy busy;
            vantory::Catalogue catalogue;
            if (vantory::PrepareStart(fresh, quiet) != vantory::StartOutcome::kReady) {
                return Timing{};
            }
            fresh.bolSlowRun = true;  // as the main window sets it
            return timed([&](TimingUi& ui) {
                vantory::CommandContext context{fresh, ui, catalogue, busy};
                if (!vantory::loadList(fresh, catalogue, vantory::WindowPacing(fresh, ui).slowRun())
                         .ok()) {
                    return false;
                }
                vantory::RecoverInterruptedWork(context);
                return vantory::ErrorRemoveFiles(context).empty() && catalogue.size() == count;
            });
        });

        if (!wanted(restoreFirst)) {
            continue;
        }
        // The first entry's original goes aside, so that the restore writes it back.
        vantory::ProgramState now = settings();
        vantory::Catalogue catalogue;
        (void)vantory::loadList(now, catalogue);
        const std::string first = catalogue.at(0).path;
        const std::string aside = folder + "/aside";
        fs::rename(first, aside);
        restoreFirst.runs.push_back(runInChild([&] {
            return runCommand(now, true, [&](vantory::CommandContext& c) {
                return vantory::RestoreSelected(c, 0, {0}).stillHidden.empty() &&
                       c.catalogue.size() == count - 1;
            });
        }));
        same = same && sameContent(first, aside);
        fs::remove(aside);
        same = same && runInChild([&] { return runCommand(now, true, hide({first})); }).timing.ok;
    }

    const auto print = [](const Series& series, const Series& base) {
        if (series.runs.empty()) {
            return true;  // not asked for
        }
        std::printf("%s: %.3f s, %.2fx %s, peak %.1f MiB, longest gap %.0f ms\n",
                    series.name.c_str(), series.seconds(), series.seconds() / base.seconds(),
                    base.name.c_str(), series.peakMiB(), series.gapMs());
        return series.ok();
    };
    std::printf("%s: %.3f s (each file flushed)\n", copy.name.c_str(), copy.seconds());
    std::printf("%s: %.3f s (the file system flushed once at the end)\n", copySync.name.c_str(),
                copySync.seconds());
    bool ok = copy.ok() && copySync.ok();
    ok = print(password, copy) && ok;
    ok = print(storage, copySync) && ok;
    if (tmpfs) {
        std::printf("%s: %.3f s\n", copyTmpfs.name.c_str(), copyTmpfs.seconds());
        ok = copyTmpfs.ok() && print(storageTmpfs, copyTmpfs) && ok;
    } else {
        std::printf("%s: skipped, %s\n", storageTmpfs.name.c_str(), noTmpfs.c_str());
    }
    ok = print(extension, copySync) && ok;
    ok = print(start, copySync) && ok;
    ok = print(list, copySync) && ok;
    ok = print(restoreFirst, copySync) && ok;
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (tmpfs) {
        fs::remove_all(*tmpfs, ec);
    }
    if (!ok || !same) {
        std::fprintf(stderr, ok ? "a restored file differs from its original\n"
                                : "a command did not do all its work\n");
        return 1;
    }
    return 0;
}
