#include "cipher/strong_stream.h"

#include <algorithm>
#include <cstring>

#include "cipher/strong_key.h"

namespace vantory {

namespace {

constexpr uint8_t kMagic[8] = {0x89, 'V', 'A', 'N', 'T', 'O', 'R', 'Y'};
constexpr uint8_t kVersion = 1;
constexpr size_t kVersionAt = 8;
constexpr size_t kKeyIdAt = 9;
constexpr size_t kNonceAt = 17;
constexpr size_t kSizeAt = kNonceAt + kFileNonceSize;
constexpr size_t kBindingAt = kSizeAt + 8;  // its length byte, then its bytes
static_assert(kBindingAt + 1 == kStrongHeaderFixed);

constexpr uint8_t kHeaderNonce[kAeadNonceSize] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

const uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

uint64_t chunkCount(uint64_t size) {
    return size == 0 ? 1 : (size - 1) / kStrongChunk + 1;
}

uint64_t lengthOfChunk(uint64_t index, uint64_t size) {
    return index + 1 < chunkCount(size) ? kStrongChunk : size - index * kStrongChunk;
}

// Chunk `index` of `count`: its number in 11 bytes, then whether it is the last.
std::array<uint8_t, kAeadNonceSize> chunkNonce(uint64_t index, uint64_t count) {
    std::array<uint8_t, kAeadNonceSize> nonce{};
    for (size_t i = 0; i < 8; ++i) {
        nonce[10 - i] = static_cast<uint8_t>(index >> (8 * i));
    }
    nonce[11] = index + 1 == count ? 1 : 0;
    return nonce;
}

// The file's key, from the master key and the whole header (without its tag).
std::unique_ptr<ChaCha20Poly1305> fileCipher(const SecretBytes& masterKey,
                                             std::string_view header) {
    const std::string_view nonce = header.substr(kNonceAt, kFileNonceSize);
    std::string info = "vantory stored file 1";
    info += '\0';
    info += header;
    return std::make_unique<ChaCha20Poly1305>(hkdfSha256(masterKey, nonce, info, kAeadKeySize));
}

}  // namespace

FileNonce randomFileNonce() {
    FileNonce nonce;
    fillRandom(nonce.data(), nonce.size());
    return nonce;
}

uint64_t strongFileSize(uint64_t size, size_t bindingSize) {
    return kStrongHeaderFixed + bindingSize + kAeadTagSize + size + chunkCount(size) * kAeadTagSize;
}

std::string strongRefusalWords(StrongRefusal refusal) {
    switch (refusal) {
        case StrongRefusal::kNone:
            return "nothing is wrong with it";
        case StrongRefusal::kNotStrongFile:
            return "it is not a file sealed by Vantory's strong store";
        case StrongRefusal::kNewerVersion:
            return "it was sealed by a newer version of Vantory";
        case StrongRefusal::kOtherKey:
            return "it was sealed under another store's key (the wrong key)";
        case StrongRefusal::kOtherEntry:
            return "it belongs to another entry of the list (stored files were exchanged)";
        case StrongRefusal::kChanged:
            return "it was changed after it was sealed (tampered with or damaged)";
        case StrongRefusal::kCut:
            return "it is cut short";
        case StrongRefusal::kExtended:
            return "bytes were added after its end";
        case StrongRefusal::kChangedWhileRead:
            return "it changed while it was read";
    }
    return "it cannot be opened";
}

StrongSealer::StrongSealer(const SecretBytes& masterKey, std::string_view binding, uint64_t size,
                           const FileNonce& nonce)
    : size_(size) {
    binding = binding.substr(0, kMaxBindingSize);
    header_.assign(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
    header_ += static_cast<char>(kVersion);
    const auto id = masterKeyId(masterKey);
    header_.append(reinterpret_cast<const char*>(id.data()), id.size());
    header_.append(reinterpret_cast<const char*>(nonce.data()), nonce.size());
    for (int shift = 56; shift >= 0; shift -= 8) {
        header_ += static_cast<char>(size >> shift);
    }
    header_ += static_cast<char>(binding.size());
    header_ += binding;
    aead_ = fileCipher(masterKey, header_);
    const size_t length = header_.size();
    header_.resize(length + kAeadTagSize);
    aead_->seal(kHeaderNonce, bytesOf(header_), length, nullptr, 0,
                reinterpret_cast<uint8_t*>(header_.data()) + length);
}

StrongSealer::~StrongSealer() {
    if (carry_) {
        wipeBytes(carry_.get(), kStrongChunk);
    }
}

size_t StrongSealer::chunkLength() const {
    return lengthOfChunk(chunk_, size_);
}

size_t StrongSealer::sealReady(const uint8_t* chunk, uint8_t* out) {
    const size_t n = chunkLength();
    aead_->seal(chunkNonce(chunk_, chunkCount(size_)).data(), nullptr, 0, chunk, n, out);
    ++chunk_;
    return n + kAeadTagSize;
}

size_t StrongSealer::update(const uint8_t* data, size_t n, uint8_t* out) {
    size_t written = 0;
    if (!headerWritten_) {
        std::memcpy(out, header_.data(), header_.size());
        written = header_.size();
        headerWritten_ = true;
    }
    if (refusal_ != StrongRefusal::kNone) {
        return written;
    }
    if (n > size_ - given_) {
        refusal_ = StrongRefusal::kChangedWhileRead;
        return written;
    }
    given_ += n;
    while (n > 0) {
        const size_t need = chunkLength() - carried_;
        if (carried_ == 0 && n >= need) {  // a whole chunk in this piece: sealed where it is
            written += sealReady(data, out + written);
            data += need;
            n -= need;
            continue;
        }
        if (!carry_) {
            carry_ = std::make_unique_for_overwrite<uint8_t[]>(kStrongChunk);
        }
        const size_t take = std::min(n, need);
        std::memcpy(carry_.get() + carried_, data, take);
        carried_ += take;
        data += take;
        n -= take;
        if (carried_ == chunkLength()) {
            written += sealReady(carry_.get(), out + written);
            carried_ = 0;
        }
    }
    return written;
}

size_t StrongSealer::finish(uint8_t* out) {
    size_t written = update(nullptr, 0, out);
    if (refusal_ == StrongRefusal::kNone && given_ < size_) {
        refusal_ = StrongRefusal::kChangedWhileRead;
    }
    if (refusal_ == StrongRefusal::kNone && size_ == 0 && chunk_ == 0) {
        written += sealReady(nullptr, out + written);  // the one empty chunk
    }
    return written;
}

StrongOpener::StrongOpener(const SecretBytes& masterKey, std::string_view binding)
    : masterKey_(masterKey), binding_(binding.substr(0, kMaxBindingSize)) {}

StrongOpener::~StrongOpener() {
    if (carry_) {
        wipeBytes(carry_.get(), kStrongChunk + kAeadTagSize);
    }
}

std::optional<uint64_t> StrongOpener::size() const {
    return aead_ ? std::optional(size_) : std::nullopt;
}

size_t StrongOpener::chunkLength() const {
    return lengthOfChunk(chunk_, size_);
}

size_t StrongOpener::takeHeader(const uint8_t* data, size_t n) {
    size_t taken = 0;
    while (taken < n && refusal_ == StrongRefusal::kNone && !aead_) {
        const size_t goal = headerSize_ != 0 ? headerSize_ : kStrongHeaderFixed;
        const size_t take = std::min(n - taken, goal - header_.size());
        header_.append(reinterpret_cast<const char*>(data + taken), take);
        taken += take;
        // The magic is checked as it arrives, so that any other file is refused at once.
        const size_t seen = std::min(header_.size(), sizeof kMagic);
        if (std::memcmp(header_.data(), kMagic, seen) != 0) {
            refusal_ = StrongRefusal::kNotStrongFile;
        } else if (header_.size() > kVersionAt &&
                   static_cast<uint8_t>(header_[kVersionAt]) != kVersion) {
            // A later version may lay its header out otherwise: nothing after this is read.
            refusal_ = static_cast<uint8_t>(header_[kVersionAt]) > kVersion
                           ? StrongRefusal::kNewerVersion
                           : StrongRefusal::kNotStrongFile;
        } else if (header_.size() == kStrongHeaderFixed && headerSize_ == 0) {
            headerSize_ =
                kStrongHeaderFixed + static_cast<uint8_t>(header_[kBindingAt]) + kAeadTagSize;
        } else if (header_.size() == headerSize_) {
            checkHeader();
        }
    }
    return taken;
}

bool StrongOpener::checkHeader() {
    const std::string_view header(header_);
    const size_t length = headerSize_ - kAeadTagSize;
    const auto id = masterKeyId(masterKey_);
    if (std::memcmp(header.data() + kKeyIdAt, id.data(), id.size()) != 0) {
        refusal_ = StrongRefusal::kOtherKey;
    } else if (header.substr(kBindingAt + 1, length - kBindingAt - 1) != binding_) {
        refusal_ = StrongRefusal::kOtherEntry;
    }
    if (refusal_ != StrongRefusal::kNone) {
        return false;
    }
    auto aead = fileCipher(masterKey_, header.substr(0, length));
    if (!aead->open(kHeaderNonce, bytesOf(header), length, bytesOf(header) + length, 0, nullptr)) {
        refusal_ = StrongRefusal::kChanged;
        return false;
    }
    for (size_t i = 0; i < 8; ++i) {
        size_ = size_ << 8 | static_cast<uint8_t>(header[kSizeAt + i]);
    }
    chunks_ = chunkCount(size_);
    aead_ = std::move(aead);
    return true;
}

size_t StrongOpener::openReady(const uint8_t* sealed, uint8_t* out) {
    const size_t n = chunkLength();
    if (!aead_->open(chunkNonce(chunk_, chunks_).data(), nullptr, 0, sealed, n, out)) {
        refusal_ = StrongRefusal::kChanged;
        return 0;
    }
    ++chunk_;
    return n;
}

size_t StrongOpener::update(const uint8_t* data, size_t n, uint8_t* out) {
    if (!aead_) {
        const size_t taken = takeHeader(data, n);
        data += taken;
        n -= taken;
    }
    size_t written = 0;
    while (n > 0 && refusal_ == StrongRefusal::kNone) {
        if (chunk_ == chunks_) {
            refusal_ = StrongRefusal::kExtended;
            break;
        }
        const size_t need = chunkLength() + kAeadTagSize - carried_;
        if (carried_ == 0 && n >= need) {  // a whole chunk in this piece: opened where it is
            written += openReady(data, out + written);
            data += need;
            n -= need;
            continue;
        }
        if (!carry_) {
            carry_ = std::make_unique_for_overwrite<uint8_t[]>(kStrongChunk + kAeadTagSize);
        }
        const size_t take = std::min(n, need);
        std::memcpy(carry_.get() + carried_, data, take);
        carried_ += take;
        data += take;
        n -= take;
        if (carried_ == chunkLength() + kAeadTagSize) {
            written += openReady(carry_.get(), out + written);
            carried_ = 0;
        }
    }
    return written;
}

size_t StrongOpener::finish(uint8_t*) {
    if (refusal_ == StrongRefusal::kNone && (!aead_ || chunk_ < chunks_)) {
        // Nothing at all, or bytes that are not the start of the magic, are no strong file.
        const bool started = !header_.empty();
        refusal_ = started || aead_ ? StrongRefusal::kCut : StrongRefusal::kNotStrongFile;
    }
    return 0;
}

}  // namespace vantory
