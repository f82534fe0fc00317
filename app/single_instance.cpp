#include "single_instance.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace corvex::app {

namespace {

constexpr int kConnectMs = 1000;
const QByteArray kShowRequest = QByteArrayLiteral("SHOW\n");

} // namespace

QString SingleInstance::serverName(const QString& title, unsigned uid) {
    const QByteArray digest = QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex().toUpper()) + QLatin1Char('-') + QString::number(uid);
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)) {
    // Only this user may connect: another user's start must not raise our window.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
}

bool SingleInstance::askRunningToShow() const {
    return reachRunning(true);
}

bool SingleInstance::listen() {
    // Asked before listening: with access options the server binds elsewhere and renames its
    // socket over the name, which would silently take it from a running instance.
    if (reachRunning(false)) {
        return false;
    }
    // Nobody answers on a socket file that is there: a crashed run left it behind.
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name);
}

bool SingleInstance::reachRunning(bool askToShow) const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kConnectMs)) {
        return false;
    }
    if (askToShow) {
        socket.write(kShowRequest);
        socket.waitForBytesWritten(kConnectMs);
    }
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::takeConnection() {
    while (QLocalSocket* peer = m_server.nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        auto readRequests = [this, peer] {
            // A request is one line; anything else on the socket is ignored.
            while (peer->canReadLine()) {
                if (peer->readLine() == kShowRequest) {
                    emit showRequested();
                }
            }
        };
        connect(peer, &QLocalSocket::readyRead, this, readRequests);
        readRequests(); // what arrived with the connection
    }
}

} // namespace corvex::app
