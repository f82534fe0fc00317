#include "fileeditor/hex_field.h"
#include "hexwin/file_editor.h"
#include "hexwin/hex_grid.h"
#include "hexwin/range_dialog.h"
#include "tests/link/temp_dir.h"
#include "widgets/unsaved_work.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>

using corvex::fileeditor::FillAction;
using corvex::fileeditor::Notice;
using corvex::hexwin::HexGrid;
using corvex::hexwin::TForm3;
using corvex::hexwin::TOpenFavDialog;

namespace {

std::vector<std::uint8_t> counting(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return bytes;
}

// An editor window on a file in a fresh folder; boxes, questions and range dialogs answered here.
struct Rig {
    explicit Rig(std::size_t size = 1000) : bytes(counting(size)) {
        file = dir.file("image-\u00e4.bin"); // a name in UTF-8
        corvex::test::writeBytes(file, bytes);
        editor = new TForm3(nullptr, dir.file("corvex"));
        editor->showNotice = [this](const Notice& notice) { notices.push_back(notice); };
        editor->askSave = [this] {
            ++saveQuestions;
            return answer;
        };
        editor->askYesNo = [this](const QString&, const QString& text) {
            questions.push_back(text);
            return yes;
        };
        std::filesystem::create_directory(dir.file("recovery"));
        editor->recoveryFolder = [this] { return dir.file("recovery"); };
        editor->runDialog = [this](TOpenFavDialog& dialog) {
            offsets.push_back(dialog.offset());
            dialog.selectFile(QString::fromStdString(dialogFile));
            dialog.setLength(dialogLength);
            return true;
        };
        editor->show();
        editor->activateWindow(); // the undo and redo keys are the window's shortcuts
        if (!QTest::qWaitForWindowActive(editor)) {
            qWarning("editor window not active");
        }
        if (!editor->openByName(file)) {
            qFatal("cannot open %s", file.c_str());
        }
    }
    ~Rig() { delete editor; }

    HexGrid& grid() { return *editor->findChild<HexGrid*>(); }
    QLineEdit& field(const char* name) { return *editor->findChild<QLineEdit*>(name); }
    corvex::fileeditor::Workspace& ws() { return editor->workspace(); }
    void type(const char* keys) { QTest::keyClicks(&grid(), QLatin1String(keys)); }
    QString lastNotice() const {
        return notices.empty() ? QString() : QString::fromStdString(notices.back().text);
    }

    corvex::test::TempDir dir;
    std::vector<std::uint8_t> bytes;
    std::string file;
    QPointer<TForm3> editor;
    std::vector<Notice> notices;
    TForm3::SaveAnswer answer = TForm3::SaveAnswer::Cancel;
    int saveQuestions = 0;
    std::vector<QString> questions;
    bool yes = false;
    std::string dialogFile;
    QString dialogLength = QStringLiteral("0");
    std::vector<QString> offsets;
};

} // namespace

class HexEditorWindow : public QObject {
    Q_OBJECT

private slots:
    // Qt gives Delete the text "\x7f"; it once went into the character pane as a byte.
    void keysTypeIntoBothPanesButControlKeysTypeNothing() {
        Rig rig;
        QTest::keyClick(&rig.grid(), Qt::Key_Tab); // to the character pane
        // The texts X11 gives these keys.
        const std::pair<Qt::Key, QChar> keys[] = {
            {Qt::Key_Delete, QChar(0x7F)}, {Qt::Key_Escape, QChar(0x1B)}, {Qt::Key_Insert, {}}};
        for (const auto& [key, text] : keys) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier,
                            text.isNull() ? QString() : QString(text));
            QApplication::sendEvent(&rig.grid(), &press);
        }
        QCOMPARE(rig.ws().pageByte(0), rig.bytes[0]);
        QCOMPARE(rig.ws().cursorColumn(), 34);
        QVERIFY(!rig.editor->modified());
        rig.type("z");
        QTest::keyClick(&rig.grid(), Qt::Key_Tab); // to the high nibble of byte 1
        rig.type("12");
        QCOMPARE(rig.ws().pageByte(0), 'z');
        QCOMPARE(rig.ws().pageByte(1), 0x12);
        QVERIFY(rig.editor->modified());
    }

    void pagingKeysAreIgnoredDuringARefresh() {
        Rig rig(4096);
        bool sent = false;
        connect(rig.editor, &TForm3::pageShown, this, [&] {
            if (!sent) {
                sent = true;
                QTest::keyClick(&rig.grid(), Qt::Key_PageDown);
            }
        });
        rig.field("BaseField").setText(QStringLiteral("0"));
        rig.editor->setBaseAddress();
        QVERIFY(sent);
        QCOMPARE(rig.ws().scrollPosition(), 0u);
        QTest::keyClick(&rig.grid(), Qt::Key_PageDown);
        QCOMPARE(rig.ws().scrollPosition(), 16u);
    }

    void scrollingEndsOnTheLastPageAndTheMouseScrollsPastAnEdge() {
        Rig rig(1000);
        auto* bar = rig.editor->findChild<QScrollBar*>("ScrollBar");
        QCOMPARE(bar->maximum(), 48);
        QCOMPARE(bar->pageStep(), 16);
        auto* button = rig.editor->findChild<QToolButton*>("AutoScrollButton");
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!button->isChecked(), 3000); // pops up at the last page
        QCOMPARE(bar->value(), 48);
        QCOMPARE(rig.field("FileOffsetField").text(), QStringLiteral("00000300"));
        bar->setValue(0);
        HexGrid& grid = rig.grid();
        QTest::mousePress(&grid, Qt::LeftButton, {}, QPoint(80, HexGrid::pxRowHeight + 5));
        QCOMPARE(rig.ws().cursorColumn(), 1);
        QMouseEvent below(QEvent::MouseMove, QPointF(80, grid.height() + 10),
                          grid.mapToGlobal(QPointF(80, grid.height() + 10)), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&grid, &below);
        QTRY_VERIFY_WITH_TIMEOUT(rig.ws().scrollPosition() >= 2, 2000);
        QTest::mouseRelease(&grid, Qt::LeftButton, {}, QPoint(80, grid.height() + 10));
        const auto stopped = rig.ws().scrollPosition();
        QTest::qWait(450);
        QCOMPARE(rig.ws().scrollPosition(), stopped);
        QCOMPARE(rig.ws().cursorRow(), 16);
    }

    // The second match is typed on the page on screen only: the search must see it.
    void searchListsMatchesAndJumpsToOneSelected() {
        Rig rig(4096);
        rig.type("58595A");
        QVERIFY(rig.ws().jump("00000000", "00000450") == std::nullopt);
        rig.type("58595A");
        auto* pattern = rig.editor->findChild<QComboBox*>("PatternBox");
        pattern->setEditText(QStringLiteral("XYZ"));
        rig.editor->search();
        auto& results = rig.editor->results();
        QCOMPARE(results.size(), 3u);
        QCOMPARE(QString::fromStdString(results.text(2)),
                 QStringLiteral("COMPLETED OK - Found 2 matches."));
        QCOMPARE(rig.ws().cursorOffset(), 0u);
        rig.editor->nextResult();
        QCOMPARE(rig.ws().cursorOffset(), 0x450u);
        auto* list = rig.editor->findChild<QListView*>("ResultsList");
        const auto select = [&](std::initializer_list<int> rows) {
            list->clearSelection();
            for (int row : rows) {
                list->selectionModel()->select(list->model()->index(row, 0),
                                               QItemSelectionModel::Select);
            }
            rig.editor->jumpToSelectedResult();
        };
        select({0, 1}); // refused, as the results list says why
        QVERIFY(rig.lastNotice().startsWith(QStringLiteral("Cannot jump to multiple addresses.")));
        select({1});
        QCOMPARE(rig.ws().cursorOffset(), 0x450u);
        QCOMPARE(rig.field("JumpField").text(), QStringLiteral("00000450"));
    }

    void theFillFieldsDriveFillReloadAndTheIntegrityCheck() {
        Rig rig;
        const auto fillWith = [&](const char* start, const char* end, FillAction action) {
            rig.notices.clear();
            rig.field("FillValue").setText(QStringLiteral("00"));
            rig.field("FillStart").setText(QLatin1String(start));
            rig.field("FillEnd").setText(QLatin1String(end));
            rig.editor->fill(action);
            return rig.lastNotice();
        };
        QCOMPARE(fillWith("200", "100", FillAction::Fill),
                 QString::fromLatin1(corvex::fileeditor::kEndAsLengthMessage.data()));
        QCOMPARE(rig.field("FillEnd").text(), QStringLiteral("00000263"));
        QVERIFY(!rig.editor->modified());
        QCOMPARE(fillWith("10", "1F", FillAction::Fill), QString());
        QCOMPARE(rig.ws().pageByte(0x1F), 0);
        QVERIFY(rig.editor->modified());
        rig.editor->checkIntegrity();
        QCOMPARE(rig.lastNotice(), QStringLiteral("Integrity Check Done"));
        QCOMPARE(rig.editor->results().offset(0), 0x10u);
        QCOMPARE(fillWith("10", "1F", FillAction::Reload), QString());
        QCOMPARE(rig.ws().pageByte(0x1F), rig.bytes[0x1F]);
    }

    void openDialogInsertsAFileAtTheCursor() {
        Rig rig(4096);
        const std::string part = rig.dir.file("part.bin");
        corvex::test::writeBytes(part, std::vector<std::uint8_t>(300, 0xC3));
        rig.field("JumpField").setText(QStringLiteral("100"));
        rig.editor->jump();
        rig.dialogFile = part;
        rig.editor->openWithDialog();
        QCOMPARE(rig.offsets.back(), QStringLiteral("00000100")); // preset: base + cursor
        QVERIFY(rig.notices.empty() && rig.editor->modified());
        QCOMPARE(rig.ws().pageByte(0), 0xC3);
        auto* history = rig.editor->findChild<QListWidget*>("HistoryList");
        QCOMPARE(history->count(), 2);
        QVERIFY(history->item(1)->text().startsWith(
            QStringLiteral("   2  00000100  0000022B  0000012C  ")));
    }

    void closingWithUnsavedEditsAsksFirst() {
        Rig rig;
        const std::string work = rig.ws().workFileName();
        QVERIFY(std::filesystem::exists(work));
        rig.type("1");
        rig.answer = TForm3::SaveAnswer::Cancel;
        QVERIFY(!rig.editor->close());
        rig.answer = TForm3::SaveAnswer::Discard;
        QVERIFY(rig.editor->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(rig.editor.isNull());
        QVERIFY(!std::filesystem::exists(work));
        QCOMPARE(corvex::test::readBytes(rig.file), rig.bytes);
    }

    void badInputIsRefusedAndLeavesTheWorkspaceIntact() {
        Rig rig;
        rig.type("55");
        QVERIFY(!rig.editor->openByName(rig.dir.path().string()));
        QVERIFY(rig.lastNotice().endsWith(QStringLiteral(") is not a regular file.")));
        // The opened file goes away: the workspace keeps working and saves elsewhere.
        std::filesystem::remove(rig.file);
        QTest::keyClick(&rig.grid(), Qt::Key_PageDown);
        const std::string locked = rig.dir.file("locked.bin");
        corvex::test::writeBytes(locked, {9});
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
        rig.dialogFile = locked;
        QVERIFY(!rig.editor->saveWithDialog());
        QVERIFY(rig.lastNotice().startsWith(QString::fromStdString("Cannot save " + locked)));
        QVERIFY(rig.editor->modified());
        rig.dialogFile = rig.dir.file("saved.bin");
        QVERIFY(rig.editor->saveWithDialog());
        auto expected = rig.bytes;
        expected[0] = 0x55;
        QCOMPARE(corvex::test::readBytes(rig.dialogFile), expected);
    }

    void workingCopiesAreNeverSharedNorBlockedByAStaleOne() {
        Rig rig;
        TForm3 second(nullptr, rig.dir.file("corvex"));
        second.setAttribute(Qt::WA_DeleteOnClose, false);
        const std::string work = second.workspace().workFileName();
        QVERIFY(work != rig.ws().workFileName());
        // A copy left behind by a crash, even a read-only one, is replaced.
        corvex::test::writeBytes(work, {1, 2, 3});
        std::filesystem::permissions(work, std::filesystem::perms::owner_read);
        QVERIFY(second.openByName(rig.file));
        QCOMPARE(corvex::test::readBytes(work), rig.bytes);
    }

    // A result past 4 GiB once jumped to its offset modulo 2^32.
    void aResultPastFourGiBJumpsToItsOwnByte() {
        Rig rig;
        constexpr std::uint64_t kFar = (4ULL << 30) + 0x450;
        const std::string huge = rig.dir.file("huge.bin");
        corvex::test::writeBytes(huge, {});
        std::filesystem::resize_file(huge, kFar);
        std::ofstream(huge, std::ios::app | std::ios::binary) << "XYZ";
        std::filesystem::resize_file(huge, kFar + 0x1000);
        QVERIFY(rig.editor->openByName(huge));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.ws().loading(), 60000);
        // The line a search makes for the match (scanning 4 GiB of holes would take long).
        auto& results = rig.editor->results();
        results.beginSearch();
        results.addMatch(kFar, kFar, {});
        results.addStatus("COMPLETED OK - Found 1 matches.");
        results.endSearch();
        auto* list = rig.editor->findChild<QListView*>("ResultsList");
        list->selectionModel()->select(list->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect);
        rig.editor->jumpToSelectedResult();
        QCOMPARE(rig.ws().cursorOffset(), kFar);
        QCOMPARE(rig.field("JumpField").text(), QStringLiteral("100000450"));
    }

    // Opening a large file once made the whole working copy before the window came back.
    void aLargeFileShowsItsFirstPageAtOnceAndItsCopyCanBeCancelled() {
        Rig rig;
        const std::string large = rig.dir.file("large.bin");
        auto bytes = counting(std::size_t{96} << 20);
        corvex::test::writeBytes(large, bytes);
        QVERIFY(rig.editor->openByName(large));
        QCOMPARE(rig.ws().pageByte(255), bytes[255]);
        QCOMPARE(rig.ws().cellText(2, 1), std::string("1")); // byte 0 is 01, shown at once
        auto* progress = rig.editor->findChild<QWidget*>("LoadProgress");
        QVERIFY2(progress != nullptr && progress->isVisible(), "no progress shown");
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isVisible(), 60000);
        QCOMPARE(rig.ws().size(), bytes.size());
    }

    // A signal once opened the Save / Discard / Cancel question and waited on it for good.
    void unsavedEditsAreKeptForRecoveryWithoutAQuestion() {
        Rig rig;
        auto* unsaved = dynamic_cast<corvex::widgets::UnsavedWork*>(rig.editor.data());
        QVERIFY2(unsaved != nullptr, "the editor cannot keep its work for a signal");
        rig.type("AB");
        unsaved->keepForRecovery();
        QVERIFY(rig.editor->close());
        QCOMPARE(rig.saveQuestions, 0);
        QCOMPARE(corvex::test::readBytes(rig.file), rig.bytes);
        // The next open of the file offers the edits back.
        TForm3 next(nullptr, rig.dir.file("corvex"));
        next.setAttribute(Qt::WA_DeleteOnClose, false);
        next.recoveryFolder = [&rig] { return rig.dir.file("recovery"); };
        QStringList asked;
        next.askYesNo = [&](const QString&, const QString& text) {
            asked << text;
            return true;
        };
        QVERIFY(next.openByName(rig.file));
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.front().startsWith(QString::fromStdString("Unsaved edits of " + rig.file)));
        QCOMPARE(next.workspace().pageByte(0), 0xAB);
        QVERIFY(next.modified() && next.windowTitle().endsWith(QStringLiteral(" *")));
        next.askSave = [] { return TForm3::SaveAnswer::Discard; };
    }

    // Saving "12" with length 10 onto the open 1000-byte file once cut it to 16 bytes without a
    // word, and the window went on showing 1000 bytes, none of them unsaved.
    void aSaveThatShortensTheOpenFileAsksAndThenShowsTheFile() {
        Rig rig;
        rig.type("12");
        QVERIFY(rig.editor->windowTitle().endsWith(QStringLiteral(" *")));
        rig.dialogFile = rig.file;
        rig.dialogLength = QStringLiteral("10");
        QVERIFY(!rig.editor->saveWithDialog());
        QCOMPARE(rig.questions.back(), QString::fromStdString("This replaces " + rig.file +
                                                              " (1000 bytes) with 16 bytes."));
        QCOMPARE(corvex::test::readBytes(rig.file), rig.bytes); // No keeps the file
        rig.yes = true;
        QVERIFY(rig.editor->saveWithDialog());
        QCOMPARE(corvex::test::readBytes(rig.file).size(), 16u);
        QVERIFY(!rig.editor->modified());
        QVERIFY(!rig.editor->windowTitle().endsWith(QStringLiteral("*")));
        QVERIFY(rig.editor->close());
        QCOMPARE(rig.saveQuestions, 0);
    }

    void keysSelectCopyPasteSaveAndFind() {
        Rig rig(4096);
        QGuiApplication::clipboard()->clear();
        HexGrid& grid = rig.grid();
        // Right steps a nibble: two steps reach the next byte.
        QTest::keyClick(&grid, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&grid, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("01 08"));
        QVERIFY(rig.editor->findChild<QLabel*>("StatusLine")
                    ->text()
                    .contains(QStringLiteral(
                        "Selection 00000000 - 00000001  Length 00000002 (2 bytes)")));

        // A drag in the character pane, then a paste of text over the bytes from there.
        const auto at = [](int column, int row) {
            return QPoint(HexGrid::pxColumnLeft(column) + 3, row * HexGrid::pxRowHeight + 5);
        };
        QTest::mousePress(&grid, Qt::LeftButton, {}, at(34, 2));
        QMouseEvent drag(QEvent::MouseMove, at(37, 2), grid.mapToGlobal(at(37, 2)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&grid, &drag);
        QTest::mouseRelease(&grid, Qt::LeftButton, {}, at(37, 2));
        QCOMPARE(*rig.ws().selection(), (corvex::fileeditor::ByteRange{16, 19}));
        QGuiApplication::clipboard()->setText(QStringLiteral("Hello"));
        QTest::keyClick(&grid, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(rig.ws().pageByte(20), 'o');
        QTest::keyClick(rig.editor, Qt::Key_Z, Qt::ControlModifier); // the window's own keys
        QCOMPARE(rig.ws().pageByte(16), rig.bytes[16]);
        QTest::keyClick(rig.editor, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(rig.ws().pageByte(16), 'H');

        // Ctrl+S writes the file back; the title loses its mark.
        QVERIFY(rig.editor->windowTitle().endsWith(QStringLiteral(" *")));
        QTest::keyClick(&grid, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(corvex::test::readBytes(rig.file)[16], 'H');
        QVERIFY(!rig.editor->windowTitle().endsWith(QStringLiteral("*")));

        // Ctrl+F to the pattern, F3 and Shift+F3 from the cursor, Ctrl+G to "Jump to:".
        QTest::keyClick(&grid, Qt::Key_F, Qt::ControlModifier);
        auto* pattern = rig.editor->findChild<QComboBox*>("PatternBox");
        QVERIFY(pattern->lineEdit()->hasFocus());
        QTest::keyClicks(pattern->lineEdit(), QStringLiteral("hello"));
        rig.editor->findChild<QCheckBox*>("MatchCase")->setChecked(false);
        rig.ws().setCursor(1, 1);
        QTest::keyClick(pattern->lineEdit(), Qt::Key_F3);
        QCOMPARE(rig.ws().cursorOffset(), 16u);
        QTest::keyClick(&grid, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(rig.lastNotice(), QStringLiteral("No match before the cursor."));
        QTest::keyClick(&grid, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(rig.field("JumpField").hasFocus());

        // Fill takes the selection.
        QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
        rig.editor->showFillPanel();
        QCOMPARE(rig.field("FillStart").text(), QStringLiteral("00000000"));
        QCOMPARE(rig.field("FillEnd").text(), QStringLiteral("00000FFF"));
    }

    // The preview's values are the range preview's (RangePreview); here the dialog's own parts.
    void rangeDialogFieldsPreferencesAndPreview() {
        corvex::test::TempDir dir;
        corvex::test::writeBytes(dir.file("small.bin"), counting(256));
        TOpenFavDialog dialog(nullptr);
        dialog.setBaseAdr(QStringLiteral("00000000"));
        dialog.setOffset(QString());
        dialog.setLength(QString());
        dialog.preferenceNames() << QStringLiteral("User defined") << QStringLiteral("Firmware");
        dialog.setPreferenceIndex(1);
        dialog.selectFile(QString::fromStdString(dir.file("small.bin")));
        dialog.show();
        QTest::keyClicks(dialog.OffsetEdit, QStringLiteral("g 1b\r00"));
        QCOMPARE(dialog.OffsetEdit->text(), QStringLiteral("1B00"));
        dialog.OffsetEdit->setText(QStringLiteral("00000100"));
        dialog.move(0, 0);
        std::unique_ptr<QDialog> preview(dialog.makePreview(&dialog));
        QCOMPARE(preview->size(), QSize(379, 297));
        QCOMPARE(preview->findChild<QLabel*>(QStringLiteral("Value4"))->text(),
                 QStringLiteral("   00000200"));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY((preview->geometry().center() - screen.center()).manhattanLength() <= 2);
        dialog.LengthEdit->setText(QStringLiteral("1000"));
        dialog.done(QDialog::Rejected);
        QCOMPARE(dialog.offset(), QStringLiteral("00000100"));
        QCOMPARE(dialog.length(), QStringLiteral("1000"));
        QCOMPARE(dialog.preferenceIndex(), 1);
        // The old style keeps the caller's values when cancelled.
        TOpenFavDialog old(nullptr);
        old.setOldStyle(true);
        old.setOffset(QStringLiteral("00000040"));
        old.OffsetEdit->setText(QStringLiteral("FFFF"));
        QTimer::singleShot(0, &old, [&] { old.done(QDialog::Rejected); });
        QVERIFY(!old.execute());
        QVERIFY(!old.PicturePanel->isVisible());
        QCOMPARE(old.offset(), QStringLiteral("00000040"));
    }
};

QTEST_MAIN(HexEditorWindow)
#include "file_editor_test.moc"
