// Links where files are expected, and the mode of a file hidden plain: no command reads or
// changes what a link points to, its entry stays listed, and the reason is given in words.
#include <sys/stat.h>
#include <sys/xattr.h>

#include "command_fixture.h"
#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/restore_command.h"
#include "commands/run_command.h"
#include "platform/fault_injection.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
constexpr auto npos = std::string::npos;

// What a row does: its name says which command meets the link, or where the link is.
struct HostileRow {
    const char* name;
    bool sealed;
    friend void PrintTo(const HostileRow& row, std::ostream* os) {
        *os << (row.sealed ? "sealed " : "plain ") << row.name;
    }
};

class HostileTest : public test::CommandTest, public ::testing::WithParamInterface<HostileRow> {};

TEST_P(HostileTest, nothingOutsideStorageIsReadOrChanged) {
    const bool sealed = GetParam().sealed;
    const std::string name = GetParam().name, outside = dir / "elsewhere", link = dir / "home/link";
    test::writeFile(outside, "not hidden");
    ASSERT_EQ(::chmod(outside.c_str(), 0644), 0);
    const std::string mine = file("mine", "content");
    ASSERT_EQ(::chmod(mine.c_str(), 0664), 0);
    fs::create_symlink(outside, link);
    const bool storedIsLink = name != "pickedForHiding" && name != "linkAtTheOriginalPath" &&
                              name != "modesAfterARoundTrip" && name != "filesUnderTheRunNames";
    if (name == "filesUnderTheRunNames") {
        hide("mine", "content", sealed);
    } else if (storedIsLink) {  // entry 0's stored name holds a link to the outside file
        hide("mine", "content", sealed);
        ASSERT_TRUE(platform::removeFile(StoredPath(state, 0)).ok());
        fs::create_symlink(outside, StoredPath(state, 0));
    } else if (name == "linkAtTheOriginalPath") {
        hide("mine", "content", sealed);
        fs::create_symlink(outside, mine);
    }
    open();
    state.bolEncrypt = sealed;
    std::string says = "is a symbolic link, not a file Vantory stored";
    if (name == "startCheck") {
        says = "/100.dat is a symbolic link)";
    } else {
        ui.messages.clear();
    }
    if (name == "pickedForHiding") {
        ui.fileAnswers.push_back({link});
        AddFiles(context);
        says = "it is a symbolic link";
    } else if (name == "restore") {
        RestoreAll(context);
    } else if (name == "run") {
        RunCommand run(context, [](const std::string&) {});
        run.press(0);
    } else if (name == "changePassword") {
        ui.inputAnswers = {"new", "new"};
        ChangePassCommand(context);
        says = sealed ? says : "Password changed";  // a plain entry is not re-sealed
    } else if (name == "linkAtTheOriginalPath") {   // never compared through: kept, and beside it
        RestoreAll(context);
        EXPECT_EQ(test::readFile(RestoredBesideName(mine, 1)), "content");
        EXPECT_TRUE(fs::is_symlink(mine));
        entries.clear();
        says = "restored beside it";
    } else if (name == "modesAfterARoundTrip") {
        ASSERT_EQ(::chmod(mine.c_str(), 0754), 0);  // a script
        ui.fileAnswers.push_back({mine});
        AddFiles(context);
        EXPECT_PERMISSIONS(StoredPath(state, 0), 0500u);
        if (sealed) {
            fs::remove(mine);
        }
        RestoreAll(context);
        EXPECT_EQ(test::readFile(mine), "content");
        EXPECT_PERMISSIONS(mine, 0754u);
        says = "";
    } else if (name == "filesUnderTheRunNames") {
        // Someone else's file comes under the temporary name just as the first press puts the
        // entry's file there, and (plain) under the stored name while it is open: neither is
        // replaced, nothing is lost, and the window does not stay waiting.
        const std::string temporary = TempName(state, mine), storedName = StoredPath(state, 0);
        const std::string theirs = dir / "home/theirs";
        platform::setFaultHook([&](platform::Operation op, auto, std::string_view to) {
            if (op == platform::Operation::kRename && to == temporary && !fs::exists(temporary)) {
                test::writeFile(temporary, "theirs");
            }
            return 0;
        });
        RunCommand run(context, [](const std::string&) {});
        run.press(0);
        platform::setFaultHook({});
        EXPECT_EQ(test::readFile(temporary), "theirs");
        EXPECT_FALSE(run.waiting());
        fs::rename(temporary, theirs);
        run.press(0);
        if (!sealed) {
            test::writeFile(storedName, "theirs");
            ui.messages.clear();
            run.press(0);
            EXPECT_EQ(test::readFile(temporary), "content");
            EXPECT_EQ(test::readFile(storedName), "theirs");
            EXPECT_EQ(platform::getAttributes(storedName), platform::kNormal);
            EXPECT_FALSE(run.waiting());
            const std::string kept =
                mine + " is kept as " + temporary + ", and the file at " + storedName;
            EXPECT_NE(onlyMessage().find(kept), npos);
            ui.messages.clear();
            open();  // the next start keeps to the same rule
            EXPECT_NE(ui.messages.at(0).text.find(kept), npos);
            EXPECT_EQ(test::readFile(temporary), "content");
            fs::rename(storedName, theirs);
        } else {
            run.press(0);
        }
        RestoreAll(context);
        EXPECT_EQ(test::readFile(mine), "content");
        EXPECT_EQ(test::readFile(theirs), "theirs");
        entries.clear();
        says = "Nothing was replaced";
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
    EXPECT_EQ(catalogue.entries(), entries);
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

std::vector<HostileRow> hostileRows() {
    std::vector<HostileRow> rows;
    for (const char* name :
         {"pickedForHiding", "startCheck", "restore", "run", "changePassword",
          "linkAtTheOriginalPath", "modesAfterARoundTrip", "filesUnderTheRunNames"}) {
        for (const bool sealed : {false, true}) {
            rows.push_back({.name = name, .sealed = sealed});
        }
    }
    return rows;
}
INSTANTIATE_TEST_SUITE_P(Rows, HostileTest, ::testing::ValuesIn(hostileRows()),
                         [](const auto& info) {
                             return std::string(info.param.name) +
                                    (info.param.sealed ? "Sealed" : "Plain");
                         });

}  // namespace
}  // namespace vantory
