#pragma once
// One program per data folder. The program that holds the data folder's lock
// listens on a local socket in the user's runtime folder, named after the
// folder's canonical path, so that it is found with or without a session bus;
// a second start on the same folder hands its command line over there (the
// running program plays its file) and ends.

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

class TInstanceServer : public QObject {
    Q_OBJECT
public:
    explicit TInstanceServer(QObject* parent = nullptr);
    ~TInstanceServer() override;
    // Listens for a data folder this program holds the lock of (a socket left
    // by a program that was killed is replaced). False when it cannot.
    bool Listen(const QString& dataFolder);
    // The socket's path for a data folder; empty when the folder does not exist.
    static QString SocketPath(const QString& dataFolder);

signals:
    // A second start's command line: file (absolute), seek point, seconds.
    void Requested(const QStringList& args);

private:
    void readFrom(QLocalSocket* socket);
    QLocalServer* server = nullptr;
};

// Hands args to the program running on dataFolder. True when it took them.
bool HandOver(const QString& dataFolder, const QStringList& args, int timeoutMs = 5000);
