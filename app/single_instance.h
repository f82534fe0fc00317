#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <vector>

namespace corvex::app {

// What a start asks of the program that already runs: to show itself, or also to open a tool
// window on a file.
struct StartRequest {
    enum class Kind { Show, HexEditor, ChannelEditor };
    Kind kind = Kind::Show;
    QString file;     // absolute, so the running program finds it whatever its own folder
    bool hex = false; // the channel editor's hexadecimal mode

    friend bool operator==(const StartRequest&, const StartRequest&) = default;
};

// One running program per user. The running one listens on a local socket; a second start
// finds it there, hands over its request (show, or open an editor on a file) and ends. The
// socket carries file names, so it lives in a folder nobody else can enter, and each side
// checks the other's user id before it sends or takes a request. A socket file left by a
// crashed run answers nobody and is removed; one that belongs to another user is never trusted
// nor removed.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class HandOver { NoneRunning, Taken, NotTaken };

    /// The socket name: the MD5 digest of `title` as 32 upper-case hex digits, "-", the user id.
    [[nodiscard]] static QString serverName(const QString& title, unsigned uid);
    /// The folder the socket lives in: $XDG_RUNTIME_DIR when it is the user's own and private,
    /// else "corvex-UID" in the temporary folder, made with mode 0700. Empty, with `problem`
    /// set, when that folder exists but is not the user's own private folder.
    [[nodiscard]] static QString socketFolder(QString& problem);

    /// `path`: the socket's full path (socketFolder() + "/" + serverName()), or empty for none.
    explicit SingleInstance(QString path, QObject* parent = nullptr);

    /// Hands the requests to the instance listening on the path. NoneRunning when nobody
    /// answers; Taken once the running instance confirmed each; NotTaken, with `problem` set,
    /// when it answered but did not take them or runs as another user. Works before
    /// QApplication exists.
    [[nodiscard]] HandOver handOver(const std::vector<StartRequest>& requests,
                                    QString& problem) const;
    /// Starts listening; a stale socket file of the user's is removed first. False when another
    /// instance answers on the path or the socket cannot be made (the program still runs,
    /// alone); `problem` says why when it is worth telling.
    bool listen(QString& problem);

    [[nodiscard]] QString path() const { return m_path; }

signals:
    /// Another start handed over a request; it has been answered already.
    void requested(const corvex::app::StartRequest& request);

private:
    void takeConnection();

    QString m_path;
    QLocalServer m_server;
};

} // namespace corvex::app
