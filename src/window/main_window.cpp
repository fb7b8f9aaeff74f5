#include "window/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QWindow>
#include <functional>

#include "session/captions.h"
#include "session/main_form.h"
#include "session/window_place.h"
#include "window/busy_window.h"
#include "window/event_watchers.h"
#include "window/form_widgets.h"
#include "window/login_window.h"
#include "window/qt_ui_services.h"
#include "window/wrapped_text.h"

namespace vantory {

namespace {

// A path or filter text with letter case folded away, as Qt knows the letters of every script.
std::string CaseFolded(std::string_view text) {
    return pathFromQString(pathToQString(std::string(text)).toCaseFolded());
}

}  // namespace

MainWindow::MainWindow(ProgramState& state, UiServices& ui, QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      ui_(ui),
      session_(state_, ui_, *this, clock_, idleTimer_) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(toQString(MainCaption()));
    setWindowIcon(ProgramIcon());
    buildControls();
    setMinimumHeight(main_form::kMinimumHeight);
    resize(main_form::kOpeningWidth, main_form::kOpeningHeight);
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
    txtFilter_->setPlaceholderText(QString::fromLatin1(main_form::kFilterPlaceholder));
    txtFilter_->setClearButtonEnabled(true);
    const int filterHeight = txtFilter_->sizeHint().height();
    txtFilter_->setGeometry(0, 0, main_form::kListWidth, filterHeight);
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
    lstFileList_->setGeometry(0, filterHeight, main_form::kListWidth,
                              main_form::kOpeningHeight - filterHeight);
    // Files dropped on the list are hidden like a selection in the file-open dialog.
    lstFileList_->setAcceptDrops(true);
    lstFileList_->viewport()->setAcceptDrops(true);
    lstFileList_->viewport()->installEventFilter(new FileDropFilter(
        [this] { return session_.takesDrops() && cmdAddFile_->isEnabled(); },
        [this](const std::vector<std::string>& paths) { session_.hideDropped(paths); },
        lstFileList_));

    tabControl_ = new TabStrip(main_form::kStripWidth, central);
    tabControl_->setObjectName(QStringLiteral("tabControl"));
    tabControl_->setGeometry(main_form::kListWidth, 0, main_form::kStripWidth,
                             main_form::kOpeningHeight);
    QWidget* pages[] = {new QWidget, new QWidget};
    pages[0]->setObjectName(QStringLiteral("tabManageFiles"));
    pages[1]->setObjectName(QStringLiteral("tabAccessAndSecurity"));
    for (const main_form::Control& control : main_form::Controls()) {
        BuildFormControl(control, pages[static_cast<int>(control.page)], state_);
    }
    const auto take = [&pages]<typename Widget>(Widget*& widget, const char* name) {
        for (QWidget* page : pages) {
            if (auto* found = page->findChild<Widget*>(QString::fromLatin1(name))) {
                widget = found;
            }
        }
    };
    take(cmdAddFile_, "cmdAddFile");
    take(cmdRestoreFile_, "cmdRestoreFile");
    take(cmdRestore_, "cmdRestore");
    take(cmdShell_, "cmdShell");
    take(cmdChangePass_, "cmdChangePass");
    take(cmdSetExten_, "cmdSetExten");
    take(cmdSetStorDir_, "cmdSetStorDir");
    take(chkEncrypt_, "chkEncrypt");
    take(chkSlowRun_, "chkSlowRun");
    take(spnIdleLock_, "spnIdleLock");
    take(lblSetExten_, "lblSetExten");
    take(lblSetStore_, "lblSetStore");
    cmdShell_->setDefault(true);
    spnIdleLock_->setValue(session_.preferences().idleLockMinutes());
    // The tabs take their captions after the buttons, whose mnemonics come first.
    for (QWidget* page : pages) {
        tabControl_->addTab(page,
                            QString::fromLatin1(main_form::kPageCaptions[tabControl_->count()]));
    }
    tabControl_->setCurrentIndex(0);

    // Encrypt when hiding starts off, box and flag alike: hiding then moves the file itself
    // into storage, so it leaves its old place and comes back byte for byte. Sealing is a
    // choice the user makes by ticking the box.
    chkEncrypt_->setChecked(false);
    state_.bolEncrypt = false;

    connectControls();
}

void MainWindow::connectControls() {
    const std::pair<QAbstractButton*, void (MainSession::*)()> commands[] = {
        {cmdAddFile_, &MainSession::addFiles},
        {cmdRestoreFile_, &MainSession::restoreSelected},
        {cmdRestore_, &MainSession::restoreAll},
        {cmdShell_, &MainSession::run},
        {cmdChangePass_, &MainSession::changePassword},
        {cmdSetExten_, &MainSession::setExtension},
        {cmdSetStorDir_, &MainSession::setStorageFolder},
    };
    for (const auto& [control, command] : commands) {
        connect(control, &QAbstractButton::clicked, this,
                [this, command] { (session_.*command)(); });
    }
    // A check box's handler runs on every change of its state, from a click or from code.
    connect(chkEncrypt_, &QCheckBox::toggled, this, [this](bool on) { state_.bolEncrypt = on; });
    connect(chkSlowRun_, &QCheckBox::toggled, this, [this](bool on) { state_.bolSlowRun = on; });
    connect(spnIdleLock_, &QSpinBox::valueChanged, this,
            [this](int minutes) { session_.setIdleLockMinutes(minutes); });
}

bool MainWindow::load() {
    if (session_.loaded()) {
        return true;
    }
    if (!session_.load()) {
        return false;
    }
    lstFileList_->setFocus();  // the busy state passed the keyboard on; the list has it first
    QCoreApplication::instance()->installEventFilter(
        new InputWatch([this] { session_.input(); }, this));
    // The window manager may hand the keyboard to the busy window after a short command has
    // hidden it again; the keyboard would then be nowhere until the user left the program.
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
        if (focused != nullptr && busyWindow_ && focused == busyWindow_->windowHandle() &&
            !busyWindow_->isVisible()) {
            bringForward();
        }
    });
    return true;
}

void MainWindow::placeAsLeft() {
    if (!session_.preferences().place()) {
        return;
    }
    std::vector<ScreenArea> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        screens.push_back({area.x(), area.y(), area.width(), area.height()});
    }
    const OpeningPlace opening = PlaceAsLeft(*session_.preferences().place(), screens);
    resize(opening.width, opening.height);
    if (opening.x && opening.y) {
        move(*opening.x, *opening.y);
    }
    if (opening.maximized) {
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

void MainWindow::hideHandedOver(const std::vector<std::string>& paths) {
    if (!paths.empty()) {
        session_.handOver(paths);
        bringForward();
    }
}

void MainWindow::bringForward() {
    QWidget* front = this;
    switch (session_.gate().windowInFront(locked())) {
        case CommandGate::Front::kPassword:
            front = lockWindow_;
            break;
        case CommandGate::Front::kBusy:
            front = busyWindow_ ? busyWindow_.data() : front;
            break;
        case CommandGate::Front::kMain:
            break;
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

void MainWindow::later(std::function<void()> then) {
    QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
}

void MainWindow::lock() {
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
    session_.unlocked();
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

void MainWindow::showList() {
    const std::vector<size_t> selected = selectedPositions();
    const int current = currentPosition();
    list_.show(session_.catalogue(), pathFromQString(txtFilter_->text()), CaseFolded);
    // Added at once: the list then lays itself out once, not once per path.
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(list_.positions().size()));
    for (const size_t position : list_.positions()) {
        paths.append(pathToQString(session_.catalogue().at(position).path));
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

void MainWindow::showStorageLabel() {
    lblSetStore_->setText(toQString(StorageLabelText(state_)));
}

void MainWindow::showExtensionLabel() {
    lblSetExten_->setText(toQString(ExtensionLabelText(state_)));
}

void MainWindow::showRunCaption(const std::string& caption) {
    cmdShell_->setText(toQString(caption));
}

void MainWindow::showSlowRun(bool on) {
    chkSlowRun_->setChecked(on);
}

void MainWindow::setUsable(bool usable) {
    centralWidget()->setEnabled(usable);
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

void MainWindow::showControls(const CommandGate::Controls& controls) {
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
    for (const auto& [name, enabled] : main_form::EnabledStates(controls)) {
        findChild<QWidget*>(QString::fromLatin1(name))->setEnabled(enabled);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainWindow::Form_Resize() {
    const bool sizeGiven =
        windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    const main_form::Layout layout = main_form::LayOut(width(), height(), centralWidget()->height(),
                                                       txtFilter_->height(), sizeGiven);
    if (layout.snapHeight) {
        resize(width(), *layout.snapHeight);
        return;  // the resize comes back here with the new size
    }
    tabControl_->resize(main_form::kStripWidth, layout.stripHeight);
    lstFileList_->resize(lstFileList_->width(), layout.listHeight);
    if (layout.snapWidth) {
        resize(*layout.snapWidth, height());
        return;
    }
    tabControl_->move(layout.stripLeft, 0);
    if (layout.listWidth) {
        txtFilter_->resize(*layout.listWidth, txtFilter_->height());
        lstFileList_->resize(*layout.listWidth, layout.listHeight);
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
    if (session_.gate().busyWithCommand()) {
        showBusyWindow().activateWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Ending in the middle of a command could cut a file short: the close waits for it.
    if (!session_.mayClose()) {
        event->ignore();
        ensureBusyWindow().showClosingNote();
        showBusyWindow();
        return;
    }
    event->accept();
    session_.closing(currentPlace());
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

}  // namespace vantory
