#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace corvex::app {

// One running program per user. The running one listens on a local socket named after its
// title; a second start finds it there, asks it to show itself and ends. A socket file left by
// a crashed run answers nobody and is removed, so it never keeps the program from starting.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    /// The socket name: the MD5 digest of `title` as 32 upper-case hex digits, "-", the user id.
    /// The user id keeps two users on one machine from finding each other's program.
    [[nodiscard]] static QString serverName(const QString& title, unsigned uid);

    explicit SingleInstance(QString name, QObject* parent = nullptr);

    /// When another instance listens under the name: asks it to show itself and returns true.
    /// Works before QApplication exists, so a second start opens nothing else.
    [[nodiscard]] bool askRunningToShow() const;
    /// Starts listening; a stale socket file is removed first. False when another instance
    /// answers on the name or the socket cannot be made (the program still runs, alone).
    bool listen();

    [[nodiscard]] QString name() const { return m_name; }

signals:
    /// Another start asked this instance to show its window.
    void showRequested();

private:
    void takeConnection();
    [[nodiscard]] bool reachRunning(bool askToShow) const;

    QString m_name;
    QLocalServer m_server;
};

} // namespace corvex::app
