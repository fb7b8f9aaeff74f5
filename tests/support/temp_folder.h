#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vantory::test {

// A private folder for one test, removed with everything in it (read-only files too) when
// the object goes. configHome() points XDG_CONFIG_HOME into it so the real settings are
// never touched.
class TempFolder {
  public:
    TempFolder();
    // In `base` rather than in $TMPDIR or /tmp.
    explicit TempFolder(const std::string& base);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Sets XDG_CONFIG_HOME to <folder>/config and returns <folder>/config/vantory.
    std::string useAsConfigHome() const;

  private:
    std::string path_;
};

// Runs `work` in a child process that may write files of at most kFullDiskLimit bytes
// (RLIMIT_FSIZE, with SIGXFSZ ignored, so that a write past it fails with EFBIG): a real full
// disk. True when the child ran to its end and `work` returned true.
constexpr size_t kFullDiskLimit = 64 * 1024;
bool onAFullDisk(const std::function<bool()>& work);

// Small file helpers for tests.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

}  // namespace vantory::test
