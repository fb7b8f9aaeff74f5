#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/fs_path.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vantory::test {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)

std::string defaultBase() {
    std::error_code ec;
    std::string base = platform::pathString(fs::temp_directory_path(ec));
    while (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) {
        base.pop_back();
    }
    return base;
}

std::string makeUniqueFolder(const std::string& base) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = base + "\\vantory-test-" + std::to_string(random() % 1000000000);
        std::error_code ec;
        if (fs::create_directory(platform::fsPath(path), ec)) {
            return path;
        }
    }
    return std::string();
}

#else

std::string defaultBase() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && base[0] != '\0' ? base : "/tmp";
}

std::string makeUniqueFolder(const std::string& base) {
    std::string pattern = base + "/vantory-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return ::mkdtemp(name.data()) != nullptr ? std::string(name.data()) : std::string();
}

#endif

}  // namespace

TempFolder::TempFolder() : TempFolder(defaultBase()) {}

TempFolder::TempFolder(const std::string& base) : path_(makeUniqueFolder(base)) {
    if (path_.empty()) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    const fs::path root = platform::fsPath(path_);
    // Give write permission back everywhere first: tests leave read-only files and folders.
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
#if defined(_WIN32)
        std::error_code ignored;
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
#else
        ::chmod(it->path().c_str(), it->is_directory() ? 0700 : 0600);
#endif
    }
#if !defined(_WIN32)
    ::chmod(path_.c_str(), 0700);
#endif
    fs::remove_all(root, ec);
}

std::string TempFolder::operator/(const std::string& name) const {
#if defined(_WIN32)
    std::string joined = path_ + "\\" + name;
    for (char& c : joined) {
        if (c == '/') {
            c = '\\';
        }
    }
    return joined;
#else
    return path_ + "/" + name;
#endif
}

std::string TempFolder::useAsConfigHome() const {
    const std::string home = *this / "config";
    setEnvironment("XDG_CONFIG_HOME", home);
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
    for (const auto& entry : std::filesystem::directory_iterator(platform::fsPath(folder))) {
        names.insert(platform::pathString(entry.path().filename()));
    }
    return names;
}

void setEnvironment(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    ::_wputenv_s(platform::fsPath(name).c_str(), platform::fsPath(value).c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::optional<unsigned> permissionBits(const std::string& path) {
#if defined(_WIN32)
    (void)path;
    return std::nullopt;
#else
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(st.st_mode & 07777);
#endif
}

#if defined(_WIN32)

bool onAFullDisk(const std::function<bool()>& work) {
    platform::setFaultHook([](platform::Operation operation, std::string_view, std::string_view) {
        return operation == platform::Operation::kWrite ? EFBIG : 0;
    });
    const bool worked = work();
    platform::setFaultHook({});
    return worked;
}

#else

bool onAFullDisk(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {kFullDiskLimit, kFullDiskLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

}  // namespace vantory::test
