#include "channels/image_writer.h"
#include "channelwin/channel_editor_window.h"
#include "channelwin/line_views.h"
#include "sim/image_builder.h"
#include "tests/link/temp_dir.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using corvex::channels::Notice;
using corvex::channelwin::TForm5;

namespace {

// `count` channels "Channel 1" ... over three transponders.
std::vector<std::uint8_t> imageOf(std::size_t count) {
    return corvex::sim::channelTableImage(0x40000, corvex::sim::generatedTransponders(3),
                                          corvex::sim::generatedChannels(count, 3));
}

// The window on an image file in a fresh folder; boxes and file dialogs are answered here.
struct Rig {
    explicit Rig(bool hex = false, std::size_t channels = 8)
        : Rig(hex, imageOf(channels), "image.bin") {}
    Rig(bool hex, const std::vector<std::uint8_t>& image, const std::string& name) {
        if (!name.empty()) {
            file = dir.file(name);
            corvex::test::writeBytes(file, image);
        }
        reopen(hex);
    }
    // A fresh window on the same file, as a later open of the image.
    void reopen(bool hex = false) {
        window = std::make_unique<TForm5>(hex);
        window->setBoxHandler(
            [this](const Notice& notice, QMessageBox::Icon, QMessageBox::StandardButtons buttons) {
                boxes.push_back(notice);
                return buttons == QMessageBox::Ok ? QMessageBox::Ok : reply;
            });
        window->setFileHandler([this](const QString& title, bool) -> std::optional<std::string> {
            dialogs.push_back(title.toStdString());
            const auto named = answers.find(title.toStdString());
            return named != answers.end() ? std::optional(named->second) : answer;
        });
        window->show();
        window->loadImage(file);
    }
    QAction& act(const char* caption) {
        QAction* found = window->action(QLatin1String(caption));
        if (found == nullptr) {
            qFatal("no action %s", caption);
        }
        return *found;
    }
    corvex::channels::ChannelListModel& list() { return window->editor().channels(); }
    void select(std::initializer_list<std::size_t> lines, std::optional<std::size_t> current) {
        list().deselectAll();
        for (const std::size_t line : lines) {
            list().setSelected(line, true);
        }
        list().setCurrent(current);
    }
    // One digit a channel: "1" for "Channel 1", "-" for a cleared channel.
    std::string names() {
        std::string shown;
        for (const corvex::channels::Line& line : list().lines()) {
            const std::size_t end = line.text.find_last_not_of(' ', 15);
            shown += end == std::string::npos ? '-' : line.text[end];
        }
        return shown;
    }
    // Our drag enters the list, then drops at `row`: Qt drops only where a drag entered.
    void dropAtRow(int row) {
        QMimeData mime;
        mime.setData(QStringLiteral("application/x-corvex-channel-lines"), QByteArray());
        const QPoint at(100, row * corvex::channelwin::kPxItemHeight + 5);
        QWidget* viewport = window->channelList().viewport();
        QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
    }

    corvex::test::TempDir dir;
    std::string file;
    std::unique_ptr<TForm5> window;
    std::vector<Notice> boxes;
    std::vector<std::string> dialogs; // the titles of the file dialogs opened
    std::optional<std::string> answer;
    std::map<std::string, std::string> answers;               // by dialog title, before `answer`
    QMessageBox::StandardButton reply = QMessageBox::Discard; // to every question
};

} // namespace

class ChannelWindowTest : public QObject {
    Q_OBJECT

    corvex::test::TempDir m_userData; // the user's data folder of this run: recovery snapshots

    [[nodiscard]] std::vector<std::string> snapshots() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(m_userData.path() / "corvex" / "recovery", ec),
             end;
             !ec && it != end; it.increment(ec)) {
            names.push_back(it->path().filename().string());
        }
        return names;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_userData.path().string()));
    }

    void loadsImagesAndSaysWhyNot() {
        // The image, its file name ("": none read yet), the channels loaded and the box shown.
        const std::tuple<std::vector<std::uint8_t>, std::string, std::size_t, std::string> cases[] =
            {
                {imageOf(8), "a.bin", 8, ""},
                {{}, "e.bin", 0, "No valid TCS or TPT Tables found !"},
                {{}, "", 0, ""},
            };
        for (const auto& [image, name, channels, box] : cases) {
            Rig rig(false, image, name);
            QCOMPARE(rig.window->windowTitle(),
                     QString::fromStdString("Channel List Editor - [" + rig.file + "]"));
            QCOMPARE(rig.list().size(), channels);
            QCOMPARE(rig.boxes.empty() ? std::string() : rig.boxes.front().text, box);
            QCOMPARE(rig.window->editor().transponders().size() > 0, channels > 0);
        }
        Rig missing(false, {}, "");
        missing.window->loadImage(missing.dir.file("gone.bin"));
        QCOMPARE(missing.boxes.size(), std::size_t{1});
        QCOMPARE(missing.boxes.front().title, std::string("Error"));
        QVERIFY(missing.boxes.front().text.find("gone.bin") != std::string::npos);
    }

    void windowFrameAndModes() {
        Rig rig(true);
        QCOMPARE(rig.window->size(), QSize(TForm5::kClientWidth, TForm5::kClientHeight));
        QCOMPARE(rig.window->pages().tabPosition(), QTabWidget::East);
        QCOMPARE(rig.list().line(0).text.substr(35, 5), std::string("0100 ")); // hexadecimal PIDs
        rig.window->setScreenSize(QSize(1024, 700));
        rig.list().selectOnly(0);
        rig.window->button(QStringLiteral("Switch to advanced mode"))->click();
        QVERIFY(!rig.window->advancedMode());
        QCOMPARE(rig.window->frameGeometry(), QRect((1024 - 428) / 2, 0, 428, 700));
        QVERIFY(rig.window->field(QStringLiteral("SID:"))->isHidden());
        // Leading spaces go, the padding stays.
        QCOMPARE(rig.window->field(QStringLiteral("Channel name:"))->text(),
                 QStringLiteral("Channel 1       "));
        rig.window->button(QStringLiteral("Switch to advanced mode"))->click();
        QCOMPARE(rig.window->frameGeometry().width(), 808);
        QVERIFY(!rig.window->field(QStringLiteral("SID:"))->isHidden());
        // Too narrow a screen: the window covers it.
        rig.window->setScreenSize(QSize(850, 600));
        rig.window->button(QStringLiteral("Switch to advanced mode"))->click();
        rig.window->button(QStringLiteral("Switch to advanced mode"))->click();
        QCOMPARE(rig.window->frameGeometry(), QRect(-4, -4, 858, 608));
        // The "Item" header toggles the control panel, the menu follows.
        emit rig.window->channelHeader().sectionClicked(0);
        QVERIFY(rig.window->controlPanel().isHidden());
        QVERIFY(rig.window->action(QStringLiteral("View control panel")) != nullptr);
        // Enter walks the edit panel; from PCR back to the name.
        rig.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        rig.window->field(QStringLiteral("PCR:"))->setFocus();
        QTest::keyClick(rig.window->field(QStringLiteral("PCR:")), Qt::Key_Return);
        QVERIFY(rig.window->field(QStringLiteral("Channel name:"))->hasFocus());
        QTest::keyClick(rig.window->field(QStringLiteral("Channel name:")), Qt::Key_Return);
        QVERIFY(rig.window->checkBox(QStringLiteral("Favorite"))->hasFocus());
        // Characters typed into a list are dropped; the arrows move the current line.
        QTest::keyClicks(&rig.window->channelList(), QStringLiteral("zz"));
        QTest::keyClick(&rig.window->channelList(), Qt::Key_Down);
        QCOMPARE(rig.list().current(), std::optional<std::size_t>(1));
        rig.act("Hide edit panel").trigger();
        QVERIFY(rig.window->editPanel().isHidden());
    }

    // Each command on one and on several lines, then undone and redone.
    void editingCommandsUndoAndRedo() {
        const struct {
            const char* command;
            std::initializer_list<std::size_t> selected;
            std::optional<std::size_t> current;
            std::string after;
            std::string box;
        } cases[] = {
            {"Delete", {0, 2, 7}, 0, "24567", ""},
            {"Clear", {1, 3}, 1, "1-3-5678", ""},
            {"Cut", {2, 6}, 2, "124568", ""},
            // Copied 2 and 3 over 6, 7 and past the end: 6 and 7 move to the end.
            {"Replace",
             {5},
             5,
             "1234523867",
             "Due to replacement, some channels are moved starting at channel 9"},
            {"Paste", {3}, 3, "1232345678", ""},
            {"Paste after", {3}, 3, "1234235678", ""},
        };
        for (const auto& c : cases) {
            Rig rig;
            const std::string before = rig.names();
            rig.select({1, 2}, 1);
            rig.act("Copy").trigger();
            rig.select(c.selected, c.current);
            rig.act(c.command).trigger();
            QCOMPARE(rig.names(), c.after);
            QCOMPARE(rig.boxes.empty() ? std::string() : rig.boxes.front().text, c.box);
            rig.act("Undo").trigger();
            QCOMPARE(rig.names(), before);
            rig.act("Redo").trigger();
            QCOMPARE(rig.names(), c.after);
        }
        // Select All twice: by the check boxes, with the count in a plain box.
        Rig rig;
        rig.act("Select All").trigger();
        QCOMPARE(rig.list().selectedCount(), std::size_t{8});
        rig.window->checkBox(QStringLiteral("Active"))->setChecked(true);
        rig.act("Select All").trigger();
        QCOMPARE(rig.boxes.back().text.substr(1), std::string(" channel object(s) found."));
        QCOMPARE(rig.boxes.back().title, std::string());
    }

    void dragAndDropAndEdgeScroll() {
        Rig rig;
        // Advanced: the dragged line and the one under the drop change places.
        rig.list().selectOnly(0);
        rig.dropAtRow(3);
        QCOMPARE(rig.names(), "42315678");
        // Plain: the line moves, the ones between move up.
        rig.act("Advanced Drag && Drop").trigger();
        QVERIFY(!rig.list().advancedDragDrop());
        rig.list().selectOnly(1);
        rig.dropAtRow(4);
        QCOMPARE(rig.names(), "43125678");

        // The pointer held in the top band scrolls (DragScroll's rules) the view.
        Rig tall(false, 200);
        auto& view = tall.window->channelList();
        tall.list().setTop(50);
        view.pointerPos = [] { return QPoint(20, 2); };
        view.windowActive = [] { return true; };
        view.dragMoved();
        for (int tick = 1; tick <= 6; ++tick) {
            view.scrollTick();
        }
        QCOMPARE(view.verticalScrollBar()->value(), 48);
        view.windowActive = [] { return false; };
        view.scrollTick();
        QVERIFY(!view.edgeTimerActive());
    }

    void searchJumpsAndExpansion() {
        Rig rig;
        QComboBox& box = rig.window->searchBox();
        box.setEditText(QStringLiteral("channel 7"));
        rig.window->button(QStringLiteral("Search for information"))->click();
        QCOMPARE(box.currentText(), QStringLiteral("Channel 7        (7)"));
        QVERIFY(rig.list().isSelected(6));
        rig.act("View family channels").trigger();
        QCOMPARE(rig.window->pages().currentIndex(), 1);
        auto& tps = rig.window->editor().transponders();
        const std::size_t transponder = *tps.current();
        QVERIFY(rig.act("Hide TP channels").isEnabled());
        // The transponder stands at the top; its first channel after the spacer and header.
        QWidget* tpView = rig.window->transponderList().viewport();
        QTest::mouseClick(tpView, Qt::LeftButton, {}, QPoint(100, 3 * 18 + 5));
        QCOMPARE(*tps.current(), transponder + 3);
        rig.act("Jump to channel").trigger();
        QCOMPARE(rig.window->pages().currentIndex(), 0);
        QCOMPARE(rig.list().selectedCount(), std::size_t{1});
        rig.window->pages().setCurrentIndex(1);
        QTest::mouseClick(tpView, Qt::LeftButton, {}, QPoint(100, 5));
        QVERIFY(!rig.act("Jump to channel").isEnabled()); // on a transponder line
        rig.window->button(QStringLiteral("Expand transponder table"))->click();
        QVERIFY(tps.size() > 4);
        rig.act("Collapse all TP's").trigger();
        QCOMPARE(tps.size(), std::size_t{4});
        // The empty-channel line (last) has no channels here: a double click says so.
        tps.setTop(0);
        QTest::mouseClick(tpView, Qt::LeftButton, {}, QPoint(100, 3 * 18 + 5));
        QTest::mouseDClick(tpView, Qt::LeftButton, {}, QPoint(100, 3 * 18 + 5));
        QCOMPARE(
            rig.boxes.back(),
            (Notice{"This transponder did not have any (active) channels connected.", "Message"}));
    }

    void aLoadAsksBeforeItDropsAnArrangedList() {
        // The answer, the channels listed after it, and whether the list was saved.
        const std::tuple<QMessageBox::StandardButton, std::size_t, bool> cases[] = {
            {QMessageBox::Cancel, 7, false},
            {QMessageBox::Discard, 3, false},
            {QMessageBox::Save, 3, true},
        };
        for (const auto& [reply, channels, saved] : cases) {
            Rig rig;
            corvex::test::writeBytes(rig.dir.file("other.bin"), imageOf(3));
            rig.answers = {{"Open", rig.dir.file("other.bin")},
                           {"Save list into image as", rig.dir.file("saved.bin")}};
            rig.select({0}, 0);
            rig.act("Delete").trigger();
            rig.reply = reply;
            rig.window->button(QStringLiteral("Load firmware from disk"))->click();
            QCOMPARE(rig.boxes.front().title, std::string("Warning"));
            QVERIFY(rig.boxes.front().text.find("loads another image") != std::string::npos);
            QCOMPARE(rig.list().size(), channels);
            QCOMPARE(std::filesystem::exists(rig.dir.file("saved.bin")), saved);
            if (reply == QMessageBox::Cancel) {
                QVERIFY(rig.dialogs.empty());
                QVERIFY2(rig.act("Undo").isEnabled(), "the undo history stays as well");
            }
        }
        // Nothing arranged: no question.
        Rig plain;
        plain.answer = plain.file;
        plain.window->button(QStringLiteral("Load firmware from disk"))->click();
        QVERIFY(plain.boxes.empty());
    }

    void aDamagedTableWarnsInOneBox() {
        // Every transponder record zero while a channel needs number 254: 254 warnings.
        corvex::sim::ImageBuilder damaged(0x40000);
        damaged.putTransponderTable(corvex::sim::kTransponderBlock,
                                    std::vector<corvex::sim::Transponder>(254));
        corvex::sim::Channel needy;
        needy.name = "Needy";
        needy.transponder = 254;
        damaged.putChannelTable(corvex::sim::kChannelBlock, std::vector{needy});
        Rig rig(false, damaged.bytes(), "damaged.bin");
        QCOMPARE(rig.boxes.size(), std::size_t{1});
        const Notice& box = rig.boxes.front();
        QCOMPARE(box.title, std::string("Warning"));
        QVERIFY(box.text.starts_with("TPT Interpreter failure detected.\r\rTPT last Index = 0\r"));
        // The twentieth warning names index 19, then the rest are counted.
        QVERIFY(box.text.ends_with("Link needed for TPT Index = 254\rTID=0\r\r... and 234 more"));
        QVERIFY(box.text.find("TPT last Index = 19\r") != std::string::npos);
        QVERIFY(box.text.find("TPT last Index = 20\r") == std::string::npos);
        QCOMPARE(rig.list().size(), std::size_t{1});
    }

    void aSignalKeepsTheArrangedListForTheNextOpen() {
        Rig rig;
        rig.select({0, 5}, 0);
        rig.act("Delete").trigger();
        const std::string arranged = rig.names();
        // Kept for a signal: the close asks nothing.
        rig.reply = QMessageBox::Cancel;
        rig.window->keepForRecovery();
        QVERIFY(rig.window->close());
        QVERIFY(rig.boxes.empty());
        QCOMPARE(snapshots().size(), std::size_t{1});

        // The next open of the image offers it; No drops it.
        rig.reply = QMessageBox::No;
        rig.reopen();
        QCOMPARE(rig.boxes.size(), std::size_t{1});
        QVERIFY(rig.boxes.back().text.find("Restore it?") != std::string::npos);
        QCOMPARE(rig.list().size(), std::size_t{8});
        QVERIFY(snapshots().empty());

        // Restored: one step to undo, and work to save before a close.
        rig.select({0, 5}, 0);
        rig.act("Delete").trigger();
        rig.window->keepForRecovery();
        QVERIFY(rig.window->close());
        rig.reply = QMessageBox::Yes;
        rig.reopen();
        QCOMPARE(rig.names(), arranged);
        QVERIFY(snapshots().empty());
        rig.reply = QMessageBox::Cancel;
        QVERIFY(!rig.window->close());
        rig.act("Undo").trigger();
        QCOMPARE(rig.list().size(), std::size_t{8});
        QVERIFY(rig.window->close());

        // A snapshot is offered only to the bytes it was arranged on.
        rig.select({0}, 0);
        rig.act("Delete").trigger();
        rig.window->keepForRecovery();
        QVERIFY(rig.window->close());
        corvex::test::writeBytes(rig.file, imageOf(9));
        const std::size_t asked = rig.boxes.size();
        rig.reopen();
        QCOMPARE(rig.boxes.size(), asked);
        QCOMPARE(rig.list().size(), std::size_t{9});
        QCOMPARE(snapshots().size(), std::size_t{1});
        std::filesystem::remove_all(m_userData.path() / "corvex" / "recovery");
    }

    void keysAndHeadingsArrangeTheList() {
        Rig rig;
        rig.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        QWidget& list = rig.window->channelList();
        list.setFocus();
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(&list, k, mods);
        };
        rig.select({0}, 0);
        key(Qt::Key_C, Qt::ControlModifier);
        rig.select({3}, 3);
        key(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(rig.names(), "123145678");
        rig.select({3}, 3);
        key(Qt::Key_Delete);
        QCOMPARE(rig.names().size(), std::size_t{8});
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rig.names().size(), std::size_t{9});
        key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        key(Qt::Key_Z, Qt::ControlModifier);
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(rig.names(), "12345678");
        // Shift extends the selection, Ctrl+Down moves it, one step per key.
        rig.list().selectOnly(1);
        key(Qt::Key_Down, Qt::ShiftModifier);
        key(Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(rig.list().selectedLines(), (std::vector<std::size_t>{1, 2, 3}));
        key(Qt::Key_Down, Qt::ControlModifier);
        key(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(rig.names(), "15623478");
        key(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(rig.names(), "15678");
        // A heading sorts by its column (the list is in name order: descending); Favorite not.
        emit rig.window->channelHeader().sectionClicked(1);
        QCOMPARE(rig.names(), "87651");
        emit rig.window->channelHeader().sectionClicked(2);
        QCOMPARE(rig.list().history().stepCount(), std::size_t{6});
    }

    void saveIntoImageRoundTrip() {
        Rig rig;
        // "Write firmware to disk" and the edit panel's OK save the list into an image.
        rig.answer = rig.dir.file("written.bin");
        rig.window->button(QStringLiteral("Write firmware to disk"))->click();
        QCOMPARE(rig.dialogs, std::vector<std::string>{"Save list into image as"});
        QCOMPARE(corvex::test::readBytes(*rig.answer), corvex::test::readBytes(rig.file));
        rig.answer = rig.dir.file("ok.bin");
        for (QPushButton* ok : rig.window->editPanel().findChildren<QPushButton*>()) {
            ok->click();
        }
        QVERIFY(std::filesystem::exists(rig.dir.file("ok.bin")));
        rig.select({0, 3}, 0);
        rig.act("Cut").trigger();
        rig.list().setCurrent(5);
        rig.act("Paste after").trigger();
        rig.answer = rig.dir.file("arranged.bin");
        rig.act("Save list into image as ...").trigger();
        QCOMPARE(rig.boxes.back().title, std::string("Information"));
        Rig saved(false, corvex::test::readBytes(*rig.answer), "check.bin");
        QCOMPARE(saved.names(), rig.names());
        rig.answer = rig.dir.file("list.csv");
        rig.act("Export list as CSV ...").trigger();
        const std::vector<std::uint8_t> csv = corvex::test::readBytes(*rig.answer);
        QCOMPARE(std::count(csv.begin(), csv.end(), '\n'), 9); // heading and eight channels

        // Saved: closes without a question. Arranged again: asks (the answers: a load's question).
        QVERIFY(rig.window->close());
        rig.window->show();
        rig.act("Undo").trigger();
        rig.reply = QMessageBox::Cancel;
        QVERIFY(!rig.window->close());
        rig.reply = QMessageBox::Discard;
        QVERIFY(rig.window->close());
    }
};

QTEST_MAIN(ChannelWindowTest)
#include "tform5_test.moc"
