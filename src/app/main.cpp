#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "commands/command_line.h"
#include "window/instance_channel.h"
#include "window/login_window.h"
#include "window/main_window.h"
#include "window/qt_ui_services.h"

namespace {

std::string workingFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : folder.string();
}

}  // namespace

int main(int argc, char** argv) {
    const vantory::CommandLine line =
        vantory::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), workingFolder());
    // The command line is read before Qt starts: --help and --version need no display, and a
    // bad command line ends before anything is touched.
    const vantory::TextOutput console{
        [](const std::string& text) { std::fputs(text.c_str(), stdout); },
        [](const std::string& text) {
            std::fputs(text.c_str(), stderr);
            std::fflush(stderr);
        }};
    if (const std::optional<int> ended =
            vantory::RunWithoutWindows(line, VANTORY_VERSION, console)) {
        return *ended;
    }

    // Qt sees none of the arguments, so that no FILE is taken for one of its options.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantory"));
    // No display name: Qt would append it to every window's caption.
    QApplication::setApplicationVersion(QStringLiteral(VANTORY_VERSION));
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantory"));
    // The message boxes and dialogs carry it too.
    QApplication::setWindowIcon(vantory::ProgramIcon());

    vantory::QtUiServices ui;
    vantory::ProgramState state;
    std::unique_ptr<vantory::MainWindow> mainWindow;

    vantory::LoginWindow login(state, ui);
    if (const vantory::StartOutcome outcome = login.load();
        outcome == vantory::StartOutcome::kAnotherInstance ||
        outcome == vantory::StartOutcome::kSettingsUnusable ||
        outcome == vantory::StartOutcome::kStorageInUse) {
        return vantory::EndStoppedStart(outcome, state.strSystemDir, line.files, ui);
    }

    // Files named here, and files handed over by later starts, wait for the main window.
    std::vector<std::vector<std::string>> waiting;
    if (!line.files.empty()) {
        waiting.push_back(line.files);
    }
    if (vantory::InstanceServer* server = ui.instanceServer()) {
        server->setReceiver([&](const std::vector<std::string>& paths) {
            if (mainWindow) {
                mainWindow->hideHandedOver(paths);
                return;
            }
            waiting.push_back(paths);
            if (login.isVisible()) {
                login.raise();
                login.activateWindow();
            }
        });
    }
    QObject::connect(&login, &vantory::LoginWindow::loggedIn, [&] {
        mainWindow = std::make_unique<vantory::MainWindow>(state, ui);
        mainWindow->show();
        mainWindow->load();
        for (const auto& paths : waiting) {
            mainWindow->hideHandedOver(paths);
        }
        waiting.clear();
    });
    QObject::connect(&login, &vantory::LoginWindow::cancelled, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    login.show();
    const int status = app.exec();
    // The channel goes before the window that its receiver hands the files to.
    if (vantory::InstanceServer* server = ui.instanceServer()) {
        server->setReceiver({});
    }
    return status;
}
