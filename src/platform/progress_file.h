#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace vantory::platform {

// A count kept durably on disk as the length of a file: each step of a long operation is
// recorded as done before the next one starts, so a crash leaves an exact count behind.
class ProgressFile {
  public:
    explicit ProgressFile(std::string path) : path_(std::move(path)) {}
    ~ProgressFile();
    ProgressFile(const ProgressFile&) = delete;
    ProgressFile& operator=(const ProgressFile&) = delete;

    Status open();          // creates it empty
    Status openExisting();  // keeps the count it holds
    size_t count() const { return count_; }
    Status setCount(size_t count);  // grows or shrinks, then flushes to disk
    Status remove();

  private:
    std::string path_;
    NativeFile fd_ = kNoFile;
    size_t count_ = 0;
};

}  // namespace vantory::platform
