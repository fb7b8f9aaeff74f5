#pragma once

// The channel through which a second start of Vantory hands the files named on its command
// line to the copy already running: a local socket beside the single-instance lock.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace vantory {

// The socket of the copy whose settings live in `settingsFolder`: "vantory.socket" in that
// folder, or, when that path is too long for a socket's address (about 107 bytes), a name
// made from a hash of the folder in the user's private runtime folder. Empty, with the reason
// in `why`, when there is no such folder (or its name is too long too): hand-over is off then.
QString InstanceChannelName(const std::string& settingsFolder, std::string* why = nullptr);

// The running copy's end: takes whole lists of paths from any number of later starts and
// answers each once it has it. Lists that arrive before anyone receives them are kept.
class InstanceServer : public QObject {
  public:
    using Receiver = std::function<void(const std::vector<std::string>& paths)>;

    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens for the copy holding the lock in `settingsFolder`. A socket left by a copy that
    // ended without removing it is replaced: holding the lock, this copy is the only one that
    // can own the name. False, with errorString(), when the socket cannot be made.
    bool listen(const std::string& settingsFolder);
    QString errorString() const;
    QString name() const;

    // Who gets the lists from now on; the lists kept so far are handed over at once.
    void setReceiver(Receiver receiver);

  private:
    struct Incoming;
    void takeConnection();
    void readFrom(QLocalSocket* socket, Incoming& incoming);
    void deliver(std::vector<std::string> paths);

    QLocalServer* server_;
    QString error_;
    Receiver receiver_;
    std::vector<std::vector<std::string>> kept_;
};

// Hands `paths` to the copy running for `settingsFolder` and waits for its answer. False,
// with `error` saying what happened, when no copy answers within a few seconds; the running
// copy then takes none of them.
bool HandOverToRunningCopy(const std::string& settingsFolder, const std::vector<std::string>& paths,
                           std::string& error);

}  // namespace vantory
