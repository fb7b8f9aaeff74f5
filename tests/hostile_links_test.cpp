// Links where files are expected, and the mode of a file hidden plain: no command reads or
// changes what a link points to, its entry stays listed, and the reason is given in words.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QCheckBox>

#include "command_fixture.h"
#include "commands/restore_command.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
constexpr auto npos = std::string::npos;

class HostileTest : public test::CommandTest,
                    public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(HostileTest, nothingOutsideStorageIsReadOrChanged) {
    const auto [row, sealed] = GetParam();
    const std::string name = row, outside = dir / "elsewhere", link = dir / "home/link";
    test::writeFile(outside, "not hidden");
    ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
    const std::string mine = file("mine", "content");
    ASSERT_EQ(::chmod(mine.c_str(), 0664), 0);
    fs::create_symlink(outside, link);
    const bool storedIsLink = name != "pickedForHiding" && name != "linkAtTheOriginalPath" &&
                              name != "modesAfterARoundTrip";
    if (storedIsLink) {  // entry 0's stored name holds a link to the outside file
        hide("mine", "content", sealed);
        ASSERT_TRUE(platform::removeFile(StoredPath(state, 0)).ok());
        fs::create_symlink(outside, StoredPath(state, 0));
    } else if (name == "linkAtTheOriginalPath") {
        hide("mine", "content", sealed);
        fs::create_symlink(outside, mine);
    }
    open();
    window->findChild<QCheckBox*>("chkEncrypt")->setChecked(sealed);
    std::string says = "is a symbolic link, not a file Vantory stored";
    if (name == "startCheck") {
        says = "/100.dat is a symbolic link)";
    } else {
        ui.messages.clear();
    }
    if (name == "pickedForHiding") {
        ui.fileAnswers.push_back({link});
        click("cmdAddFile");
        says = "it is a symbolic link";
    } else if (name == "restore") {
        click("cmdRestore");
    } else if (name == "run") {
        window->setSelection({0});
        click("cmdShell");
    } else if (name == "changePassword") {
        ui.inputAnswers = {"new", "new"};
        click("cmdChangePass");
        says = sealed ? says : "Password changed";  // a plain entry is not re-sealed
    } else if (name == "linkAtTheOriginalPath") {   // never compared through: kept, and beside it
        click("cmdRestore");
        EXPECT_EQ(test::readFile(RestoredBesideName(mine, 1)), "content");
        EXPECT_TRUE(fs::is_symlink(mine));
        entries.clear();
        says = "restored beside it";
    } else if (name == "modesAfterARoundTrip") {
        ui.fileAnswers.push_back({mine});
        click("cmdAddFile");
        EXPECT_PERMISSIONS(StoredPath(state, 0), 0400u);
        if (sealed) {
            fs::remove(mine);
        }
        click("cmdRestore");
        EXPECT_EQ(test::readFile(mine), "content");
        EXPECT_PERMISSIONS(mine, sealed ? 0600u : 0664u);
        says = "";
    }

    std::string all;
    for (const auto& message : ui.messages) {
        all += message.text + "\n";
    }
    EXPECT_NE(all.find(says), npos) << all;
    EXPECT_EQ(test::readFile(outside), "not hidden");
    EXPECT_PERMISSIONS(outside, 0644u);
    EXPECT_LT(::getxattr(outside.c_str(), "user.vantory.attributes", nullptr, 0), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(window->catalogue().entries(), entries);
    EXPECT_EQ(saved(), entries);
    if (storedIsLink) {
        EXPECT_TRUE(says.find("link") == npos || all.find(entries[0].path) != npos) << all;
        EXPECT_TRUE(fs::is_symlink(StoredPath(state, 0)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(entries[0].path)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(TempName(state, entries[0].path))));
        EXPECT_TRUE(ui.openedWithApplication.empty());
    } else {
        EXPECT_EQ(storageFolder(), std::set<std::string>{});
    }
    expectIdle();
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTest,
                         ::testing::Combine(::testing::Values("pickedForHiding", "startCheck",
                                                              "restore", "run", "changePassword",
                                                              "linkAtTheOriginalPath",
                                                              "modesAfterARoundTrip"),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "Sealed" : "Plain");
                         });

}  // namespace
}  // namespace vantory
