#include "single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::app {

namespace {

constexpr int kConnectMs = 1000;
// The running program answers from its event loop, which a modal box keeps turning; a program
// that does not answer in this time is stuck, and the second start says so.
constexpr int kAnswerMs = 5000;

const QByteArray kShow = QByteArrayLiteral("SHOW");
const QByteArray kHexEditor = QByteArrayLiteral("HEX-EDITOR");
const QByteArray kChannelEditor = QByteArrayLiteral("CHANNEL-EDITOR");
const QByteArray kTaken = QByteArrayLiteral("TAKEN\n");
const QByteArray kRefused = QByteArrayLiteral("REFUSED\n");

// The user id of the process at the other end of a connected local socket; -1 when unknown.
long peerUid(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
        0) {
        return -1;
    }
    return static_cast<long>(credentials.uid);
}

// One line: the kind, then the fields, each file name in base64 so any byte may be in it.
QByteArray encode(const StartRequest& request) {
    switch (request.kind) {
    case StartRequest::Kind::Show:
        break;
    case StartRequest::Kind::HexEditor:
        return kHexEditor + ' ' + request.file.toUtf8().toBase64() + '\n';
    case StartRequest::Kind::ChannelEditor:
        return kChannelEditor + (request.hex ? " HEX " : " DEC ") +
               request.file.toUtf8().toBase64() + '\n';
    }
    return kShow + '\n';
}

std::optional<StartRequest> decode(QByteArray line) {
    const QList<QByteArray> words = line.trimmed().split(' ');
    const auto file = [](const QByteArray& word) {
        return QString::fromUtf8(QByteArray::fromBase64(word));
    };
    if (words.size() == 1 && words[0] == kShow) {
        return StartRequest{};
    }
    if (words.size() == 2 && words[0] == kHexEditor) {
        return StartRequest{StartRequest::Kind::HexEditor, file(words[1]), false};
    }
    if (words.size() == 3 && words[0] == kChannelEditor &&
        (words[1] == "HEX" || words[1] == "DEC")) {
        return StartRequest{StartRequest::Kind::ChannelEditor, file(words[2]), words[1] == "HEX"};
    }
    return std::nullopt;
}

// The folder is ours and nobody else's: a folder another user made in a shared place could
// hand our requests to a socket of theirs.
bool privateFolder(const QByteArray& path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

QString SingleInstance::serverName(const QString& title, unsigned uid) {
    const QByteArray digest = QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex().toUpper()) + QLatin1Char('-') + QString::number(uid);
}

QString SingleInstance::socketFolder(QString& problem) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && privateFolder(runtime)) {
        return QString::fromLocal8Bit(runtime);
    }
    const QString folder =
        QDir::tempPath() + QStringLiteral("/corvex-") + QString::number(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        problem = QStringLiteral("cannot make %1: %2")
                      .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    if (!privateFolder(path)) {
        problem = QStringLiteral("%1 is not a private folder of this user; a second start "
                                 "cannot reach this one")
                      .arg(folder);
        return {};
    }
    return folder;
}

SingleInstance::SingleInstance(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path)) {
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
}

SingleInstance::HandOver SingleInstance::handOver(const std::vector<StartRequest>& requests,
                                                  QString& problem) const {
    if (m_path.isEmpty()) {
        return HandOver::NoneRunning;
    }
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(kConnectMs)) {
        return HandOver::NoneRunning;
    }
    if (peerUid(socket.socketDescriptor()) != static_cast<long>(::getuid())) {
        problem = QStringLiteral("the program answering on %1 is not this user's; nothing "
                                 "was handed over")
                      .arg(m_path);
        return HandOver::NotTaken;
    }
    for (const StartRequest& request : requests) {
        socket.write(encode(request));
    }
    const QString notTaken =
        QStringLiteral("the running program on %1 did not take the request").arg(m_path);
    if (!socket.waitForBytesWritten(kConnectMs)) {
        problem = notTaken;
        return HandOver::NotTaken;
    }
    for (std::size_t answered = 0; answered < requests.size(); ++answered) {
        while (!socket.canReadLine() && socket.waitForReadyRead(kAnswerMs)) {
        }
        if (!socket.canReadLine() || socket.readLine() != kTaken) {
            problem = notTaken;
            return HandOver::NotTaken;
        }
    }
    socket.disconnectFromServer();
    return HandOver::Taken;
}

bool SingleInstance::listen(QString& problem) {
    if (m_path.isEmpty()) {
        return false;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(m_path);
        if (probe.waitForConnected(kConnectMs)) {
            return false; // another instance, which a second start finds
        }
    }
    // Nobody answers on a socket file that is there: a crashed run left it behind. Only ours is
    // removed; anything else under the name is left and reported.
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0) {
        if (info.st_uid != ::getuid() || !S_ISSOCK(info.st_mode)) {
            problem = QStringLiteral("%1 is not a socket of this user; it is left as it is and "
                                     "a second start cannot reach this one")
                          .arg(m_path);
            return false;
        }
        (void)::unlink(path.constData());
    }
    if (!m_server.listen(m_path)) {
        problem = m_server.errorString();
        return false;
    }
    return true;
}

void SingleInstance::takeConnection() {
    while (QLocalSocket* peer = m_server.nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        if (peerUid(peer->socketDescriptor()) != static_cast<long>(::getuid())) {
            peer->abort(); // another user's start: nothing of theirs is taken
            continue;
        }
        auto readRequests = [this, peer = QPointer<QLocalSocket>(peer)] {
            // A request is one line, answered before it is acted on, so the second start is
            // free to end while the request runs here (it may ask about unsaved work).
            while (peer && peer->canReadLine()) {
                const auto request = decode(peer->readLine());
                peer->write(request ? kTaken : kRefused);
                peer->flush();
                if (request) {
                    QTimer::singleShot(0, this,
                                       [this, request = *request] { emit requested(request); });
                }
            }
        };
        connect(peer, &QLocalSocket::readyRead, this, readRequests);
        readRequests(); // what arrived with the connection
    }
}

} // namespace corvex::app
