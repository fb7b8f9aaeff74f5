#pragma once

// Shared by the fuzz targets: an aborting check, a scratch folder, a silent UI, streaming.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "commands/silent_ui_services.h"

namespace vantory::fuzz {

#define FUZZ_CHECK(condition)                                                                      \
    ((condition)                                                                                   \
         ? (void)0                                                                                 \
         : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition), \
            std::abort()))

// A folder made once per process (in /dev/shm where it can be) and removed at exit.
inline const std::string& scratchFolder() {
    static const std::string* const folder = [] {  // never destroyed: the exit handler uses it
        std::error_code ignored;
        std::string pattern = ::access("/dev/shm", W_OK) == 0
                                  ? std::string("/dev/shm")
                                  : std::filesystem::temp_directory_path(ignored).string();
        pattern += "/vantory-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return new std::string(pattern);
    }();
    return *folder;
}

inline void emptyFolder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
}

inline std::set<std::string> folderNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Dialogs are answered with nothing; messages are counted instead of shown.
struct QuietUi : SilentUiServices {
    int messages = 0;
    void messageBox(const std::string&, int, const std::string&) override { ++messages; }
};

// The first byte gives the key length (up to maxKey), the key follows, the rest is the text.
struct KeyAndText {
    std::string_view key;
    std::string_view text;
};

inline KeyAndText splitKey(const uint8_t* data, size_t size, size_t maxKey) {
    const size_t keyLength = std::min<size_t>(data[0] % (maxKey + 1), size - 1);
    const char* chars = reinterpret_cast<const char*>(data);
    return {{chars + 1, keyLength}, {chars + 1 + keyLength, size - 1 - keyLength}};
}

// A buffer of exactly n bytes on the heap, so that the address sanitizer sees any overrun.
struct Exact {
    explicit Exact(size_t size) : n(size), bytes(new uint8_t[size == 0 ? 1 : size]) {}
    Exact(const void* from, size_t size) : Exact(size) {
        if (size != 0) {
            std::memcpy(bytes.get(), from, size);
        }
    }
    bool operator==(const Exact& other) const {
        return n == other.n && (n == 0 || std::memcmp(bytes.get(), other.bytes.get(), n) == 0);
    }
    size_t n;
    std::unique_ptr<uint8_t[]> bytes;
};

// Feeds `text` to a stream in pieces of 0 to 127 bytes in a pattern picked by `seed`, so
// that pieces of every short length meet every position of a group.
template <class Stream>
std::string streamInPieces(Stream& stream, std::string_view text, uint8_t seed) {
    static constexpr size_t kLengths[] = {1, 0, 2, 5, 3, 4, 7, 1, 13, 6, 64, 2, 33, 0, 9, 127};
    std::string out;
    size_t done = 0;
    for (size_t index = 0; done < text.size(); ++index) {
        const size_t n = std::min(kLengths[(seed + index * (1 + seed % 7)) % std::size(kLengths)],
                                  text.size() - done);
        Exact piece(text.data() + done, n), written(Stream::maxOutput(n));
        const size_t got = stream.update(piece.bytes.get(), n, written.bytes.get());
        FUZZ_CHECK(got <= written.n);
        out.append(reinterpret_cast<const char*>(written.bytes.get()), got);
        done += n;
    }
    Exact end(Stream::kMaxFinishOutput);
    const size_t got = stream.finish(end.bytes.get());
    FUZZ_CHECK(got <= end.n);
    return out.append(reinterpret_cast<const char*>(end.bytes.get()), got);
}

}  // namespace vantory::fuzz
