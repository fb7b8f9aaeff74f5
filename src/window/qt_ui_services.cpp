#include "window/qt_ui_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QImageReader>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringDecoder>
#include <QUrl>
#include <cstdio>

#include "platform/platform.h"

// The icon lives in a resource of this static library; it must be registered by hand.
static void registerIconResource() {
    Q_INIT_RESOURCE(vantory);
}

namespace vantory {

QIcon ProgramIcon() {
    registerIconResource();
    QIcon icon;
    // The drawing itself where Qt can read SVG, and its renderings everywhere.
    if (QImageReader::supportedImageFormats().contains("svg")) {
        icon.addFile(QStringLiteral(":/icons/vantory.svg"));
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/vantory-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QString toQString(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return text;
}

std::string fromQString(const QString& text) {
    return text.toStdString();
}

QString pathToQString(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string pathFromQString(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

namespace {

QWidget* dialogParent() {
    return QApplication::activeWindow();
}

}  // namespace

void QtUiServices::messageBox(const std::string& text, int style, const std::string& title) {
    QMessageBox box(dialogParent());
    box.setWindowTitle(toQString(title.empty() ? std::string(kApplicationTitle) : title));
    // Paths are shown as they are, whatever they hold: never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(toQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.setStandardButtons(QMessageBox::Ok);
    switch (style) {
        case kExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case kInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    box.exec();
}

std::optional<std::string> QtUiServices::inputBox(const std::string& prompt,
                                                  const std::string& title) {
    bool ok = false;
    const QString text = QInputDialog::getText(dialogParent(), toQString(title), toQString(prompt),
                                               QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional<std::string>(fromQString(text)) : std::nullopt;
}

std::vector<std::string> QtUiServices::openFiles(const std::string& title, bool multiple) {
    QStringList chosen;
    const QString caption = toQString(title);
    const QString filter = QStringLiteral("All Files (*)");
    if (multiple) {
        chosen = QFileDialog::getOpenFileNames(dialogParent(), caption, QString(), filter);
    } else {
        const QString one =
            QFileDialog::getOpenFileName(dialogParent(), caption, QString(), filter);
        if (!one.isEmpty()) {
            chosen << one;
        }
    }
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(chosen.size()));
    for (const QString& path : chosen) {
        paths.push_back(pathFromQString(path));
    }
    return paths;
}

void QtUiServices::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUiServices::setWaitCursor(bool on) {
    if (on == waitCursorShown_) {
        return;
    }
    waitCursorShown_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

bool QtUiServices::openWithDefaultApplication(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(pathToQString(path)));
}

bool QtUiServices::previousInstanceRunning(const std::string& settingsFolder) {
    const platform::LockResult lock = platform::lockInstance(settingsFolder);
    if (lock == platform::LockResult::kAcquired && !instanceServer_) {
        auto server = std::make_unique<InstanceServer>();
        if (server->listen(settingsFolder)) {
            instanceServer_ = std::move(server);
        } else {
            // Vantory works without it; only a second start cannot hand its files over.
            std::fprintf(stderr,
                         "vantory: files named when starting Vantory again cannot be "
                         "handed to this copy: %s\n",
                         qPrintable(server->errorString()));
        }
    }
    return lock == platform::LockResult::kHeldElsewhere;
}

}  // namespace vantory
