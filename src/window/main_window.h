#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "commands/run_command.h"
#include "session/captions.h"
#include "session/command_gate.h"
#include "session/filtered_catalogue.h"
#include "session/idle_lock.h"
#include "store/catalogue.h"
#include "store/preferences.h"
#include "store/program_state.h"
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
// two tabs with the commands and settings on the right. It owns the catalogue and the busy
// state, and at most one busy window at a time.
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
class MainWindow : public QMainWindow, public BusyState {
    Q_OBJECT

  public:
    // Sizes in pixels; 15 twips make a pixel.
    static constexpr int kStripWidth = 289;    // the tab strip never changes its width
    static constexpr int kRightMargin = 10;    // between the strip and the window's edge
    static constexpr int kOpeningWidth = 588;  // client area at opening
    // The client area opens at 8820 x 4830 twips, made taller for today's fonts, which need
    // a row of two-line tabs and more room per line of help text, and by a row for the idle
    // lock below slow run.
    static constexpr int kOpeningHeight = 370;
    static constexpr int kMinimumHeight = kOpeningHeight;  // lower than this snaps back
    static constexpr int kNarrowestWidth = kStripWidth - kRightMargin;  // narrower snaps back
    // A remembered place is used when at least this much of the top of the window's frame
    // (its title bar) is on a screen: so much of its height, and of its width.
    static constexpr int kTitleBarGrip = 8;
    static constexpr int kReachableTitleBar = 100;

    MainWindow(ProgramState& state, UiServices& ui, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The load step, once: reads the catalogue, shows the folder and extension, sets the
    // caption, switches slow run on, and runs the store check; then the idle lock starts. A
    // catalogue that cannot be read is reported and the window closes, which ends the
    // program, before anything is written; false then.
    bool load();

    // Files handed to the program from its command line: hidden as one selection, like a
    // selection in Hide File(s), once the window is loaded and unlocked and no command runs.
    // Lists that arrive meanwhile wait their turn. The window comes to the front.
    void hideHandedOver(const std::vector<std::string>& paths);
    // The window to look at now comes to the front: the password window while locked, the
    // busy window while busy, else this one.
    void bringForward();

    Catalogue& catalogue() { return catalogue_; }
    const Catalogue& catalogue() const { return catalogue_; }
    // What the commands work on.
    CommandContext& context() { return context_; }
    // Run Selected File, which keeps its open file between the two presses of cmdShell.
    RunCommand& runCommand() { return *runCommand_; }

    // Catalogue positions of the selected rows, in ascending order.
    std::vector<size_t> selectedPositions() const;
    // The catalogue position of the list's current row, -1 when there is none.
    int currentPosition() const;
    // Refills the list from the catalogue, one row per entry that the filter lets through, in
    // catalogue order. Selection and current row stay on the positions they had where those
    // are still shown; a current position no longer shown passes to the next row shown.
    void refreshList();
    // Selects exactly the rows of `positions` (those not shown are ignored) and makes the row
    // of position `current` the current row (-1: the first selected one, if any).
    void setSelection(const std::vector<size_t>& positions, int current = -1);
    void selectFirst();

    // The busy state. True: disables the list and the commands and shows the busy window
    // (while a temporary file is open, the run button and the tab strip stay usable and no
    // busy window appears). False: enables everything and hides the busy window, which then
    // closes itself. A close of the window asked for while busy happens once it ends.
    void OpRunning(bool running) override;

    // Re-set the help texts beside Set Storage Folder and Set Encrypted File Extension.
    void refreshStorageLabel();
    void refreshExtensionLabel();

    // A button or check box by its name ("cmdShell", "chkEncrypt", ...); null if unknown.
    QAbstractButton* button(const QString& name) const;
    QListWidget* fileList() const { return lstFileList_; }
    QLineEdit* filterBox() const { return txtFilter_; }
    QTabWidget* tabControl() const { return tabControl_; }
    // The busy window while it exists.
    BusyWindow* busyWindow() const { return busyWindow_; }
    // A close was asked for during the busy state and waits for its end.
    bool closePending() const { return gate_.closeWaiting(); }

    // The idle time has passed: the window locks now, or, while a command runs or the busy
    // state lasts, once it has ended (unless input comes first).
    void idleTimeElapsed();
    // While locked: the password window that asks for the password again.
    bool locked() const { return !lockWindow_.isNull(); }
    LoginWindow* lockWindow() const { return lockWindow_; }
    // The idle time in force, in milliseconds; 0 when the lock is off.
    int idleLockMilliseconds() const { return static_cast<int>(idleLock_.intervalMilliseconds()); }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private slots:
    void cmdAddFile_Click();
    void cmdRestoreFile_Click();
    void cmdRestore_Click();
    void cmdShell_Click();
    void cmdChangePass_Click();
    void cmdSetExten_Click();
    void cmdSetStorDir_Click();
    void chkEncrypt_Click();
    void chkSlowRun_Click();
    void spnIdleLock_Change(int minutes);
    void idleTimer_Timer();

  private:
    // Marks the running of a command (a click handler, a drop, a hand-over, the load step):
    // the idle lock and handed-over files wait until the last one has returned.
    class CommandScope {
      public:
        explicit CommandScope(MainWindow& window) : window_(window) { window_.gate_.started(); }
        ~CommandScope();
        CommandScope(const CommandScope&) = delete;
        CommandScope& operator=(const CommandScope&) = delete;

      private:
        MainWindow& window_;
    };

    void buildControls();
    void Form_Resize();
    void Form_GotFocus();
    void ErrorRemoveFiles();
    // Whether a command may run now: work an earlier command left unfinished is finished
    // first (the list and labels then show what it changed), and the command waits for
    // the user to choose it again. No command runs while another copy of Vantory works on
    // the storage folder.
    bool readyForCommand();
    BusyWindow& ensureBusyWindow();
    // Shows it in front, over the middle of this window when it was not showing.
    BusyWindow& showBusyWindow();
    // What waited for the commands to end: the lock, then handed-over files; from the event
    // loop, once the command that ended has returned.
    void scheduleAfterCommands();
    void afterCommands();
    void noteInput();
    void restartIdleTimer();
    void lockNow();
    void unlock();
    void loadPreferences();
    // Gives the window the place and size it was left with (preferences_), before it shows.
    void placeAsLeft();
    std::optional<WindowPlace> currentPlace() const;
    // Keeps the place and size the window has now in the preferences file, when they changed.
    void rememberPlace();
    void drawSelection(const FilteredCatalogue::Selection& selection);

    ProgramState& state_;
    UiServices& ui_;
    Catalogue catalogue_;
    FilteredCatalogue list_;  // what lstFileList_ shows, row by row
    CommandContext context_;
    std::unique_ptr<RunCommand> runCommand_;
    QPointer<BusyWindow> busyWindow_;
    bool loaded_ = false;
    bool unusable_ = false;  // the list could not be read: nothing may be written
    CommandGate gate_{state_};
    Preferences preferences_;
    std::string preferencesProblem_;  // from reading them, told by the load step
    QtClock clock_;
    QtTimer idleTimer_{[this] { idleTimer_Timer(); }};
    IdleLock idleLock_{clock_, idleTimer_};
    bool inputWatched_ = false;  // the idle lock counts from the load step on
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
