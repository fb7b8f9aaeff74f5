#include <sys/stat.h>
#include <sys/xattr.h>

#include "cipher/cipher.h"
#include "command_fixture.h"
#include "commands/store_check.h"
#include "store/move_journal.h"

namespace vantory {
namespace {

using platform::kStoredAttributes;

ino_t inode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class StoreCheckTest : public test::CommandTest {
  protected:
    std::string original(size_t i) const { return dir / ("home/file|" + std::to_string(i)); }
    static std::string content(size_t i) { return "content of " + std::to_string(i); }

    // A catalogue of `count` plain entries, each with its stored file at attributes 7, alone in
    // the storage folder; the last `cut` are not in the list.
    void prepare(size_t count, size_t cut = 0) {
        std::filesystem::remove_all(dir / "store");
        std::filesystem::create_directories(dir / "store");
        Catalogue catalogue;
        for (size_t i = 0; i < count; ++i) {
            test::writeFile(StoredPath(state, i), content(i));
            ASSERT_TRUE(platform::setAttributes(StoredPath(state, i), kStoredAttributes).ok());
            if (i + cut < count) {
                catalogue.append({original(i), false});
            }
        }
        ASSERT_TRUE(saveList(state, catalogue).ok());
    }
};

// Entries whose stored files are missing are dropped and the later files move up; those before
// the first missing one stay where they are. Something else under a stored name is not a loss,
// and no file moves over it, but it is named. Stored files whose attributes were taken off are
// hidden again, and one an earlier version left readable by others becomes private.
// Without entries, nothing is touched: not a stray file under the first stored name, nor the
// settings file.
TEST_F(StoreCheckTest, missingFilesAreDroppedAndTheLaterOnesMoveUp) {
    struct Case {
        const char* name;
        size_t count;
        std::vector<size_t> missing, kept;
        size_t folderAt = 0;  // a folder in the place of this entry's stored file, when not 0
        size_t cut = 0;       // entries cut off the end of the list, their stored files kept
    };
    const Case cases[] = {
        {.name = "one in the middle", .count = 5, .missing = {2}, .kept = {0, 1, 3, 4}},
        {.name = "two", .count = 8, .missing = {2, 5}, .kept = {0, 1, 3, 4, 6, 7}},
        {.name = "the last", .count = 5, .missing = {4}, .kept = {0, 1, 2, 3}},
        {.name = "a folder", .count = 4, .missing = {2}, .kept = {0, 1, 3}, .folderAt = 1},
        {.name = "none missing", .count = 3, .missing = {}, .kept = {0, 1, 2}},
        {.name = "a list cut", .count = 4, .missing = {}, .kept = {0, 1}, .cut = 2},
        {.name = "one missing, the list cut", .count = 5, .missing = {1}, .kept = {0, 2}, .cut = 2},
        {.name = "a list cut to nothing", .count = 1, .missing = {}, .kept = {}, .cut = 1},
        {.name = "no entries", .count = 0, .missing = {}, .kept = {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.messages.clear();
        busy.calls.clear();
        listShown = 0;
        prepare(c.count, c.cut);
        if (c.count == 0) {
            test::writeFile(StoredPath(state, 0), "stray");
        } else if (c.count > c.cut) {
            ASSERT_TRUE(platform::setAttributes(StoredPath(state, 0), platform::kNormal).ok());
            // As an earlier version left it: attributes 7 recorded alone, readable by others.
            ASSERT_EQ(::chmod(StoredPath(state, 1).c_str(), 0444), 0);
            ASSERT_EQ(
                ::setxattr(StoredPath(state, 1).c_str(), "user.vantory.attributes", "7", 1, 0), 0);
        }
        std::string expected = "Error!  The file(s) ";
        for (const size_t m : c.missing) {
            ASSERT_EQ(::unlink(StoredPath(state, m).c_str()), 0);
            expected += original(m) + "  ";
        }
        if (c.folderAt != 0) {
            ASSERT_EQ(::unlink(StoredPath(state, c.folderAt).c_str()), 0);
            ASSERT_TRUE(platform::makeFolder(StoredPath(state, c.folderAt)).ok());
        }
        std::vector<ino_t> inodes;
        for (size_t p = 0; p < (c.missing.empty() ? c.count : c.missing[0]); ++p) {
            inodes.push_back(inode(StoredPath(state, p)));
        }
        const std::string settings = test::readFile(SettingsPath(state));
        const ino_t settingsInode = inode(SettingsPath(state));
        // The repair is complete, the list shown and the busy state left before the user is told.
        ui.onMessage = [&](const test::FakeUiServices::Message&) {
            EXPECT_FALSE(state.bolBusy);
            EXPECT_EQ(listShown, c.kept.empty() ? 0 : 1);
            EXPECT_EQ(catalogue.size(), c.kept.size());
            EXPECT_EQ(saved().size(), c.kept.size());
        };
        if (c.count == 0) {
            start();
            EXPECT_TRUE(busy.calls.empty()) << "no busy state";
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(inode(SettingsPath(state)), settingsInode);
            EXPECT_EQ(platform::getAttributes(StoredPath(state, 0)), platform::kNormal);
            continue;
        }
        start();  // the load step runs the check
        // Entry p is stored as p + 100 with the content of entry kept[p], at attributes 7, but
        // for the folder, and nothing is stored past the last entry.
        std::vector<std::string> paths;
        for (size_t p = 0; p < c.kept.size(); ++p) {
            paths.push_back(original(c.kept[p]));
            if (p == c.folderAt && p != 0) {
                EXPECT_TRUE(platform::isFolder(StoredPath(state, p)));
                continue;
            }
            EXPECT_EQ(test::readFile(StoredPath(state, p)), content(c.kept[p])) << p;
            EXPECT_EQ(platform::getAttributes(StoredPath(state, p)), kStoredAttributes) << p;
            EXPECT_PERMISSIONS(StoredPath(state, p), 0400u);
        }
        for (size_t p = c.kept.size(); p < c.count; ++p) {  // but those cut off the list
            EXPECT_EQ(test::readFile(StoredPath(state, p)), p + c.cut < c.count ? "" : content(p));
        }
        if (c.cut != 0) {  // named last, with the way to get them back
            ASSERT_FALSE(ui.messages.empty());
            for (size_t p = c.count - c.cut; p < c.count; ++p) {
                EXPECT_TRUE(contains(ui.messages.back().text, "\r\n" + StoredPath(state, p)));
            }
            EXPECT_TRUE(contains(ui.messages.back().text, "vantory --salvage"));
            ui.messages.pop_back();
        }
        EXPECT_EQ(listedPaths(), paths);
        EXPECT_EQ(saved(), catalogue.entries());
        EXPECT_FALSE(platform::pathExists(JournalPath(state)));
        for (size_t p = 0; p < inodes.size(); ++p) {
            EXPECT_EQ(inode(StoredPath(state, p)), inodes[p]) << p;
        }
        if (c.missing.empty()) {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_EQ(test::readFile(SettingsPath(state)), settings);
            EXPECT_EQ(inode(SettingsPath(state)), settingsInode) << "nothing changed: not written";
        } else {  // a folder under a stored name is named first
            ASSERT_EQ(ui.messages.size(), c.folderAt != 0 ? 2u : 1u);
            EXPECT_EQ(ui.messages.back().text, expected + "was deleted from storage.");
            const std::string folder = StoredPath(state, c.folderAt) + " is a folder)";
            EXPECT_EQ(ui.messages[0].text.find(folder) != std::string::npos, c.folderAt != 0);
        }
        expectIdle();
    }
}

// A damaged line shifts the entries after it onto other entries' stored files: the load
// refuses the whole file, and nothing is checked, moved or written.
TEST_F(StoreCheckTest, aDamagedListIsReportedAndNothingIsTouched) {
    prepare(3);
    const std::string text =
        test::readFile(SettingsPath(state)) + Seal("0|1x", state.strPassword) + "\r\n";
    test::writeFile(SettingsPath(state), text);
    ASSERT_EQ(::unlink(StoredPath(state, 0).c_str()), 0);

    EXPECT_FALSE(start());
    EXPECT_TRUE(catalogue.empty());
    EXPECT_TRUE(contains(onlyMessage(), SettingsPath(state) + ": it is damaged"));
    EXPECT_EQ(test::readFile(SettingsPath(state)), text);
    for (const size_t p : {1, 2}) {
        EXPECT_EQ(platform::getAttributes(StoredPath(state, p)), kStoredAttributes);
        EXPECT_EQ(test::readFile(StoredPath(state, p)), content(p));
    }
}

}  // namespace
}  // namespace vantory
