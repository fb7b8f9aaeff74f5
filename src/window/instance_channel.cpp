#include "window/instance_channel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <memory>

#include "platform/platform.h"
#include "session/hand_over.h"

namespace vantory {

namespace {

// The longest socket path the system takes: its address holds 108 bytes with the closing NUL.
constexpr qsizetype kLongestSocketPath = 107;

// A second start waits this long for the running copy to answer. The copy answers from its
// event loop, which long commands serve every few milliseconds.
constexpr int kAnswerMilliseconds = 30000;
// The running copy listens right after it takes the lock; a start that comes in between
// tries again for this long.
constexpr int kConnectMilliseconds = 5000;

constexpr const char* kNothingHidden = "; no file was hidden, and the files are where they were.";

}  // namespace

QString InstanceChannelName(const std::string& settingsFolder, std::string* why) {
    const QByteArray folder(settingsFolder.data(), static_cast<qsizetype>(settingsFolder.size()));
    const QByteArray beside = folder + "/vantory.socket";
    if (beside.size() <= kLongestSocketPath) {
        return QFile::decodeName(beside);
    }
    // Anyone who could make a socket under this name could take the files handed over, and
    // learn their names: only a folder of the user's alone will do.
    std::string problem;
    const std::optional<std::string> runtime = platform::privateRuntimeFolder(&problem);
    if (!runtime) {
        if (why != nullptr) {
            *why = "no private folder for its socket (" + problem + ")";
        }
        return {};
    }
    const QByteArray hash =
        QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24);
    const QByteArray name = QByteArray::fromStdString(*runtime) + "/vantory-" + hash + ".socket";
    if (name.size() > kLongestSocketPath) {
        if (why != nullptr) {
            *why = "the name of its socket, " + name.toStdString() + ", is too long";
        }
        return {};
    }
    return QFile::decodeName(name);
}

// What has come of one connection so far.
struct InstanceServer::Incoming {
    HandOverReader message;
    bool answered = false;
};

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::takeConnection);
    // The socket is the user's alone wherever it is made.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen(const std::string& settingsFolder) {
    std::string why;
    const QString name = InstanceChannelName(settingsFolder, &why);
    if (name.isEmpty()) {
        error_ = QString::fromStdString(why);
        return false;
    }
    error_.clear();
    if (server_->listen(name)) {
        return true;
    }
    if (server_->serverError() != QAbstractSocket::AddressInUseError) {
        return false;
    }
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

QString InstanceServer::errorString() const {
    return error_.isEmpty() ? server_->errorString() : error_;
}

QString InstanceServer::name() const {
    return server_->fullServerName();
}

void InstanceServer::setReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
    std::vector<std::vector<std::string>> kept;
    kept.swap(kept_);
    for (auto& paths : kept) {
        deliver(std::move(paths));
    }
}

void InstanceServer::deliver(std::vector<std::string> paths) {
    if (receiver_) {
        receiver_(paths);
    } else {
        kept_.push_back(std::move(paths));
    }
}

void InstanceServer::takeConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto incoming = std::make_shared<Incoming>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket, incoming] { readFrom(socket, *incoming); });
        readFrom(socket, *incoming);
    }
}

// Collects the message as it comes; it is read once, when it is whole.
void InstanceServer::readFrom(QLocalSocket* socket, Incoming& incoming) {
    if (socket->state() != QLocalSocket::ConnectedState) {
        return;
    }
    if (incoming.answered) {
        const QByteArray word = socket->read(2);
        if (word.isEmpty()) {
            return;
        }
        socket->abort();
        if (word == QByteArray(1, HandOver::kTake)) {
            deliver(std::move(incoming.message.paths()));
        }
        return;
    }
    while (incoming.message.state() == HandOverReader::State::kMore) {
        const QByteArray piece = socket->read(static_cast<qint64>(incoming.message.wanted()));
        if (piece.isEmpty()) {
            return;  // the rest has not arrived yet
        }
        incoming.message.take(std::string_view(piece.constData(), piece.size()));
    }
    // Not a start of this program, more than a command line, or more than one message.
    if (incoming.message.state() == HandOverReader::State::kRefused ||
        socket->bytesAvailable() > 0) {
        socket->abort();
        return;
    }
    incoming.answered = true;
    socket->write(&HandOver::kWhole, 1);
    socket->flush();
}

bool HandOverToRunningCopy(const std::string& settingsFolder, const std::vector<std::string>& paths,
                           std::string& error) {
    std::string why;
    const QString name = InstanceChannelName(settingsFolder, &why);
    if (name.isEmpty()) {
        error = "Vantory is running, but files cannot be handed to it: " + why + kNothingHidden;
        return false;
    }
    const QByteArray message = QByteArray::fromStdString(HandOver::message(paths));
    if (static_cast<uint64_t>(message.size()) - HandOver::kHeaderSize > HandOver::kLongest) {
        error = "Vantory is running, but the " + std::to_string(paths.size()) +
                " files named are too many to hand to it at once" + kNothingHidden;
        return false;
    }
    QLocalSocket socket;
    QDeadlineTimer connecting(kConnectMilliseconds);
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(1000)) {
            break;
        }
        if (connecting.hasExpired()) {
            error = "Vantory is running, but it does not answer at " +
                    QFile::encodeName(name).toStdString() + " (" +
                    socket.errorString().toStdString() + ")" + kNothingHidden;
            return false;
        }
        socket.abort();
        QThread::msleep(100);
    }

    QDeadlineTimer answering(kAnswerMilliseconds);
    // Whether everything written has left, however soon the write went out.
    const auto sent = [&socket, &answering] {
        while (socket.bytesToWrite() > 0 &&
               socket.waitForBytesWritten(static_cast<int>(answering.remainingTime()))) {
        }
        return socket.bytesToWrite() == 0;
    };
    socket.write(message);
    (void)sent();
    QByteArray answer;
    if (socket.bytesAvailable() > 0 ||
        socket.waitForReadyRead(static_cast<int>(answering.remainingTime()))) {
        answer = socket.read(1);
    }
    if (answer == QByteArray(1, HandOver::kWhole)) {
        // From this word on, the files are the running copy's to hide.
        socket.write(&HandOver::kTake, 1);
        if (sent()) {
            return true;
        }
    }
    error = "Vantory is running, but it did not take the files (" +
            socket.errorString().toStdString() + ")" + kNothingHidden;
    return false;
}

}  // namespace vantory
