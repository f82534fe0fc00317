#include "mainwin/diagnostics_page.h"
#include "tests/mainwin/window_rig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

namespace {

constexpr std::uint32_t kRegister = 0x80000000; // the receiver's register file, not flash

// The window on the Diagnostics page.
struct Rig : corvex::test::WindowRig {
    Rig() { window->pages().setCurrentIndex(1); }
    template <typename T = QWidget> T& get(const char* name) {
        T* found = window->diagnostics().findChild<T*>(QLatin1String(name));
        if (found == nullptr) {
            qFatal("no control %s", name);
        }
        return *found;
    }
    void click(const char* name) { get<QPushButton>(name).click(); }
    QString text(const char* name) {
        if (auto* field = window->diagnostics().findChild<QLineEdit*>(QLatin1String(name))) {
            return field->text();
        }
        return get<QLabel>(name).text();
    }
};

} // namespace

class DiagnosticsPageTest : public QObject {
    Q_OBJECT

private slots:
    // A few controls, each seen on the Guard page as the request it made, and its result shown
    // (every control's request is the model's table).
    void controlsSendTheirRequests() {
        Rig rig;
        rig.sim.bus().poke(kRegister, 0x12345678);
        struct Case {
            const char* button;
            const char* in; // the Guard's IN line
            const char* field;
            const char* shown;
        };
        const Case cases[] = {
            {"read", "PID:  1   Adr=80000000   Dat=00000000", "readData", "12345678"},
            {"write", "PID:  2   Adr=80000000   Dat=12345678", nullptr, nullptr},
            {"txAckLine1", "PID: 11   Adr=00000000   Dat=00000001", "txAckLineBox", "1"},
            {"txAckLine0", "PID: 12   Adr=00000000   Dat=00000000", "txAckLineBox", "0"},
        };
        for (const Case& c : cases) {
            rig.click(c.button);
            QVERIFY2(rig.idle(), c.button);
            QTRY_COMPARE(rig.lines(std::string("IN:    ") + c.in), 1);
            if (c.shown != nullptr) {
                QCOMPARE(rig.text(c.field), QLatin1String(c.shown));
            }
        }
        QCOMPARE(rig.sim.bus().read(kRegister), 0x12345678U);
        QCOMPARE(rig.window->feedback().panel(1).text, std::string("Operation completed"));

        // Swapped, the same word reads byte-reversed; a byte result never is.
        rig.get<QCheckBox>("swap").setChecked(true);
        rig.click("read");
        QTRY_COMPARE(rig.text("readData"), QStringLiteral("78563412"));

        QVERIFY(rig.idle()); // a busy Guard would refuse the port change
        rig.get<QComboBox>("portList").setCurrentIndex(2);
        QTRY_COMPARE(rig.lines("IN:    PID:  6   Adr=000003BC"), 1);

        // START twice runs one exchange; STOP ends it.
        QVERIFY(rig.idle());
        rig.click("start");
        QTRY_COMPARE(rig.lines("IN:    PID: 24   Adr=00000000   Dat=000000FF"), 1);
        rig.click("start");
        QTest::qWait(200);
        QCOMPARE(rig.lines("IN:    PID: 24"), 1);
        QVERIFY(!rig.window->guard()->isIdle());
        rig.click("stop");
        QVERIFY(rig.idle());
    }

    // Typing keeps hex digits only; Enter in a field acts as its button.
    void fieldsTakeHexOnlyAndEnterSends() {
        Rig rig;
        auto& address = rig.get<QLineEdit>("readAddress");
        address.clear();
        QTest::keyClicks(&address, "x8g0z1f");
        QCOMPARE(address.text(), QStringLiteral("801F"));
        address.clear(); // a wrong field's box and refusal are the model's
        QTest::keyClicks(&address, "10");
        QTest::keyClick(&address, Qt::Key_Return);
        QVERIFY(rig.idle());
        QTRY_COMPARE(rig.lines("IN:    PID:  1   Adr=00000010"), 1);
    }

    // The repeat toggle reads every 250 ms until it is released or the page is left.
    void repeatRunsEveryQuarterSecondUntilStopped() {
        Rig rig;
        auto& repeat = rig.get<QPushButton>("repeat");
        repeat.click();
        QTest::qWait(1150);
        const int reads = rig.lines("IN:    PID:  1");
        QVERIFY2(reads >= 2 && reads <= 5, qPrintable(QString::number(reads)));
        repeat.click();
        QVERIFY(!rig.window->diagnostics().repeating());
        QVERIFY(rig.idle());
        const int stopped = rig.lines("IN:    PID:  1");
        QTest::qWait(600);
        QCOMPARE(rig.lines("IN:    PID:  1"), stopped);

        repeat.click();
        rig.window->pages().setCurrentIndex(2);
        QVERIFY(!rig.window->diagnostics().repeating());
        QVERIFY(!rig.window->diagnostics().watching());
    }

    // BLOCKMODE shows the label and "Read" then saves a block into a file; BLOCKMODE again hides
    // it (the write's checks are the model's).
    void blockModeMovesBlocksThroughFiles() {
        Rig rig;
        const auto blockMode = [&rig](bool on) {
            rig.window->commandField().setText(QStringLiteral("BLOCKMODE"));
            QTest::keyClick(&rig.window->commandField(), Qt::Key_Return);
            return QTest::qWaitFor(
                [&] { return rig.get<QLabel>("blockMode").isVisibleTo(rig.window.get()) == on; },
                5000);
        };
        QVERIFY(blockMode(true));
        rig.get<QLineEdit>("readData").setText(QStringLiteral("10"));
        rig.answer = rig.dir.file("block.bin");
        QVERIFY(rig.idle());
        rig.click("read");
        QCOMPARE(rig.dialogs.back(), std::string("Save as ..."));
        QCOMPARE(rig.window->pages().currentIndex(), 0);
        // The bytes in the file are the block job's own test.
        QVERIFY(
            QTest::qWaitFor([&] { return rig.boxSaid("Reading binary block succeeded."); }, 20000));
        QVERIFY(blockMode(false));
    }

    // The checkbox and the menu item are one switch; the short test from the menu runs and
    // passes on a loopback interface (which test passes where is the diagnostics jobs' own).
    void loopbackTests() {
        Rig rig;
        rig.get<QCheckBox>("loopback").setChecked(true);
        QVERIFY(rig.window->action(QStringLiteral("Corvex/Loopback enabled"))->isChecked());
        QVERIFY(rig.idle());
        QTRY_COMPARE(rig.lines("LOOPBACK ENABLED"), 1);
        rig.window->action(QStringLiteral("Corvex/Loopback test/Data"))->trigger();
        QTRY_COMPARE(rig.lines("IN:    PID: 22   Adr=00000001   Dat=00000000"), 1);
        QVERIFY(
            QTest::qWaitFor([&] { return rig.boxSaid("Loopback DATA-test succeeded."); }, 100000));
        QVERIFY(rig.idle());
        QCOMPARE(rig.get<QProgressBar>("gauge").value(), 0);
        QVERIFY(rig.get<QCheckBox>("loopback").isEnabled());
    }
};

QTEST_MAIN(DiagnosticsPageTest)
#include "diagnostics_page_test.moc"
