// Helper of tools/take-screenshots.sh; not part of the program.
//
//   screenshot_helper prepare   writes a settings file with a few hidden files (and their
//                               stored files) into $XDG_CONFIG_HOME/vantory
//   screenshot_helper busy      shows the main window on those settings in the middle of a
//                               long operation, with the busy window up, for a few seconds
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands/silent_ui_services.h"
#include "platform/platform.h"
#include "store/settings_file.h"
#include "window/main_window.h"
#include "window/qt_ui_services.h"

namespace {

using namespace vantory;

const std::vector<std::string> kSamplePaths = {
    "/home/alex/Documents/Tax return 2023.pdf", "/home/alex/Documents/letter-to-landlord.odt",
    "/home/alex/Pictures/Holiday/beach-01.jpg", "/home/alex/Pictures/Holiday/beach-02.jpg",
    "/home/alex/Music/demo take 3.ogg",         "/home/alex/Desktop/diary.txt",
};

bool check(const platform::Status& status, const char* what) {
    if (!status.ok()) {
        std::fprintf(stderr, "screenshot_helper: %s: %s\n", what, status.message().c_str());
    }
    return status.ok();
}

int prepare() {
    SilentUiServices ui;
    ProgramState state;
    if (!check(GetSysDir(state), "settings folder")) {
        return 1;
    }
    SetPassword(state, kFactoryPassword);
    SetExtension(state, kFactoryExtension);
    if (!check(SetStorageDir(state, state.strSystemDir + "/"), "storage folder")) {
        return 1;
    }
    Catalogue catalogue;
    for (size_t i = 0; i < kSamplePaths.size(); ++i) {
        const std::string stored =
            state.strStorageDir + std::to_string(i + 100) + "." + state.strExtension;
        if (!check(platform::writeFileAtomically(stored, "sample content\n"), "stored file") ||
            !check(platform::setAttributes(stored, platform::kStoredAttributes), "attributes")) {
            return 1;
        }
        catalogue.append({kSamplePaths[i], false});
    }
    return check(saveList(state, catalogue, ui), "settings file") ? 0 : 1;
}

int busy(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantory"));
    QtUiServices ui;
    ProgramState state;
    SilentUiServices silent;
    (void)GetSysDir(state);
    if (!check(ReadSettings(state, silent), "settings file")) {
        return 1;
    }
    MainWindow window(state, ui);
    window.show();
    window.load();
    window.selectFirst();
    // Four files out of ten in hand.
    state.intProgress = 4;
    state.intProgressTotal = 10;
    window.OpRunning(true);
    QTimer::singleShot(8000, &app, [&] {
        window.OpRunning(false);
        QApplication::quit();
    });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "prepare") == 0) {
        return prepare();
    }
    if (argc > 1 && std::strcmp(argv[1], "busy") == 0) {
        return busy(argc, argv);
    }
    std::fprintf(stderr, "usage: screenshot_helper prepare|busy\n");
    return 2;
}
