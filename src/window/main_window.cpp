#include "window/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <functional>

#include "commands/change_password.h"
#include "commands/hide_command.h"
#include "commands/recovery.h"
#include "commands/restore_command.h"
#include "commands/startup.h"
#include "commands/storage_lock.h"
#include "commands/storage_settings.h"
#include "commands/store_check.h"
#include "session/captions.h"
#include "store/settings_file.h"
#include "window/busy_window.h"
#include "window/login_window.h"
#include "window/qt_ui_services.h"
#include "window/wrapped_text.h"

namespace vantory {

namespace {

// A path or filter text with letter case folded away, as Qt knows the letters of every script.
std::string CaseFolded(std::string_view text) {
    return pathFromQString(pathToQString(std::string(text)).toCaseFolded());
}

// A control's rectangle in twips, measured from the top-left corner of the tab strip.
struct Twips {
    int left, top, width, height;
};

// The rectangles count from the strip's top, where a row of tabs 400 twips high once sat.
// Here the pages start below the real row of tabs, with the same gap above the first
// controls.
constexpr int kPageTop = 30;
constexpr int kPageLeft = 1;

QRect pageRect(Twips t) {
    return QRect(t.left / 15 - kPageLeft, t.top / 15 - kPageTop, t.width / 15, t.height / 15);
}

// Set to a whole number of seconds, this takes the place of the idle minutes of the settings
// tab, which count in whole minutes: the end-to-end test locks the window after a few seconds.
constexpr const char* kIdleSecondsVariable = "VANTORY_IDLE_LOCK_SECONDS";

// The help labels use a small face.
constexpr double kHelpPointSize = 6.75;

// Check boxes get the room their caption needs: as wide as the caption, centred on the
// rectangle's middle where it has room to grow, and at least as tall as the box.
void fitCheckBox(QCheckBox* box, QRect area, bool centred) {
    const QSize wanted = box->sizeHint();
    QRect rect = area;
    if (wanted.width() > rect.width()) {
        rect.setWidth(wanted.width());
        if (centred) {
            rect.moveLeft(area.center().x() - wanted.width() / 2);
        }
    }
    if (wanted.height() > rect.height()) {
        rect.setTop(area.center().y() - wanted.height() / 2);
        rect.setHeight(wanted.height());
    }
    box->setGeometry(rect);
}

// The tab strip, with its two captions wrapped into tabs of equal width.
class TabStrip : public QTabWidget {
  public:
    TabStrip(int width, QWidget* parent) : QTabWidget(parent) {
        setTabBar(new WrappedTabBar(width - 4, this));
    }
};

// Files dragged from a file manager onto the list: while `accepting` says yes, a drop of local
// files hands their paths to `dropped` as one selection. The paths are handed over once the
// drop has been answered, so the file manager is not kept waiting for the hide.
class FileDropFilter : public QObject {
  public:
    FileDropFilter(std::function<bool()> accepting,
                   std::function<void(const std::vector<std::string>&)> dropped, QObject* parent)
        : QObject(parent), accepting_(std::move(accepting)), dropped_(std::move(dropped)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (accepting_() && !localFiles(drag->mimeData()).empty()) {
                    drag->setDropAction(Qt::CopyAction);  // the file manager keeps its file
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                std::vector<std::string> paths = localFiles(drop->mimeData());
                if (!accepting_() || paths.empty()) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                QMetaObject::invokeMethod(
                    this, [this, paths = std::move(paths)] { dropped_(paths); },
                    Qt::QueuedConnection);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

  private:
    static std::vector<std::string> localFiles(const QMimeData* data) {
        std::vector<std::string> paths;
        if (data == nullptr) {
            return paths;
        }
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                paths.push_back(pathFromQString(url.toLocalFile()));
            }
        }
        return paths;
    }

    std::function<bool()> accepting_;
    std::function<void(const std::vector<std::string>&)> dropped_;
};

// Keyboard and mouse input to any of the program's windows, told to `input`.
class InputWatch : public QObject {
  public:
    InputWatch(std::function<void()> input, QObject* parent)
        : QObject(parent), input_(std::move(input)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TabletPress:
                // Only what comes from the window system: Qt makes up moves of its own.
                if (event->spontaneous()) {
                    input_();
                }
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> input_;
};

}  // namespace

MainWindow::MainWindow(ProgramState& state, UiServices& ui, QWidget* parent)
    : QMainWindow(parent), state_(state), ui_(ui), context_{state_, ui_, catalogue_, *this} {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(toQString(MainCaption()));
    setWindowIcon(ProgramIcon());
    buildControls();
    runCommand_ = std::make_unique<RunCommand>(
        context_, [this](const std::string& caption) { cmdShell_->setText(toQString(caption)); });
    setMinimumHeight(kMinimumHeight);
    resize(kOpeningWidth, kOpeningHeight);
    // Read now, so that the window opens where it was left; a problem is told by the load step.
    preferencesProblem_ = ReadPreferences(PreferencesPath(state_), preferences_);
    idleLock_.setMinutes(preferences_.idleLockMinutes);
    idleLock_.setOverrideSeconds(qEnvironmentVariableIntValue(kIdleSecondsVariable));
    placeAsLeft();
}

MainWindow::~MainWindow() {
    delete busyWindow_.data();
    delete lockWindow_.data();
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // The filter box sits above the list, as wide as the list; the list gives up its height.
    txtFilter_ = new QLineEdit(central);
    txtFilter_->setObjectName(QStringLiteral("txtFilter"));
    txtFilter_->setPlaceholderText(QStringLiteral("Filter the list"));
    txtFilter_->setClearButtonEnabled(true);
    const int filterHeight = txtFilter_->sizeHint().height();
    txtFilter_->setGeometry(0, 0, 297, filterHeight);
    connect(txtFilter_, &QLineEdit::textChanged, this, [this] { refreshList(); });
    // Ctrl+F reaches the box from anywhere in the window, Esc in it clears it.
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        if (txtFilter_->isEnabled()) {
            txtFilter_->setFocus(Qt::ShortcutFocusReason);
            txtFilter_->selectAll();
        }
    });
    auto* clear = new QShortcut(QKeySequence(Qt::Key_Escape), txtFilter_, nullptr, nullptr,
                                Qt::WidgetShortcut);
    connect(clear, &QShortcut::activated, txtFilter_, &QLineEdit::clear);

    lstFileList_ = new QListWidget(central);
    lstFileList_->setObjectName(QStringLiteral("lstFileList"));
    lstFileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFileList_->setSortingEnabled(false);
    lstFileList_->setGeometry(0, filterHeight, 297, kOpeningHeight - filterHeight);
    // Files dropped on the list are hidden like a selection in the file-open dialog.
    lstFileList_->setAcceptDrops(true);
    lstFileList_->viewport()->setAcceptDrops(true);
    lstFileList_->viewport()->installEventFilter(
        new FileDropFilter([this] { return gate_.takesDrops() && cmdAddFile_->isEnabled(); },
                           [this](const std::vector<std::string>& paths) {
                               CommandScope command(*this);
                               if (gate_.takesDrops() && readyForCommand()) {
                                   HideSelection(context_, paths, [this] { refreshList(); });
                               }
                           },
                           lstFileList_));

    tabControl_ = new TabStrip(kStripWidth, central);
    tabControl_->setObjectName(QStringLiteral("tabControl"));
    tabControl_->setGeometry(297, 0, kStripWidth, kOpeningHeight);
    auto* manage = new QWidget;
    manage->setObjectName(QStringLiteral("tabManageFiles"));
    auto* access = new QWidget;
    access->setObjectName(QStringLiteral("tabAccessAndSecurity"));

    QFont helpFont = font();
    helpFont.setPointSizeF(kHelpPointSize);

    auto makeButton = [](QWidget* page, const char* name, const char* caption, Twips at) {
        auto* button = new WrappedButton(QString::fromLatin1(caption), page);
        button->setObjectName(QString::fromLatin1(name));
        // A focused button takes Enter itself; elsewhere Enter presses Run Selected File.
        button->setAutoDefault(true);
        button->setGeometry(pageRect(at));
        return button;
    };
    auto makeLabel = [&helpFont](QWidget* page, const char* name, const QString& text, Twips at) {
        auto* label = new HelpLabel(text, page);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(helpFont);
        label->setGeometry(pageRect(at));
        return label;
    };
    auto makeCheckBox = [](QWidget* page, const char* name, const char* caption, Twips at) {
        auto* box = new QCheckBox(QString::fromLatin1(caption), page);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(pageRect(at));
        return box;
    };

    // The first tab: the file commands.
    cmdAddFile_ = makeButton(manage, "cmdAddFile", "&Hide File(s)", {240, 600, 1095, 735});
    cmdRestoreFile_ =
        makeButton(manage, "cmdRestoreFile", "Restore &Selected File(s)", {1680, 600, 975, 735});
    cmdRestore_ = makeButton(manage, "cmdRestore", "Restore &All Files", {3120, 600, 975, 735});
    makeLabel(manage, "lblAddFile", QString::fromLatin1(kAddFileHelp), {240, 1440, 1095, 615});
    makeLabel(manage, "lblRestoreFile", QString::fromLatin1(kRestoreFileHelp),
              {1560, 1440, 1215, 615});
    makeLabel(manage, "lblRestore", QString::fromLatin1(kRestoreHelp), {3000, 1440, 1215, 615});
    chkEncrypt_ = makeCheckBox(manage, "chkEncrypt", "&Encrypt File(s) When Hiding Them",
                               {840, 2160, 2655, 255});
    fitCheckBox(chkEncrypt_, chkEncrypt_->geometry(), true);
    cmdShell_ = makeButton(manage, "cmdShell", "&Run Selected File", {240, 2520, 3975, 735});
    cmdShell_->setDefault(true);
    makeLabel(manage, "lblShell",
              QString::fromLatin1(kShellHelpStart) + QString(kShellHelpSpaces, QLatin1Char(' ')) +
                  QString::fromLatin1(kShellHelpNote),
              {240, 3360, 3975, 1335});

    // The second tab: access and security settings. The labels beside the two storage
    // buttons reach a little further down than they once did (975 and 1215 twips): with
    // today's fonts their texts need the room.
    cmdChangePass_ = makeButton(access, "cmdChangePass", "Change &Password", {240, 600, 975, 975});
    makeLabel(access, "lblChangePass", QString::fromLatin1(kChangePassHelp),
              {1440, 600, 2775, 975});
    cmdSetExten_ =
        makeButton(access, "cmdSetExten", "Set Encrypted File &Extension", {240, 1680, 975, 975});
    lblSetExten_ = makeLabel(access, "lblSetExten", toQString(ExtensionLabelText(state_)),
                             {1440, 1680, 2775, 1050});
    cmdSetStorDir_ =
        makeButton(access, "cmdSetStorDir", "Set Storage &Folder", {240, 2760, 975, 975});
    lblSetStore_ = makeLabel(access, "lblSetStore", toQString(StorageLabelText(state_)),
                             {1440, 2760, 2775, 1305});
    makeLabel(access, "lblSlowRun", QString::fromLatin1(kSlowRunHelp), {1440, 4080, 2775, 615});
    chkSlowRun_ = makeCheckBox(access, "chkSlowRun", "&Slow Run", {240, 4200, 1095, 315});
    fitCheckBox(chkSlowRun_, chkSlowRun_->geometry(), false);
    // The idle lock, in the row below slow run: the minutes in the column of the buttons,
    // what they mean beside them.
    spnIdleLock_ = new QSpinBox(access);
    spnIdleLock_->setObjectName(QStringLiteral("spnIdleLock"));
    spnIdleLock_->setRange(0, kMaxIdleLockMinutes);
    spnIdleLock_->setSuffix(QStringLiteral(" min"));
    spnIdleLock_->setSpecialValueText(QStringLiteral("Never"));
    spnIdleLock_->setValue(preferences_.idleLockMinutes);
    spnIdleLock_->setAccessibleName(QString::fromLatin1(kIdleLockHelp));
    // Typing "15" is one change, made when the user leaves the box or presses Enter.
    spnIdleLock_->setKeyboardTracking(false);
    spnIdleLock_->setGeometry(pageRect({240, 4800, 975, 360}));
    makeLabel(access, "lblIdleLock", QString::fromLatin1(kIdleLockHelp), {1440, 4800, 2775, 420});

    // The tabs take their captions after the buttons: Qt hands a mnemonic that two controls
    // share to each in turn, in the order they took it, so Alt+A first reaches Restore All
    // Files on the page shown and then the tab. Taken first, the tab would win every time, as
    // its page hides the button.
    tabControl_->addTab(manage, QStringLiteral("&Manage Files"));
    tabControl_->addTab(access, QStringLiteral("&Access and Security Control"));
    tabControl_->setCurrentIndex(0);

    // Encrypt when hiding starts off, box and flag alike: hiding then moves the file itself
    // into storage, so it leaves its old place and comes back byte for byte. Sealing is a
    // choice the user makes by ticking the box.
    chkEncrypt_->setChecked(false);
    state_.bolEncrypt = false;

    connect(cmdAddFile_, &QPushButton::clicked, this, &MainWindow::cmdAddFile_Click);
    connect(cmdRestoreFile_, &QPushButton::clicked, this, &MainWindow::cmdRestoreFile_Click);
    connect(cmdRestore_, &QPushButton::clicked, this, &MainWindow::cmdRestore_Click);
    connect(cmdShell_, &QPushButton::clicked, this, &MainWindow::cmdShell_Click);
    connect(cmdChangePass_, &QPushButton::clicked, this, &MainWindow::cmdChangePass_Click);
    connect(cmdSetExten_, &QPushButton::clicked, this, &MainWindow::cmdSetExten_Click);
    connect(cmdSetStorDir_, &QPushButton::clicked, this, &MainWindow::cmdSetStorDir_Click);
    // A check box's handler runs on every change of its state, from a click or from code.
    connect(chkEncrypt_, &QCheckBox::toggled, this, &MainWindow::chkEncrypt_Click);
    connect(chkSlowRun_, &QCheckBox::toggled, this, &MainWindow::chkSlowRun_Click);
    connect(spnIdleLock_, &QSpinBox::valueChanged, this, &MainWindow::spnIdleLock_Change);
}

bool MainWindow::load() {
    if (loaded_) {
        return true;
    }
    loaded_ = true;
    CommandScope command(*this);

    // Going on with an empty list would hide new files over the stored files it lists, and
    // write a new settings file over it.
    if (const Result read = loadList(state_, catalogue_, WindowPacing(state_, ui_).slowRun());
        !read.ok()) {
        ShowUnusableSettingsFile(state_, ui_, read);
        unusable_ = true;
        close();
        return false;
    }
    refreshList();
    refreshStorageLabel();
    refreshExtensionLabel();
    setWindowTitle(toQString(MainCaption()));
    chkSlowRun_->setChecked(true);
    state_.bolSlowRun = true;
    // The window is up already, and this work yields to it: no command may start meanwhile.
    centralWidget()->setEnabled(false);
    RecoverInterruptedWork(context_);
    centralWidget()->setEnabled(true);
    ErrorRemoveFiles();
    lstFileList_->setFocus();  // the busy state passed the keyboard on; the list has it first

    loadPreferences();
    inputWatched_ = true;
    QCoreApplication::instance()->installEventFilter(new InputWatch([this] { noteInput(); }, this));
    // The window manager may hand the keyboard to the busy window after a short command has
    // hidden it again; the keyboard would then be nowhere until the user left the program.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
        if (focused != nullptr && busyWindow_ && focused == busyWindow_->windowHandle() &&
            !busyWindow_->isVisible()) {
            bringForward();
        }
    });
    restartIdleTimer();
    return true;
}

void MainWindow::loadPreferences() {
    const std::string path = PreferencesPath(state_);
    if (const std::string problem = std::exchange(preferencesProblem_, {}); !problem.empty()) {
        ui_.messageBox("Vantory's own settings file " + path + " could not be used: " + problem +
                           ".  The window locks after " +
                           std::to_string(preferences_.idleLockMinutes) +
                           " idle minutes until you set the time again.",
                       UiServices::kExclamation, "Settings file");
    }
    const QSignalBlocker quiet(spnIdleLock_);
    spnIdleLock_->setValue(preferences_.idleLockMinutes);
}

void MainWindow::placeAsLeft() {
    if (!preferences_.window) {
        return;
    }
    const WindowPlace& place = *preferences_.window;
    // A place where the title bar cannot be reached, on no screen there is now, is not used:
    // the window system then places the window.
    const QRect titleBar(place.x, place.y, place.width, 2 * kTitleBarGrip);
    const QScreen* screen = nullptr;
    for (const QScreen* candidate : QGuiApplication::screens()) {
        const QRect reached = candidate->availableGeometry().intersected(titleBar);
        if (reached.width() >= std::min(place.width, kReachableTitleBar) &&
            reached.height() >= kTitleBarGrip) {
            screen = candidate;
            break;
        }
    }
    const QScreen* sizing = screen != nullptr ? screen : QGuiApplication::primaryScreen();
    const QSize room =
        sizing != nullptr ? sizing->availableSize() : QSize(place.width, place.height);
    // The resize rules snap back a size too small.
    resize(std::min(place.width, room.width()), std::min(place.height, room.height()));
    if (screen != nullptr) {
        move(place.x, place.y);
    }
    if (place.maximized) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

std::optional<WindowPlace> MainWindow::currentPlace() const {
    const Qt::WindowStates state = windowState();
    const bool normal =
        !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    // The inside of the window as it is, or as it goes back to; the place is that of its frame.
    const QRect inside = normal ? geometry() : normalGeometry();
    if (!inside.isValid()) {
        return std::nullopt;
    }
    const QPoint corner = inside.topLeft() - (geometry().topLeft() - frameGeometry().topLeft());
    return WindowPlace{corner.x(), corner.y(), inside.width(), inside.height(),
                       (state & Qt::WindowMaximized) != 0};
}

void MainWindow::rememberPlace() {
    if (!loaded_ || unusable_) {
        return;  // a list that could not be read: nothing is written
    }
    const std::optional<WindowPlace> place = currentPlace();
    if (!place || place == preferences_.window) {
        return;
    }
    preferences_.window = place;
    // Only a convenience: a file that cannot be written is not worth a word as Vantory ends.
    (void)WritePreferences(PreferencesPath(state_), preferences_);
}

MainWindow::CommandScope::~CommandScope() {
    if (window_.gate_.finished()) {
        window_.scheduleAfterCommands();
    }
}

void MainWindow::scheduleAfterCommands() {
    QMetaObject::invokeMethod(
        this, [this] { afterCommands(); }, Qt::QueuedConnection);
}

void MainWindow::afterCommands() {
    CommandGate::Next next = gate_.afterCommands(loaded_ && !unusable_ && !locked(), idleLock_);
    if (next.kind == CommandGate::Next::kLock) {
        lockNow();
    } else if (next.kind == CommandGate::Next::kHide) {
        CommandScope command(*this);  // its end looks at the next list
        if (readyForCommand()) {
            HideSelection(context_, next.paths, [this] { refreshList(); });
        }
    }
}

void MainWindow::hideHandedOver(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return;
    }
    gate_.handOver(paths);
    bringForward();
    scheduleAfterCommands();
}

void MainWindow::bringForward() {
    QWidget* front = this;
    if (locked()) {
        front = lockWindow_;
    } else if (gate_.busyWithCommand() && busyWindow_) {
        front = busyWindow_;
    }
    if (!front->isVisible()) {
        return;
    }
    if (front->isMinimized()) {
        front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    }
    front->raise();
    front->activateWindow();
}

void MainWindow::noteInput() {
    idleLock_.input();
}

void MainWindow::restartIdleTimer() {
    if (inputWatched_) {
        idleLock_.restart(locked());
    }
}

void MainWindow::idleTimer_Timer() {
    if (idleLock_.timerFired()) {
        idleTimeElapsed();
    }
}

void MainWindow::idleTimeElapsed() {
    if (loaded_ && !locked() && idleLock_.lockDue(gate_.commandRunning())) {
        lockNow();
    }
}

void MainWindow::lockNow() {
    idleLock_.locked();
    busyWindowWasShown_ = busyWindow_ && busyWindow_->isVisible();
    if (busyWindowWasShown_) {
        busyWindow_->hide();
    }
    hide();
    // The password window as at the start, asking for the password in force now.
    auto* login = new LoginWindow(state_, ui_);
    login->setAttribute(Qt::WA_DeleteOnClose);
    // Whether the program may end is for this window's close to say.
    login->setAttribute(Qt::WA_QuitOnClose, false);
    connect(login, &LoginWindow::loggedIn, this, &MainWindow::unlock);
    // Cancel ends the program as at the start, by the rules of closing this window: with a
    // file open for Run Selected File it ends at once and the file is put away at the next
    // start.
    connect(login, &LoginWindow::cancelled, this, [this] { close(); });
    lockWindow_ = login;
    login->show();
    login->raise();
    login->activateWindow();
}

void MainWindow::unlock() {
    lockWindow_ = nullptr;  // it closes and deletes itself
    show();
    raise();
    activateWindow();
    if (busyWindowWasShown_ && busyWindow_) {
        busyWindow_->show();
    }
    busyWindowWasShown_ = false;
    restartIdleTimer();
    scheduleAfterCommands();  // handed-over files may be waiting
}

void MainWindow::spnIdleLock_Change(int minutes) {
    if (minutes == preferences_.idleLockMinutes) {
        return;
    }
    CommandScope command(*this);
    preferences_.idleLockMinutes = minutes;
    idleLock_.setMinutes(minutes);
    restartIdleTimer();
    const std::string path = PreferencesPath(state_);
    if (const Status s = WritePreferences(path, preferences_); !s.ok()) {
        ui_.messageBox("The idle time could not be saved in " + path + " (" + s.message() +
                           ").  It applies until Vantory ends.",
                       UiServices::kExclamation, "Settings file");
    }
}

std::vector<size_t> MainWindow::selectedPositions() const {
    std::vector<size_t> positions;
    for (int row = 0; row < lstFileList_->count(); ++row) {
        if (lstFileList_->item(row)->isSelected()) {
            positions.push_back(list_.positionAt(row));
        }
    }
    return positions;
}

int MainWindow::currentPosition() const {
    const int row = lstFileList_->currentRow();
    return row < 0 ? -1 : static_cast<int>(list_.positionAt(row));
}

void MainWindow::refreshList() {
    const std::vector<size_t> selected = selectedPositions();
    const int current = currentPosition();
    list_.show(catalogue_, pathFromQString(txtFilter_->text()), CaseFolded);
    // Added at once: the list then lays itself out once, not once per path.
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(list_.positions().size()));
    for (const size_t position : list_.positions()) {
        paths.append(pathToQString(catalogue_.at(position).path));
    }
    lstFileList_->clear();
    lstFileList_->addItems(paths);
    drawSelection(list_.keep(selected, current));
}

void MainWindow::setSelection(const std::vector<size_t>& positions, int current) {
    lstFileList_->clearSelection();
    drawSelection(list_.select(positions, current));
}

void MainWindow::drawSelection(const FilteredCatalogue::Selection& selection) {
    if (selection.currentRow >= 0) {
        lstFileList_->setCurrentRow(selection.currentRow, QItemSelectionModel::NoUpdate);
    }
    for (const int row : selection.rows) {
        lstFileList_->item(row)->setSelected(true);
    }
}

void MainWindow::selectFirst() {
    if (!list_.positions().empty()) {
        setSelection({list_.positionAt(0)}, static_cast<int>(list_.positionAt(0)));
    }
}

void MainWindow::refreshStorageLabel() {
    lblSetStore_->setText(toQString(StorageLabelText(state_)));
}

void MainWindow::refreshExtensionLabel() {
    lblSetExten_->setText(toQString(ExtensionLabelText(state_)));
}

QAbstractButton* MainWindow::button(const QString& name) const {
    return findChild<QAbstractButton*>(name);
}

BusyWindow& MainWindow::ensureBusyWindow() {
    if (!busyWindow_) {
        busyWindow_ = new BusyWindow(state_);
    }
    return *busyWindow_;
}

BusyWindow& MainWindow::showBusyWindow() {
    BusyWindow& busy = ensureBusyWindow();
    if (!busy.isVisible()) {
        // Over the middle of this window, where the user is looking.
        busy.move(frameGeometry().center() - busy.rect().center());
        busy.show();
    }
    busy.raise();
    return busy;
}

void MainWindow::OpRunning(bool running) {
    const CommandGate::Controls controls = gate_.setBusy(running);
    if (controls.busyWindow == true) {
        showBusyWindow();
    } else if (controls.busyWindow == false && busyWindow_) {
        // The keyboard goes back to the window in front when the busy window had it.
        const bool hadKeyboard = busyWindow_->isActiveWindow();
        busyWindow_->hide();  // it closes itself at its next tick
        if (hadKeyboard) {
            bringForward();
        }
    }
    for (QWidget* control : std::initializer_list<QWidget*>{txtFilter_, lstFileList_, cmdAddFile_,
                                                            cmdRestoreFile_, cmdRestore_}) {
        control->setEnabled(controls.list);
    }
    if (controls.run) {
        cmdShell_->setEnabled(*controls.run);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{cmdChangePass_, cmdSetStorDir_,
                                                            cmdSetExten_, chkSlowRun_}) {
        control->setEnabled(controls.settings);
    }
    if (controls.tabs) {
        tabControl_->setEnabled(*controls.tabs);
    }
    if (running) {
        return;
    }
    if (gate_.takeWaitingClose()) {
        // Close once the command that just left the busy state has returned.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
    scheduleAfterCommands();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainWindow::Form_Resize() {
    // A minimised, maximised or full-screen window keeps the size it is given; the list and
    // the strip still follow it.
    const bool sizeGiven =
        windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (!sizeGiven && height() < kMinimumHeight) {
        resize(width(), kMinimumHeight);
        return;  // the resize comes back here with the new size
    }
    const int h = centralWidget()->height();
    const int filterHeight = txtFilter_->height();
    tabControl_->resize(kStripWidth, h);
    lstFileList_->resize(lstFileList_->width(), h - filterHeight);
    if (!sizeGiven && kNarrowestWidth > width()) {
        resize(kOpeningWidth, height());
        return;
    }
    const int left = width() - kStripWidth - kRightMargin;
    tabControl_->move(left, 0);
    // Between the narrowest width and the strip's own width the list cannot shrink below
    // nothing; it keeps the width it had.
    if (left >= 0) {
        txtFilter_->resize(left, filterHeight);
        lstFileList_->resize(left, h - filterHeight);
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        Form_GotFocus();
    }
}

void MainWindow::Form_GotFocus() {
    // While a command runs, the busy window is the one to look at.
    if (gate_.busyWithCommand()) {
        showBusyWindow().activateWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Ending in the middle of a command could cut a file short: the close waits for it.
    if (!gate_.mayClose()) {
        event->ignore();
        ensureBusyWindow().showClosingNote();
        showBusyWindow();
        return;
    }
    event->accept();
    rememberPlace();
    delete busyWindow_.data();
    QCoreApplication::quit();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter presses Run Selected File unless a button with the focus took it first.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (cmdShell_->isEnabled() && cmdShell_->isVisibleTo(this) && tabControl_->isEnabled()) {
            cmdShell_->click();
        }
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::readyForCommand() {
    if (unusable_) {
        return false;
    }
    if (FinishPendingWork(context_)) {
        // Interrupted work finished just now may have moved the storage folder.
        return ClaimStorageFolder(state_, ui_, false);
    }
    refreshList();
    refreshStorageLabel();
    refreshExtensionLabel();
    return false;
}

void MainWindow::cmdAddFile_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    AddFiles(context_, [this] { refreshList(); });
}

void MainWindow::cmdRestoreFile_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    // Entries that stay hidden end selected; the others have left the list.
    RestoreSelected(context_, currentPosition(), selectedPositions(),
                    [this](const RestoreOutcome& outcome) {
                        refreshList();
                        setSelection(outcome.stillHidden);
                    });
}

void MainWindow::cmdRestore_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    RestoreAll(context_, [this](const RestoreOutcome& outcome) {
        refreshList();
        setSelection(outcome.stillHidden);
    });
}

void MainWindow::cmdShell_Click() {
    CommandScope command(*this);
    // The second press only puts away the file the first one opened.
    if (!runCommand_->waiting() && !readyForCommand()) {
        return;
    }
    runCommand_->press(EntryToRun(selectedPositions(), currentPosition()));
}

void MainWindow::cmdChangePass_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    ChangePassCommand(context_);
}

void MainWindow::cmdSetExten_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    if (SetExtensionCommand(context_)) {
        refreshExtensionLabel();
    }
}

void MainWindow::cmdSetStorDir_Click() {
    CommandScope command(*this);
    if (!readyForCommand()) {
        return;
    }
    if (SetStorageDirCommand(context_)) {
        refreshStorageLabel();
    }
}

void MainWindow::chkEncrypt_Click() {
    state_.bolEncrypt = chkEncrypt_->isChecked();
}

void MainWindow::chkSlowRun_Click() {
    state_.bolSlowRun = chkSlowRun_->isChecked();
}

void MainWindow::ErrorRemoveFiles() {
    refreshList();  // interrupted work finished just before may have changed the catalogue
    vantory::ErrorRemoveFiles(context_, {}, [this] { refreshList(); });
    selectFirst();
}

}  // namespace vantory
