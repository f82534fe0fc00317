#include "app/about_box.h"
#include "app/app_options.h"
#include "app/help_page.h"
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using corvex::app::SingleInstance;
using corvex::app::StartRequest;

void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// A second start as its own process makes it: handOver() waits for the answer, which the first
// gives from its event loop, here the test's.
SingleInstance::HandOver handOverFromAnotherThread(const QString& path,
                                                   const std::vector<StartRequest>& requests,
                                                   QString& problem) {
    std::atomic<bool> done{false}; // set by the second start when it has its answer
    SingleInstance::HandOver result = SingleInstance::HandOver::NoneRunning;
    std::thread second([&] {
        result = SingleInstance(path).handOver(requests, problem);
        done.store(true);
    });
    (void)QTest::qWaitFor([&] { return done.load(); }, 10000);
    second.join();
    return result;
}

} // namespace

Q_DECLARE_METATYPE(corvex::app::StartRequest)

class AppShell : public QObject {
    Q_OBJECT

private slots:
    void instanceNameIsTheTitleDigestAndTheUser() {
        const QString name = SingleInstance::serverName("Corvex V4.00C", 1000);
        QCOMPARE(name, QStringLiteral("B437A42DAEB94B000739D33AA2EA6CDA-1000"));
        QVERIFY(SingleInstance::serverName("Corvex V4.00C", 1001) != name);
    }

    void aSecondStartHandsItsFilesToTheFirst() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("instance"));
        SingleInstance first(path);
        QString problem;
        QCOMPARE(first.handOver({StartRequest{}}, problem), SingleInstance::HandOver::NoneRunning);
        QVERIFY(first.listen(problem));
        QSignalSpy requested(&first, &SingleInstance::requested);

        const std::vector<StartRequest> requests = {
            {StartRequest::Kind::HexEditor, QStringLiteral("/a folder/\u00e4\nb.bin"), false},
            {StartRequest::Kind::ChannelEditor, QStringLiteral("/img.bin"), true},
            {}};
        QCOMPARE(handOverFromAnotherThread(path, requests, problem),
                 SingleInstance::HandOver::Taken);
        QTRY_COMPARE(requested.count(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(requested.at(i).at(0).value<StartRequest>(),
                     requests[static_cast<std::size_t>(i)]);
        }
        // A second server under the name would steal the first's socket.
        SingleInstance third(path);
        QVERIFY(!third.listen(problem));
    }

    // The second start ends with 1 when the request was not taken; it must know.
    void aRequestThatIsNotAnsweredIsNotTaken() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("instance"));
        QLocalServer mute;
        QVERIFY(mute.listen(path));
        connect(&mute, &QLocalServer::newConnection, &mute, [&mute] {
            while (QLocalSocket* peer = mute.nextPendingConnection()) {
                peer->abort();
            }
        });
        QString problem;
        QCOMPARE(handOverFromAnotherThread(path, {StartRequest{}}, problem),
                 SingleInstance::HandOver::NotTaken);
        QVERIFY(problem.contains(QStringLiteral("did not take the request")));
    }

    void aSocketLeftByACrashDoesNotBlockTheNextStart() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("instance"));
        // A bound socket whose owner is gone: the file stays, nobody accepts on it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(), native.size());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));

        SingleInstance next(path);
        QString problem;
        QCOMPARE(next.handOver({StartRequest{}}, problem), SingleInstance::HandOver::NoneRunning);
        QVERIFY(next.listen(problem));
        QSignalSpy requested(&next, &SingleInstance::requested);
        QCOMPARE(handOverFromAnotherThread(path, {StartRequest{}}, problem),
                 SingleInstance::HandOver::Taken);
        QTRY_COMPARE(requested.count(), 1);
    }

    // The socket carries file names: it is never made where others can reach it, and a name
    // that is not this user's socket is neither trusted nor removed.
    void theSocketStaysOutOfOtherUsersReach() {
        QTemporaryDir temporary;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        // A runtime folder others may enter is passed over for a private one of our own.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(temporary.path()));
        QCOMPARE(::chmod(QFile::encodeName(temporary.path()).constData(), 0755), 0);
        QString problem;
        const QString folder = SingleInstance::socketFolder(problem);
        QCOMPARE(folder, temporary.filePath(QStringLiteral("corvex-%1").arg(::getuid())));
        QVERIFY(problem.isEmpty());
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        // Someone opened the folder up: it is not used, and that is said.
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0733), 0);
        QVERIFY(SingleInstance::socketFolder(problem).isEmpty());
        QVERIFY(problem.contains(QStringLiteral("not a private folder")));
        qputenv("TMPDIR", oldTmp);
        oldRuntime.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR")
                             : qputenv("XDG_RUNTIME_DIR", oldRuntime);

        // A file under the name that is no socket of ours (another user's, when the test may
        // make one) is left as it is.
        QTemporaryDir other;
        const QString path = other.filePath(QStringLiteral("instance"));
        touch(path);
        if (::geteuid() == 0) {
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        }
        problem.clear();
        QVERIFY(!SingleInstance(path).listen(problem));
        QVERIFY(problem.contains(QStringLiteral("is not a socket of this user")));
        QVERIFY(QFileInfo(path).isFile());
    }

    void theHelpPageBesideTheProgramComesBeforeTheInstalledOne() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir(root.path()).mkpath("bin") && QDir(root.path()).mkpath("a") &&
                QDir(root.path()).mkpath("b"));
        const QString program = root.filePath("bin/corvex");
        const QStringList shares = {root.filePath("a"), root.filePath("b")};
        using corvex::app::findHelpPage;
        // Found nowhere: the name beside the program, for the error message.
        QCOMPARE(findHelpPage(program, shares), program + ".HTM");
        touch(root.filePath("b/corvex.HTM"));
        QCOMPARE(findHelpPage(program, shares), root.filePath("b/corvex.HTM"));
        touch(root.filePath("a/corvex.HTM"));
        QCOMPARE(findHelpPage(program, shares), root.filePath("a/corvex.HTM"));
        touch(program + ".HTM");
        QCOMPARE(findHelpPage(program, shares), program + ".HTM");
        // Relative to the program first, so an installed tree moved as a whole finds its page.
        QCOMPARE(corvex::app::helpShareDirs(program).value(0),
                 QDir::cleanPath(root.filePath("bin/../share/doc/corvex")));
    }

    void theAboutBoxClosesAfterItsTimeAndOnAClick() {
        corvex::app::AboutBox timed(nullptr, 50);
        timed.show();
        QVERIFY(timed.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!timed.isVisible(), 2000);

        corvex::app::AboutBox clicked(nullptr, 60'000);
        QVERIFY(!clicked.size().isEmpty());
        clicked.show();
        QTest::mouseClick(&clicked, Qt::LeftButton, {}, clicked.rect().center());
        QVERIFY(!clicked.isVisible());
    }

    void theCommandLineTakesTheOptionsAndOneFile() {
        using corvex::app::parseAppOptions;
        std::string error;
        // Qt's conventions: --option=value among them.
        const auto full = parseAppOptions({"--port=sim", "--sim-dir", "d", "--sim-option", "a=1",
                                           "--channel-editor", "img", "--hex", "f.bin"},
                                          error);
        QVERIFY(full && full->port == "sim" && full->simOptions.size() == 1);
        QVERIFY(full->channelEditorImage == "img" && full->channelEditorHex);
        QCOMPARE(full->file, std::string("f.bin"));
        const auto hexFirst = parseAppOptions({"--channel-editor", "--hex", "img"}, error);
        QVERIFY(hexFirst && hexFirst->channelEditorImage == "img" && hexFirst->channelEditorHex);
        for (const std::vector<std::string_view>& bad :
             {std::vector<std::string_view>{"a", "b"}, {"--hex"}, {"--port"}, {"--bogus"}}) {
            QVERIFY(!parseAppOptions(bad, error));
            QVERIFY(!error.empty());
        }
        QVERIFY(parseAppOptions({"-v"}, error)->version);
        QVERIFY(corvex::app::appHelpText().starts_with("Usage: "));
    }
};

QTEST_MAIN(AppShell)
#include "app_shell_test.moc"
