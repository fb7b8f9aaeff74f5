#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "cipher/cipher.h"
#include "platform/fault_injection.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using namespace test;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.useAsConfigHome();
        ASSERT_TRUE(GetSysDir(state).ok());
        state.strPassword = "kumquat";
        state.strStorageDir = state.strSystemDir + "/";
        state.strExtension = "txt";
    }

    std::vector<std::string> fileLines() { return SplitLines(readFile(SettingsPath(state))); }
    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
};

// A catalogue line that is not the entry of its position would shift every later entry onto
// another entry's stored file, so a restore would write one file's content over another.
TEST_F(SettingsFileTest, aDamagedCatalogueLineMakesTheWholeListUnreadable) {
    const std::string settings = "ekHwrLlhXK\r\n" + Seal(state.strStorageDir, SettingsKey) +
                                 "\r\npxOw\r\n" + Seal("1|100|/a", "kumquat") + "\r\n";
    const std::string last = Seal("0|101|/b", "kumquat");
    const std::vector<std::string> damaged = {
        Seal("0|1", "kumquat") + "\r\n",  // too short to be an entry
        "\r\n",                           // an empty line
        Seal("0|105|/x", "kumquat") + "\r\n",
        Seal("x|101|/x", "kumquat") + "\r\n",
        "0|101|/plain text\r\n",
        "",  // no other line: the last one lacks its CR LF, so the file was cut there
    };
    for (const std::string& line : damaged) {
        SCOPED_TRACE(line);
        writeFile(SettingsPath(state), settings + line + last);
        Catalogue loaded;
        EXPECT_EQ(loadList(state, loaded).reason, Reason::kDamagedSettings);
        EXPECT_TRUE(loaded.empty());
    }
    writeFile(SettingsPath(state), settings + last + "\r\n\r\n\r\n");  // blank lines at the end
    Catalogue loaded;
    ASSERT_TRUE(loadList(state, loaded).ok());
    EXPECT_EQ(loaded.entries(), (std::vector<CatalogueEntry>{{"/a", true}, {"/b", false}}));
}

// Settings that would send hides astray, or a file too large to be a settings file, are
// refused; an empty password and extension, which earlier versions wrote, are not.
TEST_F(SettingsFileTest, readSettingsRefusesWhatNoSettingsFileHolds) {
    const auto line = [](const std::string& text) { return Seal(text, SettingsKey) + "\r\n"; };
    const std::string folder = state.strStorageDir;
    constexpr Reason kDamaged = Reason::kDamagedSettings;
    const std::pair<std::string, Reason> cases[] = {
        {"\r\n\r\n\r\n", kDamaged},
        {line("pw") + line("store/") + line("txt"), kDamaged},
        {line("pw") + line(folder.substr(0, folder.size() - 1)) + line("txt"), kDamaged},
        {line("pw") + line(folder) + Seal("txt", SettingsKey), kDamaged},
        {line("") + line(folder) + line(""), Reason::kNone},
        {"{" + line("pw").substr(1) + line(folder) + line("txt"), kDamaged},  // '{' follows 'z'
    };
    for (const auto& [content, reason] : cases) {
        SCOPED_TRACE(content);
        writeFile(SettingsPath(state), content);
        ProgramState read;
        read.strSystemDir = state.strSystemDir;
        const Result result = ReadSettings(read);
        EXPECT_EQ(result.reason, reason);
        EXPECT_TRUE(result.status.ok());
        EXPECT_EQ(read.strStorageDir, reason == Reason::kNone ? folder : "");
    }
    std::filesystem::resize_file(SettingsPath(state), kMaxSettingsFileSize + 1);
    int pieces = 0;
    platform::setFaultHook([&pieces](platform::Operation operation, auto, auto) {
        pieces += operation == platform::Operation::kReadPiece;
        return 0;
    });
    Catalogue catalogue;
    EXPECT_EQ(ReadSettings(state).reason, Reason::kSettingsTooLarge);
    EXPECT_EQ(loadList(state, catalogue).reason, Reason::kSettingsTooLarge);
    platform::setFaultHook({});
    EXPECT_EQ(pieces, 0) << "refused before it is read";
}

// No catalogue adds no line; more entries than the layout holds are refused.
TEST_F(SettingsFileTest, saveListWritesALineForEachEntryUpToTheLimit) {
    Catalogue catalogue;
    EXPECT_FALSE(loadList(state, catalogue).ok()) << "no file yet";
    ASSERT_TRUE(saveList(state, catalogue).ok());
    EXPECT_EQ(fileLines().size(), 3u);
    EXPECT_EQ(state.intProgress, 1);
    ASSERT_TRUE(loadList(state, catalogue).ok());
    EXPECT_TRUE(catalogue.empty());
    for (size_t i = 0; i < kMaxCatalogueEntries; ++i) {
        catalogue.append({"/f" + std::to_string(i), false});
    }
    ASSERT_TRUE(saveList(state, catalogue).ok());
    EXPECT_EQ(Unseal(fileLines().back(), "kumquat"), "0|999|/f899");
    const std::string saved = readFile(SettingsPath(state));
    catalogue.append({"/one too many", false});
    EXPECT_FALSE(saveList(state, catalogue).ok());
    EXPECT_EQ(readFile(SettingsPath(state)), saved);
}

TEST_F(SettingsFileTest, setStorageDirCreatesOneLevelAndTouchesNoUserFile) {
    writeFile(dir / "file", "user's own");
    // An existing folder is taken as it is: nothing is written in it, not even for a moment.
    int changes = 0;
    platform::setFaultHook([&changes](platform::Operation, std::string_view, std::string_view) {
        ++changes;
        return 0;
    });
    const Status existing = SetStorageDir(state, dir.path() + "/");
    platform::setFaultHook({});
    ASSERT_TRUE(existing.ok());
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(readFile(dir / "file"), "user's own");
    EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"config", "file"}))
        << "no probe left";

    const Status twoDeep = SetStorageDir(state, dir / "x/y/");
    EXPECT_EQ(twoDeep.error, ENOENT);
    EXPECT_EQ(state.strStorageDir, dir / "x/y/") << "the setting changes all the same";
}

// regInfo.lst holds the same bytes on every system: these were written once, with the
// reference seals of the password and the extension.
TEST_F(SettingsFileTest, knownBytesWithWindowsPaths) {
    const std::string known =
        "ekHwrLlhXK\r\n"
        "=zwsNRphV<PMe[^?hXY;>QH_KK\r\n"
        "pxOw\r\n"
        "DObUnpj\\YflcmnpHJu;c?dExehhwNQ^tF__oulwVAYO_mbnqOBsJ\r\n"
        "CObUnoj\\TflcAwmH\\tkcKW[xfu[gEk\r\n"
        "DObUnrj\\<HYg=maHSv;c=Xjxrf?wAXjxQto\r\n";
    Catalogue catalogue;
    catalogue.append({"C:\\Users\\u\\Documents\\r\xc3\xa9sum\xc3\xa9.doc", true});
    catalogue.append({"D:\\a|b\\plain.txt", false});
    catalogue.append({"\\\\server\\share\\x.bin", true});
    state.strStorageDir = "C:\\Users\\u\\Vantory\\";
    for (const bool slowRun : {false, true}) {
        state.bolSlowRun = slowRun;
        ASSERT_TRUE(saveList(state, catalogue).ok());
        EXPECT_EQ(readFile(SettingsPath(state)), known) << slowRun;
        EXPECT_EQ(state.intProgress, 4);
    }
    writeFile(SettingsPath(state), known);
    ProgramState read;
    read.strSystemDir = state.strSystemDir;
#if defined(_WIN32)
    ASSERT_TRUE(ReadSettings(read).ok());
#else
    // Here "C:\\..." is no absolute folder: hides would land in the working folder.
    ASSERT_EQ(ReadSettings(read).reason, Reason::kDamagedSettings);
    std::tie(read.strPassword, read.strStorageDir, read.strExtension) =
        std::tie(state.strPassword, state.strStorageDir, state.strExtension);
#endif
    EXPECT_EQ(std::tie(read.strPassword, read.strStorageDir, read.strExtension),
              std::tie(state.strPassword, state.strStorageDir, state.strExtension));
    Catalogue loaded;
    ASSERT_TRUE(loadList(read, loaded).ok());
    EXPECT_EQ(loaded, catalogue);

    // A new password seals line one and the catalogue anew, and nothing else.
    state.strPassword = "new one";
    ASSERT_TRUE(saveList(state, catalogue).ok());
    const std::vector<std::string> before = SplitLines(known), after = fileLines();
    ASSERT_EQ(after.size(), 6u);
    for (size_t line = 0; line < 6; ++line) {
        EXPECT_EQ(before[line] == after[line], line == 1 || line == 2) << line;
    }
    // Under the old password the entries do not unseal to entries: taken for damage.
    Catalogue garbled;
    EXPECT_EQ(loadList(read, garbled).reason, Reason::kDamagedSettings);
    EXPECT_TRUE(garbled.empty());
}

}  // namespace
}  // namespace vantory
