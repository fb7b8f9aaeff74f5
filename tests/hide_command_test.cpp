// Hide File(s): the dialog's selection, and what stops each file.
#include "commands/hide_command.h"

#include <sys/xattr.h>

#include <numeric>

#include "command_fixture.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::Texts;
using test::writeFile;

std::string everyByte() {
    std::string bytes(256, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    return bytes + "\r\n";
}

class HideTest : public test::CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        hide("earlier", "earlier 0", false);
    }
    void openAs(bool sealed) {
        open();
        state.bolEncrypt = sealed;
    }
    // Hide File(s) with `paths` as the dialog's answer; counts the calls that show the list.
    void pick(const Texts& paths) {
        ui.fileAnswers.push_back(paths);
        AddFiles(context, [this] {
            ++listShown;
            EXPECT_TRUE(ui.messages.empty()) << "the list is shown before any message";
        });
    }
};

// One selection, with something in the way of some files or of all, sealed and plain.
struct HideRow {
    const char* name;  // of the test: letters and digits
    bool sealed;
    size_t index;  // into HideCaseTest::cases()
    friend void PrintTo(const HideRow& row, std::ostream* os) {
        *os << (row.sealed ? "sealed " : "plain ") << row.name;
    }
};

class HideCaseTest : public HideTest, public ::testing::WithParamInterface<HideRow> {
  protected:
    struct Case {
        const char* name;
        std::function<void()> setup;
        Texts why;              // for each picked file, why it is not hidden: "" when it is
        std::string says = "";  // a further part of the message
    };
    std::vector<Case> cases() {
        const std::string unwritten = "the list of hidden files could not be written)";
        const std::string stopped = "the selection stopped at ";
        const std::string own = "it is one of Vantory's own files";
        return {
            {"every byte, an empty file, and a sealed file twice",
             [this] {
                 picked = {file("a.txt", "first"), file("b.bin", everyByte()), file("empty", "")};
                 if (state.bolEncrypt) {
                     picked.push_back(picked[0]);
                 }
             },
             {"", "", "", ""}},
            {"a storage folder that is a file",
             [this] {
                 catalogue.clear();  // else the storage folder would be missed
                 ASSERT_TRUE(saveList(state, catalogue).ok());
                 fs::remove_all(dir / "store");
                 writeFile(dir / "store", "not a folder");
             },
             {"it could not be", "it could not be", "it could not be"}},
            {"a file under the next stored name",
             [this] { writeFile(StoredPath(state, 1), "the user's own"); },
             {"the storage folder already holds a file named 101.dat", stopped + picked[0],
              stopped + picked[0]}},
            {"a file Vantory stored, left unlisted, under the next stored name",
             [this] {
                 writeFile(dir / "lost", "lost");
                 ASSERT_TRUE(encryptFileCopy(state, dir / "lost", StoredPath(state, 1), true).ok());
                 // As on a file system that keeps read-only alone: known by its sealed shape.
                 ASSERT_EQ(::removexattr(StoredPath(state, 1).c_str(), "user.vantory.attributes"),
                           0);
             },
             {"", "", ""},
             StoredPath(state, 1) + " is now " + (dir / "recovered/recovered-101.dat")},
            {"a settings file that cannot be written",
             [this] {
                 fs::remove(SettingsPath(state));
                 fs::create_directory(SettingsPath(state));  // nothing can be renamed over it
             },
             {unwritten, unwritten, unwritten},
             "The list of hidden files in " + SettingsPath(state) + " could not be written ("},
            {"a missing storage folder",
             [this] { fs::rename(dir / "store", dir / "unplugged"); },
             {"-", "-", "-"},
             "The storage folder " + state.strStorageDir +
                 " cannot be found, so no file was hidden"},
            {"a hidden file",
             [this] { ASSERT_TRUE(platform::setAttributes(picked[1], platform::kHidden).ok()); },
             {"", "it is marked hidden or system", stopped + picked[1]}},
            {"the program's own files",
             [this] {
                 ASSERT_TRUE(platform::setAttributes(StoredPath(state, 0), platform::kNormal).ok());
                 picked[0] = SettingsPath(state);
                 picked[1] = StoredPath(state, 0);
             },
             {own, own, ""}},
            {"a full list",
             [this] {
                 for (size_t i = 1; i < kMaxCatalogueEntries - 2; ++i) {
                     catalogue.append({"/earlier/" + std::to_string(i), true});
                 }
             },
             {"", "", "the list of hidden files is full; it holds at most 900 files"}},
            {"a file that vanishes after the existence test",
             [this] {
                 ui.onWaitCursor = [this, moves = 0](bool on) mutable {
                     if (on && ++moves == 2) {
                         ASSERT_EQ(::unlink(picked[1].c_str()), 0);
                         before[1].clear();
                     }
                 };
             },
             {"", "it could not be moved into storage", ""}},
        };
    }
    Texts picked;
    Texts before;  // the content of each picked file
};
// The last case stays plain: a sealed copy leaves its original in place, and no move waits.
constexpr const char* kHideCaseNames[] = {"EveryByteEmptyAndTwice",
                                          "StorageFolderIsAFile",
                                          "FileUnderTheNextStoredName",
                                          "UnlistedStoredFile",
                                          "SettingsFileUnwritable",
                                          "StorageFolderMissing",
                                          "HiddenFile",
                                          "ProgramsOwnFiles",
                                          "FullList",
                                          "FileVanishesAfterTheTest"};
std::vector<HideRow> hideRows() {
    std::vector<HideRow> rows;
    for (const bool sealed : {false, true}) {
        for (size_t i = 0; i < (sealed ? 9 : 10); ++i) {
            rows.push_back({.name = kHideCaseNames[i], .sealed = sealed, .index = i});
        }
    }
    return rows;
}
INSTANTIATE_TEST_SUITE_P(Rows, HideCaseTest, ::testing::ValuesIn(hideRows()), [](const auto& info) {
    return std::string(info.param.sealed ? "Sealed" : "Plain") + info.param.name;
});

// Each picked file is hidden under the next number, or left where it was and named with the
// reason in the one message.
TEST_P(HideCaseTest, storesEachFileUnderTheNextNumberOrNamesItWithTheReason) {
    const bool sealed = GetParam().sealed;
    openAs(sealed);
    picked = {file("a", "a"), file("b", "b"), file("c", "c")};
    const Case c = cases().at(GetParam().index);
    SCOPED_TRACE(c.name);
    c.setup();
    for (const std::string& path : picked) {
        before.push_back(readFile(path));
    }
    const std::string settings = readFile(SettingsPath(state));
    Texts listed = listedPaths();
    const size_t listedBefore = listed.size();
    pick(picked);

    bool named = !c.says.empty();
    for (size_t i = 0; i < picked.size(); ++i) {
        SCOPED_TRACE(picked[i]);
        if (!c.why[i].empty()) {
            named = true;
            EXPECT_TRUE(!contains(picked[i], "/home/") || readFile(picked[i]) == before[i]);
            continue;
        }
        listed.push_back(picked[i]);
        const std::string stored = StoredPath(state, listed.size() - 1);
        if (sealed) {
            EXPECT_TRUE(decryptFileCopy(state, stored, dir / "out", true).ok());
            EXPECT_EQ(readFile(dir / "out"), before[i]);
            EXPECT_EQ(readFile(picked[i]), before[i]) << "the original stays";
        } else {
            EXPECT_EQ(readFile(stored), before[i]);
            EXPECT_FALSE(platform::pathExists(picked[i])) << "the original moved";
        }
    }
    EXPECT_EQ(listedPaths(), listed);
    EXPECT_LE(listShown, 1);
    EXPECT_TRUE(listShown == 1 || listed.size() == listedBefore) << "a new list is shown";
    if (std::count(c.why.begin(), c.why.end(), "") == 0) {
        EXPECT_EQ(readFile(SettingsPath(state)), settings);
    } else {
        EXPECT_EQ(saved(), catalogue.entries());
        EXPECT_EQ(state.intProgressTotal, static_cast<int>(picked.size()));
    }
    ASSERT_EQ(ui.messages.size(), named ? 1u : 0u);
    for (size_t i = 0; named && i < picked.size(); ++i) {
        const std::string& text = ui.messages[0].text;
        EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation);
        EXPECT_EQ(contains(text, picked[i] + "  (" + c.why[i]), c.why[i].size() > 1) << text;
        EXPECT_TRUE(contains(text, c.says)) << text;
    }
    expectIdle();
    // What stood in the way is as it was, and nothing is stored past the list; no folder is
    // made in the place of a missing one.
    if (platform::isFolder(dir / "store")) {
        const bool mine = contains(c.why[0], "101.dat");
        EXPECT_EQ(platform::pathExists(StoredPath(state, listed.size())), mine);
        EXPECT_EQ(readFile(StoredPath(state, listed.size())), mine ? "the user's own" : "");
        EXPECT_EQ(storedFile(0), "earlier 0");
        EXPECT_EQ(readFile(dir / "recovered/recovered-101-unsealed"),
                  contains(c.says, "recovered-101") ? "lost" : "");
    } else {
        EXPECT_EQ(readFile(dir / "store"), c.says.empty() ? "not a folder" : "");
    }
}

// A cancelled dialog does nothing, not even write the list again.
TEST_F(HideTest, aCancelledDialogDoesNothing) {
    openAs(false);
    ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
    pick({});
    EXPECT_FALSE(platform::pathExists(SettingsPath(state)));
    EXPECT_EQ(ui.yields, 0);
    EXPECT_TRUE(busy.calls.empty());
    EXPECT_EQ(listShown, 0);
}

}  // namespace
}  // namespace vantory
