// Speed and memory of the sealed copy on a large file, against cp.
//
// Creates a file of BENCH_FILE_MIB mebibytes (default 1024) in a new folder under TMPDIR
// (default /tmp), times `cp` of it, then encryptFileCopy (sealed) into a storage folder and
// decryptFileCopy back, checks that the round trip gives the file back byte for byte, and
// prints
//   seal file: <MB/s> MB/s, <ratio>x cp, <ratio>x cp with its flush, peak <MiB> MiB
//   unseal file: <MB/s> MB/s, <ratio>x cp, <ratio>x cp with its flush, peak <MiB> MiB
// MB/s counts bytes of the original file (1 MB = 10^6 bytes) over the wall-clock time; each
// time is the best of BENCH_FILE_RUNS runs (default 3). Each operation runs in a child process
// of its own, so "peak" is that process's peak resident memory (ru_maxrss), and cp's own peak
// is shown for comparison. Before each timed operation its input is read into the page cache
// and dirty data is flushed (sync). The
// sealed copy's own flush to disk is timed, as it is part of the operation, while cp leaves
// its copy in the page cache; a line before the results shows cp with that flush added.
// The strong store's sealing and opening (StrongCopier) are timed the same way:
//   strong seal file: ..., strong open file: ...

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
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
#include "cipher/strong_key.h"
#include "commands/command_context.h"
#include "commands/silent_ui_services.h"
#include "platform/platform.h"
#include "store/program_state.h"
#include "store/sealed_copy.h"
#include "store/strong_copy.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    bool ok = false;
    double seconds = 0;
    double peakMiB = 0;
};

// Waits for a child started at `start`: its time, success and peak resident memory.
Run waitForChild(pid_t child, Clock::time_point start) {
    Run run;
    int status = 0;
    struct rusage usage {};
    if (::wait4(child, &status, 0, &usage) != child) {
        return run;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

// Runs `work` in a child process; its exit status tells success.
Run runInChild(const std::function<bool()>& work) {
    ::sync();
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        return {};
    }
    if (child == 0) {
        ::_exit(work() ? 0 : 1);
    }
    return waitForChild(child, start);
}

Run runCp(const std::string& from, const std::string& to) {
    ::sync();
    std::vector<char*> argv = {const_cast<char*>("cp"), const_cast<char*>(from.c_str()),
                               const_cast<char*>(to.c_str()), nullptr};
    const auto start = Clock::now();
    pid_t child = 0;
    if (::posix_spawnp(&child, "cp", nullptr, nullptr, argv.data(), environ) != 0) {
        return {};
    }
    return waitForChild(child, start);
}

bool writeSource(const std::string& path, uint64_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::vector<uint64_t> block((size_t{1} << 20) / sizeof(uint64_t));
    uint64_t x = 0x9E3779B97F4A7C15ull;
    bool ok = true;
    for (uint64_t done = 0; ok && done < bytes;) {
        for (uint64_t& word : block) {  // xorshift64
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const size_t n =
            static_cast<size_t>(std::min<uint64_t>(bytes - done, block.size() * sizeof(uint64_t)));
        ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
        done += n;
    }
    return ::close(fd) == 0 && ok;
}

// Reads a file whole, so that the operation timed next finds it in the page cache. The sealed
// copy lets the cache drop what it has read, and cp must not be timed on a colder source than
// the sealed copy, nor the other way round.
void readIntoCache(const std::string& path) {
    vantory::platform::InputFile file;
    std::vector<char> buffer(size_t{1} << 20);
    size_t got = 0;
    if (file.open(path).ok()) {
        while (file.read(buffer.data(), buffer.size(), got).ok() && got > 0) {
        }
    }
}

bool sameContent(const std::string& a, const std::string& b) {
    vantory::platform::InputFile fa, fb;
    if (!fa.open(a).ok() || !fb.open(b).ok()) {
        return false;
    }
    std::vector<char> ba(size_t{1} << 20), bb(size_t{1} << 20);
    for (;;) {
        size_t na = 0, nb = 0;
        if (!fa.read(ba.data(), ba.size(), na).ok() || !fb.read(bb.data(), bb.size(), nb).ok()) {
            return false;
        }
        if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) {
            return false;
        }
        if (na == 0) {
            return true;
        }
    }
}

// The fastest of several runs, and the highest peak among them.
void keepBest(Run& best, const Run& run) {
    if (!run.ok) {
        best.ok = false;
        return;
    }
    best.seconds = best.seconds == 0 ? run.seconds : std::min(best.seconds, run.seconds);
    best.peakMiB = std::max(best.peakMiB, run.peakMiB);
}

}  // namespace

using vantory::bench::makeWorkFolder;
using vantory::bench::numberFromEnvironment;

int main() {
    const uint64_t mib = numberFromEnvironment("BENCH_FILE_MIB", 1024);
    const uint64_t runs = std::max<uint64_t>(1, numberFromEnvironment("BENCH_FILE_RUNS", 3));
    const uint64_t bytes = mib << 20;
    const std::optional<std::string> work = makeWorkFolder("vantory-file-bench");
    if (!work) {
        return 1;
    }
    const std::string folder = *work;
    const std::string source = folder + "/source.bin";
    const std::string copy = folder + "/cp-copy.bin";
    const std::string stored = folder + "/store/100.txt";
    const std::string restored = folder + "/restored.bin";

    int result = 1;
    std::printf("file: %llu MiB in %s, best of %llu runs\n", static_cast<unsigned long long>(mib),
                folder.c_str(), static_cast<unsigned long long>(runs));
    std::fflush(stdout);
    if (!writeSource(source, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
    } else {
        vantory::ProgramState state;
        state.strPassword = "kumquat";
        state.strStorageDir = folder + "/store/";
        state.bolSlowRun = true;  // as the main window runs, with a window system that is idle
        vantory::SilentUiServices ui;

        const vantory::SecretBytes masterKey = vantory::newMasterKey();
        Run cp{true}, cpFlushed{true}, seal{true}, unseal{true}, strongSeal{true}, strongOpen{true};
        bool same = true;
        for (uint64_t i = 0; i < runs && same; ++i) {
            readIntoCache(source);
            const Run cpRun = runCp(source, copy);
            keepBest(cp, cpRun);
            // cp leaves its copy to the system to write out; how long that takes, for comparison
            // with the sealed copy, which flushes what it writes.
            const auto flushStart = Clock::now();
            ::sync();
            Run flushed = cpRun;
            flushed.seconds += std::chrono::duration<double>(Clock::now() - flushStart).count();
            keepBest(cpFlushed, flushed);
            std::filesystem::remove(copy);

            readIntoCache(source);
            keepBest(seal, runInChild([&] {
                         vantory::WindowPacing pacing(state, ui);
                         return vantory::encryptFileCopy(state, source, stored, true,
                                                         pacing.slowRun())
                             .ok();
                     }));
            readIntoCache(stored);
            keepBest(unseal, runInChild([&] {
                         vantory::WindowPacing pacing(state, ui);
                         return vantory::decryptFileCopy(state, stored, restored, true,
                                                         vantory::platform::Existing::kReplace,
                                                         nullptr, pacing.slowRun())
                             .ok();
                     }));
            same = seal.ok && unseal.ok && sameContent(source, restored);
            std::error_code ec;
            std::filesystem::remove(stored, ec);
            std::filesystem::remove(restored, ec);

            readIntoCache(source);
            keepBest(strongSeal, runInChild([&] {
                         vantory::WindowPacing pacing(state, ui);
                         vantory::StrongCopier copier(masterKey, pacing.slowRun());
                         return copier.seal(source, stored, "100").ok();
                     }));
            readIntoCache(stored);
            keepBest(strongOpen, runInChild([&] {
                         vantory::WindowPacing pacing(state, ui);
                         vantory::StrongCopier copier(masterKey, pacing.slowRun());
                         return copier.open(stored, restored, "100").ok();
                     }));
            same = same && strongSeal.ok && strongOpen.ok && sameContent(source, restored);
            std::filesystem::remove(stored, ec);
            std::filesystem::remove(restored, ec);
        }

        const double megabytes = static_cast<double>(bytes) / 1e6;
        std::printf("cp: %.3f s, %.0f MB/s, peak %.1f MiB; with its data flushed to disk %.3f s\n",
                    cp.seconds, megabytes / cp.seconds, cp.peakMiB, cpFlushed.seconds);
        std::printf("seal file: %.0f MB/s, %.2fx cp, %.2fx cp with its flush, peak %.1f MiB\n",
                    megabytes / seal.seconds, seal.seconds / cp.seconds,
                    seal.seconds / cpFlushed.seconds, seal.peakMiB);
        std::printf("unseal file: %.0f MB/s, %.2fx cp, %.2fx cp with its flush, peak %.1f MiB\n",
                    megabytes / unseal.seconds, unseal.seconds / cp.seconds,
                    unseal.seconds / cpFlushed.seconds, unseal.peakMiB);
        for (const auto& [name, run] : {std::pair{"strong seal file", strongSeal},
                                        std::pair{"strong open file", strongOpen}}) {
            std::printf("%s: %.0f MB/s, %.2fx cp, %.2fx cp with its flush, peak %.1f MiB\n", name,
                        megabytes / run.seconds, run.seconds / cp.seconds,
                        run.seconds / cpFlushed.seconds, run.peakMiB);
        }
        if (!cp.ok || !seal.ok || !unseal.ok || !strongSeal.ok || !strongOpen.ok) {
            std::fprintf(stderr,
                         "an operation failed (cp %d, seal %d, unseal %d, strong seal %d, "
                         "strong open %d)\n",
                         cp.ok, seal.ok, unseal.ok, strongSeal.ok, strongOpen.ok);
        } else if (!same) {
            std::fprintf(stderr, "the restored file differs from the original\n");
        } else {
            result = 0;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return result;
}
