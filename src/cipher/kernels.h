#pragma once

// The inner loops of the cipher, on raw bytes. Each has a portable form and, where the
// processor allows, a vector form chosen at run time; all forms give identical bytes.

#include <cstddef>
#include <cstdint>

namespace vantory::kernels {

// Printable codes of the sealed form run from kFirstCode to kFirstCode + 63.
inline constexpr uint8_t kFirstCode = 59;

// Sealed length of n bytes: every group of three becomes four characters, a last group of
// one or two becomes two or three.
constexpr size_t stretchedSize(size_t n) { return n + (n + 2) / 3; }

// Number of bytes that a printable form of m characters stands for.
constexpr size_t shrunkSize(size_t m) { return m <= 1 ? 0 : (m - 1) - (m - 1) / 4; }

// XORs data with the key stream that follows generator state `state` and returns the state
// after the last byte. The state is carried in 32 bits; only the low 24 bits matter.
uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n);

// Writes the printable form of n bytes to out (stretchedSize(n) bytes). Only the last piece
// of a longer text may have a length that is not a multiple of 3.
void stretch(const uint8_t* in, size_t n, uint8_t* out);

// Turns `groups` whole groups of four printable characters into 3 * groups bytes. Input that
// no stretch made is handled as the reference rule says: a position whose code would be
// negative keeps a space.
void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out);

// The end of a printable form that is not a whole group: m (0 to 3) characters, the last of
// which carries the top bits. Writes max(0, m - 1) bytes.
void shrinkTail(const uint8_t* in, size_t m, uint8_t* out);

// Portable forms, used where no vector form applies and as the reference in tests.
namespace portable {
uint32_t xorKeyStream(uint32_t state, uint8_t* data, size_t n);
void stretch(const uint8_t* in, size_t n, uint8_t* out);
void shrinkGroups(const uint8_t* in, size_t groups, uint8_t* out);
}  // namespace portable

}  // namespace vantory::kernels
