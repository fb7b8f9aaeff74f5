#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/fault_injection.h"
#include "platform/fs_path.h"
#include "platform/platform.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vantory::test {

namespace fs = std::filesystem;

namespace {

std::string makeUniqueFolder(const fs::path& base) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = base / ("vantory-test-" + std::to_string(random() % 1000000000));
        std::error_code ec;
        if (fs::create_directory(path, ec)) {
            fs::permissions(path, fs::perms::owner_all, ec);
            return platform::pathString(path);
        }
    }
    return std::string();
}

}  // namespace

// In $TMPDIR, %TEMP% on Windows, or the system's default.
TempFolder::TempFolder() : TempFolder(platform::pathString(fs::temp_directory_path())) {}

TempFolder::TempFolder(const std::string& base) : path_(makeUniqueFolder(platform::fsPath(base))) {
    if (path_.empty()) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    const fs::path root = platform::fsPath(path_);
    // Tests leave read-only files and folders: give the owner every right back first (each
    // folder before the iterator enters it), never through a link.
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        std::error_code ignored;
        fs::permissions(it->path(), fs::perms::owner_all,
                        fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
    fs::remove_all(root, ec);
}

std::string TempFolder::operator/(const std::string& name) const {
    std::string joined = path_ + platform::kSeparator + name;
    std::replace(joined.begin(), joined.end(), '/', platform::kSeparator);
    return joined;
}

std::string TempFolder::useAsConfigHome() const {
    setEnvironment("XDG_CONFIG_HOME", *this / "config");
    return *this / "config/vantory";
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(platform::fsPath(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(platform::fsPath(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(platform::fsPath(folder))) {
        names.insert(platform::pathString(entry.path().filename()));
    }
    return names;
}

std::optional<unsigned> permissionBits(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(platform::fsPath(path), ec);
    if (ec || !fs::exists(status)) {
        return std::nullopt;
    }
    return static_cast<unsigned>(status.permissions()) & 07777u;
}

#if defined(_WIN32)

void setEnvironment(const std::string& name, const std::string& value) {
    ::_wputenv_s(platform::fsPath(name).c_str(), platform::fsPath(value).c_str());
}

bool onAFullDisk(const std::function<bool()>& work) {
    platform::setFaultHook([](platform::Operation operation, std::string_view, std::string_view) {
        return operation == platform::Operation::kWrite ? EFBIG : 0;
    });
    const bool worked = work();
    platform::setFaultHook({});
    return worked;
}

#else

void setEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

bool onAFullDisk(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {kFullDiskLimit, kFullDiskLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

#endif

}  // namespace vantory::test
