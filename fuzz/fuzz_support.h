#pragma once

// Helpers shared by the libFuzzer targets: an invariant check that stops the run (libFuzzer
// then keeps the input as a crash artifact), a folder private to the process for the files a
// target writes, and user-interface services that answer nothing and show nothing.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ui/silent_ui_services.h"

namespace vantory::fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::vantory::fuzz::fail(#condition, __FILE__, __LINE__))

// A folder made once per process, in memory where /dev/shm is available, and removed when
// the process ends normally. Targets reuse it from one input to the next.
inline const std::string& scratchFolder() {
    // Never destroyed, so that it is still there for the clean-up at exit.
    static const std::string* const folder = [] {
        std::string base = "/dev/shm";
        if (::access(base.c_str(), W_OK) != 0) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        }
        std::string pattern = base + "/vantory-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return new std::string(pattern);
    }();
    return *folder;
}

// Empties a folder (creating it when missing) without following links out of it.
inline void emptyFolder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
}

// The names in a folder, sorted.
inline std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Dialogs are answered with nothing; messages are counted instead of printed.
class QuietUi : public SilentUiServices {
  public:
    int messages = 0;
    std::string lastMessage;

    void messageBox(const std::string& text, int, const std::string&) override {
        ++messages;
        lastMessage = text;
    }
};

// The input of a target that needs a key: the first byte gives the key length (up to
// maxKey), the key follows, the rest is the text.
struct KeyAndText {
    std::string_view key;
    std::string_view text;
};

inline KeyAndText splitKey(const uint8_t* data, size_t size, size_t maxKey) {
    if (size == 0) {
        return {};
    }
    const size_t keyLength = std::min<size_t>(data[0] % (maxKey + 1), size - 1);
    const char* chars = reinterpret_cast<const char*>(data);
    return {{chars + 1, keyLength}, {chars + 1 + keyLength, size - 1 - keyLength}};
}

// Piece lengths for feeding a stream: a short repeating pattern picked by `seed`, so that
// pieces of 0, 1, 2, 3 and 4 bytes and longer ones meet every position of a group.
inline size_t pieceLength(uint8_t seed, size_t index) {
    static constexpr size_t kLengths[] = {1, 0, 2, 5, 3, 4, 7, 1, 13, 6, 64, 2, 33, 0, 9, 127};
    return kLengths[(seed + index * (1 + seed % 7)) % std::size(kLengths)];
}

}  // namespace vantory::fuzz
