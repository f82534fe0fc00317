#include "app/single_instance.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

// The program itself, as a user starts it. Its own test program: the processes it forks would
// leave threads behind that the thread checker forbids in later forks of the other tests.
class AppProcess : public QObject {
    Q_OBJECT

private slots:
    // The real program twice, in a folder of its own (its settings, log book and socket land
    // there): the second start ends at once with 0, and SIGTERM closes the first as Exit does.
    void theProgramRunsOnceAndClosesOnSigterm() {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("corvex"));
        QVERIFY(QFile::copy(QStringLiteral(CORVEX_PROGRAM), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), dir.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QStringList arguments{QStringLiteral("--port"), QStringLiteral("sim"),
                                    QStringLiteral("--sim-dir"), dir.filePath("receiver")};
        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(program, arguments);
        QVERIFY(first.waitForStarted());
        const QString socket = dir.filePath(
            corvex::app::SingleInstance::serverName(QStringLiteral("Corvex V4.00C"), ::getuid()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 60000);

        QProcess second;
        second.setProcessEnvironment(environment);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(program, arguments);
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        QCOMPARE(::kill(static_cast<pid_t>(first.processId()), SIGTERM), 0);
        QVERIFY(first.waitForFinished(60000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(QFile::exists(dir.filePath("corvex.INI")));
        QFile log(dir.filePath("corvex.LOG"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("CORVEX GUARD RUNNING"));
    }
};

QTEST_MAIN(AppProcess)
#include "app_process_test.moc"
