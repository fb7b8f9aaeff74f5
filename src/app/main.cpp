#include <QApplication>
#include <memory>

#include "access/login_window.h"
#include "main/main_window.h"
#include "ui/qt_ui_services.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantory"));
    // No display name: Qt would append it to every window's caption.
    QApplication::setApplicationVersion(QStringLiteral("1.0.128"));
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantory"));

    vantory::QtUiServices ui;
    vantory::ProgramState state;
    std::unique_ptr<vantory::MainWindow> mainWindow;

    vantory::LoginWindow login(state, ui);
    if (!login.load()) {
        return 0;  // another instance runs
    }
    QObject::connect(&login, &vantory::LoginWindow::loggedIn, [&] {
        mainWindow = std::make_unique<vantory::MainWindow>(state, ui);
        mainWindow->show();
        mainWindow->load();
    });
    QObject::connect(&login, &vantory::LoginWindow::cancelled, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    login.show();
    return app.exec();
}
