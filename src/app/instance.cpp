#include "app/instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QByteArray kGreeting = "NARRABEL-OPEN 1\n";
const QByteArray kTaken = "OK\n";
// A request is the greeting and a few percent-encoded lines: anything longer is none.
constexpr qint64 kMaxRequestBytes = 64 * 1024;
constexpr int kMaxArgs = 3;
const char* const kBuffer = "request";

QByteArray Encode(const QStringList& args) {
    QByteArray out = kGreeting;
    for (const QString& a : args.mid(0, kMaxArgs))
        out += QUrl::toPercentEncoding(a) + '\n';
    return out + '\n';
}

// The arguments of a whole request; nothing while it is incomplete; an empty
// list with ok false when it is no request.
QStringList Decode(const QByteArray& data, bool* complete, bool* ok) {
    *complete = false;
    *ok = true;
    if (!data.startsWith(kGreeting)) {
        *ok = data.size() < kGreeting.size() && kGreeting.startsWith(data);
        return {};
    }
    const QList<QByteArray> lines = data.mid(kGreeting.size()).split('\n');
    QStringList args;
    // The lines before the empty one that ends the request (the last piece
    // is what follows the last line end).
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].isEmpty()) {
            *complete = true;
            return args;
        }
        if (args.size() == kMaxArgs) break;
        args << QUrl::fromPercentEncoding(lines[i]);
    }
    if (args.size() == kMaxArgs && lines.size() > kMaxArgs + 1 && !lines[kMaxArgs].isEmpty())
        *ok = false;
    return {};
}

} // namespace

TInstanceServer::TInstanceServer(QObject* parent) : QObject(parent) {}

TInstanceServer::~TInstanceServer() {
    if (server) server->close(); // removes the socket
}

QString TInstanceServer::SocketPath(const QString& dataFolder) {
    const QString canonical = QFileInfo(dataFolder).canonicalFilePath();
    if (canonical.isEmpty()) return {};
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(canonical), QCryptographicHash::Sha1).toHex();
    return runtime + QStringLiteral("/narrabel-") + QString::fromLatin1(hash.left(16));
}

bool TInstanceServer::Listen(const QString& dataFolder) {
    const QString path = SocketPath(dataFolder);
    if (path.isEmpty()) return false;
    delete server;
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        // Left by a program that ended without closing it (this one holds the
        // folder's lock, so none is running there).
        QLocalServer::removeServer(path);
        if (!server->listen(path)) return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            readFrom(socket);
        }
    });
    return true;
}

void TInstanceServer::readFrom(QLocalSocket* socket) {
    QByteArray data = socket->property(kBuffer).toByteArray();
    data += socket->read(kMaxRequestBytes + 1 - data.size());
    bool complete = false, ok = true;
    const QStringList args = Decode(data, &complete, &ok);
    if (!ok || (!complete && data.size() > kMaxRequestBytes)) {
        socket->abort();
        return;
    }
    if (!complete) {
        socket->setProperty(kBuffer, data);
        return;
    }
    socket->setProperty(kBuffer, QByteArray());
    socket->write(kTaken);
    socket->flush();
    socket->disconnectFromServer();
    emit Requested(args);
}

bool HandOver(const QString& dataFolder, const QStringList& args, int timeoutMs) {
    const QString path = TInstanceServer::SocketPath(dataFolder);
    if (path.isEmpty() || !QFileInfo::exists(path)) return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(Encode(args));
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    QByteArray reply;
    while (reply.size() < kTaken.size() && socket.waitForReadyRead(timeoutMs))
        reply += socket.read(kTaken.size() - reply.size());
    return reply == kTaken;
}
