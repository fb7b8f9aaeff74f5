// A second start of the program hands its files to this process, which holds the lock.
#include "ui/instance_channel.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <filesystem>
#include <set>

#include "store/settings_file.h"
#include "support/temp_folder.h"
#include "ui/qt_ui_services.h"

namespace vantory {
namespace {

// The program's exit code and output, started with `arguments` in `folder`.
std::pair<int, QString> runProgram(const std::string& configHome, const QStringList& arguments,
                                   const std::string& folder) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // fontconfig leaks its configuration under a long XDG_CONFIG_HOME; not ours to fix.
    static const test::TempFolder tools;
    test::writeFile(tools / "lsan.supp", "leak:libfontconfig.so\n");
    environment.insert("LSAN_OPTIONS",
                       QString::fromStdString("suppressions=" + tools / "lsan.supp"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(QString::fromStdString(folder));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(VANTORY_PROGRAM), arguments);
    // This loop serves the channel while the program waits.
    if (!QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000)) {
        program.kill();
        program.waitForFinished();
    }
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromLocal8Bit(program.readAll())};
}

TEST(InstanceChannelTest, aSecondStartHandsItsFilesToTheRunningCopyAndTouchesNothing) {
    // A settings folder short enough for the socket to sit beside the lock, and one too long.
    for (const std::string& nested : {std::string(), "/" + std::string(120, 'n')}) {
        SCOPED_TRACE(nested.size());
        test::TempFolder dir;
        ASSERT_TRUE(platform::makeFolder(dir / "runtime").ok());
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir / "runtime"));  // both ends
        const auto restore = qScopeGuard([&] {
            runtime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", runtime);
        });
        ASSERT_TRUE(platform::makeFolders(dir / "files/sub").ok());
        test::writeFile(dir / "files/sub/a b.txt", "a");
        const std::string config = dir / ("config" + nested);
        const std::string settings = config + "/vantory";
        ASSERT_TRUE(platform::makeFolders(settings).ok());
        test::writeFile(settings + "/vantory.socket", "left by a copy that crashed");

        QtUiServices running;
        ASSERT_FALSE(running.previousInstanceRunning(settings));
        ASSERT_NE(running.instanceServer(), nullptr);
        const QString name = running.instanceServer()->name();
        EXPECT_LE(name.toLocal8Bit().size(), 107);
        EXPECT_TRUE(
            name.startsWith(QString::fromStdString(nested.empty() ? settings : dir / "runtime")));
        const std::set<std::string> before = test::namesIn(settings);

        const auto [exitCode, output] =
            runProgram(config, {"--hide", "sub/a b.txt", "sub/a b.txt"}, dir / "files");
        EXPECT_EQ(exitCode, 0) << output.toStdString();
        // Lists that came before anyone took them were kept.
        std::vector<std::vector<std::string>> received;
        running.instanceServer()->setReceiver(
            [&](const std::vector<std::string>& paths) { received.push_back(paths); });
        const std::string a = dir / "files/sub/a b.txt";
        EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{a, a}}));
        EXPECT_EQ(test::namesIn(settings), before) << "the second start wrote nothing there";
        EXPECT_FALSE(platform::pathExists(settings + "/" + kSettingsFileName));
    }
}

TEST(InstanceChannelTest, badCommandLinesEndBeforeAnythingIsTouched) {
    test::TempFolder dir;
    const auto [exitCode, output] = runProgram(dir / "config", {"--frobnicate"}, dir.path());
    EXPECT_EQ(exitCode, 2);
    EXPECT_TRUE(output.startsWith("vantory: unknown option '--frobnicate'"))
        << output.toStdString();
    EXPECT_FALSE(platform::pathExists(dir / "config")) << "no settings folder was made";
    EXPECT_EQ(runProgram(dir / "config", {"--version"}, dir.path()).second, "Vantory 1.0.128\n");
}

}  // namespace
}  // namespace vantory
