// Speed of the cipher: Seal and Unseal of a 64 MiB text with every kernel set this processor
// runs, and each kernel alone on one cache-sized block. After Google Benchmark's table it
// prints three plain lines, "memcpy: <n> GB/s", "Seal: <n> GB/s, <ratio>x memcpy" and
// "Unseal: ...": the best of a few runs of a 64 MiB text with the kernel set the program itself
// would use, counted in bytes of plain text (1 GB = 10^9 bytes), against a memcpy of the text.
// Then the strong store's stream on the same text ("Strong seal", "Strong open"), and the time
// a strong store takes to unwrap its master key with the default costs ("Strong unlock").

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "cipher/cipher.h"
#include "cipher/kernels.h"
#include "cipher/strong_key.h"
#include "cipher/strong_stream.h"

namespace {

using vantory::kernels::KernelSet;

constexpr size_t kTextSize = size_t{64} << 20;
constexpr size_t kBlock = 3 * 4 * 4096;  // as Seal and Unseal work on
constexpr const char* kKey = "3907514482";

std::string randomText(size_t n) {
    std::mt19937_64 gen(42);
    std::string text(n, '\0');
    for (size_t i = 0; i + 8 <= n; i += 8) {
        const uint64_t word = gen();
        std::copy_n(reinterpret_cast<const char*>(&word), 8, text.data() + i);
    }
    return text;
}

const std::string& plainText() {
    static const std::string text = randomText(kTextSize);
    return text;
}

const std::string& sealedText() {
    static const std::string sealed = vantory::Seal(plainText(), kKey);
    return sealed;
}

// Runs the body with the given kernel set active, then puts the previous one back.
void withKernelSet(const KernelSet& set, const std::function<void()>& body) {
    const std::string previous = vantory::kernels::activeKernelSet().name;
    vantory::kernels::useKernelSet(set.name);
    body();
    vantory::kernels::useKernelSet(previous);
}

void sealText(benchmark::State& state, const KernelSet* set) {
    withKernelSet(*set, [&] {
        for (auto _ : state) {
            std::string sealed = vantory::Seal(plainText(), kKey);
            benchmark::DoNotOptimize(sealed.data());
        }
    });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextSize));
}

void unsealText(benchmark::State& state, const KernelSet* set) {
    withKernelSet(*set, [&] {
        for (auto _ : state) {
            std::string plain = vantory::Unseal(sealedText(), kKey);
            benchmark::DoNotOptimize(plain.data());
        }
    });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextSize));
}

// The kernels on one block that stays in cache: what the instructions cost, without memory.
void kernelBlock(benchmark::State& state, const KernelSet* set, int kernel) {
    const std::string text = randomText(kBlock);
    std::string sealed(vantory::kernels::stretchedSize(kBlock), '\0');
    set->stretch(reinterpret_cast<const uint8_t*>(text.data()), kBlock,
                 reinterpret_cast<uint8_t*>(sealed.data()));
    const auto* plainIn = reinterpret_cast<const uint8_t*>(text.data());
    const auto* sealedIn = reinterpret_cast<const uint8_t*>(sealed.data());
    std::string work = text;
    std::string out(sealed.size(), '\0');
    auto* workData = reinterpret_cast<uint8_t*>(work.data());
    auto* outData = reinterpret_cast<uint8_t*>(out.data());
    uint32_t key = 0x938F86;
    for (auto _ : state) {
        switch (kernel) {
            case 0:
                key = set->xorKeyStream(key, workData, kBlock);
                break;
            case 1:
                set->stretch(plainIn, kBlock, outData);
                break;
            case 2:
                key = set->xorStretch(key, plainIn, kBlock, outData);
                break;
            case 3:
                set->shrinkGroups(sealedIn, kBlock / 3, outData);
                break;
            default:
                key = set->shrinkXor(key, sealedIn, kBlock / 3, outData);
                break;
        }
        benchmark::DoNotOptimize(key);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}

void registerBenchmarks() {
    static const char* const kKernels[] = {"xorKeyStream", "stretch", "xorStretch", "shrinkGroups",
                                           "shrinkXor"};
    for (const KernelSet* set : vantory::kernels::availableKernelSets()) {
        const std::string name = set->name;
        benchmark::RegisterBenchmark(("Seal/64MiB/" + name).c_str(), sealText, set)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Unseal/64MiB/" + name).c_str(), unsealText, set)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const KernelSet* set : vantory::kernels::availableKernelSets()) {
        for (int k = 0; k < 5; ++k) {
            benchmark::RegisterBenchmark(
                ("Kernel/" + std::string(kKernels[k]) + "/48KiB/" + set->name).c_str(), kernelBlock,
                set, k)
                ->MinTime(0.2);
        }
    }
}

// Best of `runs` timings of `work` on the 64 MiB text, in GB/s of plain text.
double bestRate(const std::function<void()>& work, int runs = 7) {
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(kTextSize) / seconds.count() / 1e9);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string chosen = vantory::kernels::activeKernelSet().name;
    plainText();
    sealedText();

    registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    vantory::kernels::useKernelSet(chosen);
    const double seal = bestRate([] {
        std::string sealed = vantory::Seal(plainText(), kKey);
        benchmark::DoNotOptimize(sealed.data());
    });
    const double unseal = bestRate([] {
        std::string plain = vantory::Unseal(sealedText(), kKey);
        benchmark::DoNotOptimize(plain.data());
    });
    // The copy they are compared with: the same text into a buffer of the sealed size.
    std::string copy(vantory::kernels::stretchedSize(kTextSize), '\0');
    const double copied = bestRate([&copy] {
        std::memcpy(copy.data(), plainText().data(), kTextSize);
        benchmark::DoNotOptimize(copy.data());
    });
    std::printf("\nKernel set %s, 64 MiB of plain text, best of 7 runs:\n", chosen.c_str());
    std::printf("memcpy: %.2f GB/s\n", copied);
    std::printf("Seal: %.2f GB/s, %.2fx memcpy\n", seal, copied / seal);
    std::printf("Unseal: %.2f GB/s, %.2fx memcpy\n", unseal, copied / unseal);

    const vantory::SecretBytes masterKey = vantory::newMasterKey();
    const auto* plain = reinterpret_cast<const uint8_t*>(plainText().data());
    std::string sealed(
        vantory::StrongSealer::maxOutput(kTextSize) + vantory::StrongSealer::kMaxFinishOutput,
        '\0');
    auto* sealedBytes = reinterpret_cast<uint8_t*>(sealed.data());
    size_t sealedSize = 0;
    const double strongSeal = bestRate([&] {
        vantory::StrongSealer sealer(masterKey, "100", kTextSize);
        sealedSize = sealer.update(plain, kTextSize, sealedBytes);
        sealedSize += sealer.finish(sealedBytes + sealedSize);
    });
    const double strongOpen = bestRate([&] {
        vantory::StrongOpener opener(masterKey, "100");
        const size_t n =
            opener.update(sealedBytes, sealedSize, reinterpret_cast<uint8_t*>(copy.data()));
        opener.finish(nullptr);
        benchmark::DoNotOptimize(n);
    });
    std::printf("Strong seal: %.2f GB/s, %.2fx memcpy\n", strongSeal, copied / strongSeal);
    std::printf("Strong open: %.2f GB/s, %.2fx memcpy\n", strongOpen, copied / strongOpen);
    double unlock = 1e9;
    std::string password = "kumquat";
    const vantory::WrappedKey wrapped = vantory::wrapMasterKey(masterKey, password);
    for (int run = 0; run < 3; ++run) {
        password = "kumquat";
        const auto start = std::chrono::steady_clock::now();
        const bool opened = vantory::unwrapMasterKey(wrapped, password).has_value();
        unlock = std::min(
            unlock,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        benchmark::DoNotOptimize(opened);
    }
    std::printf("Strong unlock (Argon2id, 3 passes over 64 MiB, 1 lane): %.3f s\n", unlock);
    return 0;
}
