#include "app/about_box.h"
#include "app/app_options.h"
#include "app/help_page.h"
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A name no other run of the tests uses at the same time.
QString uniqueName(const char* what) {
    return QStringLiteral("corvex-test-%1-%2").arg(what).arg(QCoreApplication::applicationPid());
}

void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

} // namespace

class AppShell : public QObject {
    Q_OBJECT

private slots:
    void instanceNameIsTheTitleDigestAndTheUser() {
        const QString name = corvex::app::SingleInstance::serverName("Corvex V4.00C", 1000);
        QCOMPARE(name, QStringLiteral("B437A42DAEB94B000739D33AA2EA6CDA-1000"));
        QVERIFY(corvex::app::SingleInstance::serverName("Corvex V4.00C", 1001) != name);
    }

    void aSecondStartAsksTheFirstToShowItself() {
        corvex::app::SingleInstance first(uniqueName("second"));
        QVERIFY(!first.askRunningToShow()); // nobody runs yet
        QVERIFY(first.listen());
        QSignalSpy shown(&first, &corvex::app::SingleInstance::showRequested);

        const corvex::app::SingleInstance second(first.name());
        QVERIFY(second.askRunningToShow());
        QTRY_COMPARE(shown.count(), 1);
        // A second server under the name would steal the first's socket.
        corvex::app::SingleInstance third(first.name());
        QVERIFY(!third.listen());
    }

    void aSocketLeftByACrashDoesNotBlockTheNextStart() {
        const QString name = uniqueName("stale");
        const QString path = QDir(QDir::tempPath()).filePath(name);
        // A bound socket whose owner is gone: the file stays, nobody accepts on it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        std::memcpy(address.sun_path, native.constData(), native.size());
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));

        corvex::app::SingleInstance next(name);
        QVERIFY(!next.askRunningToShow());
        QVERIFY(next.listen());
        QSignalSpy shown(&next, &corvex::app::SingleInstance::showRequested);
        QVERIFY(corvex::app::SingleInstance(name).askRunningToShow());
        QTRY_COMPARE(shown.count(), 1);
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
                 QDir::cleanPath(root.filePath("bin/../share/corvex")));
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
        const auto full = parseAppOptions({"--port", "sim", "--sim-dir", "d", "--sim-option", "a=1",
                                           "--channel-editor", "img", "--hex", "f.bin"},
                                          error);
        QVERIFY(full);
        QCOMPARE(full->port, std::string("sim"));
        QCOMPARE(full->simOptions.size(), std::size_t{1});
        QCOMPARE(full->channelEditorImage, std::string("img"));
        QVERIFY(full->channelEditorHex);
        QCOMPARE(full->file, std::string("f.bin"));
        const auto hexFirst = parseAppOptions({"--channel-editor", "--hex", "img"}, error);
        QVERIFY(hexFirst);
        QCOMPARE(hexFirst->channelEditorImage, std::string("img"));
        QVERIFY(hexFirst->channelEditorHex);
        for (const std::vector<std::string_view>& bad :
             {std::vector<std::string_view>{"a", "b"}, {"--hex"}, {"--port"}, {"--bogus"}}) {
            QVERIFY(!parseAppOptions(bad, error));
            QVERIFY(!error.empty());
        }
    }
};

QTEST_MAIN(AppShell)
#include "app_shell_test.moc"
