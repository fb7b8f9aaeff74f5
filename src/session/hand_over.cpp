#include "session/hand_over.h"

#include <algorithm>

namespace vantory {

namespace {

constexpr uint32_t kMagic = 0x56414e54;  // "VANT"
constexpr uint32_t kVersion = 2;

void append32(std::string& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

uint32_t read32(const char* at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    }
    return value;
}

// The paths of a whole message's body, or false when it is not one.
bool parseBody(std::string_view body, std::vector<std::string>& paths) {
    if (body.size() < 4) {
        return false;
    }
    const uint32_t count = read32(body.data());
    size_t offset = 4;
    if (count > (body.size() - offset) / 4) {
        return false;  // more paths than the body could hold lengths for
    }
    paths.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        if (body.size() - offset < 4) {
            return false;
        }
        const uint32_t length = read32(body.data() + offset);
        offset += 4;
        if (length > body.size() - offset) {
            return false;
        }
        paths.emplace_back(body.substr(offset, length));
        offset += length;
    }
    return offset == body.size();
}

}  // namespace

std::string HandOver::message(const std::vector<std::string>& paths) {
    uint64_t size = 4;
    for (const std::string& path : paths) {
        size += 4 + path.size();
    }
    std::string bytes;
    bytes.reserve(kHeaderSize + size);
    append32(bytes, kMagic);
    append32(bytes, kVersion);
    append32(bytes, static_cast<uint32_t>(size >> 32));
    append32(bytes, static_cast<uint32_t>(size));
    append32(bytes, static_cast<uint32_t>(paths.size()));
    for (const std::string& path : paths) {
        append32(bytes, static_cast<uint32_t>(path.size()));
        bytes += path;
    }
    return bytes;
}

size_t HandOverReader::wanted() const {
    if (state_ != State::kMore) {
        return 0;
    }
    return headerRead_ ? static_cast<size_t>(length_ - bytes_.size())
                       : HandOver::kHeaderSize - bytes_.size();
}

HandOverReader::State HandOverReader::take(std::string_view bytes) {
    while (!bytes.empty() && state_ == State::kMore) {
        const size_t piece = std::min(bytes.size(), wanted());
        bytes_.append(bytes.substr(0, piece));
        bytes.remove_prefix(piece);
        if (wanted() > 0) {
            continue;
        }
        if (!headerRead_) {
            const uint64_t length = (static_cast<uint64_t>(read32(bytes_.data() + 8)) << 32) |
                                    read32(bytes_.data() + 12);
            if (read32(bytes_.data()) != kMagic || read32(bytes_.data() + 4) != kVersion ||
                length > HandOver::kLongest) {
                state_ = State::kRefused;
                break;
            }
            headerRead_ = true;
            length_ = length;
            bytes_.clear();
            if (length_ > 0) {
                continue;
            }
        }
        state_ = parseBody(bytes_, paths_) ? State::kWhole : State::kRefused;
        bytes_ = std::string();
    }
    if (!bytes.empty()) {
        state_ = State::kRefused;  // more than one message
    }
    return state_;
}

}  // namespace vantory
