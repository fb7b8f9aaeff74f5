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
using Texts = std::vector<std::string>;

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

// Settings lines that cannot be read are rebuilt from the stored files found and the password
// given, which must open the catalogue lines left. Without stored files where it looks, without
// a password, with one that cannot be typed or opens nothing, or while Vantory runs, nothing
// changes.
TEST_F(SalvageTest, damagedSettingsLinesAreRebuiltFromTheStoredFilesAndThePassword) {
    const std::string store = state.strStorageDir;
    writeFile(store + "100.old", "stored under another extension");
    ASSERT_TRUE(platform::setAttributes(store + "100.old", platform::kStoredAttributes).ok());
    writeFile(state.strSystemDir + "/100.txt", "numbered, but not a stored file");
    damageLine(0, "not sealed");
    const std::string passwordDamaged = readFile(SettingsPath(state));
    constexpr size_t kUnchanged = SIZE_MAX;
    struct Case {
        const char* name;
        std::string content;  // of the settings file
        std::string storage;  // the folder given
        std::optional<std::string> password;
        std::string says;  // in the last line of the report
        size_t listed;     // entries of the new settings file
    };
    const Case cases[] = {
        {"nothing stored in the settings folder", "", "", "secret", "--storage FOLDER", kUnchanged},
        {"no password", passwordDamaged, "", std::nullopt, "no password was given", kUnchanged},
        {"a line break", passwordDamaged, "", "sec\nret", "a line break", kUnchanged},
        {"a wrong password", passwordDamaged, "", "Secret", "none of the 3 entries", kUnchanged},
        {"Vantory runs", passwordDamaged, "", "secret", "Vantory is running", kUnchanged},
        {"the storage line still read", passwordDamaged, "", "secret", "lists 3 hidden", 3},
        {"empty, the folder given", "", store, "secret", "lists 0 hidden", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(SettingsPath(state), c.content);
        const std::set<std::string> stored = namesIn(store);
        const std::set<std::string> settings = namesIn(state.strSystemDir);
        ui.anotherInstance = c.says == "Vantory is running";
        ProgramState fresh;
        const SalvageOptions options{c.storage, [&c](const std::string&) { return c.password; }};
        const SalvageResult result = SalvageSettings(fresh, ui, options);
        ASSERT_FALSE(result.lines.empty());
        EXPECT_NE(result.lines.back().find(c.says), std::string::npos) << result.lines.back();
        EXPECT_EQ(result.ok, c.listed != kUnchanged);
        if (c.listed == kUnchanged) {
            EXPECT_EQ(readFile(SettingsPath(state)), c.content);
            EXPECT_EQ(namesIn(store), stored);
            EXPECT_EQ(namesIn(state.strSystemDir), settings);
            EXPECT_FALSE(platform::pathExists(RecoveredFolder(store)));
            continue;
        }
        ProgramState read;
        ASSERT_TRUE(GetSysDir(read).ok() && ReadSettings(read).ok());
        EXPECT_EQ((Texts{read.strPassword, read.strStorageDir, read.strExtension}),
                  (Texts{"secret", store, "dat"}));
        Catalogue loaded;
        ASSERT_TRUE(loadList(read, loaded).ok());
        EXPECT_EQ(loaded.entries(),
                  std::vector<CatalogueEntry>(catalogue.entries().begin(),
                                              catalogue.entries().begin() + c.listed));
        EXPECT_TRUE(platform::pathExists(store + "100.old"));
    }
    // The empty file listed nothing: every stored file is recovered, a sealed one unsealed too.
    const std::string recovered = RecoveredFolder(store);
    EXPECT_EQ(readFile(recovered + "/recovered-101-unsealed"), contents[1]);
    EXPECT_EQ(readFile(recovered + "/recovered-102.dat"), contents[2]);
    EXPECT_EQ(readFile(SettingsPath(state) + ".damaged"), passwordDamaged);
}

}  // namespace
}  // namespace vantory
