#include "fileeditor/hex_field.h"
#include "fileeditor/search.h"
#include "fileeditor/workspace.h"
#include "tests/link/temp_dir.h"

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace corvex::fileeditor {
// Failures print the message box, not its bytes.
void PrintTo(const Notice& notice, std::ostream* out) {
    *out << notice.title << ": " << notice.text;
}
} // namespace corvex::fileeditor

namespace corvex::test {
namespace {

using fileeditor::EditorKey;
using fileeditor::FillAction;
using fileeditor::FillFields;
using fileeditor::Notice;
using fileeditor::Workspace;

std::vector<std::uint8_t> patternBytes(std::size_t size, unsigned seed = 7) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * seed + 3);
    }
    return bytes;
}

// A workspace with its working copy in a fresh folder and an opened file of `size` bytes.
class WorkspaceTest : public ::testing::Test {
protected:
    void open(std::vector<std::uint8_t> bytes) {
        m_original = std::move(bytes);
        writeBytes(m_dir.file("image.bin"), m_original);
        ASSERT_EQ(m_ws.openByName(m_dir.file("image.bin")), std::nullopt);
    }
    void openSized(std::size_t size) { open(patternBytes(size)); }
    /// The working copy as stored, with the page on screen written back.
    std::vector<std::uint8_t> workBytes() {
        EXPECT_TRUE(m_ws.flush());
        return readBytes(m_ws.workFileName());
    }
    void type(std::string_view keys) {
        for (const char key : keys) {
            m_ws.typeCharacter(key);
        }
    }

    TempDir m_dir;
    Workspace m_ws{m_dir.file("corvex.TBF")};
    std::vector<std::uint8_t> m_original;
};

Notice errorBox(std::string text) {
    return Notice{"Error", std::move(text)};
}

TEST_F(WorkspaceTest, TypedNibblesMarkTheByteAndTypingTheOriginalBackClearsIt) {
    open(std::vector<std::uint8_t>(64, 0x00));
    type("12");
    EXPECT_EQ(m_ws.pageByte(0), 0x12);
    EXPECT_TRUE(m_ws.cellChanged(1, 1) && m_ws.cellChanged(2, 1) && m_ws.cellChanged(34, 1));
    EXPECT_FALSE(m_ws.cellChanged(3, 1));
    EXPECT_EQ(m_ws.cursorColumn(), 3);
    EXPECT_EQ(m_ws.cellText(34, 1), ".") << "0x12 is below 33";

    m_ws.setCursor(2, 1);
    m_ws.typeCharacter('\b'); // restores the byte, cursor one left
    EXPECT_EQ(m_ws.pageByte(0), 0x00);
    EXPECT_FALSE(m_ws.cellChanged(1, 1) || m_ws.cellChanged(34, 1));
    EXPECT_EQ(m_ws.cursorColumn(), 1);

    m_ws.setCursor(34, 1);
    type("A");
    EXPECT_EQ(m_ws.pageByte(0), 'A');
    EXPECT_EQ(m_ws.cellText(1, 1) + m_ws.cellText(2, 1), "41");
    m_ws.setCursor(1, 1);
    type("00");
    EXPECT_FALSE(m_ws.cellChanged(1, 1)) << "typed back to the original";

    m_ws.setCursor(35, 1);
    m_ws.typeCharacter('\x7f');
    EXPECT_EQ(m_ws.cellText(35, 1), "\x7f") << "typed in the character pane";
    m_ws.refreshPage();
    EXPECT_EQ(m_ws.cellText(35, 1), ".") << "after a refresh";
}

TEST_F(WorkspaceTest, AByteTypedBackAfterItsEditWasStoredReachesTheWorkingCopy) {
    openSized(1024);
    type("FF");
    m_ws.pressKey(EditorKey::PageDown); // the edit goes into the working copy
    EXPECT_EQ(workBytes()[0], 0xFF);
    m_ws.pressKey(EditorKey::PageUp);
    m_ws.setCursor(2, 1);
    m_ws.typeCharacter('\b'); // the page now equals the opened file again
    m_ws.pressKey(EditorKey::PageDown);
    EXPECT_EQ(workBytes(), m_original);
}

TEST_F(WorkspaceTest, KeysMoveAndScrollAtThePageEdges) {
    openSized(4096); // scroll maximum 240
    struct Case {
        const char* what;
        std::uint64_t scroll;
        int column, row;
        EditorKey key;
        std::uint64_t wantScroll;
        int wantColumn, wantRow;
    };
    const Case cases[] = {
        {"right wraps to the next row", 0, 32, 1, EditorKey::Right, 0, 1, 2},
        {"right below row 16 scrolls", 0, 32, 16, EditorKey::Right, 1, 1, 16},
        {"right at the very end stays", 240, 49, 16, EditorKey::Right, 240, 49, 16},
        {"left wraps within the character pane", 0, 34, 2, EditorKey::Left, 0, 49, 1},
        {"left above row 1 scrolls", 5, 1, 1, EditorKey::Left, 4, 32, 1},
        {"left at the very start stays", 0, 1, 1, EditorKey::Left, 0, 1, 1},
        {"up on row 1 scrolls", 3, 7, 1, EditorKey::Up, 2, 7, 1},
        {"up at the top stays", 0, 7, 1, EditorKey::Up, 0, 7, 1},
        {"down on row 16 scrolls", 0, 7, 16, EditorKey::Down, 1, 7, 16},
        {"down at the maximum stays", 240, 7, 16, EditorKey::Down, 240, 7, 16},
        {"page down stops at the maximum", 230, 7, 4, EditorKey::PageDown, 240, 7, 4},
        {"page up stops at 0", 5, 7, 4, EditorKey::PageUp, 0, 7, 4},
        {"tab from a low nibble", 0, 4, 3, EditorKey::Tab, 0, 35, 3},
        {"tab from the character pane", 0, 35, 3, EditorKey::Tab, 0, 3, 3},
        {"enter on row 16 scrolls", 0, 40, 16, EditorKey::Enter, 1, 34, 16},
    };
    for (const Case& c : cases) {
        m_ws.setScrollPosition(c.scroll);
        ASSERT_TRUE(m_ws.setCursor(c.column, c.row)) << c.what;
        m_ws.pressKey(c.key);
        EXPECT_EQ(m_ws.scrollPosition(), c.wantScroll) << c.what;
        EXPECT_EQ(m_ws.cursorColumn(), c.wantColumn) << c.what;
        EXPECT_EQ(m_ws.cursorRow(), c.wantRow) << c.what;
    }
    EXPECT_FALSE(m_ws.setCursor(33, 1));
    EXPECT_FALSE(m_ws.setCursor(0, 1));

    m_ws.setScrollPosition(0);
    m_ws.setCursor(31, 16);
    type("AB"); // the last byte of the page, then the cursor leaves row 16
    EXPECT_EQ(m_ws.scrollPosition(), 1U);
    EXPECT_EQ(m_ws.cursorRow(), 16);
    EXPECT_EQ(workBytes()[255], 0xAB);
}

TEST_F(WorkspaceTest, AnEmptyFileShowsNothingAndTakesNoEdits) {
    open({});
    EXPECT_TRUE(m_ws.loaded());
    EXPECT_EQ(m_ws.scrollMaximum(), 0U);
    EXPECT_EQ(m_ws.pageLength(), 0);
    EXPECT_EQ(m_ws.cellText(0, 1), "");
    EXPECT_EQ(m_ws.cellText(1, 1), "");
    type("12xy");
    m_ws.pressKey(EditorKey::PageDown);
    EXPECT_EQ(m_ws.fill(FillAction::Fill, {"AA", "0", "FF"}).notice, std::nullopt);
    EXPECT_TRUE(workBytes().empty());
    EXPECT_FALSE(m_ws.canUndo());
    EXPECT_EQ(m_ws.history().back().substr(0, 34), "   1  00000000  00000000  00000000");
}

TEST_F(WorkspaceTest, TheLastPageShowsNothingPastTheEndAndIgnoresEditsThere) {
    openSized(1000);
    EXPECT_EQ(m_ws.scrollMaximum(), 48U);
    m_ws.setScrollPosition(48); // offsets 768..1023; the file ends at 999
    EXPECT_EQ(m_ws.pageLength(), 232);
    EXPECT_NE(m_ws.cellText(15, 15), "") << "offset 999";
    EXPECT_EQ(m_ws.cellText(17, 15), "") << "offset 1000";
    EXPECT_EQ(m_ws.cellText(0, 16), "") << "a row wholly past the end";
    m_ws.setCursor(17, 15);
    type("55");
    m_ws.setCursor(42, 16);
    type("z");
    EXPECT_EQ(workBytes(), m_original);
}

TEST_F(WorkspaceTest, BaseAddressDropsItsLowFourBits) {
    openSized(512);
    EXPECT_EQ(m_ws.setBaseAddress("10000123"), std::nullopt);
    EXPECT_EQ(m_ws.baseAddress(), 0x10000120U);
    EXPECT_EQ(m_ws.cellText(0, 1), "10000120");
    EXPECT_EQ(m_ws.cellText(0, 2), "10000130");
    EXPECT_EQ(m_ws.setBaseAddress("12G"), errorBox("Invalid base address specified !"));
    EXPECT_EQ(m_ws.baseAddress(), 0x10000120U);
}

TEST_F(WorkspaceTest, InsertCopiesAFileAtTheOffsetAndAddsItsHistoryLine) {
    openSized(4096);
    ASSERT_EQ(m_ws.setBaseAddress("1000"), std::nullopt);
    const auto inserted = patternBytes(300, 13);
    writeBytes(m_dir.file("part.bin"), inserted);
    EXPECT_EQ(m_ws.openDialogOffset(), "00001000") << "base + the cursor's offset";
    ASSERT_EQ(m_ws.openWithRange(m_dir.file("part.bin"), "00001100", "0"), std::nullopt);
    auto expected = m_original;
    std::copy(inserted.begin(), inserted.end(), expected.begin() + 0x100);
    EXPECT_EQ(workBytes(), expected) << "bytes 0x100..0x22B";
    ASSERT_EQ(m_ws.history().size(), 2U);
    EXPECT_EQ(m_ws.history()[1], "   2  00001100  0000122B  0000012C  " + m_dir.file("part.bin"));
    EXPECT_EQ(m_ws.caption(), "File Editor - [" + m_dir.file("image.bin") + "]");

    const std::pair<const char*, const char*> refused[] = {
        {"00000FF0", "Invalid value found for offset or length."},
        {"", "Invalid value specified for offset."},
    };
    for (const auto& [offset, text] : refused) {
        EXPECT_EQ(m_ws.openWithRange(m_dir.file("part.bin"), offset, "0"), errorBox(text));
    }
    EXPECT_EQ(m_ws.openWithRange(m_dir.file("part.bin"), "1000", "x1"),
              errorBox("Invalid value specified for length."));
    EXPECT_EQ(m_ws.history().size(), 2U);
}

TEST_F(WorkspaceTest, TheWorkingCopyInsertedIntoItselfComesOutAsItWas) {
    openSized(600);
    ASSERT_EQ(m_ws.openWithRange(m_ws.workFileName(), "00000010", ""), std::nullopt);
    auto expected = std::vector<std::uint8_t>(m_original.begin(), m_original.begin() + 0x10);
    expected.insert(expected.end(), m_original.begin(), m_original.end());
    EXPECT_EQ(workBytes(), expected);
}

TEST_F(WorkspaceTest, OpenOfAMissingOrIrregularFileLeavesTheWorkspace) {
    openSized(300);
    EXPECT_EQ(m_ws.openByName(m_dir.file("none.bin")),
              errorBox("File (" + m_dir.file("none.bin") + ") not found."));
    // A FIFO would hold the open until a writer comes, a device might never end.
    ASSERT_EQ(::mkfifo(m_dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& name :
         {m_dir.path().string(), std::string("/dev/null"), m_dir.file("fifo")}) {
        const Notice refused = errorBox("File (" + name + ") is not a regular file.");
        EXPECT_EQ(m_ws.openByName(name), refused);
        EXPECT_EQ(m_ws.openWithRange(name, "00000000", ""), refused) << "insert";
    }
    EXPECT_EQ(m_ws.size(), 300U);
    EXPECT_EQ(m_ws.history().size(), 1U);
    EXPECT_EQ(workBytes(), m_original);
}

TEST_F(WorkspaceTest, JumpPlacesTheCursorOnTheTargetByte) {
    openSized(1000);
    m_ws.setBaseAddress("00010000");
    EXPECT_EQ(m_ws.jump("00010000", "000103E7"), std::nullopt); // base + 999
    EXPECT_EQ(m_ws.pageOffset(), 768U);
    EXPECT_EQ(m_ws.cursorRow(), 15);
    EXPECT_EQ(m_ws.cursorColumn(), 15);
    EXPECT_EQ(m_ws.cursorOffset(), 999U);

    EXPECT_EQ(m_ws.jump("00010000", "00010310"), std::nullopt) << "on the page on screen";
    EXPECT_EQ(m_ws.pageOffset(), 768U);
    EXPECT_EQ(m_ws.cursorRow(), 2);
    m_ws.pressKey(EditorKey::Tab);
    EXPECT_EQ(m_ws.jump("00010000", "00010005"), std::nullopt);
    EXPECT_EQ(m_ws.pageOffset(), 0U);
    EXPECT_EQ(m_ws.cursorColumn(), 39) << "stays in the character pane";

    const std::tuple<const char*, const char*, const char*> refused[] = {
        {"", "00010000", "Invalid base address specified !"},
        {"00010000", "", "Invalid jump address specified !"},
        {"00010000", "0000FFFF",
         "Invalid jump address.\rJump address must be higher or equal to base address !"},
        {"00010000", "00010400", "Invalid jump address.\rJump address out of range !"},
    };
    for (const auto& [base, target, text] : refused) {
        EXPECT_EQ(m_ws.jump(base, target), errorBox(text)) << target;
    }
    EXPECT_EQ(m_ws.cursorOffset(), 5U) << "refused jumps leave the cursor";
}

TEST_F(WorkspaceTest, FillWritesTheRangeAndReloadRestoresIt) {
    openSized(2000);
    type("0"); // an edit on the page on screen must not be lost under the fill
    EXPECT_EQ(m_ws.fill(FillAction::Fill, {"5A", "00000010", "0000060F"}).notice, std::nullopt);
    auto expected = m_original;
    expected[0] = static_cast<std::uint8_t>(expected[0] & 0x0F);
    std::fill(expected.begin() + 0x10, expected.begin() + 0x610, 0x5A);
    EXPECT_EQ(workBytes(), expected);
    EXPECT_EQ(m_ws.cellText(1, 2), "5");

    EXPECT_EQ(m_ws.fill(FillAction::Reload, {"00", "00000000", "000007CF"}).notice, std::nullopt);
    EXPECT_EQ(workBytes(), m_original);

    // The last page reaches past the end of the file: nothing is written there.
    EXPECT_EQ(m_ws.fill(FillAction::Fill, {"11", "000007C0", "000007FF"}).notice, std::nullopt);
    EXPECT_EQ(workBytes().size(), 2000U);
}

TEST_F(WorkspaceTest, FillRefusalsChangeNothing) {
    Workspace empty(m_dir.file("other.TBF"));
    EXPECT_EQ(empty.fill(FillAction::Fill, {"00", "0", "10"}).notice,
              errorBox("No assigned workspace available !"));
    openSized(1000);
    struct Case {
        FillFields fields;
        const char* text;
    };
    const Case cases[] = {
        {{"1FF", "0", "10"}, "Invalid fill value !"},
        {{"00", "", "10"}, "Invalid Start address !"},
        {{"00", "0", "1Q"}, "Invalid End address !"},
        {{"00", "0", "400"}, "End address must be lower or equal than maximum workspace size !"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_ws.fill(FillAction::Fill, c.fields).notice, errorBox(c.text)) << c.text;
    }
    m_ws.setBaseAddress("100");
    EXPECT_EQ(m_ws.fill(FillAction::Fill, {"00", "F0", "200"}).notice,
              errorBox("Start address must be higher or equal to Base address !"));
    m_ws.setBaseAddress("0");
    const auto rewrite = m_ws.fill(FillAction::Fill, {"00", "00000200", "00000100"});
    EXPECT_EQ(rewrite.notice, errorBox(std::string(fileeditor::kEndAsLengthMessage)));
    EXPECT_EQ(rewrite.endField, "00000263") << "100 read as a decimal length";
    EXPECT_EQ(workBytes(), m_original);
    EXPECT_FALSE(m_ws.canUndo());
}

TEST_F(WorkspaceTest, SkipJumpsToTheFirstByteThatDiffersFromTheFillValue) {
    std::vector<std::uint8_t> bytes(100000, 0xFF);
    bytes[70000] = 0x00;
    open(bytes);
    m_ws.setBaseAddress("00800000");
    const auto found = m_ws.fill(FillAction::Fill, {"FF", "00800010", ""});
    EXPECT_EQ(found.notice, std::nullopt);
    EXPECT_EQ(found.jumpField, "00811170");
    EXPECT_EQ(m_ws.cursorOffset(), 70000U);
    const auto none = m_ws.fill(FillAction::Fill, {"FF", "00811171", ""});
    EXPECT_EQ(none.notice, std::nullopt);
    EXPECT_EQ(none.jumpField, std::nullopt);
    EXPECT_EQ(m_ws.cursorOffset(), 70000U);
}

TEST_F(WorkspaceTest, SaveWritesExactlyTheRange) {
    openSized(10000);
    m_ws.setBaseAddress("20000");
    EXPECT_EQ(m_ws.saveDialogOffset(), "00020000") << "file offset 0";
    type("EE"); // on screen only, until the save writes the page back
    const std::string target = m_dir.file("out.bin");
    writeBytes(target, std::vector<std::uint8_t>(20000, 0x77)); // a longer old file
    ASSERT_EQ(m_ws.saveRange(target, "00020000", "1001"), std::nullopt);
    auto expected = std::vector<std::uint8_t>(m_original.begin(), m_original.begin() + 0x1001);
    expected[0] = 0xEE;
    EXPECT_EQ(readBytes(target), expected) << "no old tail left";
    EXPECT_EQ(m_ws.currentFileName(), target);

    const std::string created = m_dir.file("new.bin");
    ASSERT_EQ(m_ws.saveRange(created, "00020123", ""), std::nullopt) << "to the end";
    EXPECT_EQ(readBytes(created),
              std::vector<std::uint8_t>(m_original.begin() + 0x123, m_original.end()));

    EXPECT_EQ(m_ws.saveRange(target, "0001FFFF", "10"),
              errorBox("Invalid value specified for offset or length."));
    // Neither a target that cannot be created nor one that cannot be replaced leaves a trace.
    std::filesystem::create_directory(m_dir.file("folder"));
    const std::string readOnly = m_dir.file("locked.bin");
    writeBytes(readOnly, {1, 2, 3});
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    for (const char* name : {"missing/x.bin", "folder", "locked.bin"}) {
        const auto failed = m_ws.saveRange(m_dir.file(name), "00020000", "10");
        ASSERT_TRUE(failed.has_value()) << name;
        EXPECT_EQ(failed->title, "Error");
    }
    EXPECT_EQ(readBytes(target), expected);
    EXPECT_EQ(readBytes(readOnly), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(m_dir.names(), (std::vector<std::string>{"corvex.TBF", "folder", "image.bin",
                                                       "locked.bin", "new.bin", "out.bin"}));
}

TEST_F(WorkspaceTest, SavingOntoTheOpenedFileMakesTheSavedBytesTheReference) {
    openSized(5000);
    type("EE");
    const std::string opened = m_dir.file("image.bin");
    ASSERT_EQ(m_ws.saveRange(opened, "00000000", ""), std::nullopt);
    EXPECT_FALSE(m_ws.cellChanged(1, 1)) << "the byte saved is no change any more";
    fileeditor::SearchResults results;
    EXPECT_EQ(m_ws.checkIntegrity(0, 0xFFFF, results).text, "Integrity Check Done");
    EXPECT_EQ(results.size(), 0U) << results.text(0);

    m_ws.setCursor(1, 2);
    type("00");
    ASSERT_TRUE(m_ws.flush());
    EXPECT_EQ(m_ws.checkIntegrity(0, 0xFFFF, results).text, "Integrity Check Done");
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results.text(0), " 00000010   00000010   ");
}

// A plain byte array with the same rules, driven by the same random operations.
TEST_F(WorkspaceTest, RandomEditsMatchAPlainByteModel) {
    const std::size_t size = 3000;
    openSized(size);
    std::vector<std::uint8_t> model = m_original;
    std::vector<std::vector<std::uint8_t>> undone;
    std::vector<std::vector<std::uint8_t>> redone;
    // The offset whose low nibble would join the step of its high one; kNoNibble when none.
    // (A plain word rather than std::optional: GCC 12 at -O2 warns about the optional here.)
    constexpr std::uint64_t kNoNibble = ~std::uint64_t{0};
    std::uint64_t openNibble = kNoNibble;
    std::mt19937 random(20261206);
    auto pick = [&](std::uint64_t low, std::uint64_t high) {
        return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
    };
    auto push = [&](const std::vector<std::uint8_t>& before) {
        undone.push_back(before);
        redone.clear();
    };
    const std::uint64_t lastOffset = m_ws.scrollMaximum() * 16 + 255;
    for (int round = 0; round < 3000; ++round) {
        const auto op = pick(0, 9);
        const auto before = model;
        if (op <= 3) { // a keystroke somewhere on some page
            if (pick(0, 3) == 0) {
                m_ws.setScrollPosition(pick(0, m_ws.scrollMaximum()));
                openNibble = kNoNibble;
            }
            if (pick(0, 2) == 0) {
                const int column = static_cast<int>(pick(1, 48));
                m_ws.setCursor(column == 33 ? 32 : column, static_cast<int>(pick(1, 16)));
                openNibble = kNoNibble;
            }
            const std::uint64_t at = m_ws.cursorOffset();
            const bool hex = !m_ws.cursorInCharacterPane();
            const bool high = hex && m_ws.cursorColumn() % 2 == 1;
            const char typed = pick(0, 5) == 0 ? '\b' : "0123456789abcdefXY "[pick(0, 18)];
            m_ws.typeCharacter(typed);
            std::uint64_t opened = kNoNibble;
            if (at < size && typed == '\b') {
                model[at] = m_original[at];
            } else if (at < size && !hex) {
                model[at] = static_cast<std::uint8_t>(typed);
            } else if (at < size && std::isxdigit(static_cast<unsigned char>(typed))) {
                const auto nibble =
                    static_cast<std::uint8_t>(std::stoi(std::string(1, typed), nullptr, 16));
                model[at] = high ? static_cast<std::uint8_t>((model[at] & 0x0F) | nibble << 4)
                                 : static_cast<std::uint8_t>((model[at] & 0xF0) | nibble);
                if (!high && openNibble == at) {
                    openNibble = kNoNibble;
                    continue; // joins the step of its high nibble
                }
                opened = high && model[at] != before[at] ? at : kNoNibble;
            }
            if (model != before) {
                push(before);
            }
            openNibble = opened;
            continue;
        }
        openNibble = kNoNibble;
        if (op == 4) {
            m_ws.pressKey(static_cast<EditorKey>(pick(0, 7)));
        } else if (op == 5 || op == 6) {
            const auto first = pick(0, lastOffset);
            const auto last = pick(first, std::min(lastOffset, first + 700));
            const auto value = static_cast<std::uint8_t>(pick(0, 255));
            const bool reload = op == 6;
            char valueText[3];
            std::snprintf(valueText, sizeof valueText, "%02X", value);
            m_ws.fill(reload ? FillAction::Reload : FillAction::Fill,
                      {valueText, fileeditor::hex8(first), fileeditor::hex8(last)});
            if (first < size) {
                for (auto i = first; i <= std::min<std::uint64_t>(last, size - 1); ++i) {
                    model[i] = reload ? m_original[i] : value;
                }
                push(before);
            }
        } else if (op == 7) {
            const auto bytes = patternBytes(pick(1, 600), static_cast<unsigned>(pick(1, 200)));
            writeBytes(m_dir.file("insert.bin"), bytes);
            const auto at = pick(0, model.size() + 300);
            ASSERT_EQ(m_ws.openWithRange(m_dir.file("insert.bin"), fileeditor::hex8(at), ""),
                      std::nullopt);
            model.resize(std::max<std::size_t>(model.size(), at + bytes.size()));
            std::copy(bytes.begin(), bytes.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
            push(before);
        } else if (op == 8 && !undone.empty()) {
            ASSERT_EQ(m_ws.undo(), std::nullopt);
            redone.push_back(model);
            model = undone.back();
            undone.pop_back();
        } else if (op == 9 && !redone.empty()) {
            ASSERT_EQ(m_ws.redo(), std::nullopt);
            undone.push_back(model);
            model = redone.back();
            redone.pop_back();
        }
        ASSERT_EQ(m_ws.canUndo(), !undone.empty()) << "round " << round;
        ASSERT_EQ(m_ws.canRedo(), !redone.empty()) << "round " << round;
        if (round % 50 == 0) {
            ASSERT_EQ(workBytes(), model) << "round " << round;
        }
    }
    EXPECT_EQ(workBytes(), model);
}

} // namespace
} // namespace corvex::test
