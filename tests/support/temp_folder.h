#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace vantory::test {

// A private folder for one test, removed with everything in it (read-only files too) when
// the object goes. On Windows its paths use backslashes, and so do names joined with `/`.
class TempFolder {
  public:
    TempFolder();
    // In `base` rather than in $TMPDIR or /tmp.
    explicit TempFolder(const std::string& base);
    ~TempFolder();
    TempFolder& operator=(TempFolder&&) = delete;  // neither copied nor moved

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const;

    // Sets XDG_CONFIG_HOME to <folder>/config, so that the real settings are never touched,
    // and returns <folder>/config/vantory.
    std::string useAsConfigHome() const;

  private:
    std::string path_;
};

// Runs `work` on a full disk: in a child process whose writes past kFullDiskLimit bytes fail
// with EFBIG (RLIMIT_FSIZE); on Windows in this process, every write failing with EFBIG. True
// when `work` ran to its end and returned true.
constexpr size_t kFullDiskLimit = 64 * 1024;
bool onAFullDisk(const std::function<bool()>& work);

// Small file helpers for tests; paths are UTF-8 on every system.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

void setEnvironment(const std::string& name, const std::string& value);

// The names of what `folder` holds.
std::set<std::string> namesIn(const std::string& folder);

// The permission bits (07777) of `path`, nullopt when it cannot be examined. Windows files are
// private through their folder's access list instead: EXPECT_PERMISSIONS checks nothing there.
std::optional<unsigned> permissionBits(const std::string& path);
#if defined(_WIN32)
#define EXPECT_PERMISSIONS(path, bits) static_cast<void>(path)
#else
#define EXPECT_PERMISSIONS(path, bits) \
    EXPECT_EQ(::vantory::test::permissionBits(path), std::optional<unsigned>(bits)) << (path)
#endif

}  // namespace vantory::test
