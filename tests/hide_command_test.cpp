// Hide File(s), driven through the main window: the dialog, a drop on the list, and refusals.
#include <sys/stat.h>

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "command_fixture.h"
#include "ui/qt_ui_services.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;
using platform::kNormal;
using platform::kStoredAttributes;
using test::readFile;
using test::Texts;
using test::writeFile;

ino_t inode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::string everyByte() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes + "\r\n";
}

// ---- Hide File(s) ----

class HideTest : public test::CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        hide("earlier", "earlier 0", false);
    }
    // Hide File(s) with `paths` as the dialog's answer.
    void pick(const Texts& paths) {
        ui.fileAnswers.push_back(paths);
        click("cmdAddFile");
    }
    std::string message() const {
        EXPECT_EQ(ui.messages.size(), 1u);
        return ui.messages.empty() ? std::string() : ui.messages[0].text;
    }
    void openAs(bool sealed) {
        open();
        window->findChild<QCheckBox*>("chkEncrypt")->setChecked(sealed);
        ASSERT_EQ(state.bolEncrypt, sealed);
    }
    // Nothing was hidden, the files are as they were, and the one message names each of them.
    void expectRefused(const Texts& paths, const std::string& reason) {
        EXPECT_EQ(window->catalogue().entries(), entries);
        const std::string text = message();
        for (const std::string& path : paths) {
            EXPECT_EQ(readFile(path), path.substr(path.size() - 1)) << path;
            EXPECT_TRUE(contains(text, path + "  (" + reason)) << text;
        }
        expectIdle();
    }
};
class HideBothTest : public HideTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(SealedAndPlain, HideBothTest, ::testing::Bool());

TEST_P(HideBothTest, storesEachFileUnderTheNextNumber) {
    const bool sealed = GetParam();
    openAs(sealed);
    Texts picked{file("a.txt", "first file"), file("b.bin", everyByte()), file("empty", "")};
    if (sealed) {
        picked.push_back(picked[0]);  // the same file twice is hidden twice
    }
    const Texts content{"first file", everyByte(), "", "first file"};
    pick(picked);

    Texts listed{entries[0].path};
    listed.insert(listed.end(), picked.begin(), picked.end());
    EXPECT_EQ(listedPaths(), listed);
    EXPECT_EQ(saved(), window->catalogue().entries());
    EXPECT_EQ(window->fileList()->count(), static_cast<int>(listed.size()));
    EXPECT_EQ(state.intProgressTotal, static_cast<int>(picked.size()));
    EXPECT_EQ(storedFile(0), "earlier 0");
    for (size_t i = 0; i < picked.size(); ++i) {
        SCOPED_TRACE(i);
        const size_t position = i + 1;
        const std::string path = StoredPath(state, position);
        EXPECT_EQ(path, dir / ("store/10" + std::to_string(position) + ".dat"));
        EXPECT_EQ(platform::getAttributes(path), kStoredAttributes);
        EXPECT_EQ(window->catalogue().at(position).sealed, sealed);
        if (sealed) {
            EXPECT_TRUE(decryptFileCopy(state, ui, path, dir / "out", true).ok());
            EXPECT_EQ(readFile(dir / "out"), content[i]);
            EXPECT_EQ(readFile(picked[i]), content[i]) << "the original stays";
        } else {
            EXPECT_EQ(readFile(path), content[i]);
            EXPECT_FALSE(platform::pathExists(picked[i])) << "the original moved";
        }
    }
    EXPECT_NE(storedFile(2) == everyByte(), sealed);
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

TEST_P(HideBothTest, aStorageFolderThatIsAFileTakesNothing) {
    entries.clear();
    openAs(GetParam());
    const Texts picked{file("a", "a"), file("b", "b")};
    fs::remove_all(dir / "store");
    writeFile(dir / "store", "not a folder");
    const std::string settings = readFile(SettingsPath(state));
    pick(picked);
    expectRefused(picked, "it could not be");
    EXPECT_EQ(readFile(dir / "store"), "not a folder");
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
}

// The user's own file under the next stored name is neither replaced nor taken for a hidden file.
TEST_P(HideBothTest, aFileUnderTheNextStoredNameIsNeverReplaced) {
    openAs(GetParam());
    const std::string mine = StoredPath(state, 1);
    writeFile(mine, "the user's own");
    const std::string settings = readFile(SettingsPath(state));
    const Texts picked{file("a", "a"), file("b", "b")};
    pick(picked);
    expectRefused({picked[0]}, "the storage folder already holds a file named 101.dat");
    EXPECT_EQ(readFile(picked[1]), "b");
    EXPECT_EQ(readFile(mine), "the user's own");
    EXPECT_EQ(readFile(SettingsPath(state)), settings);
}

TEST_P(HideBothTest, aSettingsFileThatCannotBeWrittenHidesNothing) {
    openAs(GetParam());
    // A folder in the settings file's place: nothing can be renamed over it.
    ASSERT_EQ(::unlink(SettingsPath(state).c_str()), 0);
    ASSERT_TRUE(platform::makeFolder(SettingsPath(state)).ok());
    const Texts picked{file("a", "a"), file("b", "b")};
    pick(picked);
    expectRefused(picked, "the list of hidden files could not be written)");
    EXPECT_TRUE(contains(message(), "The list of hidden files in " + SettingsPath(state) +
                                        " could not be written ("));
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 1)));
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 2)));
}

TEST_F(HideTest, aMissingStorageFolderHidesNothing) {
    openAs(false);
    const std::string f = file("f", "f");
    fs::rename(dir / "store", dir / "unplugged");
    pick({f});
    EXPECT_EQ(window->catalogue().entries(), entries);
    EXPECT_EQ(readFile(f), "f");
    EXPECT_FALSE(platform::pathExists(dir / "store")) << "no new folder in its place";
    EXPECT_TRUE(contains(message(), "cannot be found"));
    expectIdle();
}

TEST_F(HideTest, aHiddenFileStopsTheSelectionAndTheRestIsNamed) {
    openAs(false);
    const Texts picked{file("a", "a"), file("b", "b"), file("c", "c")};
    ASSERT_TRUE(platform::setAttributes(picked[1], platform::kHidden).ok());
    pick(picked);
    EXPECT_EQ(listedPaths(), (Texts{entries[0].path, picked[0]}));
    EXPECT_EQ(saved(), window->catalogue().entries());
    EXPECT_EQ(storedFile(1), "a");
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 2)));
    EXPECT_EQ(readFile(picked[1]) + readFile(picked[2]), "bc");
    const std::string text = message();
    EXPECT_FALSE(contains(text, picked[0]));
    EXPECT_TRUE(contains(text, picked[1] + "  (it is marked hidden or system)")) << text;
    EXPECT_TRUE(contains(text, picked[2]));
    EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation);
    expectIdle();
}

TEST_F(HideTest, cancellingTheDialogDoesNothing) {
    openAs(false);
    const ino_t settings = inode(SettingsPath(state));
    pick({});
    EXPECT_EQ(inode(SettingsPath(state)), settings) << "the settings file was not rewritten";
    EXPECT_EQ(ui.yields, 0);
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

TEST_F(HideTest, aFileThatVanishesBeforeItsMoveIsNotListedAndTheRestGoOn) {
    openAs(false);
    const Texts picked{file("a", "a"), file("b", "b"), file("c", "c")};
    int moves = 0;
    ui.onWaitCursor = [&](bool on) {
        if (on && ++moves == 2) {
            ASSERT_EQ(::unlink(picked[1].c_str()), 0);  // gone after the existence test
        }
    };
    pick(picked);
    EXPECT_EQ(listedPaths(), (Texts{entries[0].path, picked[0], picked[2]}));
    EXPECT_EQ(saved(), window->catalogue().entries());
    EXPECT_EQ(storedFile(2), "c");
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 3)));
    EXPECT_TRUE(contains(message(), picked[1] + "  (it could not be moved into storage"));
    EXPECT_FALSE(contains(message(), picked[2]));
    expectIdle();
}

TEST_F(HideTest, theProgramsOwnFilesAreNotHidden) {
    openAs(false);
    const std::string settings = SettingsPath(state);
    ASSERT_TRUE(platform::setAttributes(StoredPath(state, 0), kNormal).ok());  // now visible
    const std::string a = file("a", "a");
    pick({settings, StoredPath(state, 0), a});
    EXPECT_EQ(listedPaths(), (Texts{entries[0].path, a}));
    EXPECT_EQ(saved().size(), 2u);
    EXPECT_EQ(storedFile(0), "earlier 0");
    EXPECT_TRUE(contains(message(), settings + "  (it is one of Vantory's own files)"));
    EXPECT_TRUE(contains(message(), StoredPath(state, 0) + "  (it is one of"));
}

TEST_F(HideTest, theCatalogueStopsAt900Entries) {
    openAs(false);
    for (size_t i = 1; i < kMaxCatalogueEntries - 2; ++i) {
        window->catalogue().append({"/earlier/" + std::to_string(i), true});
    }
    const Texts picked{file("a", "a"), file("b", "b"), file("c", "c")};
    pick(picked);
    ASSERT_EQ(window->catalogue().size(), kMaxCatalogueEntries);
    EXPECT_EQ(window->catalogue().at(kMaxCatalogueEntries - 1).path, picked[1]);
    EXPECT_EQ(readFile(dir / "store/999.dat"), "b");
    EXPECT_EQ(saved().size(), kMaxCatalogueEntries);
    EXPECT_EQ(readFile(picked[2]), "c");
    EXPECT_TRUE(contains(message(), picked[2] + "  (the list of hidden files is full; it holds "
                                                "at most 900 files)"));
    expectIdle();
}

TEST_F(HideTest, filesDroppedOnTheListAreHiddenAsOneSelection) {
    openAs(false);
    const std::string a = file("a", "a");
    const std::string b = file("b", "b");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(pathToQString(a)), QUrl("https://example.org/x"),
                  QUrl::fromLocalFile(pathToQString(b))});
    QWidget* target = window->fileList()->viewport();
    const QPoint at = target->rect().center();
    const auto enter = [&] {
        QDragEnterEvent event(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &event);
        return std::make_pair(event.isAccepted(), event.dropAction());
    };
    window->OpRunning(true);
    EXPECT_FALSE(enter().first) << "while a command runs the list takes nothing";
    window->OpRunning(false);
    settle();
    EXPECT_EQ(enter(), std::make_pair(true, Qt::CopyAction)) << "the file manager deletes nothing";
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    settle();  // the hide runs once the drop has been answered
    settle();
    EXPECT_EQ(listedPaths(), (Texts{entries[0].path, a, b}));
    EXPECT_EQ(saved(), window->catalogue().entries());
    EXPECT_EQ(storedFile(2), "b");
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

}  // namespace
}  // namespace vantory
