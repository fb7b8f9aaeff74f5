#include "ui/instance_channel.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace vantory {

namespace {

// The longest socket path the system takes: its address holds 108 bytes with the closing NUL.
constexpr qsizetype kLongestSocketPath = 107;

// A message: magic, version, then the list of paths as bytes.
constexpr quint32 kMagic = 0x56414e54;  // "VANT"
constexpr quint32 kVersion = 1;
// A list larger than this is not a command line; the connection is dropped.
constexpr qint64 kLongestMessage = 16 * 1024 * 1024;
constexpr char kAccepted = 'k';

// A second start waits this long for the running copy to answer. The copy answers from its
// event loop, which long commands serve every few milliseconds.
constexpr int kAnswerMilliseconds = 30000;
// The running copy listens right after it takes the lock; a start that comes in between
// tries again for this long.
constexpr int kConnectMilliseconds = 5000;

QString encodedName(const QByteArray& path) {
    return QFile::decodeName(path);
}

}  // namespace

QString InstanceChannelName(const std::string& settingsFolder) {
    const QByteArray folder(settingsFolder.data(), static_cast<qsizetype>(settingsFolder.size()));
    const QByteArray beside = folder + "/vantory.socket";
    if (beside.size() <= kLongestSocketPath) {
        return encodedName(beside);
    }
    const QByteArray hash =
        QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24);
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime + QStringLiteral("/vantory-") + QString::fromLatin1(hash) +
           QStringLiteral(".socket");
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::takeConnection);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen(const std::string& settingsFolder) {
    const QString name = InstanceChannelName(settingsFolder);
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
    return server_->errorString();
}

QString InstanceServer::name() const {
    return server_->fullServerName();
}

void InstanceServer::setReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
    std::vector<std::vector<std::string>> kept;
    kept.swap(kept_);
    for (const auto& paths : kept) {
        if (receiver_) {
            receiver_(paths);
        }
    }
}

void InstanceServer::takeConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void InstanceServer::readFrom(QLocalSocket* socket) {
    if (socket->bytesAvailable() > kLongestMessage) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    quint32 version = 0;
    QList<QByteArray> list;
    in >> magic >> version;
    if (in.status() == QDataStream::Ok && (magic != kMagic || version != kVersion)) {
        socket->abort();  // not a start of this program
        return;
    }
    in >> list;
    if (!in.commitTransaction()) {
        return;  // the rest has not arrived yet
    }
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(list.size()));
    for (const QByteArray& path : list) {
        paths.emplace_back(path.constData(), static_cast<size_t>(path.size()));
    }
    socket->write(&kAccepted, 1);
    socket->flush();
    socket->disconnectFromServer();
    if (receiver_) {
        receiver_(paths);
    } else {
        kept_.push_back(std::move(paths));
    }
}

bool HandOverToRunningCopy(const std::string& settingsFolder, const std::vector<std::string>& paths,
                           std::string& error) {
    const QString name = InstanceChannelName(settingsFolder);
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
                    socket.errorString().toStdString() +
                    "); no file was hidden, and the files are where they were.";
            return false;
        }
        socket.abort();
        QThread::msleep(100);
    }

    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    QList<QByteArray> list;
    for (const std::string& path : paths) {
        list.append(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
    }
    out << kMagic << kVersion << list;
    socket.write(message);

    QDeadlineTimer answering(kAnswerMilliseconds);
    while (socket.bytesToWrite() > 0 &&
           socket.waitForBytesWritten(static_cast<int>(answering.remainingTime()))) {
    }
    QByteArray answer;
    if (socket.bytesAvailable() > 0 ||
        socket.waitForReadyRead(static_cast<int>(answering.remainingTime()))) {
        answer = socket.read(1);
    }
    if (answer.size() == 1 && answer[0] == kAccepted) {
        return true;
    }
    error = "Vantory is running, but it did not take the files (" +
            socket.errorString().toStdString() +
            "); no file was hidden, and the files are where they were.";
    return false;
}

}  // namespace vantory
