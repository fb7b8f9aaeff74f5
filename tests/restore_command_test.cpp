#include "commands/restore_command.h"

#include "command_fixture.h"
#include "platform/fault_injection.h"
#include "store/move_journal.h"

namespace vantory {
namespace {

using test::readFile;
using test::Texts;
namespace fs = std::filesystem;

class RestoreTest : public test::CommandTest {
  protected:
    // Restore Selected File(s) with the list's current item and selection, or Restore All;
    // the entries still hidden afterwards are what the list shows selected.
    void restoreSelected(int current, const std::vector<size_t>& selection) {
        RestoreSelected(context, current, selection, shown());
    }
    void restoreAll() { RestoreAll(context, shown()); }
    ListChanged shown() {
        return [this](const RestoreOutcome& outcome) {
            ++listShown;
            EXPECT_TRUE(ui.messages.empty()) << "the list is shown before any message";
            selected = outcome.stillHidden;
        };
    }
    std::vector<size_t> selected;
};

// Restored entries leave, the rest are renumbered, and nothing of a restored entry stays in
// storage.
TEST_F(RestoreTest, restoresAndRenumbers) {
    struct Case {
        const char* name;
        std::vector<bool> sealed = {};
        std::vector<size_t> selection = {};  // empty: Restore All
        std::set<std::string> folder = {};
        std::vector<size_t> storedAt = {};  // the entry whose stored file sits at each position
    };
    const Case cases[] = {
        {.name = "the first",
         .sealed = {false, false, false},
         .selection = {0},
         .folder = {"100.dat", "101.dat"},
         .storedAt = {1, 2}},
        {.name = "two apart",
         .sealed = {true, false, true, true},
         .selection = {0, 2},
         .folder = {"100.dat", "101.dat"},
         .storedAt = {1, 3}},
        {.name = "the last two",
         .sealed = {false, true, true},
         .selection = {1, 2},
         .folder = {"100.dat"},
         .storedAt = {0}},
        {.name = "all", .sealed = {false, true, false}},
        {.name = "all of none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        entries.clear();
        stored.clear();
        fs::remove_all(dir / "store");
        fs::create_directories(dir / "store");
        Texts paths, contents;
        for (size_t i = 0; i < c.sealed.size(); ++i) {
            contents.push_back("content " + std::to_string(i));
            paths.push_back(hide("sub/" + std::to_string(i), contents.back(), c.sealed[i]));
        }
        ui.messages.clear();
        open();
        ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
        listShown = 0;
        if (c.selection.empty()) {
            restoreAll();
        } else {
            restoreSelected(static_cast<int>(c.selection[0]), c.selection);
        }

        std::vector<CatalogueEntry> left;
        for (size_t i = 0; i < entries.size(); ++i) {
            const bool restored =
                c.selection.empty() || std::count(c.selection.begin(), c.selection.end(), i) > 0;
            if (restored) {
                EXPECT_EQ(readFile(paths[i]), contents[i]) << i;
            } else {
                left.push_back(entries[i]);
            }
        }
        EXPECT_EQ(storageFolder(), c.folder);
        for (size_t p = 0; p < c.storedAt.size(); ++p) {
            EXPECT_EQ(storedFile(p), stored[c.storedAt[p]]) << p;
            EXPECT_EQ(platform::getAttributes(StoredPath(state, p)), platform::kStoredAttributes)
                << p;
        }
        EXPECT_EQ(catalogue.entries(), left);
        EXPECT_EQ(saved(), left);
        EXPECT_EQ(listShown, 1);
        EXPECT_TRUE(selected.empty());
        EXPECT_FALSE(fs::exists(JournalPath(state)));
        EXPECT_TRUE(ui.messages.empty());
        expectIdle();
        if (entries.empty()) {  // the settings lines only
            EXPECT_EQ(SplitLines(readFile(SettingsPath(state))).size(), 3u);
        } else {  // every entry of the list as it was is counted as examined
            EXPECT_EQ(state.intProgress, static_cast<int>(entries.size()) + 1);
            EXPECT_EQ(state.intProgressTotal, static_cast<int>(entries.size()));
        }
    }
}

TEST_F(RestoreTest, nothingSelectedRestoresNothingAndAFileThatCannotGoBackStaysHidden) {
    const std::string a = hide("a.txt", "comes back", false);
    const std::string lost = hide("gone/deeper/b.txt", "folder gone", false);
    const std::string refused = hide("c.txt", "refused", true);
    hide("d.txt", "not selected", false);
    const std::string e = hide("again/and again/e.txt", "folders made again", true);
    open();
    // Without a current item nothing is done; with one but nothing selected, nothing is
    // restored and the list is written again.
    ASSERT_TRUE(platform::removeFile(SettingsPath(state)).ok());
    restoreSelected(-1, {});
    EXPECT_FALSE(fs::exists(SettingsPath(state)));
    EXPECT_TRUE(busy.calls.empty());
    EXPECT_EQ(listShown, 0);
    restoreSelected(0, {});
    EXPECT_EQ(saved(), entries);
    EXPECT_TRUE(ui.messages.empty());
    fs::remove_all(dir / "home/gone");
    fs::remove_all(dir / "home/again");
    fs::create_directories(refused + "/in-the-way");  // a folder where the file would go
    // The chain of gone/deeper fails half way: what was made of it goes again.
    platform::setFaultHook([](platform::Operation op, std::string_view path, auto) {
        return op == platform::Operation::kMakeFolder && path.ends_with("deeper") ? EACCES : 0;
    });
    restoreSelected(0, {0, 1, 2, 4});
    platform::setFaultHook({});

    EXPECT_EQ(readFile(a), "comes back");
    EXPECT_EQ(readFile(e), "folders made again");
    EXPECT_PERMISSIONS(dir / "home/again", 0700u);
    EXPECT_PERMISSIONS(dir / "home/again/and again", 0700u);
    EXPECT_FALSE(fs::exists(dir / "home/gone"));
    // The two that could not go back stay, with their stored copies as they were, and the
    // entries after them follow them down.
    const std::vector<CatalogueEntry> left{entries[1], entries[2], entries[3]};
    EXPECT_EQ(catalogue.entries(), left);
    EXPECT_EQ(saved(), left);
    EXPECT_EQ(storageFolder(), (std::set<std::string>{"100.dat", "101.dat", "102.dat"}));
    for (size_t p = 0; p < 3; ++p) {
        EXPECT_EQ(storedFile(p), stored[p + 1]) << p;
        EXPECT_EQ(platform::getAttributes(StoredPath(state, p)), platform::kStoredAttributes);
    }

    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text,
              "Folders that no longer existed were made again, open to you alone:\r\n\r\n" +
                  dir / "home/again" + "\r\n" + dir / "home/again/and again");
    const std::string text = ui.messages[1].text;
    EXPECT_TRUE(contains(text, lost + ": its folder " + dir / "home/gone/deeper")) << text;
    EXPECT_TRUE(contains(text, refused + ": ")) << text;
    EXPECT_FALSE(contains(text, a)) << text;
    EXPECT_EQ(ui.messages[1].style, UiServices::kExclamation);
    // The two left behind are selected, ready for another try.
    EXPECT_EQ(selected, (std::vector<size_t>{0, 1}));
    expectIdle();
}

// A file found at an entry's path is never replaced: the same content counts as restored,
// other content gets the hidden file beside it, under the next free "(restored)" name.
TEST_F(RestoreTest, neverReplacesAFileAtTheEntrysPath) {
    for (const bool sealed : {false, true}) {
        SCOPED_TRACE(sealed);
        entries.clear();
        stored.clear();
        fs::remove_all(dir / "home");
        ui.messages.clear();
        const std::string same = hide("same.txt", "kept as it is", sealed);
        const std::string edited = hide("notes.txt", "as hidden", sealed);
        const std::string twice = hide("plan", "as hidden too", sealed);
        hide("notes.txt", "hidden again", sealed);  // a second entry of the same path
        test::writeFile(same, "kept as it is");
        test::writeFile(edited, "edited since");
        test::writeFile(twice, "newer");
        test::writeFile(twice + " (restored)", "older");
        open();
        restoreAll();

        EXPECT_EQ(readFile(same), "kept as it is");
        EXPECT_EQ(readFile(edited), "edited since");
        EXPECT_EQ(readFile(dir / "home/notes (restored).txt"), "as hidden");
        EXPECT_EQ(readFile(dir / "home/notes (restored 2).txt"), "hidden again");
        EXPECT_EQ(readFile(twice + " (restored)"), "older");
        EXPECT_EQ(readFile(twice + " (restored 2)"), "as hidden too");
        EXPECT_FALSE(fs::exists(dir / "home/same (restored).txt"));
        EXPECT_TRUE(saved().empty());
        EXPECT_TRUE(storageFolder().empty());
        const std::string text = onlyMessage();
        EXPECT_TRUE(contains(text, edited + "  restored as  " + dir / "home/notes (restored).txt"))
            << text;
        EXPECT_TRUE(contains(text, twice + "  restored as  " + twice + " (restored 2)")) << text;
        EXPECT_FALSE(contains(text, same)) << text;
    }
}

// A plain entry whose stored name has come to be its own path (through the storage folder, the
// extension or a folder reached by a link) is the file there: restored in place, never deleted.
// While a file listed after it needs that name, it stays hidden, and is named.
TEST_F(RestoreTest, aStoredFileThatIsItsOwnPathIsRestoredInPlace) {
    const struct {
        const char *name, *path, *folder, *extension;  // under dir: the entry's, the storage's
        bool later;                                    // an entry listed after it stays hidden
    } rows[] = {{"storageFolder", "home/x/100.dat", "home/x/", "dat", false},
                {"extension", "store/100.txt", "store/", "txt", false},
                {"folderReachedByALink", "home/x/100.dat", "home/link/", "dat", false},
                {"aLaterEntryNeedsItsName", "home/x/100.dat", "home/x/", "dat", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        const std::string path = dir / row.path, folder = dir / row.folder;
        fs::create_directories(dir / "home/x");
        fs::create_directory_symlink(dir / "home/x", dir / "home/link");
        test::writeFile(path, "mine");
        fs::permissions(path, fs::perms(0640));
        ASSERT_TRUE(encryptFileCopy(state, path, StoredPath(state, 0), false).ok());
        entries = {{path, false}};
        if (row.later) {
            hide("later", "hidden after it", false);
        }
        for (size_t p = 0; p < entries.size(); ++p) {  // as the settings moved them
            fs::rename(StoredPath(state, p), folder + StoredName(p, row.extension));
        }
        state.strStorageDir = folder;
        state.strExtension = row.extension;
        open();
        ui.messages.clear();
        row.later ? restoreSelected(0, {0}) : restoreAll();

        EXPECT_EQ(readFile(path), "mine");
        EXPECT_EQ(saved(), row.later ? entries : std::vector<CatalogueEntry>{});
        EXPECT_EQ(platform::getAttributes(path), row.later ? 7 : 0);
        EXPECT_PERMISSIONS(path, row.later ? 0400u : 0640u);
        ASSERT_EQ(ui.messages.size(), row.later ? 1u : 0u);
        EXPECT_TRUE(!row.later || contains(ui.messages[0].text, path + ": its stored file is"));
        fs::remove_all(dir / "home");
        fs::remove_all(dir / "store");
    }
}

}  // namespace
}  // namespace vantory
