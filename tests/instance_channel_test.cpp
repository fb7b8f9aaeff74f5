// A second start of the real program hands its files to the copy that holds the lock: here
// this test process, which takes the lock and opens the channel as the program does.
#include "ui/instance_channel.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <filesystem>
#include <set>

#include "platform/platform.h"
#include "store/settings_file.h"
#include "support/temp_folder.h"
#include "ui/qt_ui_services.h"

namespace vantory {
namespace {

namespace fs = std::filesystem;

struct Finished {
    int exitCode = -1;
    QString output;  // stdout and stderr
};

// The program started with `arguments` in `folder`, its settings under `configHome`.
Finished runProgram(const std::string& configHome, const std::string& runtime,
                    const QStringList& arguments, const std::string& folder) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QString::fromStdString(folder));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(VANTORY_PROGRAM), arguments);
    // The running copy answers from this event loop, so it is served while the other waits.
    const bool ended =
        QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000);
    EXPECT_TRUE(ended);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAll())};
}

std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(InstanceChannelTest, aSecondStartHandsItsFilesToTheRunningCopyAndTouchesNothing) {
    // A settings folder short enough for the socket to sit beside the lock, and one too long.
    for (const std::string& nested : {std::string(), "/" + std::string(120, 'n')}) {
        SCOPED_TRACE(nested.size());
        test::TempFolder dir;
        // Both ends find the same runtime folder, the one the long folder's socket goes to.
        ASSERT_TRUE(platform::makeFolder(dir / "runtime").ok());
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir / "runtime"));
        const auto restoreRuntime = qScopeGuard([&] {
            if (runtime.isNull()) {
                qunsetenv("XDG_RUNTIME_DIR");
            } else {
                qputenv("XDG_RUNTIME_DIR", runtime);
            }
        });
        ASSERT_TRUE(platform::makeFolders(dir / "files/sub").ok());
        test::writeFile(dir / "files/sub/a b.txt", "a");
        test::writeFile(dir / "files/c.txt", "c");
        const std::string settings = dir / ("config" + nested + "/vantory");
        ASSERT_TRUE(platform::makeFolders(settings).ok());
        const std::string config = dir / ("config" + nested);
        // A socket left behind by a copy that crashed is taken over.
        test::writeFile(settings + "/vantory.socket", "stale");

        QtUiServices running;
        ASSERT_FALSE(running.previousInstanceRunning(settings));
        ASSERT_NE(running.instanceServer(), nullptr);
        const QString name = running.instanceServer()->name();
        EXPECT_LE(name.toLocal8Bit().size(), 107);
        EXPECT_TRUE(
            name.startsWith(QString::fromStdString(nested.empty() ? settings : dir / "runtime")))
            << name.toStdString();
        std::vector<std::vector<std::string>> received;
        if (nested.empty()) {
            running.instanceServer()->setReceiver(
                [&](const std::vector<std::string>& paths) { received.push_back(paths); });
        }
        const std::set<std::string> before = namesIn(settings);

        QStringList arguments = {"--hide", "sub/a b.txt",
                                 QString::fromStdString(dir / "files/c.txt")};
        if (!nested.empty()) {
            arguments.removeFirst();  // files alone mean the same
        }
        const Finished run = runProgram(config, dir / "runtime", arguments, dir / "files");
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();

        if (!nested.empty()) {
            // Lists that came before anyone took them were kept.
            running.instanceServer()->setReceiver(
                [&](const std::vector<std::string>& paths) { received.push_back(paths); });
        }
        EXPECT_EQ(received, (std::vector<std::vector<std::string>>{
                                {dir / "files/sub/a b.txt", dir / "files/c.txt"}}));
        EXPECT_EQ(namesIn(settings), before) << "the second start wrote nothing there";
        EXPECT_FALSE(platform::pathExists(settings + "/" + kSettingsFileName));
    }
}

TEST(InstanceChannelTest, helpVersionAndBadCommandLinesEndBeforeAnythingIsTouched) {
    test::TempFolder dir;
    test::writeFile(dir / "here.txt", "here");
    struct Case {
        QStringList arguments;
        int exitCode;
        QString output;  // a part of it
    };
    const Case cases[] = {
        {{"--version"}, 0, "Vantory 1.0.128\n"},
        {{"--help"}, 0, "Usage: vantory [--hide] [FILE...]"},
        {{"--frobnicate", "here.txt"}, 2, "vantory: unknown option '--frobnicate'"},
        {{"here.txt", "nowhere.txt"}, 2, "vantory: nowhere.txt: no such file"},
        {{"--hide"}, 2, "--hide needs at least one FILE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Finished run = runProgram(dir / "config", dir.path(), c.arguments, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.output.contains(c.output)) << run.output.toStdString();
        EXPECT_FALSE(platform::pathExists(dir / "config")) << "no settings folder was made";
        EXPECT_EQ(test::readFile(dir / "here.txt"), "here");
    }
}

}  // namespace
}  // namespace vantory
