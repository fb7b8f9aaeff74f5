#include "commands/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/platform.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, readsOptionsAndMakesFilesAbsolute) {
    test::TempFolder dir;
    test::writeFile(dir / "a.txt", "a");
    test::writeFile(dir / "-dash", "d");
    ASSERT_TRUE(platform::makeFolder(dir / "sub").ok());
    test::writeFile(dir / "sub/b \xe9.txt", "b");
    const std::string a = dir / "a.txt";
    ASSERT_EQ(::symlink(a.c_str(), (dir / "link").c_str()), 0);
    // ".." after a link to a folder leads from where the link points.
    ASSERT_TRUE(platform::makeFolder(dir / "sub/inner").ok());
    ASSERT_EQ(::symlink("sub/inner", (dir / "inner").c_str()), 0);
    const std::string b = dir / "sub/b \xe9.txt";
    const std::string realB = std::filesystem::canonical(b).string();
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::vector<std::string> files;
        std::string error;         // a part of it
        std::string storage = {};  // --storage
    };
    const Case cases[] = {
        {{}, Action::kStart, {}, ""},
        {{"./sub//./b \xe9.txt", "--hide", a}, Action::kStart, {b, a}, ""},
        {{"--", "-dash", "sub/../a.txt", "inner/../b \xe9.txt"},
         Action::kStart,
         {dir / "-dash", a, realB},
         ""},
        {{a, "-h"}, Action::kHelp, {}, ""},
        {{"-v"}, Action::kVersion, {}, ""},
        {{"--salvage"}, Action::kSalvage, {}, ""},
        {{"--salvage", a}, Action::kInvalid, {}, "--salvage takes no FILE"},
        {{"--storage", "./sub", "--salvage"}, Action::kSalvage, {}, "", dir / "sub/"},
        {{"--salvage", "--storage"}, Action::kInvalid, {}, "--storage needs a FOLDER"},
        {{"--salvage", "--storage", "a.txt"}, Action::kInvalid, {}, "a.txt: no such folder"},
        {{"--storage", "sub"}, Action::kInvalid, {}, "--storage goes with --salvage"},
        {{"--help", "-dash"}, Action::kInvalid, {}, "unknown option '-dash'"},
        {{"--hide"}, Action::kInvalid, {}, "--hide needs at least one FILE"},
        {{a, "missing.txt"}, Action::kInvalid, {}, "missing.txt: no such file"},
        {{"sub"}, Action::kInvalid, {}, "sub: is a folder"},
        {{"link"}, Action::kInvalid, {}, "link: is a symbolic link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const CommandLine line = ParseCommandLine(c.arguments, dir.path());
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.files, c.files);
        EXPECT_EQ(line.storageFolder, c.storage);
        EXPECT_NE(line.error.find(c.error), std::string::npos) << line.error;
        EXPECT_EQ(line.error.empty(), c.error.empty()) << line.error;
    }
    // Without a working folder a relative name leads nowhere.
    EXPECT_EQ(ParseCommandLine({"a.txt"}, "").action, Action::kInvalid);
}

}  // namespace
}  // namespace vantory
