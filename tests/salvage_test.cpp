#include "commands/salvage.h"

#include <gtest/gtest.h>

#include "cipher/cipher.h"
#include "commands/restore_command.h"
#include "store/open_copies.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"

namespace vantory {
namespace {

using namespace test;

class SalvageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(settleUser(dir, state));
        ASSERT_TRUE(platform::makeFolder(dir / "home").ok());
        for (size_t p = 0; p < 3; ++p) {
            const std::string path = dir / ("home/" + names[p]);
            writeFile(path, contents[p]);
            ASSERT_TRUE(encryptFileCopy(state, path, StoredPath(state, p), p != 2).ok());
            ASSERT_TRUE(platform::removeFile(path).ok() || p == 2);
            catalogue.append({path, p != 2});
        }
        ASSERT_TRUE(saveList(state, catalogue).ok());
    }
    // The settings file with line `line` (from 0) replaced by `with`.
    void damageLine(size_t line, const std::string& with) {
        std::vector<std::string> lines = SplitLines(readFile(SettingsPath(state)));
        lines[line] = with;
        std::string text;
        for (const std::string& each : lines) {
            text += each + "\r\n";
        }
        writeFile(SettingsPath(state), text);
    }
    SalvageResult salvage() {
        ProgramState fresh;
        return SalvageSettings(fresh, ui);
    }

    TempFolder dir;
    FakeUiServices ui;
    ProgramState state;
    Catalogue catalogue;
    const std::string names[3] = {"a.txt", "b.doc", "c.bin"};
    const std::string contents[3] = {"alpha\r\n", std::string("br\0avo", 6), "charlie"};
};

// The damaged middle entry leaves the list, the last one takes its number, the other two
// restore byte for byte, and the middle one's content is in the recovered folder.
TEST_F(SalvageTest, wholeEntriesStayListedAndTheDamagedOnesFileIsRecovered) {
    damageLine(4, Seal("0|101|/elsewhere", "secret").substr(3));
    const std::string damaged = readFile(SettingsPath(state));
    writeFile(SettingsPath(state) + ".damaged", "an earlier copy");
    // The plain entry was open with Run Selected File when Vantory closed.
    const std::string temporary = state.strStorageDir + "tempFile.bin";
    ASSERT_TRUE(platform::movePath(StoredPath(state, 2), temporary).ok());
    ASSERT_TRUE(
        WriteOpenCopies(state, {{temporary, StoredPath(state, 2), catalogue.at(2).path, false}})
            .ok());
    const SalvageResult result = salvage();
    ASSERT_TRUE(result.ok) << ::testing::PrintToString(result.lines);
    EXPECT_EQ(readFile(SettingsPath(state) + ".damaged"), "an earlier copy");
    EXPECT_EQ(readFile(SettingsPath(state) + ".damaged-2"), damaged);
    const std::string recovered = RecoveredFolder(state.strStorageDir);
    EXPECT_EQ(recovered, dir / "recovered");
    EXPECT_EQ(namesIn(recovered),
              (std::set<std::string>{"recovered-101.dat", "recovered-101-unsealed"}));
    EXPECT_EQ(readFile(recovered + "/recovered-101-unsealed"), contents[1]);
    const std::string salvaged = readFile(SettingsPath(state));
    EXPECT_TRUE(salvage().ok) << "a second run finds nothing to do";
    EXPECT_EQ(readFile(SettingsPath(state)), salvaged);
    EXPECT_FALSE(platform::pathExists(SettingsPath(state) + ".damaged-3"));
    EXPECT_FALSE(platform::pathExists(temporary));

    Catalogue loaded;
    ASSERT_TRUE(loadList(state, loaded).ok());
    EXPECT_EQ(loaded.entries(), (std::vector<CatalogueEntry>{catalogue.at(0), catalogue.at(2)}));
    FakeBusy busy;
    CommandContext context{state, ui, loaded, busy};
    RestoreAll(context);
    EXPECT_TRUE(loaded.empty());
    for (const size_t p : {0, 2}) {
        EXPECT_EQ(readFile(catalogue.at(p).path), contents[p]) << p;
    }
    EXPECT_FALSE(platform::pathExists(catalogue.at(1).path));
}

// A list cut at the end of a line reads whole; the stored files past it are recovered, the
// sealed one's content unsealed, and the list stays as it was.
TEST_F(SalvageTest, storedFilesPastAListCutAtALineEndAreRecovered) {
    Catalogue first;
    first.append(catalogue.at(0));
    ASSERT_TRUE(saveList(state, first).ok());
    const SalvageResult result = salvage();
    ASSERT_TRUE(result.ok) << ::testing::PrintToString(result.lines);
    const std::string recovered = RecoveredFolder(state.strStorageDir);
    EXPECT_EQ(readFile(recovered + "/recovered-101-unsealed"), contents[1]);
    EXPECT_EQ(readFile(recovered + "/recovered-102.dat"), contents[2]);
    EXPECT_EQ(namesIn(state.strStorageDir), std::set<std::string>{"100.dat"});
    Catalogue loaded;
    ASSERT_TRUE(loadList(state, loaded).ok());
    EXPECT_EQ(loaded, first);
}

// Without whole settings lines the password and the storage folder are unknown, and while
// Vantory runs nothing may move: either way nothing changes.
TEST_F(SalvageTest, unknownSettingsOrARunningVantoryChangeNothing) {
    const std::set<std::string> stored = namesIn(state.strStorageDir);
    damageLine(1, "");
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running);
        if (running) {
            damageLine(1, Seal(state.strStorageDir, SettingsKey));
            damageLine(3, "damaged");
            ui.anotherInstance = true;
        }
        const std::string before = readFile(SettingsPath(state));
        EXPECT_FALSE(salvage().ok);
        EXPECT_EQ(readFile(SettingsPath(state)), before);
        EXPECT_EQ(namesIn(state.strSystemDir), (std::set<std::string>{"regInfo.lst"}));
        EXPECT_EQ(namesIn(state.strStorageDir), stored);
        EXPECT_FALSE(platform::pathExists(RecoveredFolder(state.strStorageDir)));
    }
}

}  // namespace
}  // namespace vantory
