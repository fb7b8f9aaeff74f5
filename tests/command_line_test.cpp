#include <gtest/gtest.h>

#include "access/command_line.h"
#include "platform/platform.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, readsOptionsAndFiles) {
    test::TempFolder dir;
    test::writeFile(dir / "a.txt", "a");
    test::writeFile(dir / "-dash", "d");
    ASSERT_TRUE(platform::makeFolder(dir / "sub").ok());
    test::writeFile(dir / "sub/b.txt", "b");
    const std::string a = dir / "a.txt";
    const std::string b = dir / "sub/b.txt";
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::vector<std::string> files;
        std::string error;  // a part of it
    };
    const Case cases[] = {
        {{}, Action::kStart, {}, ""},
        {{a}, Action::kStart, {a}, ""},
        {{"--hide", a, "sub/b.txt"}, Action::kStart, {a, b}, ""},
        {{"./sub//./b.txt", "--hide", "a.txt"}, Action::kStart, {b, a}, ""},
        {{"--", "-dash"}, Action::kStart, {dir / "-dash"}, ""},
        {{"--help", "--bogus"}, Action::kInvalid, {}, "unknown option '--bogus'"},
        {{a, "-h"}, Action::kHelp, {}, ""},
        {{"--version", "--help"}, Action::kHelp, {}, ""},
        {{"-v"}, Action::kVersion, {}, ""},
        {{"-dash"}, Action::kInvalid, {}, "unknown option '-dash'"},
        {{"--hide"}, Action::kInvalid, {}, "--hide needs at least one FILE"},
        {{a, "missing.txt"}, Action::kInvalid, {}, "missing.txt: no such file"},
        {{"sub"}, Action::kInvalid, {}, "sub: is a folder"},
        {{""}, Action::kInvalid, {}, "empty FILE"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments) {
            shown += " [" + argument + "]";
        }
        SCOPED_TRACE(shown);
        const CommandLine line = ParseCommandLine(c.arguments, dir.path());
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.files, c.files);
        EXPECT_NE(line.error.find(c.error), std::string::npos) << line.error;
        EXPECT_EQ(line.error.empty(), c.error.empty()) << line.error;
    }
    // Without a working folder a relative name leads nowhere; an absolute one still works.
    EXPECT_EQ(ParseCommandLine({"a.txt"}, "").action, Action::kInvalid);
    EXPECT_EQ(ParseCommandLine({a}, "").files, std::vector<std::string>{a});
}

TEST(CommandLineTest, absolutePathsKeepTheirBytesAndTheirDotDots) {
    EXPECT_EQ(AbsolutePath("x", "/home/u"), "/home/u/x");
    EXPECT_EQ(AbsolutePath("./a//b/./c", "/home/u/"), "/home/u/a/b/c");
    EXPECT_EQ(AbsolutePath("../x", "/home/u"), "/home/u/../x");
    EXPECT_EQ(AbsolutePath("/etc/./x", "/home/u"), "/etc/x");
    EXPECT_EQ(AbsolutePath("\xe9t\xe9 \n.txt", "/d"), "/d/\xe9t\xe9 \n.txt");
    EXPECT_EQ(AbsolutePath(".", "/"), "/");
}

}  // namespace
}  // namespace vantory
