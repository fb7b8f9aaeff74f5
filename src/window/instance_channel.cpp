#include "window/instance_channel.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace vantory {

namespace {

// The longest socket path the system takes: its address holds 108 bytes with the closing NUL.
constexpr qsizetype kLongestSocketPath = 107;

// A message: magic, version and the length of the rest (big-endian 32, 32 and 64 bits), then
// the number of paths and each path as its length (32 bits) and its bytes.
constexpr quint32 kMagic = 0x56414e54;  // "VANT"
constexpr quint32 kVersion = 2;
constexpr qsizetype kHeaderSize = 16;
// The running copy answers kWhole once it has read a whole message; the start then says
// kTake. A start that gave up before the answer never says it, and the copy takes nothing.
constexpr char kWhole = 'k';
constexpr char kTake = 't';

// A second start waits this long for the running copy to answer. The copy answers from its
// event loop, which long commands serve every few milliseconds.
constexpr int kAnswerMilliseconds = 30000;
// The running copy listens right after it takes the lock; a start that comes in between
// tries again for this long.
constexpr int kConnectMilliseconds = 5000;

constexpr const char* kNothingHidden = "; no file was hidden, and the files are where they were.";

void append32(QByteArray& bytes, quint32 value) {
    const quint32 big = qToBigEndian(value);
    bytes.append(reinterpret_cast<const char*>(&big), sizeof big);
}

quint32 read32(const char* at) {
    return qFromBigEndian<quint32>(at);
}

// The paths of a whole message's body, or false when it is not one.
bool parseBody(const char* at, qsizetype size, std::vector<std::string>& paths) {
    if (size < 4) {
        return false;
    }
    const quint32 count = read32(at);
    qsizetype offset = 4;
    if (count > static_cast<quint64>(size - offset) / 4) {
        return false;  // more paths than the body could hold lengths for
    }
    paths.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        if (size - offset < 4) {
            return false;
        }
        const quint32 length = read32(at + offset);
        offset += 4;
        if (length > static_cast<quint64>(size - offset)) {
            return false;
        }
        paths.emplace_back(at + offset, length);
        offset += length;
    }
    return offset == size;
}

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

QByteArray HandOverMessage(const std::vector<std::string>& paths) {
    QByteArray body;
    qsizetype size = 4;
    for (const std::string& path : paths) {
        size += 4 + static_cast<qsizetype>(path.size());
    }
    body.reserve(kHeaderSize + size);
    append32(body, kMagic);
    append32(body, kVersion);
    append32(body, static_cast<quint32>(static_cast<quint64>(size) >> 32));
    append32(body, static_cast<quint32>(size));
    append32(body, static_cast<quint32>(paths.size()));
    for (const std::string& path : paths) {
        append32(body, static_cast<quint32>(path.size()));
        body.append(path.data(), static_cast<qsizetype>(path.size()));
    }
    return body;
}

// What has come of one connection so far.
struct InstanceServer::Incoming {
    QByteArray bytes;
    qint64 length = -1;  // of the message, once its header is in
    std::vector<std::string> paths;
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
        if (word == QByteArray(1, kTake)) {
            deliver(std::move(incoming.paths));
        }
        return;
    }
    if (incoming.length < 0) {
        incoming.bytes += socket->read(kHeaderSize - incoming.bytes.size());
        if (incoming.bytes.size() < kHeaderSize) {
            return;
        }
        const char* header = incoming.bytes.constData();
        const quint64 length =
            (static_cast<quint64>(read32(header + 8)) << 32) | read32(header + 12);
        if (read32(header) != kMagic || read32(header + 4) != kVersion ||
            length > static_cast<quint64>(kLongestHandOver)) {
            socket->abort();  // not a start of this program, or more than a command line
            return;
        }
        incoming.length = static_cast<qint64>(length);
        incoming.bytes.clear();
        incoming.bytes.reserve(incoming.length);
    }
    incoming.bytes += socket->read(incoming.length - incoming.bytes.size());
    if (incoming.bytes.size() < incoming.length) {
        return;  // the rest has not arrived yet
    }
    const bool whole = parseBody(incoming.bytes.constData(), incoming.bytes.size(), incoming.paths);
    incoming.bytes = QByteArray();
    if (!whole || socket->bytesAvailable() > 0) {
        socket->abort();
        return;
    }
    incoming.answered = true;
    socket->write(&kWhole, 1);
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
    const QByteArray message = HandOverMessage(paths);
    if (message.size() - kHeaderSize > kLongestHandOver) {
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
    if (answer == QByteArray(1, kWhole)) {
        // From this word on, the files are the running copy's to hide.
        socket.write(&kTake, 1);
        if (sent()) {
            return true;
        }
    }
    error = "Vantory is running, but it did not take the files (" +
            socket.errorString().toStdString() + ")" + kNothingHidden;
    return false;
}

int EndStoppedStart(StartOutcome outcome, const std::string& settingsFolder,
                    const std::vector<std::string>& files, UiServices& ui) {
    if (outcome != StartOutcome::kAnotherInstance) {
        if (!files.empty()) {
            std::fprintf(stderr, outcome == StartOutcome::kStorageInUse
                                     ? "vantory: the storage folder is in use, so no file was hidden\n"
                                     : "vantory: the settings cannot be used, so no file was hidden\n");
        }
        return 1;
    }
    if (files.empty()) {
        return 0;
    }
    std::string problem;
    if (HandOverToRunningCopy(settingsFolder, files, problem)) {
        return 0;
    }
    std::fprintf(stderr, "vantory: %s\n", problem.c_str());
    ui.messageBox(problem, UiServices::kExclamation, "Hide with Vantory");
    return 1;
}

}  // namespace vantory
