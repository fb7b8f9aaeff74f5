#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "commands/command_line.h"
#include "commands/salvage.h"
#include "commands/silent_ui_services.h"
#include "platform/platform.h"
#include "window/instance_channel.h"
#include "window/login_window.h"
#include "window/main_window.h"
#include "window/qt_ui_services.h"

namespace {

// The salvage runs without windows; it holds the single-instance lock, so no Vantory starts
// while it works.
struct SalvageUi : vantory::SilentUiServices {
    bool previousInstanceRunning(const std::string& folder) override {
        return vantory::platform::lockInstance(folder) != vantory::platform::LockResult::kAcquired;
    }
};

int salvage(const vantory::CommandLine& line) {
    vantory::ProgramState state;
    SalvageUi ui;
    vantory::SalvageOptions options;
    options.storageFolder = line.storageFolder;
    options.askPassword = [](const std::string& why) {
        std::fprintf(stderr, "%s", why.c_str());
        std::fflush(stderr);
        return vantory::platform::readUnshownLine();
    };
    const vantory::SalvageResult result = vantory::SalvageSettings(state, ui, options);
    for (const std::string& line : result.lines) {
        std::printf("%s\n", line.c_str());
    }
    return result.ok ? 0 : 1;
}

// The command line is read before Qt starts: --help and --version need no display, and a
// bad command line ends before anything is touched.
int runCommandLine(const vantory::CommandLine& line) {
    using Action = vantory::CommandLine::Action;
    switch (line.action) {
        case Action::kHelp:
            std::fputs(vantory::UsageText().c_str(), stdout);
            return 0;
        case Action::kVersion:
            std::printf("Vantory %s\n", VANTORY_VERSION);
            return 0;
        case Action::kInvalid:
            std::fprintf(stderr, "vantory: %s\nTry 'vantory --help' for more information.\n",
                         line.error.c_str());
            return vantory::kBadArgumentsExit;
        case Action::kSalvage:
            return salvage(line);
        case Action::kStart:
            break;
    }
    return -1;
}

std::string workingFolder() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::string() : folder.string();
}

}  // namespace

int main(int argc, char** argv) {
    const vantory::CommandLine line =
        vantory::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), workingFolder());
    if (const int ended = runCommandLine(line); ended >= 0) {
        return ended;
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
