#pragma once

// For the cipher folder's own files: libgcrypt's header is seen nowhere else.

#include <gcrypt.h>

namespace vantory {

// The library fails in these calls only on misuse (a wrong key or nonce size) or when secure
// memory is exhausted, neither of which the caller could mend: stop rather than seal wrongly.
void checkCrypto(gcry_error_t error, const char* what);

}  // namespace vantory
