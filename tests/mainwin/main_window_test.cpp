#include "mainwin/area_map_view.h"
#include "tests/mainwin/window_rig.h"
#include "widgets/unsaved_work.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>

using corvex::mainwin::Job;
using corvex::mainwin::MessageBox;
using corvex::mainwin::TForm9;
using corvex::test::readBytes;
using corvex::test::writeBytes;

namespace {

std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

struct Rig : corvex::test::WindowRig {
    using WindowRig::WindowRig;
    // A read of area 0 alone: whole reads take most of a minute under the thread checker.
    bool readAreaZero() {
        act("Flash/Set all areas to SKIP").trigger();
        window->areas().table().setMode(0, corvex::link::kAreaModePgm);
        answer = dir.file("firmware.bin");
        act("Flash/Read Firmware").trigger();
        return window->feedback().mapBusy();
    }
};

// Stands in for an editor: its file, and work it has not saved that a close button would ask
// about (counted) and a signal keeps for recovery (counted).
class Editor : public QWidget, public corvex::widgets::UnsavedWork {
public:
    Editor(QWidget* owner, std::string file) : QWidget(owner, Qt::Window), file(std::move(file)) {
        setAttribute(Qt::WA_DeleteOnClose);
        show();
    }
    void keepForRecovery() override {
        kept += unsaved ? 1 : 0;
        unsaved = false;
    }
    std::string file;
    bool unsaved = false;
    static inline int kept = 0;
    static inline int questions = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        questions += unsaved ? 1 : 0;
        event->setAccepted(!unsaved);
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Every toolbar button has its picture and fits: none, Break least of all, may hide in the
    // overflow menu.
    void toolbarButtonsShowAndFit() {
        Rig rig;
        auto* toolbar = rig.window->findChild<QToolBar*>();
        for (QAction* act : toolbar->actions()) {
            const QWidget* button = toolbar->widgetForAction(act);
            QVERIFY2(act->isSeparator() || (!act->icon().isNull() && button->isVisible() &&
                                            button->geometry().right() < toolbar->width()),
                     qPrintable(act->text()));
        }
    }

    // Every menu item and toolbar button reaches its job: its dialog, then its wait text.
    void menusDispatchTheirJobs() {
        struct Case {
            const char* menu;
            const char* toolbar; // nullptr when the job has no button
            Job job;
        };
        const Case cases[] = {
            {"Flash/Read Firmware", "Toolbar/Read", Job::ReadFirmware},
            {"Flash/Preview Write Firmware", "Toolbar/Preview", Job::PreviewWriteFirmware},
            {"Flash/Write Firmware", "Toolbar/Write", Job::WriteFirmware},
            {"Eeprom/Read Configuration", "Toolbar/Read EE", Job::ReadConfiguration},
            {"Eeprom/View Configuration", "Toolbar/View EE", Job::ViewConfiguration},
            {"Eeprom/Write Configuration", "Toolbar/Write EE", Job::WriteConfiguration},
            {"Eeprom/Erase Configuration", "Toolbar/Erase EE", Job::EraseConfiguration},
            {"Flash/Read Signature", "Toolbar/Signature", Job::ReadSignature},
            {"Corvex/Reset Interface", "Toolbar/Reset", Job::ResetInterface},
            {"Corvex/Corvex Guard/Idle priority", nullptr, Job::IdlePriority},
            {"Corvex/Corvex Guard/High priority", nullptr, Job::HighPriority},
            {"Corvex/Upload Microcode", nullptr, Job::UploadMicrocode},
        };
        Rig rig([](corvex::mainwin::MainWindowSetup& setup) { setup.noBackup = true; });
        QVERIFY(!rig.act("Flash/Write Firmware").isEnabled() &&
                !rig.act("Toolbar/Read EE").isEnabled());
        corvex::link::GuardRecord enable; // the flash group on, without a signature read
        enable.Code = corvex::link::kMsgProgramming;
        enable.Param = 1;
        rig.window->feedback().onMessage(enable);
        // One small PGM area: a read of nothing is refused, a read of everything takes long.
        rig.window->areas().table().setMode(0, corvex::link::kAreaModePgm);
        rig.answer = rig.dir.file("file.bin");
        for (const Case& c : cases) {
            const corvex::mainwin::JobSpec& job = corvex::mainwin::jobSpec(c.job);
            for (const char* path : {c.menu, c.toolbar}) {
                if (path == nullptr) {
                    continue;
                }
                // A job still running would refuse the next command before its dialog.
                rig.window->guard()->Break();
                QVERIFY(rig.idle());
                rig.dialogs.clear();
                writeBytes(*rig.answer, {1}); // small, whatever the job before saved into it
                rig.act(path).trigger();
                QCOMPARE(rig.dialogs.size(), job.file ? std::size_t{1} : std::size_t{0});
                if (job.file) {
                    QCOMPARE(rig.dialogs[0], std::string(job.dialog.title));
                }
                // A firmware job's progress follows its wait text.
                QVERIFY2(rig.window->feedback().panel(1).text.starts_with(job.waitText), path);
            }
        }
        rig.act("Corvex/Diagnostics ...").trigger();
        QCOMPARE(rig.window->pages().currentIndex(), 1);
        rig.act("Flash/Read Signature").trigger();
        QCOMPARE(rig.window->pages().currentIndex(), 0);
        rig.act("Help/Web update ...").trigger();
        QCOMPARE(rig.boxes.back().text,
                 std::string("At this time, this feature is not implemented."));
        rig.act("Tools/Channel List Editor (Hex)").trigger();
        QVERIFY(!rig.act("Tools/Channel List Editor (Dec)").isEnabled());
        QVERIFY(rig.act("Tools/Channel List Editor (Hex)").isEnabled());
    }

    // One hex editor at a time (the EEPROM view replaces it), a further channel editor for each
    // use; one with unsaved work holds the close button, and a signal keeps that work and closes
    // without a question.
    void toolWindowsHoldTheCloseAndASignalKeepsTheirWork() {
        Rig rig([](corvex::mainwin::MainWindowSetup& setup) {
            setup.fileArgument = "argument.bin";
            setup.openHexEditor = [](QWidget* owner, const std::string& file) {
                return new Editor(owner, file);
            };
            setup.openChannelEditor = [](QWidget* owner, const std::string& image, bool) {
                return static_cast<QWidget*>(new Editor(owner, image));
            };
        });
        rig.act("Tools/Hex Editor").trigger();
        QPointer first = rig.window->hexEditor();
        QCOMPARE(static_cast<Editor*>(first.data())->file, std::string("argument.bin"));
        corvex::link::GuardRecord view;
        view.Code = corvex::link::kMsgEepromView;
        view.Text.assign("ee.bin");
        rig.window->feedback().onMessage(view);
        QTRY_VERIFY(first.isNull());
        QWidget* hex = rig.window->hexEditor();
        QCOMPARE(static_cast<Editor*>(hex)->file, std::string("ee.bin"));
        static_cast<Editor*>(hex)->unsaved = true; // kept, not replaced
        rig.act("Tools/Hex Editor").trigger();
        QCOMPARE(rig.window->hexEditor(), hex);
        static_cast<Editor*>(hex)->unsaved = false;
        Editor::questions = 0;

        // Nothing read in this run: each use asks for an image, here the same one.
        rig.answer = rig.dir.file("image.bin");
        writeBytes(*rig.answer, {1});
        rig.act("Tools/Channel List Editor (Dec)").trigger();
        rig.act("Tools/Channel List Editor (Dec)").trigger();
        const std::vector<QWidget*> channels = rig.window->channelEditors();
        QCOMPARE(channels.size(), std::size_t{2});
        QVERIFY(channels[0]->isVisible() && channels[1]->isVisible());
        static_cast<Editor*>(channels[1])->unsaved = true;
        QVERIFY(!rig.window->close());
        QVERIFY(rig.window->isVisible() && channels[1]->isVisible());
        QCOMPARE(Editor::questions, 1);
        rig.window->closeForSignal();
        QVERIFY(!rig.window->isVisible());
        QCOMPARE(Editor::kept, 1);
        QCOMPARE(Editor::questions, 1);
        QTRY_VERIFY(rig.window->channelEditors().empty());
    }

    // A signal with the broken-link box open, the Guard waiting on it, closes at once with the
    // files written (with the final report's box: keyboard_e2e.sh).
    void aSignalWithAGuardBoxOpenClosesAtOnce() {
        const std::string broken =
            "Function aborted.\rThe communication with your Corvex interface is broken.";
        Rig rig({}, corvex::test::simWith("hang-after=20000"));
        QVERIFY(rig.readSignature());
        QElapsedTimer timer;
        bool closedInBox = false;
        rig.window->setBoxHandler([&](const MessageBox& box) {
            rig.boxes.push_back(box);
            if (box.text == broken) {
                timer.start();
                rig.window->closeForSignal();
                closedInBox = true;
            }
            return true;
        });
        QVERIFY(rig.readAreaZero());
        QTRY_VERIFY_WITH_TIMEOUT(closedInBox, 250000);
        QVERIFY(timer.elapsed() < 5000); // the sanitizers and a shared machine get some room
        QVERIFY(!rig.window->isVisible());
        const std::string log = readText(rig.window->logBookFile());
        QVERIFY(log.find("RFW") != std::string::npos);
        QVERIFY(log.find("Writing configuration data to ") != std::string::npos);
        QVERIFY(readText(rig.dir.file("corvex.INI")).find("[Areas]") != std::string::npos);
        for (const MessageBox& box : rig.boxes) {
            QVERIFY2(box.kind != corvex::mainwin::BoxKind::Question, box.text.c_str());
        }
    }

    // Exit and the close button ask before they break a job, which then ends at once with an
    // abort in the log book; an idle Guard is closed without a question and without an abort.
    void exitAsksOnlyWhileAJobRuns() {
        {
            Rig rig;
            QVERIFY(rig.idle());
            rig.act("Flash/Exit").trigger();
            QVERIFY(!rig.window->isVisible());
            QVERIFY(rig.boxes.empty());
            QVERIFY(readText(rig.window->logBookFile()).find("Operation aborted.") ==
                    std::string::npos);
        }
        Rig rig;
        QVERIFY(rig.readSignature());
        rig.act("Flash/Set all areas to PGM").trigger();
        rig.answer = rig.dir.file("zeros.bin"); // differs from the flash: a long write
        writeBytes(*rig.answer, std::vector<std::uint8_t>(rig.sim.bus().flashImage().size(), 0));
        rig.act("Flash/Write Firmware").trigger();
        QVERIFY(
            QTest::qWaitFor([&rig] { return rig.window->areas().area(0).progress != 0; }, 20000));
        bool answer = false;
        rig.window->setBoxHandler([&](const MessageBox& box) {
            rig.boxes.push_back(box);
            return answer;
        });
        rig.boxes.clear();
        rig.act("Flash/Exit").trigger();
        QCOMPARE(rig.boxes.size(), std::size_t{1});
        QCOMPARE(rig.boxes[0].text, std::string(corvex::mainwin::kBreakAndQuit));
        QCOMPARE(rig.boxes[0].kind, corvex::mainwin::BoxKind::Question);
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.window->guard()->isIdle());
        answer = true;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(rig.window->close());
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(rig.window->guard() == nullptr);
        // Written as the job ended; the files a close writes are keyboard_e2e.sh's.
        QVERIFY(readText(rig.window->logBookFile()).find("Operation aborted.") !=
                std::string::npos);
    }

    // EXIT on the command line stops the Guard; Restart starts a new one on the same port.
    void theGuardStopsOnExitAndRestarts() {
        Rig rig;
        QTest::keyClick(&rig.window->commandField(), Qt::Key_Return); // "EXIT" is the default
        QTRY_VERIFY(rig.window->feedback().restartEnabled());
        QVERIFY(rig.boxSaid(std::string(corvex::mainwin::kGuardStopped)));
        for (auto* button : rig.window->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Restart")) {
                button->click();
            }
        }
        QTRY_COMPARE(rig.lines("Corvex Guard is restarted by user program."), 1);
        QTRY_VERIFY(rig.window->feedback().breakEnabled());
        QTRY_COMPARE(rig.lines("Set hardware type: 0"), 1);
        QVERIFY(rig.idle());
        QVERIFY(rig.readSignature());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
