// regInfo.lst and stored files hold the same bytes on every system, so a settings folder or
// a storage folder carried from one to the other opens there. The settings lines of the
// password and the extension and the sealed "Hello, world" are the reference values of the
// sealing; the other lines were written once and must come out the same everywhere.

#include <gtest/gtest.h>

#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"

namespace vantory {
namespace {

using test::readFile;
using test::writeFile;

constexpr const char* kSettingsFile =
    "ekHwrLlhXK\r\n"
    "=zwsNRphV<PMe[^?hXY;>QH_KK\r\n"
    "pxOw\r\n"
    "DObUnpj\\YflcmnpHJu;c?dExehhwNQ^tF__oulwVAYO_mbnqOBsJ\r\n"
    "CObUnoj\\TflcAwmH\\tkcKW[xfu[gEk\r\n"
    "DObUnrj\\<HYg=maHSv;c=Xjxrf?wAXjxQto\r\n";

Catalogue windowsCatalogue() {
    Catalogue catalogue;
    catalogue.append({"C:\\Users\\u\\Documents\\r\xc3\xa9sum\xc3\xa9.doc", true});
    catalogue.append({"D:\\a|b\\plain.txt", false});
    catalogue.append({"\\\\server\\share\\x.bin", true});
    return catalogue;
}

TEST(KnownBytes, settingsFileWithWindowsPaths) {
    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    state.strSystemDir = dir.path();
    state.strPassword = "kumquat";
    state.strStorageDir = "C:\\Users\\u\\Vantory\\";
    state.strExtension = "txt";
    ASSERT_TRUE(saveList(state, windowsCatalogue(), ui).ok());
    EXPECT_EQ(readFile(SettingsPath(state)), kSettingsFile);

    // Read back, here or on the other system, it gives the same settings and catalogue.
    writeFile(SettingsPath(state), kSettingsFile);
    ProgramState read;
    read.strSystemDir = dir.path();
    ASSERT_TRUE(ReadSettings(read, ui).ok());
    EXPECT_EQ(read.strPassword, "kumquat");
    EXPECT_EQ(read.strStorageDir, "C:\\Users\\u\\Vantory\\");
    EXPECT_EQ(read.strExtension, "txt");
    Catalogue loaded;
    ASSERT_TRUE(loadList(read, loaded, ui).ok());
    EXPECT_EQ(loaded, windowsCatalogue());
}

TEST(KnownBytes, sealedStoredFile) {
    test::TempFolder dir;
    test::FakeUiServices ui;
    ProgramState state;
    state.strPassword = "kumquat";
    writeFile(dir / "original", "Hello, world");
    ASSERT_TRUE(encryptFileCopy(state, ui, dir / "original", dir / "100.txt", true).ok());
    EXPECT_EQ(readFile(dir / "100.txt"), "kHuFjezoxa=wPgoH\r\n");
    ASSERT_TRUE(decryptFileCopy(state, ui, dir / "100.txt", dir / "restored", true).ok());
    EXPECT_EQ(readFile(dir / "restored"), "Hello, world");
}

}  // namespace
}  // namespace vantory
