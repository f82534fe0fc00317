#include "mainwin/area_map_view.h"
#include "mainwin/main_window.h"
#include "sim/simulator.h"
#include "tests/link/temp_dir.h"
#include "widgets/unsaved_work.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include <fstream>
#include <iterator>
#include <map>

using corvex::mainwin::MessageBox;
using corvex::mainwin::TForm9;

namespace {

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The window over an in-memory simulated receiver, its files in a fresh folder. Boxes are
// answered Yes and recorded; file dialogs take `answer`.
struct Rig {
    explicit Rig(const std::function<void(corvex::mainwin::MainWindowSetup&)>& adjust = {},
                 corvex::sim::SimConfig config = {})
        : sim(std::move(config)) {
        corvex::mainwin::MainWindowSetup setup;
        setup.programPath = dir.file("corvex");
        setup.title = QStringLiteral("Corvex V4.00C - simulated receiver");
        setup.port = &sim.port();
        setup.simulated = true;
        if (adjust) {
            adjust(setup);
        }
        window = std::make_unique<TForm9>(std::move(setup));
        window->setBoxHandler([this](const MessageBox& box) {
            boxes.push_back(box);
            return true;
        });
        window->setFileHandler([this](const corvex::mainwin::FileDialogSpec& dialog,
                                      const std::string&) -> std::optional<std::string> {
            dialogs.emplace_back(dialog.title);
            return answer;
        });
        window->show();
    }
    QAction& act(const char* path) {
        QAction* found = window->action(QLatin1String(path));
        if (found == nullptr) {
            qFatal("no action %s", path);
        }
        return *found;
    }
    bool readSignature() {
        act("Flash/Read Signature").trigger();
        // Idle too: the next job would be refused while the signature job winds down.
        return QTest::qWaitFor(
            [this] { return window->feedback().flashGroupEnabled() && window->guard()->isIdle(); },
            20000);
    }

    // A read of the whole flash, or of area 0 alone where only the job's end matters: whole
    // reads take most of a minute under the thread checker.
    bool readFirmware(bool areaZeroOnly = false) {
        act("Flash/Set all areas to PGM").trigger();
        for (std::size_t area = 1; areaZeroOnly && area < 19; ++area) {
            window->areas().table().setMode(area, corvex::link::kAreaModeSkip);
        }
        answer = dir.file("firmware.bin");
        act("Flash/Read Firmware").trigger();
        return window->feedback().mapBusy();
    }

    corvex::test::TempDir dir;
    corvex::sim::Simulator sim;
    std::unique_ptr<TForm9> window;
    std::vector<MessageBox> boxes;
    std::vector<std::string> dialogs;
    std::optional<std::string> answer;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowFrame() {
        Rig rig;
        QCOMPARE(rig.window->width(), TForm9::kClientWidth);
        QCOMPARE(rig.window->pages().count(), 3);
        QCOMPARE(rig.window->pages().tabText(0), QStringLiteral("Flashroms"));
        QCOMPARE(rig.window->pages().tabText(1), QStringLiteral("Diagnostics"));
        QCOMPARE(rig.window->pages().tabText(2), QStringLiteral("Corvex Guard"));
        QCOMPARE(rig.window->commandField().text(), QStringLiteral("EXIT"));
        QVERIFY(!(rig.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        // Every toolbar button has its picture and fits: none, Break least of all, may hide in
        // the overflow menu.
        auto* toolbar = rig.window->findChild<QToolBar*>();
        for (QAction* act : toolbar->actions()) {
            if (act->isSeparator()) {
                continue;
            }
            QVERIFY2(!act->icon().isNull(), qPrintable(act->text()));
            const QWidget* button = toolbar->widgetForAction(act);
            QVERIFY2(button != nullptr && button->isVisible() &&
                         button->geometry().right() < toolbar->width(),
                     qPrintable(act->text()));
        }
    }

    // Every menu item and toolbar button reaches its job: the wait text and the dialog it asks.
    void menusDispatchTheirJobs() {
        struct Case {
            const char* path;
            const char* wait;
            const char* dialog; // "" when no file is asked for
        };
        const Case cases[] = {
            {"Flash/Read Firmware", "Reading firmware, please wait ...",
             "Save readed firmware as ..."},
            {"Toolbar/Read", "Reading firmware, please wait ...", "Save readed firmware as ..."},
            {"Flash/Preview Write Firmware", "Preview writing firmware, please wait ...",
             "Select firmware to program ..."},
            {"Toolbar/Preview", "Preview writing firmware, please wait ...",
             "Select firmware to program ..."},
            {"Flash/Write Firmware", "Writing firmware, please wait ...",
             "Select firmware to program ..."},
            {"Toolbar/Write", "Writing firmware, please wait ...",
             "Select firmware to program ..."},
            {"Eeprom/Read Configuration", "Reading configuration EEprom, please wait ...",
             "Save readed configuration EEprom as ..."},
            {"Toolbar/Read EE", "Reading configuration EEprom, please wait ...",
             "Save readed configuration EEprom as ..."},
            {"Eeprom/View Configuration", "Reading configuration EEprom, please wait ...",
             "Save readed configuration EEprom as ..."},
            {"Toolbar/View EE", "Reading configuration EEprom, please wait ...",
             "Save readed configuration EEprom as ..."},
            {"Eeprom/Write Configuration", "Writing configutation EEprom, please wait ...",
             "Select configuration EEprom to program ..."},
            {"Toolbar/Write EE", "Writing configutation EEprom, please wait ...",
             "Select configuration EEprom to program ..."},
            {"Eeprom/Erase Configuration", "Erasing configutation EEprom, please wait ...", ""},
            {"Toolbar/Erase EE", "Erasing configutation EEprom, please wait ...", ""},
            {"Flash/Read Signature", "Reading signature, please wait ...", ""},
            {"Toolbar/Signature", "Reading signature, please wait ...", ""},
            {"Corvex/Reset Interface", "Reset Corvex Interface.", ""},
            {"Toolbar/Reset", "Reset Corvex Interface.", ""},
            {"Corvex/Corvex Guard/Idle priority", "Set Corvex Guard to use CPU Idle priority.", ""},
            {"Corvex/Corvex Guard/High priority", "Set Corvex Guard to use CPU High priority.", ""},
            {"Corvex/Upload Microcode", "Uploading MicroCode (bootcode) program, please wait ...",
             "Select bootcode program ..."},
        };
        Rig rig;
        rig.window->feedback().onMessage([] {
            corvex::link::GuardRecord enable;
            enable.Code = corvex::link::kMsgProgramming;
            enable.Param = 1;
            return enable;
        }());
        // One small PGM area: a read of nothing is refused, a read of everything takes long.
        rig.window->areas().table().setMode(0, corvex::link::kAreaModePgm);
        // Cancelled dialogs: a file job then stops before its wait text, so each row is seen
        // apart from the Guard's own progress.
        for (const Case& c : cases) {
            // A job still running would refuse the next command before its dialog.
            rig.window->guard()->Break();
            QVERIFY(QTest::qWaitFor([&rig] { return rig.window->guard()->isIdle(); }, 20000));
            rig.dialogs.clear();
            rig.window->feedback().showWait("-");
            rig.act(c.path).trigger();
            if (*c.dialog != '\0') {
                QCOMPARE(rig.dialogs, std::vector<std::string>{c.dialog});
                QCOMPARE(rig.window->feedback().panel(1).text, std::string("-"));
                rig.answer = rig.dir.file("file.bin");
                std::ofstream(*rig.answer) << "x";
                rig.act(c.path).trigger();
                rig.answer.reset();
            }
            // A firmware job's progress follows its wait text.
            QVERIFY2(
                rig.window->feedback().panel(1).text.starts_with(c.wait),
                (std::string(c.path) + " shows " + rig.window->feedback().panel(1).text).c_str());
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

    void flashGroupFollowsSignatureAndProgrammingReports() {
        Rig rig;
        const auto group = [&rig] {
            return std::vector<bool>{rig.act("Flash/Read Firmware").isEnabled(),
                                     rig.act("Flash/Write Firmware").isEnabled(),
                                     rig.act("Eeprom/Erase Configuration").isEnabled(),
                                     rig.act("Toolbar/Signature").isEnabled(),
                                     rig.act("Toolbar/Read EE").isEnabled()};
        };
        const std::vector<bool> off(5, false);
        const std::vector<bool> on(5, true);
        QCOMPARE(group(), off);
        QVERIFY(rig.readSignature());
        QCOMPARE(group(), on);

        corvex::link::GuardRecord message;
        message.Code = corvex::link::kMsgSignature;
        message.Flag = 1; // unknown chip
        rig.window->feedback().onMessage(message);
        QCOMPARE(group(), off);
        QVERIFY(rig.act("Flash/Read Signature").isEnabled());
        message = {};
        message.Code = corvex::link::kMsgProgramming;
        message.Param = 1; // ENABLEPGM
        rig.window->feedback().onMessage(message);
        QCOMPARE(group(), on);
        message.Param = 0; // DISABLEPGM
        rig.window->feedback().onMessage(message);
        QCOMPARE(group(), off);
    }

    // A firmware read through the menus: the file holds the PGM areas of the receiver's flash,
    // each of them done. Change one area of the image and write it back: the map ends with each
    // area's outcome. Two areas, not the whole flash: the window's part is the same.
    void readAndWriteFirmwareThroughTheWindow() {
        // Without the backup, which would read the whole flash: its window switch is the restore
        // test's, the copy itself the backup jobs'.
        Rig rig([](corvex::mainwin::MainWindowSetup& setup) { setup.noBackup = true; });
        QVERIFY(rig.readSignature());
        rig.act("Flash/Set all areas to SKIP").trigger();
        auto& table = rig.window->areas().table();
        table.setMode(0, corvex::link::kAreaModePgm);
        table.setMode(1, corvex::link::kAreaModePgm);
        rig.answer = rig.dir.file("firmware.bin");
        rig.act("Flash/Read Firmware").trigger();
        QVERIFY(rig.window->feedback().mapBusy());
        QVERIFY(QTest::qWaitFor([&rig] { return !rig.window->feedback().mapBusy(); }, 250000));
        std::vector<std::uint8_t> image = rig.sim.bus().flashImage();
        const std::size_t read = table.AreaStart[2].load() - table.AreaStart[0].load();
        QCOMPARE(readAll(*rig.answer),
                 std::vector<std::uint8_t>(image.begin(), image.begin() + read));
        for (std::size_t area = 0; area < 2; ++area) {
            const auto& view = rig.window->areas().area(area);
            QCOMPARE(view.progress, corvex::mainwin::kProgressFull);
            QCOMPARE(view.statusIcon, corvex::mainwin::kIconDone);
        }
        QVERIFY(rig.window->areas().area(2).statusIcon != corvex::mainwin::kIconDone);
        QCOMPARE(rig.window->feedback().panel(1).text, std::string("Ready"));
        QCOMPARE(rig.window->settings().lastFiles[0], *rig.answer);

        image.at(0x100) ^= 0x5A; // in area 0
        rig.answer = rig.dir.file("changed.bin");
        std::ofstream(*rig.answer, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        QVERIFY(QTest::qWaitFor([&rig] { return rig.window->guard()->isIdle(); }, 20000));
        rig.act("Flash/Write Firmware").trigger();
        QVERIFY(QTest::qWaitFor([&rig] { return !rig.window->feedback().mapBusy(); }, 250000));
        QCOMPARE(rig.sim.bus().flashImage(), image);
        QCOMPARE(rig.window->areas().area(0).statusText, std::string("Programmed - OK"));
        QCOMPARE(rig.window->areas().area(1).statusText, std::string("Up-to-Date - OK"));
    }

    void toolWindowsOpenOneAtATimeAndHoldTheClose();
    void aSignalKeepsUnsavedWorkAndClosesToolWindowsWithoutAQuestion();

    // A signal arriving while a box the Guard waits on is open: the box is answered, the Guard
    // released and joined, and the settings and the log book are written, at once.
    void aSignalWithAGuardBoxOpenClosesWithinTwoSeconds() {
        struct Case {
            const char* box;
            const char* simOption; // "" for none
        };
        for (const Case& c : {Case{"Read Firmware function completed successful.", ""},
                              Case{"Function aborted.\rThe communication with your Corvex "
                                   "interface is broken.",
                                   "hang-after=20000"}}) {
            corvex::sim::SimConfig config;
            if (*c.simOption != '\0') {
                QCOMPARE(corvex::sim::applySimOption(config, c.simOption), std::string());
            }
            Rig rig({}, config);
            QVERIFY(rig.readSignature());
            QElapsedTimer timer;
            bool closedInBox = false;
            rig.window->setBoxHandler([&](const MessageBox& box) {
                rig.boxes.push_back(box);
                if (box.text == c.box) {
                    timer.start();
                    rig.window->closeForSignal();
                    closedInBox = true;
                }
                return true;
            });
            QVERIFY(rig.readFirmware(true));
            QTRY_VERIFY_WITH_TIMEOUT(closedInBox, 250000);
            // 2 s for the program as users run it (tests/app/keyboard_e2e.sh holds the installed
            // one to that); here the sanitizers and a shared machine get some room.
            QVERIFY2(timer.elapsed() < 5000, c.box);
            QVERIFY(!rig.window->isVisible());
            const std::string log = readText(rig.window->logBookFile());
            QVERIFY(log.find("RFW") != std::string::npos);
            QVERIFY(log.find("Writing configuration data to ") != std::string::npos);
            QVERIFY(readText(rig.dir.file("corvex.INI")).find("[Areas]") != std::string::npos);
            // No question waited on: the only boxes are the Guard's.
            for (const MessageBox& box : rig.boxes) {
                QVERIFY2(box.kind != corvex::mainwin::BoxKind::Question, box.text.c_str());
            }
        }
    }

    // A time-out ends a job without a final report: the map takes clicks again afterwards and
    // panel 1 says what happened.
    void aTimeoutLeavesTheMapUsable() {
        corvex::sim::SimConfig config;
        QCOMPARE(corvex::sim::applySimOption(config, "hang-after=20000"), std::string());
        Rig rig({}, config);
        QVERIFY(rig.readSignature());
        QVERIFY(rig.readFirmware());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.boxes.empty() && rig.boxes.back().title == "Timeout", 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->feedback().mapBusy(), 2000);
        QCOMPARE(rig.window->feedback().panel(1).text,
                 std::string("May be you MUST reset the device connected with your Corvex."));
        QCOMPARE(rig.window->windowTitle(), QStringLiteral("Corvex V4.00C - simulated receiver"));
        // A click on area 0's CLR button.
        QTest::mouseClick(&rig.window->map(), Qt::LeftButton, {}, QPoint(589 + 10, 27 + 5));
        QCOMPARE(rig.window->areas().table().mode(0), corvex::link::kAreaModeClr);
    }

    // Exit and the close button ask before they break a job; an idle Guard is closed without a
    // question and without an abort in the log book.
    void exitAsksOnlyWhileAJobRuns() {
        {
            Rig rig;
            QTRY_VERIFY(rig.window->guard()->isIdle());
            rig.act("Flash/Exit").trigger();
            QVERIFY(!rig.window->isVisible());
            QVERIFY(rig.boxes.empty());
            QVERIFY(readText(rig.window->logBookFile()).find("Operation aborted.") ==
                    std::string::npos);
        }
        Rig rig;
        rig.window->commandField().setText(QStringLiteral("DEADLOCK"));
        QTest::keyClick(&rig.window->commandField(), Qt::Key_Return);
        QTRY_VERIFY(rig.window->guard()->GuardState() == corvex::link::GuardStateValue::Busy);
        bool answer = false;
        rig.window->setBoxHandler([&](const MessageBox& box) {
            rig.boxes.push_back(box);
            return answer;
        });
        rig.act("Flash/Exit").trigger();
        QCOMPARE(rig.boxes.size(), std::size_t{1});
        QCOMPARE(rig.boxes[0].text, std::string(corvex::mainwin::kBreakAndQuit));
        QCOMPARE(rig.boxes[0].kind, corvex::mainwin::BoxKind::Question);
        QVERIFY(rig.window->isVisible());
        QCOMPARE(rig.window->guard()->GuardState(), corvex::link::GuardStateValue::Busy);
        answer = true;
        QVERIFY(rig.window->close());
        QVERIFY(rig.window->guard() == nullptr);
        QVERIFY(readText(rig.window->logBookFile()).find("Operation aborted.") !=
                std::string::npos);
    }

    // Within each menu every item has its own mnemonic, so one key reaches it.
    void everyMenuItemHasAMnemonicOfItsOwn() {
        Rig rig;
        const std::function<void(const QList<QAction*>&, const QString&)> check =
            [&](const QList<QAction*>& actions, const QString& where) {
                std::map<QString, QString> taken;
                for (QAction* act : actions) {
                    if (act->isSeparator() || !act->isVisible()) {
                        continue;
                    }
                    const QKeySequence key = QKeySequence::mnemonic(act->text());
                    QVERIFY2(!key.isEmpty(), qPrintable(where + ": " + act->text()));
                    const QString name = key.toString();
                    QVERIFY2(!taken.contains(name),
                             qPrintable(where + ": " + act->text() + " and " + taken[name]));
                    taken[name] = act->text();
                    if (act->menu() != nullptr) {
                        check(act->menu()->actions(), where + "/" + act->text());
                    }
                }
            };
        check(rig.window->menuBar()->actions(), QStringLiteral("menu bar"));
    }
    void eachUseOfTheChannelEditorEntryOpensAFurtherWindow();

    void closeDuringWrite() {
        Rig rig;
        QVERIFY(rig.readSignature());
        rig.act("Flash/Set all areas to PGM").trigger();
        std::vector<std::uint8_t> image = rig.sim.bus().flashImage();
        for (std::uint8_t& byte : image) {
            byte = static_cast<std::uint8_t>(~byte);
        }
        rig.answer = rig.dir.file("changed.bin");
        std::ofstream(*rig.answer, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        rig.act("Flash/Write Firmware").trigger();
        QVERIFY(
            QTest::qWaitFor([&rig] { return rig.window->areas().area(0).progress != 0; }, 20000));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(rig.window->close());
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(rig.window->guard() == nullptr);
        const std::string log = readText(rig.window->logBookFile());
        QVERIFY(log.find("WFW") != std::string::npos);
        QVERIFY(log.find("Operation aborted.") != std::string::npos); // written as the job ended
        QVERIFY(log.find("Writing configuration data to ") != std::string::npos);
        QVERIFY(readText(rig.dir.file("corvex.INI")).find("[Config]") != std::string::npos);
    }
};

// Stands in for an editor: records its file and keeps itself open while it holds unsaved work.
class ToolWindow : public QWidget {
public:
    ToolWindow(QWidget* owner, std::string file)
        : QWidget(owner, Qt::Window), file(std::move(file)) {}
    std::string file;
    bool unsaved = false;

protected:
    void closeEvent(QCloseEvent* event) override { event->setAccepted(!unsaved); }
};

void MainWindowTest::toolWindowsOpenOneAtATimeAndHoldTheClose() {
    Rig rig([](corvex::mainwin::MainWindowSetup& setup) {
        setup.fileArgument = "argument.bin";
        setup.openHexEditor = [](QWidget* owner, const std::string& file) {
            auto* editor = new ToolWindow(owner, file);
            editor->setAttribute(Qt::WA_DeleteOnClose);
            editor->show();
            return editor;
        };
    });
    rig.act("Tools/Hex Editor").trigger();
    QPointer first = rig.window->hexEditor();
    QCOMPARE(static_cast<ToolWindow*>(first.data())->file, std::string("argument.bin"));

    // The EEPROM view replaces the editor; one with unsaved work stays and keeps the program.
    rig.window->feedback().onMessage([] {
        corvex::link::GuardRecord view;
        view.Code = corvex::link::kMsgEepromView;
        view.Text.assign("ee.bin");
        return view;
    }());
    QTRY_VERIFY(first.isNull());
    auto* second = static_cast<ToolWindow*>(rig.window->hexEditor());
    QCOMPARE(second->file, std::string("ee.bin"));
    second->unsaved = true;
    rig.act("Tools/Hex Editor").trigger();
    QCOMPARE(rig.window->hexEditor(), second);
    QVERIFY(!rig.window->close());
    QVERIFY(rig.window->isVisible());
    second->unsaved = false;
    QVERIFY(rig.window->close());
}

// An editor with work it has not saved: the close button would ask (recorded here), a signal
// keeps the work first, after which the close passes.
class UnsavedEditor : public QWidget, public corvex::widgets::UnsavedWork {
public:
    explicit UnsavedEditor(QWidget* owner) : QWidget(owner, Qt::Window) {}
    void keepForRecovery() override {
        kept = true;
        unsaved = false;
    }
    bool unsaved = true;
    bool kept = false;
    int questions = 0;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (unsaved) {
            ++questions;
        }
        event->setAccepted(!unsaved);
    }
};

void MainWindowTest::aSignalKeepsUnsavedWorkAndClosesToolWindowsWithoutAQuestion() {
    QPointer<UnsavedEditor> editor;
    Rig rig([&editor](corvex::mainwin::MainWindowSetup& setup) {
        setup.openHexEditor = [&editor](QWidget* owner, const std::string&) {
            editor = new UnsavedEditor(owner);
            editor->show();
            return static_cast<QWidget*>(editor.data());
        };
    });
    rig.act("Tools/Hex Editor").trigger();
    QVERIFY(editor);
    QVERIFY2(!rig.window->close(), "the close button asks, and the answer keeps the work");
    QCOMPARE(editor->questions, 1);
    rig.window->closeForSignal();
    QVERIFY(!rig.window->isVisible());
    QVERIFY(editor->kept);
    QVERIFY(!editor->isVisible());
    QCOMPARE(editor->questions, 1);
}

void MainWindowTest::eachUseOfTheChannelEditorEntryOpensAFurtherWindow() {
    Rig rig([](corvex::mainwin::MainWindowSetup& setup) {
        setup.openChannelEditor = [](QWidget* owner, const std::string& image, bool) {
            auto* editor = new ToolWindow(owner, image);
            editor->setAttribute(Qt::WA_DeleteOnClose);
            editor->show();
            return static_cast<QWidget*>(editor);
        };
    });
    // Nothing read in this run: each use asks for an image, here the same one.
    rig.answer = rig.dir.file("image.bin");
    std::ofstream(*rig.answer) << "x";
    rig.act("Tools/Channel List Editor (Dec)").trigger();
    rig.act("Tools/Channel List Editor (Dec)").trigger();
    const std::vector<QWidget*> editors = rig.window->channelEditors();
    QCOMPARE(editors.size(), std::size_t{2});
    QVERIFY(editors[0]->isVisible() && editors[1]->isVisible());
    // Each keeps its own unsaved work: the one that holds some keeps the program open.
    static_cast<ToolWindow*>(editors[1])->unsaved = true;
    // Whether the other closed first depends on the order the windows are asked in.
    QVERIFY(!rig.window->close());
    QVERIFY(rig.window->isVisible());
    QVERIFY(editors[1]->isVisible());
    static_cast<ToolWindow*>(editors[1])->unsaved = false;
    QVERIFY(rig.window->close());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
