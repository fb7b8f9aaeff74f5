// Unseal, Shrink and Seal (whole and streamed) under a key from the input, checked against a
// byte-by-byte shrink and each other; every kernel set against the portable one, exact buffers.

#include <cstdint>
#include <string>
#include <string_view>

#include "cipher/cipher.h"
#include "cipher/kernels.h"
#include "fuzz_support.h"
#include "store/sealed_copy.h"

namespace {

using namespace vantory;
using kernels::KernelSet;

// Shrink one output character at a time: p reads data characters, q group characters.
std::string referenceShrink(std::string_view in) {
    const long m = static_cast<long>(in.size());
    const long n = m <= 1 ? 0 : (m - 1) - (m - 1) / 4;
    const auto code = [&](long position) { return static_cast<unsigned char>(in[position - 1]); };
    std::string out(static_cast<size_t>(n), ' ');
    long p = 0, q = 0;
    int g = 0;
    for (long i = 1; i <= n; ++i) {
        ++p;
        const int lo = code(p) - 59;
        int hi = 0;
        switch (i % 3) {
            case 1:
                q = std::min(q + 4, m);
                g = code(q) - 59;
                hi = ((g / 16) & 3) * 64;
                break;
            case 2:
                hi = ((g / 4) & 3) * 64;
                break;
            default:
                hi = (g & 3) * 64;
                ++p;
                break;
        }
        if ((lo | hi) >= 0) {
            out[static_cast<size_t>(i - 1)] = static_cast<char>(lo | hi);
        }
    }
    return out;
}

using fuzz::Exact;

// Only the low 24 bits of a state matter.
bool sameState(uint32_t a, uint32_t b) {
    return ((a ^ b) & 0xFFFFFF) == 0;
}

void checkKernelsAgree(const KernelSet& set, const KernelSet& reference, uint32_t state,
                       const uint8_t* in, size_t n) {
    Exact a(in, n), b(in, n);
    FUZZ_CHECK(sameState(set.xorKeyStream(state, a.bytes.get(), n),
                         reference.xorKeyStream(state, b.bytes.get(), n)));
    FUZZ_CHECK(a == b);
    Exact sa(kernels::stretchedSize(n)), sb(kernels::stretchedSize(n));
    set.stretch(in, n, sa.bytes.get());
    reference.stretch(in, n, sb.bytes.get());
    FUZZ_CHECK(sa == sb);
    FUZZ_CHECK(sameState(set.xorStretch(state, in, n, sa.bytes.get()),
                         reference.xorStretch(state, in, n, sb.bytes.get())));
    FUZZ_CHECK(sa == sb);
    const size_t groups = n / 4;
    Exact ga(3 * groups), gb(3 * groups);
    set.shrinkGroups(in, groups, ga.bytes.get());
    reference.shrinkGroups(in, groups, gb.bytes.get());
    FUZZ_CHECK(ga == gb);
    FUZZ_CHECK(sameState(set.shrinkXor(state, in, groups, ga.bytes.get()),
                         reference.shrinkXor(state, in, groups, gb.bytes.get())));
    FUZZ_CHECK(ga == gb);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto [key, text] = fuzz::splitKey(data, size, 40);
    const auto* textBytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto sets = kernels::availableKernelSets();
    const KernelSet& portable = *sets.front();
    const KernelSet& widest = *sets.back();

    // The text as a sealed form.
    FUZZ_CHECK(kernels::useKernelSet(portable.name));
    Cipher cipher;
    cipher.KeyString(key);
    cipher.Text(std::string(text));
    cipher.Shrink();
    FUZZ_CHECK(cipher.Text().size() == kernels::shrunkSize(text.size()));
    FUZZ_CHECK(cipher.Text() == referenceShrink(text));
    cipher.DoXor();
    const std::string plain = Unseal(text, key);
    FUZZ_CHECK(plain == cipher.Text());
    {
        Unsealer unsealer(key);
        FUZZ_CHECK(fuzz::streamInPieces(unsealer, text, data[0]) == plain);
    }

    // The text as a plaintext.
    const std::string sealed = Seal(text, key);
    FUZZ_CHECK(sealed.size() == kernels::stretchedSize(text.size()));
    for (const unsigned char c : sealed) {
        FUZZ_CHECK(c >= 59 && c <= 122);
    }
    FUZZ_CHECK(Unseal(sealed, key) == text);
    {
        Sealer sealer(key);
        FUZZ_CHECK(fuzz::streamInPieces(sealer, text, data[0]) == sealed);
    }

    // Every other kernel set: the raw kernels, then the whole procedures through it.
    const uint32_t state = KeyStreamStart(key);
    for (const KernelSet* set : sets.subspan(1)) {
        checkKernelsAgree(*set, portable, state, textBytes, text.size());
        FUZZ_CHECK(kernels::useKernelSet(set->name));
        FUZZ_CHECK(Unseal(text, key) == plain);
        FUZZ_CHECK(Seal(text, key) == sealed);
    }
    FUZZ_CHECK(kernels::useKernelSet(widest.name));
    return 0;
}
