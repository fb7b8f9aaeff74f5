// A second start of the program hands its files to this process, which holds the lock.
#include "window/instance_channel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <set>

#include "session/hand_over.h"
#include "session/stopped_start.h"
#include "store/settings_file.h"
#include "support/fake_ui_services.h"
#include "support/temp_folder.h"
#include "window/qt_ui_services.h"

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

// Sets an environment variable for the life of the object (both ends of the channel read it).
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name), old_(qgetenv(name)) {
        qputenv(name, QByteArray::fromStdString(value));
    }
    ~ScopedVariable() { old_.isNull() ? qunsetenv(name_) : qputenv(name_, old_); }

  private:
    const char* name_;
    QByteArray old_;
};

const std::string kLongFolder = "/" + std::string(120, 'n');  // too long for a socket beside it

TEST(InstanceChannelTest, aSecondStartHandsItsFilesToTheRunningCopyAndTouchesNothing) {
    // A settings folder short enough for the socket to sit beside the lock, and one too long.
    for (const std::string& nested : {std::string(), kLongFolder}) {
        SCOPED_TRACE(nested.size());
        test::TempFolder dir;
        ASSERT_TRUE(platform::makeFolder(dir / "runtime").ok());
        const ScopedVariable runtime("XDG_RUNTIME_DIR", dir / "runtime");
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
            runProgram(config, {"--hide", "sub/a b.txt", "./sub/../sub//a b.txt"}, dir / "files");
        EXPECT_EQ(exitCode, 0) << output.toStdString();
        // Lists that came before anyone took them were kept.
        std::vector<std::vector<std::string>> received;
        running.instanceServer()->setReceiver(
            [&](const std::vector<std::string>& paths) { received.push_back(paths); });
        (void)QTest::qWaitFor([&] { return !received.empty(); }, 5000);
        const std::string a = dir / "files/sub/a b.txt";
        EXPECT_EQ(received, (std::vector<std::vector<std::string>>{{a, a}}));
        EXPECT_EQ(test::namesIn(settings), before) << "the second start wrote nothing there";
        EXPECT_FALSE(platform::pathExists(settings + "/" + kSettingsFileName));
    }
}

// Without a folder of the user's alone for the socket, hand-over is off at both ends, and a
// second start says why. The socket is made only in one: the runtime folder, else a folder
// of ours in the temporary folder.
TEST(InstanceChannelTest, theSocketIsMadeOnlyInAPrivateFolder) {
    test::TempFolder dir;
    ASSERT_TRUE(platform::makeFolder(dir / "open").ok());
    ::chmod((dir / "open").c_str(), 0755);
    const std::string settings = dir / ("config" + kLongFolder + "/vantory");
    ASSERT_TRUE(platform::makeFolders(settings).ok() && platform::makeFolder(dir / "tmp").ok());
    const ScopedVariable runtime("XDG_RUNTIME_DIR", dir / "open");
    const ScopedVariable temporary("TMPDIR", dir / "tmp");
    // Where the socket is made, or why it is not.
    const auto madeIn = [&] {
        InstanceServer server;
        std::string why;
        const std::string name = InstanceChannelName(settings, &why).toStdString();
        EXPECT_EQ(server.listen(settings), !name.empty()) << server.errorString().toStdString();
        return name.empty() ? why : platform::parentFolder(name);
    };
    const std::string own = dir / ("tmp/vantory-" + std::to_string(::geteuid()));
    EXPECT_EQ(madeIn(), own);  // made
    EXPECT_EQ(madeIn(), own);  // found
    ::chmod(own.c_str(), 0755);
    EXPECT_NE(madeIn().find(own + " is open to other users"), std::string::npos);
    std::filesystem::remove_all(own);
    std::filesystem::create_directory_symlink(dir / "tmp", own);
    EXPECT_NE(madeIn().find(own + " is not a folder"), std::string::npos);
    std::string error;
    EXPECT_FALSE(HandOverToRunningCopy(settings, {"/a"}, error));
    EXPECT_TRUE(
        error.starts_with("Vantory is running, but files cannot be handed to it: no "
                          "private folder for its socket ("))
        << error;
    EXPECT_TRUE(test::namesIn(dir / "open").empty());
    ASSERT_TRUE(platform::makeFolder(dir / "runtime").ok());
    const ScopedVariable privateRuntime("XDG_RUNTIME_DIR", dir / "runtime");
    EXPECT_EQ(madeIn(), dir / "runtime");
}

// The running copy takes a list of 100,000 paths that arrives in small pieces, each read
// before the next comes, and answers before a start would give up. What is not a whole
// message of a start is refused as soon as that is known (a header claiming more than a
// command line, before the rest is sent), and a start that gives up before saying "take" has
// handed over nothing. A start refuses a list too long itself.
TEST(InstanceChannelTest, theRunningCopyTakesOnlyWholeListsThatTheStartStillHandsOver) {
    test::TempFolder dir;
    const std::string settings = dir / "settings";
    ASSERT_TRUE(platform::makeFolder(settings).ok());
    InstanceServer server;
    ASSERT_TRUE(server.listen(settings));
    using Lists = std::vector<std::vector<std::string>>;
    Lists received;
    server.setReceiver([&](const std::vector<std::string>& paths) { received.push_back(paths); });
    std::string error;
    EXPECT_FALSE(HandOverToRunningCopy(settings, {std::string(HandOver::kLongest, 'x')}, error));
    EXPECT_NE(error.find("too many to hand to it at once"), std::string::npos) << error;

    // Under AddressSanitizer every piece costs many times more: the flood is smaller there,
    // and the speed it stands for is the plain build's to show.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kFloodPaths = 10000;
#else
    constexpr int kFloodPaths = 100000;
#endif
    std::vector<std::string> flood;
    for (int i = 0; i < kFloodPaths; ++i) {
        flood.push_back(dir / ("files/" + std::to_string(i) + " with a space.txt"));
    }
    const QByteArray whole = QByteArray::fromStdString(HandOver::message({"/a"}));
    QByteArray tooLong = whole.left(16);
    tooLong[11] = 1;  // 2^32 + 8 bytes to follow
    QByteArray countTooLarge = whole;
    countTooLarge[19] = 2;
    struct Case {
        const char* name;
        QByteArray sent;
        bool answered;
        std::vector<std::string> taken;  // "take" is said after the answer when not empty
    };
    const Case cases[] = {
        {"a flood of paths", QByteArray::fromStdString(HandOver::message(flood)), true, flood},
        {"a header claiming too much", tooLong, false, {}},
        {"more paths than the body holds", countTooLarge, false, {}},
        {"the answer not taken up", whole, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QLocalSocket socket;
        socket.connectToServer(server.name());
        ASSERT_TRUE(socket.waitForConnected(5000));
        QDeadlineTimer startGivesUp(30000);
        for (qsizetype at = 0; at < c.sent.size() && !startGivesUp.hasExpired(); at += 512) {
            socket.write(c.sent.mid(at, 512));
            socket.flush();
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return socket.bytesAvailable() > 0 ||
                       socket.state() != QLocalSocket::ConnectedState;
            },
            static_cast<int>(startGivesUp.remainingTime())));
        EXPECT_EQ(socket.readAll(), c.answered ? QByteArray("k") : QByteArray());
        socket.write(c.taken.empty() ? "" : "t");
        socket.disconnectFromServer();
        (void)QTest::qWaitFor([&] { return !received.empty(); }, c.taken.empty() ? 100 : 5000);
        EXPECT_TRUE(received == (c.taken.empty() ? Lists{} : Lists{c.taken})) << received.size();
        received.clear();
    }
}

// A start that cannot use its settings has said why, and hands its files to no one: no other
// copy runs, and the channel it would reach is its own.
TEST(InstanceChannelTest, aStartThatCannotUseItsSettingsHandsItsFilesToNoOne) {
    test::TempFolder dir;
    const std::string settings = dir.useAsConfigHome();
    ASSERT_TRUE(platform::makeFolders(settings).ok());
    test::writeFile(settings + "/" + kSettingsFileName, "damaged\r\n");
    test::FakeUiServices ui;
    ProgramState state;
    const StartOutcome outcome = PrepareStart(state, ui);
    const auto handOver = [&state](const std::vector<std::string>& files, std::string& error) {
        return HandOverToRunningCopy(state.strSystemDir, files, error);
    };
    EXPECT_EQ(FinishStoppedStart(outcome, {dir / "a.txt"}, ui, handOver), 1);
    EXPECT_EQ(ui.messages.size(), 1u) << "only what is wrong with the settings";
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
