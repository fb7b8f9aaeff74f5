// Links where files are expected: one picked for hiding, one under a stored name. No command
// reads or changes what a link points to, and the entry stays listed with the reason in words.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QCheckBox>

#include "command_fixture.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
using test::readFile;

class HostileLinkTest : public test::CommandTest,
                        public ::testing::WithParamInterface<std::tuple<size_t, bool>> {
  public:
    // Made public for the rows.
    using CommandTest::click;
    using CommandTest::file;
    using CommandTest::state;
    using CommandTest::ui;
    using CommandTest::window;
};

struct Row {
    const char* name;
    bool storedIsLink;  // entry 0's stored name holds a link to the outside file
    std::function<void(HostileLinkTest&)> act;
    std::string says;  // a part of a message
};

const std::string kNotStored = "is a symbolic link, not a file Vantory stored";

const Row kRows[] = {
    {"pickedForHiding", false, nullptr, "it is a symbolic link"},
    {"startCheck", true, [](HostileLinkTest&) {}, "/100.dat is a symbolic link)"},
    {"restore", true, [](HostileLinkTest& t) { t.click("cmdRestore"); }, kNotStored},
    {"run", true,
     [](HostileLinkTest& t) {
         t.window->setSelection({0});
         t.click("cmdShell");
     },
     kNotStored},
    {"changePassword", true,
     [](HostileLinkTest& t) {
         t.ui.inputAnswers = {"new", "new"};
         t.click("cmdChangePass");
     },
     ""},  // a plain entry is not re-sealed; a sealed one names the link
    // Not a link: a file hidden and restored keeps its mode, and is private while stored.
    {"modesAfterARoundTrip", false,
     [](HostileLinkTest& t) {
         const bool sealed = std::get<1>(t.GetParam());
         const std::string path = t.file("shared.txt", "content");
         ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
         t.ui.fileAnswers.push_back({path});
         t.click("cmdAddFile");
         EXPECT_PERMISSIONS(StoredPath(t.state, 0), 0400u);
         if (sealed) {
             EXPECT_PERMISSIONS(path, 0664u);
             fs::remove(path);
         }
         t.click("cmdRestore");
         EXPECT_EQ(readFile(path), "content");
         EXPECT_PERMISSIONS(path, sealed ? 0600u : 0664u);
     },
     ""},
};

TEST_P(HostileLinkTest, nothingOutsideStorageIsReadOrChanged) {
    const auto [index, sealed] = GetParam();
    const Row& row = kRows[index];
    const std::string outside = dir / "elsewhere";
    test::writeFile(outside, "not hidden");
    ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
    const std::string link = dir / "home/link";
    fs::create_directories(dir / "home");
    fs::create_symlink(outside, link);
    std::string says = row.says;
    if (row.storedIsLink) {
        hide("mine", "my content", sealed);
        ASSERT_TRUE(platform::removeFile(StoredPath(state, 0)).ok());
        fs::create_symlink(outside, StoredPath(state, 0));
        if (says.empty()) {
            says = sealed ? kNotStored : "Password changed";
        }
    }
    open();
    window->findChild<QCheckBox*>("chkEncrypt")->setChecked(sealed);
    if (row.act) {
        if (index != 1) {
            ui.messages.clear();  // the start's report of the link
        }
        row.act(*this);
    } else {
        ui.fileAnswers.push_back({link});
        click("cmdAddFile");
    }

    std::string all;
    for (const auto& message : ui.messages) {
        all += message.text + "\n";
    }
    EXPECT_NE(all.find(says), std::string::npos) << all;
    EXPECT_EQ(readFile(outside), "not hidden");
    EXPECT_PERMISSIONS(outside, 0644u);
    EXPECT_LT(::getxattr(outside.c_str(), "user.vantory.attributes", nullptr, 0), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(window->catalogue().entries(), entries);
    EXPECT_EQ(saved(), entries);
    if (row.storedIsLink) {
        if (says.find("symbolic link") != std::string::npos) {
            EXPECT_NE(all.find(entries[0].path), std::string::npos) << all;
        }
        EXPECT_TRUE(fs::is_symlink(StoredPath(state, 0)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(entries[0].path)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(TempName(state, entries[0].path))));
        EXPECT_TRUE(ui.openedWithApplication.empty());
    } else {
        EXPECT_EQ(storageFolder(), std::set<std::string>{});
    }
    expectIdle();
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileLinkTest,
                         ::testing::Combine(::testing::Range<size_t>(0, std::size(kRows)),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(kRows[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "Sealed" : "Plain");
                         });

}  // namespace
}  // namespace vantory
