#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/filtered_catalogue.h"
#include "session/main_session.h"
#include "window/busy_window.h"
#include "window/login_window.h"
#include "window/qt_clock.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTabWidget;

namespace vantory {

class HelpLabel;
class WrappedButton;

// The working window, opened after a right password: the catalogue on the left, a strip of
// two tabs with the commands and settings on the right (main_form). Its MainSession owns the
// catalogue and decides what runs when; the window draws what the session tells it, and owns
// at most one busy window at a time.
//
// Controls carry their names as object names (lstFileList, tabControl, cmdAddFile, ...), so
// button("cmdShell") and findChild reach them.
//
// The list shows the entries whose path holds the text of the filter box above it; each row
// keeps its entry's catalogue position, and selections are read and set as positions.
//
// Left without keyboard or mouse input for the idle time of the settings tab, the window
// locks: it hides, and the password window asks for the password again. A command that is
// running then, or a busy state, ends first.
class MainWindow : public QMainWindow, private MainView {
    Q_OBJECT

  public:
    MainWindow(ProgramState& state, UiServices& ui, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The load step, once (MainSession::load); false when the catalogue could not be read
    // and the window closes.
    bool load();

    // Files handed to the program from its command line: hidden as one selection, like a
    // selection in Hide File(s), once the window is loaded and unlocked and no command runs.
    // Lists that arrive meanwhile wait their turn. The window comes to the front.
    void hideHandedOver(const std::vector<std::string>& paths);
    // The window to look at now comes to the front: the password window while locked, the
    // busy window while busy, else this one.
    void bringForward();

    Catalogue& catalogue() { return session_.catalogue(); }
    // Run Selected File, which keeps its open file between the two presses of cmdShell.
    RunCommand& runCommand() { return session_.runCommand(); }

    std::vector<size_t> selectedPositions() const override;
    // The catalogue position of the list's current row, -1 when there is none.
    int currentPosition() const override;
    // Refills the list from the catalogue, one row per entry that the filter lets through, in
    // catalogue order. Selection and current row stay on the positions they had where those
    // are still shown; a current position no longer shown passes to the next row shown.
    void refreshList() { showList(); }
    // Selects exactly the rows of `positions` (those not shown are ignored) and makes the row
    // of position `current` the current row (-1: the first selected one, if any).
    void setSelection(const std::vector<size_t>& positions, int current = -1);
    void selectFirst() override;

    // The busy state (MainSession::OpRunning): true disables the list and the commands and
    // shows the busy window (while a temporary file is open, the run button and the tab strip
    // stay usable and no busy window appears); false enables everything and hides the busy
    // window, which then closes itself. A close asked for while busy happens once it ends.
    void OpRunning(bool running) { session_.OpRunning(running); }

    // Re-set the help text beside Set Storage Folder.
    void refreshStorageLabel() { showStorageLabel(); }

    // A button or check box by its name ("cmdShell", "chkEncrypt", ...); null if unknown.
    QAbstractButton* button(const QString& name) const;
    QListWidget* fileList() const { return lstFileList_; }
    QLineEdit* filterBox() const { return txtFilter_; }
    QTabWidget* tabControl() const { return tabControl_; }
    // The busy window while it exists.
    BusyWindow* busyWindow() const { return busyWindow_; }
    // A close was asked for during the busy state and waits for its end.
    bool closePending() const { return session_.gate().closeWaiting(); }

    // The idle time has passed (MainSession::idleTimeElapsed).
    void idleTimeElapsed() { session_.idleTimeElapsed(); }
    // While locked: the password window that asks for the password again.
    bool locked() const { return session_.locked(); }
    LoginWindow* lockWindow() const { return lockWindow_; }
    // The idle time in force, in milliseconds; 0 when the lock is off.
    int idleLockMilliseconds() const {
        return static_cast<int>(session_.idleLock().intervalMilliseconds());
    }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // What the session tells the window to draw and do.
    void showList() override;
    void showStorageLabel() override;
    void showExtensionLabel() override;
    void select(const std::vector<size_t>& positions) override { setSelection(positions); }
    void showRunCaption(const std::string& caption) override;
    void showSlowRun(bool on) override;
    void showControls(const CommandGate::Controls& controls) override;
    void setUsable(bool usable) override;
    void later(std::function<void()> then) override;
    void lock() override;
    void closeWindow() override { close(); }

    void buildControls();
    void connectControls();
    void Form_Resize();
    void Form_GotFocus();
    BusyWindow& ensureBusyWindow();
    // Shows it in front, over the middle of this window when it was not showing.
    BusyWindow& showBusyWindow();
    void unlock();
    // Gives the window the place and size it was left with, before it shows.
    void placeAsLeft();
    std::optional<WindowPlace> currentPlace() const;
    void drawSelection(const FilteredCatalogue::Selection& selection);

    ProgramState& state_;
    UiServices& ui_;
    QtClock clock_;
    QtTimer idleTimer_{[this] { session_.idleTimerFired(); }};
    MainSession session_;
    FilteredCatalogue list_;  // what lstFileList_ shows, row by row
    QPointer<BusyWindow> busyWindow_;
    bool busyWindowWasShown_ = false;
    QPointer<LoginWindow> lockWindow_;

    QLineEdit* txtFilter_ = nullptr;
    QListWidget* lstFileList_ = nullptr;
    QTabWidget* tabControl_ = nullptr;
    WrappedButton* cmdAddFile_ = nullptr;
    WrappedButton* cmdRestoreFile_ = nullptr;
    WrappedButton* cmdRestore_ = nullptr;
    WrappedButton* cmdShell_ = nullptr;
    WrappedButton* cmdChangePass_ = nullptr;
    WrappedButton* cmdSetExten_ = nullptr;
    WrappedButton* cmdSetStorDir_ = nullptr;
    QCheckBox* chkEncrypt_ = nullptr;
    QCheckBox* chkSlowRun_ = nullptr;
    QSpinBox* spnIdleLock_ = nullptr;
    HelpLabel* lblSetExten_ = nullptr;
    HelpLabel* lblSetStore_ = nullptr;
};

}  // namespace vantory
