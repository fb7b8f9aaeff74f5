#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <functional>

#include "main/main_window.h"
#include "store/sealed_copy.h"
#include "store/settings_file.h"
#include "store/stored_name.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "support/test_store.h"
#include "ui/qt_ui_services.h"

namespace vantory {
namespace {

using platform::kStoredAttributes;

// The fake services, with a look at the wait cursor that surrounds each move of a file.
class HookedUi : public test::FakeUiServices {
  public:
    std::function<void(bool)> onWaitCursor;
    void setWaitCursor(bool on) override {
        FakeUiServices::setWaitCursor(on);
        if (onWaitCursor) {
            onWaitCursor(on);
        }
    }
};

std::string everyByte() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes + "\r\n";
}

class HideCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(test::settleUser(dir, state));
        ASSERT_TRUE(platform::makeFolder(dir / "src").ok());
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A file to hide, in the source folder.
    std::string source(const std::string& name, const std::string& content) {
        const std::string path = dir / ("src/" + name);
        test::writeFile(path, content);
        return path;
    }

    // Opens the main window on a catalogue of `existing` entries, each with its stored file.
    void open(size_t existing = 0) {
        Catalogue catalogue;
        for (size_t i = 0; i < existing; ++i) {
            const std::string stored = StoredPath(state, i);
            test::writeFile(stored, "earlier " + std::to_string(i));
            ASSERT_TRUE(platform::setAttributes(stored, kStoredAttributes).ok());
            catalogue.append({"/earlier/" + std::to_string(i), false});
        }
        ASSERT_TRUE(saveList(state, catalogue, ui).ok());
        window = std::make_unique<MainWindow>(state, ui);
        window->show();
        window->load();
        settle();
        ASSERT_EQ(window->catalogue().size(), existing);
    }

    void setEncrypt(bool on) {
        window->findChild<QCheckBox*>("chkEncrypt")->setChecked(on);
        ASSERT_EQ(state.bolEncrypt, on);
    }

    // Presses Hide File(s) with `paths` as the dialog's answer.
    void hide(const std::vector<std::string>& paths) {
        ui.fileAnswers.push_back(paths);
        QTest::mouseClick(window->button("cmdAddFile"), Qt::LeftButton);
        settle();
    }

    // Lets a busy window that is no longer needed close.
    void settle() {
        if (window->busyWindow() != nullptr) {
            window->busyWindow()->Timer1_Timer();
        }
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The window is idle again: not busy, every command usable, no busy window left.
    void expectIdle() {
        EXPECT_FALSE(state.bolBusy);
        EXPECT_TRUE(window->button("cmdAddFile")->isEnabled());
        EXPECT_TRUE(window->fileList()->isEnabled());
        EXPECT_EQ(window->busyWindow(), nullptr);
    }

    Catalogue saved() {
        Catalogue catalogue;
        EXPECT_TRUE(loadList(state, catalogue, ui).ok());
        return catalogue;
    }

    std::vector<std::string> listedPaths() const {
        std::vector<std::string> paths;
        for (const auto& entry : window->catalogue().entries()) {
            paths.push_back(entry.path);
        }
        return paths;
    }

    // What the stored file of `position` gives back when restored somewhere else.
    std::string restored(size_t position) {
        const std::string stored = StoredPath(state, position);
        const std::string out = dir / ("out" + std::to_string(position));
        if (!window->catalogue().at(position).sealed) {
            return test::readFile(stored);
        }
        EXPECT_TRUE(decryptFileCopy(state, ui, stored, out, true).ok());
        return test::readFile(out);
    }

    test::TempFolder dir;
    HookedUi ui;
    ProgramState state;
    std::unique_ptr<MainWindow> window;
};

TEST_F(HideCommandTest, sealedHideStoresEachFileUnderTheNextNumberAndLeavesItInPlace) {
    open();
    setEncrypt(true);
    const std::string a = source("a.txt", "first file");
    const std::string b = source("b.bin", everyByte());
    const std::string empty = source("empty", "");
    // The same file twice is hidden twice, as two entries.
    hide({a, b, empty, a});

    EXPECT_EQ(listedPaths(), (std::vector<std::string>{a, b, empty, a}));
    EXPECT_EQ(state.intProgressTotal, 4);
    for (size_t position = 0; position < 4; ++position) {
        const std::string stored = dir / ("store/" + std::to_string(100 + position) + ".dat");
        EXPECT_EQ(StoredPath(state, position), stored);
        EXPECT_EQ(platform::getAttributes(stored), kStoredAttributes) << stored;
        EXPECT_TRUE(window->catalogue().at(position).sealed);
    }
    EXPECT_EQ(saved(), window->catalogue());
    EXPECT_EQ(window->fileList()->count(), 4);
    EXPECT_NE(test::readFile(StoredPath(state, 1)), everyByte()) << "stored sealed";
    EXPECT_EQ(restored(0), "first file");
    EXPECT_EQ(restored(1), everyByte());
    EXPECT_EQ(restored(2), "");
    EXPECT_EQ(restored(3), "first file");
    EXPECT_EQ(test::readFile(a), "first file") << "the originals stay";
    EXPECT_EQ(test::readFile(b), everyByte());
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

TEST_F(HideCommandTest, plainHideMovesTheFilesThemselvesIntoStorage) {
    open();
    const std::string a = source("a.txt", "alpha");
    const std::string b = source("b.bin", everyByte());
    const std::string c = source("c", "gamma");
    hide({a, b, c});

    EXPECT_EQ(listedPaths(), (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(saved(), window->catalogue());
    const std::vector<std::string> contents = {"alpha", everyByte(), "gamma"};
    for (size_t position = 0; position < 3; ++position) {
        EXPECT_FALSE(window->catalogue().at(position).sealed);
        EXPECT_EQ(platform::getAttributes(StoredPath(state, position)), kStoredAttributes);
        EXPECT_EQ(restored(position), contents[position]);
    }
    EXPECT_FALSE(platform::pathExists(a));
    EXPECT_FALSE(platform::pathExists(b));
    EXPECT_FALSE(platform::pathExists(c));
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

TEST_F(HideCommandTest, oneFileIntoACatalogueOfFiveIsStoredAs105) {
    open(5);
    const std::string f = source("f", "sixth");
    hide({f});
    ASSERT_EQ(window->catalogue().size(), 6u);
    EXPECT_EQ(window->catalogue().at(5).path, f);
    EXPECT_EQ(test::readFile(dir / "store/105.dat"), "sixth");
    EXPECT_EQ(state.intProgressTotal, 1);
    EXPECT_EQ(saved(), window->catalogue());
    EXPECT_EQ(test::readFile(dir / "store/104.dat"), "earlier 4") << "the others are untouched";
}

TEST_F(HideCommandTest, aMissingStorageFolderHidesNothingWhileFilesAreStoredThere) {
    open(2);
    const std::string f = source("f", "stays");
    std::filesystem::rename(dir / "store", dir / "unplugged");
    setEncrypt(false);
    hide({f});
    EXPECT_EQ(window->catalogue().size(), 2u);
    EXPECT_EQ(test::readFile(f), "stays");
    EXPECT_FALSE(platform::pathExists(dir / "store")) << "no new folder in its place";
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("cannot be found"), std::string::npos);
    expectIdle();
}

TEST_F(HideCommandTest, aHiddenFileStopsTheSelectionAndTheRestIsNamed) {
    open();
    const std::string a = source("a", "kept first");
    const std::string b = source("b", "hidden by the user");
    const std::string c = source("c", "after it");
    ASSERT_TRUE(platform::setAttributes(b, platform::kHidden).ok());
    hide({a, b, c});

    EXPECT_EQ(listedPaths(), (std::vector<std::string>{a}));
    EXPECT_EQ(saved(), window->catalogue());
    EXPECT_EQ(test::readFile(StoredPath(state, 0)), "kept first");
    EXPECT_EQ(test::readFile(b), "hidden by the user");
    EXPECT_EQ(test::readFile(c), "after it");
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 1)));
    ASSERT_EQ(ui.messages.size(), 1u);
    const std::string& text = ui.messages[0].text;
    EXPECT_EQ(text.find(a), std::string::npos);
    EXPECT_NE(text.find(b + "  (it is marked hidden or system)"), std::string::npos) << text;
    EXPECT_NE(text.find(c), std::string::npos);
    EXPECT_EQ(ui.messages[0].style, UiServices::kExclamation);
    expectIdle();
}

TEST_F(HideCommandTest, cancellingAfterAHideDoesNothing) {
    open();
    hide({source("a", "one")});
    ASSERT_EQ(window->catalogue().size(), 1u);
    const std::string settings = SettingsPath(state);
    const std::string before = test::readFile(settings);
    struct stat was {};
    ASSERT_EQ(::stat(settings.c_str(), &was), 0);
    const int yields = ui.yields;

    hide({});  // the dialog is cancelled
    EXPECT_EQ(window->catalogue().size(), 1u);
    EXPECT_EQ(test::readFile(settings), before);
    struct stat now {};
    ASSERT_EQ(::stat(settings.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, was.st_ino) << "the settings file was not rewritten";
    EXPECT_EQ(ui.yields, yields);
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

TEST_F(HideCommandTest, aFileThatVanishesBeforeItsMoveIsNotListedAndTheRestGoOn) {
    open();
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    const std::string c = source("c", "gamma");
    int moves = 0;
    ui.onWaitCursor = [&](bool on) {
        if (on && ++moves == 2) {
            ASSERT_EQ(::unlink(b.c_str()), 0);  // gone after the existence test
        }
    };
    hide({a, b, c});

    EXPECT_EQ(listedPaths(), (std::vector<std::string>{a, c}));
    EXPECT_EQ(saved(), window->catalogue());
    EXPECT_EQ(test::readFile(StoredPath(state, 1)), "gamma");
    EXPECT_FALSE(platform::pathExists(StoredPath(state, 2)));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(b + "  (it could not be moved into storage"),
              std::string::npos)
        << ui.messages[0].text;
    EXPECT_EQ(ui.messages[0].text.find(c), std::string::npos);
    expectIdle();
}

TEST_F(HideCommandTest, copiesIntoAStorageFolderThatIsAFileAddNothing) {
    open();
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    ASSERT_EQ(::rmdir((dir / "store").c_str()), 0);
    test::writeFile(dir / "store", "not a folder");
    const std::string settingsBefore = test::readFile(SettingsPath(state));

    for (const bool sealed : {true, false}) {
        SCOPED_TRACE(sealed ? "sealed" : "plain");
        ui.messages.clear();
        setEncrypt(sealed);
        hide({a, b});
        EXPECT_TRUE(window->catalogue().empty());
        EXPECT_TRUE(saved().empty());
        EXPECT_EQ(test::readFile(a), "alpha");
        EXPECT_EQ(test::readFile(b), "beta");
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find(a + "  (it could not be"), std::string::npos)
            << ui.messages[0].text;
        EXPECT_NE(ui.messages[0].text.find(b + "  (it could not be"), std::string::npos);
        expectIdle();
    }
    EXPECT_EQ(test::readFile(dir / "store"), "not a folder");
    EXPECT_EQ(test::readFile(SettingsPath(state)), settingsBefore);
}

// The user's own file under the next stored name (in a folder chosen for storage) is not a
// hidden file: neither replaced nor taken for the file being hidden.
TEST_F(HideCommandTest, aFileUnderTheNextStoredNameIsNeverReplaced) {
    open(1);
    const std::string mine = StoredPath(state, 1);
    test::writeFile(mine, "the user's own");
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    const std::string settingsBefore = test::readFile(SettingsPath(state));
    for (const bool sealed : {true, false}) {
        SCOPED_TRACE(sealed ? "sealed" : "plain");
        ui.messages.clear();
        setEncrypt(sealed);
        hide({a, b});
        EXPECT_EQ(window->catalogue().size(), 1u);
        EXPECT_EQ(test::readFile(mine), "the user's own");
        EXPECT_EQ(test::readFile(a), "alpha");
        EXPECT_EQ(test::readFile(b), "beta");
        EXPECT_EQ(test::readFile(SettingsPath(state)), settingsBefore);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find(a + "  (the storage folder already holds a file named " +
                                           StoredName(1, state.strExtension)),
                  std::string::npos)
            << ui.messages[0].text;
        expectIdle();
    }
}

TEST_F(HideCommandTest, aSettingsFileThatCannotBeWrittenHidesNothingAndSaysSo) {
    open();
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    // A folder in the settings file's place: nothing can be renamed over it.
    ASSERT_EQ(::unlink(SettingsPath(state).c_str()), 0);
    ASSERT_TRUE(platform::makeFolder(SettingsPath(state)).ok());

    for (const bool sealed : {true, false}) {
        SCOPED_TRACE(sealed ? "sealed" : "plain");
        ui.messages.clear();
        setEncrypt(sealed);
        hide({a, b});
        EXPECT_TRUE(window->catalogue().empty());
        EXPECT_EQ(test::readFile(a), "alpha");
        EXPECT_EQ(test::readFile(b), "beta");
        EXPECT_FALSE(platform::pathExists(StoredPath(state, 0)));
        EXPECT_FALSE(platform::pathExists(StoredPath(state, 1)));
        ASSERT_EQ(ui.messages.size(), 1u);
        const std::string& text = ui.messages[0].text;
        EXPECT_NE(text.find(a + "  (the list of hidden files could not be written)"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find(b + "  (the list"), std::string::npos);
        EXPECT_NE(text.find("The list of hidden files in " + SettingsPath(state) +
                            " could not be written ("),
                  std::string::npos);
        expectIdle();
    }
}

TEST_F(HideCommandTest, theProgramsOwnFilesAreNotHidden) {
    open(1);
    const std::string settings = SettingsPath(state);
    const std::string before = test::readFile(settings);
    const std::string stored = StoredPath(state, 0);
    ASSERT_TRUE(platform::setAttributes(stored, platform::kNormal).ok());  // now visible
    const std::string a = source("a", "alpha");
    hide({settings, stored, a});

    EXPECT_EQ(window->catalogue().size(), 2u);
    EXPECT_EQ(window->catalogue().at(1).path, a);
    EXPECT_EQ(test::readFile(stored), "earlier 0");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(settings + "  (it is one of Vantory's own files)"),
              std::string::npos)
        << ui.messages[0].text;
    EXPECT_NE(ui.messages[0].text.find(stored + "  (it is one of"), std::string::npos);
    Catalogue catalogue;
    ASSERT_TRUE(loadList(state, catalogue, ui).ok());
    EXPECT_EQ(catalogue.size(), 2u);
}

TEST_F(HideCommandTest, theCatalogueStopsAt900Entries) {
    open();
    for (size_t i = 0; i < kMaxCatalogueEntries - 2; ++i) {
        window->catalogue().append({"/earlier/" + std::to_string(i), true});
    }
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    const std::string c = source("c", "gamma");
    hide({a, b, c});

    ASSERT_EQ(window->catalogue().size(), kMaxCatalogueEntries);
    EXPECT_EQ(window->catalogue().at(kMaxCatalogueEntries - 1).path, b);
    EXPECT_EQ(test::readFile(dir / "store/999.dat"), "beta");
    EXPECT_EQ(test::readFile(c), "gamma");
    EXPECT_EQ(saved().size(), kMaxCatalogueEntries);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(c + "  (the list of hidden files is full; it holds at "
                                           "most 900 files)"),
              std::string::npos)
        << ui.messages[0].text;
    expectIdle();
}

TEST_F(HideCommandTest, filesDroppedOnTheListAreHiddenAsOneSelection) {
    open();
    const std::string a = source("a", "alpha");
    const std::string b = source("b", "beta");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(pathToQString(a)), QUrl("https://example.org/x"),
                  QUrl::fromLocalFile(pathToQString(b))});
    QWidget* target = window->fileList()->viewport();
    const QPoint at = target->rect().center();

    // While a command runs the list takes nothing.
    window->OpRunning(true);
    QDragEnterEvent refused(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &refused);
    EXPECT_FALSE(refused.isAccepted());
    window->OpRunning(false);
    settle();

    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction) << "the file manager must not delete anything";
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());
    settle();  // the hide runs once the drop has been answered
    settle();

    EXPECT_EQ(listedPaths(), (std::vector<std::string>{a, b}));
    EXPECT_EQ(saved(), window->catalogue());
    EXPECT_EQ(test::readFile(StoredPath(state, 1)), "beta");
    EXPECT_EQ(window->fileList()->count(), 2);
    EXPECT_TRUE(ui.messages.empty());
    expectIdle();
}

}  // namespace
}  // namespace vantory
