#include "app/single_instance.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

// Without XDG_RUNTIME_DIR the socket lives in a private folder under TMPDIR.
QString socketIn(const QTemporaryDir& dir) {
    return dir.filePath(
        QStringLiteral("corvex-%1/").arg(::getuid()) +
        corvex::app::SingleInstance::serverName(QStringLiteral("Corvex V4.00C"), ::getuid()));
}

} // namespace

// The program itself, as a user starts it. Its own test program: the processes it forks would
// leave threads behind that the thread checker forbids in later forks of the other tests.
class AppProcess : public QObject {
    Q_OBJECT

private slots:
    // The real program twice, in a folder of its own: the second start hands its file to the
    // first and ends with 0 (it once ended so and the file was never opened).
    void theSecondStartHandsItsFileToTheFirst() {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("corvex"));
        QVERIFY(QFile::copy(QStringLiteral(CORVEX_PROGRAM), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), dir.path());
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QStringList arguments{QStringLiteral("--port"), QStringLiteral("sim"),
                                    QStringLiteral("--sim-dir"), dir.filePath("receiver")};
        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(program, arguments);
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socketIn(dir)), 60000);

        QFile image(dir.filePath(QStringLiteral("image.bin")));
        QVERIFY(image.open(QIODevice::WriteOnly));
        const QByteArray bytes(3000, 'Q');
        image.write(bytes);
        image.close();
        QProcess second;
        second.setProcessEnvironment(environment);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.setWorkingDirectory(dir.path());
        second.start(program, arguments + QStringList{QStringLiteral("--hex-editor"),
                                                      QStringLiteral("image.bin")});
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        // The running program's editor made its working copy of the file.
        QFile work(dir.filePath(QStringLiteral("corvex.TBF")));
        QTRY_VERIFY_WITH_TIMEOUT(work.exists() && work.size() == bytes.size(), 20000);

        first.terminate(); // how SIGTERM closes it is keyboard_e2e.sh's
        QVERIFY(first.waitForFinished(60000));
    }
};

QTEST_MAIN(AppProcess)
#include "app_process_test.moc"
