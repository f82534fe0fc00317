#include "fileeditor/hex_field.h"
#include "fileeditor/search.h"
#include "fileeditor/workspace.h"
#include "tests/link/temp_dir.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <tuple>

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
using fileeditor::SaveCheck;
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
    /// Scroll position, cursor column and row.
    std::tuple<std::uint64_t, int, int> where() const {
        return {m_ws.scrollPosition(), m_ws.cursorColumn(), m_ws.cursorRow()};
    }
    void shiftRight(int times) {
        for (int i = 0; i < times; ++i) {
            m_ws.pressKey(EditorKey::Right, true);
        }
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
        EXPECT_EQ(where(), std::tuple(c.wantScroll, c.wantColumn, c.wantRow)) << c.what;
    }
    EXPECT_FALSE(m_ws.setCursor(33, 1));
    EXPECT_FALSE(m_ws.setCursor(0, 1));
    m_ws.setScrollPosition(0);
    m_ws.setCursor(31, 16);
    type("AB"); // the last byte of the page, then the cursor leaves row 16
    EXPECT_EQ(where(), std::tuple(1U, 1, 16));
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
    EXPECT_EQ(m_ws.openWithRange(m_dir.file("part.bin"), "00000FF0", "0"),
              errorBox("Invalid value found for offset or length."));
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
    EXPECT_EQ(where(), std::tuple(48U, 15, 15));
    EXPECT_EQ(m_ws.jump("00010000", "00010310"), std::nullopt) << "on the page on screen";
    EXPECT_EQ(where(), std::tuple(48U, 1, 2));
    m_ws.pressKey(EditorKey::Tab);
    EXPECT_EQ(m_ws.jump("00010000", "00010005"), std::nullopt);
    EXPECT_EQ(where(), std::tuple(0U, 39, 1)) << "stays in the character pane";
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
    const std::pair<FillFields, const char*> cases[] = {
        {{"1FF", "0", "10"}, "Invalid fill value !"},
        {{"00", "", "10"}, "Invalid Start address !"},
        {{"00", "0", "1Q"}, "Invalid End address !"},
        {{"00", "0", "400"}, "End address must be lower or equal than maximum workspace size !"},
    };
    for (const auto& [fields, text] : cases) {
        EXPECT_EQ(m_ws.fill(FillAction::Fill, fields).notice, errorBox(text)) << text;
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
    EXPECT_EQ(m_ws.currentFileName(), m_dir.file("image.bin")) << "a part saved elsewhere";
    EXPECT_TRUE(m_ws.modified());
    const std::string created = m_dir.file("new.bin");
    ASSERT_EQ(m_ws.saveRange(created, "00020123", ""), std::nullopt) << "to the end";
    EXPECT_EQ(readBytes(created),
              std::vector<std::uint8_t>(m_original.begin() + 0x123, m_original.end()));
    EXPECT_EQ(m_ws.saveRange(target, "0001FFFF", "10"),
              errorBox("Invalid value specified for offset or length."));
    // A target that cannot be replaced is refused and left as it was (no part file: ReplacingFile).
    const std::string readOnly = m_dir.file("locked.bin");
    writeBytes(readOnly, {1, 2, 3});
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    EXPECT_EQ(m_ws.saveRange(readOnly, "00020000", "10").value_or(Notice{}).title, "Error");
    EXPECT_EQ(readBytes(readOnly), (std::vector<std::uint8_t>{1, 2, 3}));
}

// Saving 16 bytes onto the file on screen once left the editor showing the old 2 MiB.
TEST_F(WorkspaceTest, ASaveOntoTheOpenedFileShowsThatFileAsItNowIs) {
    openSized(2 << 20);
    type("12");
    const std::string opened = m_dir.file("image.bin");
    ASSERT_EQ(m_ws.saveRange(opened, "00000000", "10"), std::nullopt);
    auto expected = std::vector<std::uint8_t>(m_original.begin(), m_original.begin() + 16);
    expected[0] = 0x12;
    EXPECT_EQ(readBytes(opened), expected);
    EXPECT_EQ(m_ws.size(), 16U);
    EXPECT_EQ(m_ws.scrollMaximum(), 0U);
    EXPECT_EQ(m_ws.pageLength(), 16);
    EXPECT_FALSE(m_ws.cellChanged(1, 1));
    EXPECT_EQ(m_ws.cellText(1, 2), "") << "past the end of the file as it now is";
    EXPECT_EQ(workBytes(), expected);
}

// A save through a symbolic link once replaced the link, leaving the file it named as it was.
TEST_F(WorkspaceTest, ASaveThroughASymbolicLinkWritesTheFileItPointsTo) {
    openSized(600);
    const std::string real = m_dir.file("image.bin");
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    const std::string link = m_dir.file("link.bin");
    std::filesystem::create_symlink("image.bin", link);
    ASSERT_EQ(m_ws.openByName(link), std::nullopt);
    type("EE");
    ASSERT_EQ(m_ws.saveRange(link, "00000000", ""), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readBytes(real)[0], 0xEE);
    EXPECT_EQ(std::filesystem::status(real).permissions(), std::filesystem::perms(0640));
    EXPECT_FALSE(m_ws.cellChanged(1, 1)) << "the file behind the link is the reference now";
    m_ws.setCursor(1, 2);
    type("00");
    ASSERT_TRUE(m_ws.flush());
    fileeditor::SearchResults results;
    EXPECT_EQ(m_ws.checkIntegrity(0, 0xFFFF, results).text, "Integrity Check Done");
    ASSERT_EQ(results.size(), 1U) << "only the byte changed since the save";
    EXPECT_EQ(results.text(0), " 00000010   00000010   ");
}

// Offsets past 4 GiB once went through 32-bit fields and landed modulo 2^32.
TEST_F(WorkspaceTest, OffsetsPastFourGiBLandOnTheirOwnByte) {
    const std::string image = m_dir.file("huge.bin");
    constexpr std::uint64_t kSize = (5ULL << 30) + 0x1000;
    constexpr std::uint64_t kFar = (4ULL << 30) + 0x123;
    writeBytes(image, {});
    std::filesystem::resize_file(image, kFar);
    std::ofstream(image, std::ios::app | std::ios::binary) << '\x5A';
    std::filesystem::resize_file(image, kSize);
    ASSERT_EQ(m_ws.openByName(image), std::nullopt);
    ASSERT_EQ(m_ws.jump("00000000", "100000123"), std::nullopt);
    EXPECT_EQ(m_ws.cursorOffset(), kFar);
    EXPECT_EQ(m_ws.pageByte(static_cast<int>(kFar - m_ws.pageOffset())), 0x5A);
    EXPECT_EQ(m_ws.cellText(0, m_ws.cursorRow()), "100000120");
    EXPECT_EQ(m_ws.cursorAddressText(), "100000123");
    EXPECT_EQ(m_ws.fill(FillAction::Fill, {"77", "100000200", "10000020F"}).notice, std::nullopt);
    ASSERT_TRUE(m_ws.flush());
    std::ifstream in(m_ws.workFileName(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kFar - 0x123 + 0x1FF));
    std::string around(18, '?');
    in.read(around.data(), 18);
    EXPECT_EQ(around, '\0' + std::string(16, '\x77') + '\0');
    in.seekg(static_cast<std::streamoff>(0x200));
    EXPECT_EQ(in.get(), 0) << "not modulo 2^32";
}

TEST_F(WorkspaceTest, ModifiedFollowsTheStepsSinceTheLastSaveIntoTheWorkspacesFile) {
    openSized(4096);
    const std::string opened = m_dir.file("image.bin");
    EXPECT_FALSE(m_ws.modified());
    type("AB");
    EXPECT_TRUE(m_ws.modified()) << "on the page only";
    const SaveCheck whole = m_ws.checkSaveToFile();
    EXPECT_EQ(whole.refusal, std::nullopt);
    EXPECT_EQ(whole.question, std::nullopt) << "nothing is cut short";
    ASSERT_EQ(m_ws.saveToFile(), std::nullopt);
    EXPECT_FALSE(m_ws.modified());
    EXPECT_EQ(readBytes(opened)[0], 0xAB);
    ASSERT_EQ(m_ws.undo(), std::nullopt);
    EXPECT_TRUE(m_ws.modified()) << "the file holds AB, the copy no longer";
    ASSERT_EQ(m_ws.redo(), std::nullopt);
    EXPECT_FALSE(m_ws.modified()) << "back where it was saved";

    // A part saved elsewhere leaves the work unsaved; the whole saved elsewhere becomes the file.
    type("C");
    ASSERT_EQ(m_ws.saveRange(m_dir.file("part.bin"), "00000000", "10"), std::nullopt);
    EXPECT_TRUE(m_ws.modified());
    EXPECT_EQ(m_ws.checkSave(m_dir.file("part.bin"), "0", "8").question, std::nullopt)
        << "another file is the dialog's business";
    ASSERT_EQ(m_ws.saveRange(m_dir.file("whole.bin"), "00000000", ""), std::nullopt);
    EXPECT_FALSE(m_ws.modified());
    EXPECT_EQ(m_ws.currentFileName(), m_dir.file("whole.bin"));
    EXPECT_EQ(m_ws.caption(), "File Editor - [" + m_dir.file("whole.bin") + "]");
    EXPECT_EQ(m_ws.checkSave(m_dir.file("whole.bin"), "00000010", "").question,
              "This replaces " + m_dir.file("whole.bin") + " (4096 bytes) with 4080 bytes.");
    EXPECT_EQ(m_ws.checkSave(m_dir.file("whole.bin"), "0000000G", "").refusal,
              errorBox("Invalid value specified for offset."));
}

TEST_F(WorkspaceTest, SelectionFollowsShiftedKeysAndClicksAndCopiesAndPastesInBothPanes) {
    openSized(1024);
    m_ws.setCursor(3, 1); // byte 1
    shiftRight(2);
    m_ws.pressKey(EditorKey::Down, true); // column 5 of row 2: byte 18
    m_ws.setScrollPosition(1);
    m_ws.setScrollPosition(0);
    ASSERT_TRUE(m_ws.selection()) << "scrolling keeps it";
    EXPECT_EQ(*m_ws.selection(), (fileeditor::ByteRange{1, 18}));
    EXPECT_TRUE(m_ws.cellSelected(3, 1) && m_ws.cellSelected(35, 1) && m_ws.cellSelected(36, 2));
    EXPECT_FALSE(m_ws.cellSelected(1, 1) || m_ws.cellSelected(37, 2));
    m_ws.setCursor(1, 1, true); // Shift+click back before the anchor
    EXPECT_EQ(*m_ws.selection(), (fileeditor::ByteRange{0, 1}));
    std::string text;
    EXPECT_EQ(m_ws.copyText(false, text), std::nullopt);
    EXPECT_EQ(text, "03 0A");
    m_ws.setCursor(1, 1);
    EXPECT_EQ(m_ws.selection(), std::nullopt) << "a plain click drops it";
    m_ws.setCursor(1, 2);
    EXPECT_EQ(m_ws.paste("de ad,0xBE EF", false), std::nullopt);
    EXPECT_EQ(workBytes()[16], 0xDE);
    EXPECT_EQ(workBytes()[19], 0xEF);
    EXPECT_EQ(m_ws.cursorOffset(), 20U) << "past the pasted bytes";
    const Notice noHex{"Info",
                       "The clipboard holds no hexadecimal bytes (such as \"DE AD BE EF\")."};
    EXPECT_EQ(m_ws.paste("not hex", false), noHex);
    EXPECT_EQ(m_ws.paste("DEA", false), noHex) << "a lone digit";
    ASSERT_EQ(m_ws.undo(), std::nullopt) << "one step for the whole paste";
    EXPECT_EQ(workBytes(), m_original);
    m_ws.setCursor(34, 1);
    EXPECT_EQ(m_ws.paste("Hi!", true), std::nullopt);
    m_ws.setCursor(34, 1);
    shiftRight(3);
    EXPECT_EQ(m_ws.copyText(true, text), std::nullopt);
    EXPECT_EQ(text, "Hi!.") << "a byte that is no printable character";
    m_ws.jump("0", "3FE"); // pasting never grows the file
    EXPECT_EQ(m_ws.paste("11 22 33 44", false), std::nullopt);
    EXPECT_EQ(workBytes().size(), 1024U);
}

TEST_F(WorkspaceTest, FindFromTheCursorSelectsTheNextOrPreviousMatch) {
    std::vector<std::uint8_t> bytes(200000, 0);
    for (const std::size_t at : {5U, 70000U, 131070U}) {
        std::copy_n("Mark", 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    open(bytes);
    const std::vector<std::uint8_t> lower{'m', 'a', 'r', 'k'};
    using fileeditor::CaseMatch;
    EXPECT_EQ(m_ws.findFromCursor(lower, true, CaseMatch::Exact),
              (Notice{"Info", "No match after the cursor."}));
    ASSERT_EQ(m_ws.findFromCursor(lower, true, CaseMatch::IgnoreAsciiCase), std::nullopt);
    EXPECT_EQ(m_ws.cursorOffset(), 5U);
    EXPECT_EQ(*m_ws.selection(), (fileeditor::ByteRange{5, 8}));
    ASSERT_EQ(m_ws.findFromCursor(lower, true, CaseMatch::IgnoreAsciiCase), std::nullopt);
    EXPECT_EQ(m_ws.cursorOffset(), 70000U);
    ASSERT_EQ(m_ws.findFromCursor(lower, true, CaseMatch::IgnoreAsciiCase), std::nullopt);
    EXPECT_EQ(m_ws.cursorOffset(), 131070U) << "across a block boundary";
    ASSERT_EQ(m_ws.jump("0", "20"), std::nullopt);
    type("4D61726B"); // "Mark" at 0x20, on the page on screen only
    const std::vector<std::uint8_t> mark{'M', 'a', 'r', 'k'};
    for (const std::uint64_t expected : {0x20U, 5U}) {
        ASSERT_EQ(m_ws.findFromCursor(mark, false, CaseMatch::Exact), std::nullopt) << expected;
        EXPECT_EQ(m_ws.cursorOffset(), expected);
    }
    EXPECT_EQ(m_ws.findFromCursor(mark, false, CaseMatch::Exact),
              (Notice{"Info", "No match before the cursor."}));
}

TEST_F(WorkspaceTest, TheStatusLineDescribesTheCursorAndTheSelection) {
    open({0x4F, 0x4B, 0x00, 0x80, 0x01});
    m_ws.setBaseAddress("1000");
    EXPECT_EQ(m_ws.statusLine(), "Address 00001000  Offset 00000000  Byte 4F 79 01001111\n"
                                 "16-bit LE 4B4F BE 4F4B  32-bit LE 80004B4F BE 4F4B0080\n"
                                 "No selection");
    m_ws.setCursor(7, 1, true); // bytes 0..3
    shiftRight(2);
    EXPECT_EQ(m_ws.statusLine(), "Address 00001004  Offset 00000004  Byte 01 1 00000001\n"
                                 "\n"
                                 "Selection 00001000 - 00001004  Length 00000005 (5 bytes)");
    m_ws.setCursor(13, 1);
    EXPECT_EQ(m_ws.statusLine(), "Address 00001006  Offset 00000006  past the end of the file\n"
                                 "\n"
                                 "No selection");
}

TEST_F(WorkspaceTest, UnsavedWorkKeptForRecoveryIsRestoredAtTheNextOpen) {
    openSized(3000);
    const std::string folder = m_dir.file("recovery");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(m_ws.keepForRecovery(folder), std::nullopt) << "nothing unsaved";
    type("77");
    const auto kept = m_ws.keepForRecovery(folder);
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, Workspace::recoveryFileName(folder, m_dir.file("image.bin")));
    EXPECT_EQ(std::filesystem::status(*kept).permissions(), std::filesystem::perms(0600));
    Workspace next(m_dir.file("next.TBF"));
    ASSERT_EQ(next.beginOpen(m_dir.file("./image.bin"), *kept), std::nullopt);
    EXPECT_EQ(next.finishLoading(true), std::nullopt);
    EXPECT_EQ(next.pageByte(0), 0x77);
    EXPECT_TRUE(next.byteChanged(0) && next.modified());
    EXPECT_FALSE(std::filesystem::exists(*kept)) << "offered once";
    EXPECT_EQ(readBytes(m_dir.file("image.bin")), m_original);
}

TEST_F(WorkspaceTest, WhileTheWorkingCopyIsMadeThePageComesFromTheFileAndNothingIsEdited) {
    const std::vector<std::uint8_t> bytes(std::size_t{24} << 20, 0x5C);
    writeBytes(m_dir.file("big.bin"), bytes);
    ASSERT_EQ(m_ws.beginOpen(m_dir.file("big.bin")), std::nullopt);
    EXPECT_EQ(m_ws.pageByte(200), 0x5C);
    EXPECT_EQ(m_ws.cellText(34, 1), "\\") << "shown while it is copied";
    EXPECT_EQ(m_ws.size(), bytes.size());
    if (m_ws.loading()) { // the copy may have been quicker than this test
        type("00");
        EXPECT_EQ(m_ws.pageByte(0), 0x5C);
        EXPECT_EQ(m_ws.fill(FillAction::Fill, {"00", "0", "10"}).notice.value_or(Notice{}).title,
                  "Info");
    }
    m_ws.cancelLoading();
    EXPECT_FALSE(m_ws.loaded() || m_ws.loading());
    ASSERT_EQ(m_ws.beginOpen(m_dir.file("big.bin")), std::nullopt);
    m_ws.pressKey(EditorKey::PageDown);
    EXPECT_EQ(m_ws.finishLoading(true), std::nullopt);
    EXPECT_FALSE(m_ws.loading());
    EXPECT_EQ(m_ws.loadedBytes(), bytes.size());
    type("01");
    EXPECT_EQ(m_ws.pageByte(0), 0x01) << "the page moved while loading, and takes edits now";
    EXPECT_TRUE(readBytes(m_ws.workFileName()) == bytes) << "the whole copy, and no more";
}

// A plain byte array with the same rules, driven by the same random operations.
TEST_F(WorkspaceTest, RandomEditsMatchAPlainByteModel) {
    openSized(3000);
    const std::size_t size = m_original.size();
    std::vector<std::uint8_t> model = m_original;
    std::vector<std::vector<std::uint8_t>> undone, redone;
    constexpr std::uint64_t kNone = ~std::uint64_t{0}; // not std::optional: GCC 12 -O2 warns
    std::uint64_t openNibble = kNone; // a low nibble typed here joins its high nibble's step
    std::mt19937 random(20261206);
    const auto pick = [&](std::uint64_t low, std::uint64_t high) {
        return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
    };
    const auto push = [&](const std::vector<std::uint8_t>& before) {
        undone.push_back(before);
        redone.clear();
    };
    const std::uint64_t lastOffset = m_ws.scrollMaximum() * 16 + 255;
    for (int round = 0; round < 3000; ++round) {
        const auto op = pick(0, 9);
        const auto before = model;
        std::uint64_t joins = std::exchange(openNibble, kNone);
        if (op <= 3) { // a keystroke, sometimes on another page or cell
            if (pick(0, 3) == 0) {
                m_ws.setScrollPosition(pick(0, m_ws.scrollMaximum()));
                joins = kNone;
            }
            if (pick(0, 2) == 0) {
                const int column = static_cast<int>(pick(1, 48));
                m_ws.setCursor(column == 33 ? 32 : column, static_cast<int>(pick(1, 16)));
                joins = kNone;
            }
            const std::uint64_t at = m_ws.cursorOffset();
            const bool hex = !m_ws.cursorInCharacterPane();
            const bool high = hex && m_ws.cursorColumn() % 2 == 1;
            const char typed = pick(0, 5) == 0 ? '\b' : "0123456789abcdefXY "[pick(0, 18)];
            m_ws.typeCharacter(typed);
            if (at >= size || (hex && typed != '\b' && !std::isxdigit(typed))) {
                continue;
            }
            if (typed == '\b' || !hex) {
                model[at] = typed == '\b' ? m_original[at] : static_cast<std::uint8_t>(typed);
            } else {
                const int nibble = std::stoi(std::string(1, typed), nullptr, 16);
                model[at] = static_cast<std::uint8_t>(high ? (model[at] & 0x0F) | nibble << 4
                                                           : (model[at] & 0xF0) | nibble);
                if (!high && joins == at) {
                    continue;
                }
                openNibble = high && model[at] != before[at] ? at : kNone;
            }
            if (model != before) {
                push(before);
            }
            continue;
        }
        if (op == 4) {
            m_ws.pressKey(static_cast<EditorKey>(pick(0, 7)));
        } else if (op <= 6) { // fill or reload
            const auto first = pick(0, lastOffset);
            const auto last = pick(first, std::min(lastOffset, first + 700));
            const auto value = static_cast<std::uint8_t>(pick(0, 255));
            m_ws.fill(op == 6 ? FillAction::Reload : FillAction::Fill,
                      {fileeditor::hexAddress(value).substr(6), fileeditor::hexAddress(first),
                       fileeditor::hexAddress(last)});
            if (first < size) {
                for (auto i = first; i <= std::min<std::uint64_t>(last, size - 1); ++i) {
                    model[i] = op == 6 ? m_original[i] : value;
                }
                push(before);
            }
        } else if (op == 7) {
            const auto bytes = patternBytes(pick(1, 600), static_cast<unsigned>(pick(1, 200)));
            writeBytes(m_dir.file("insert.bin"), bytes);
            const auto at = pick(0, model.size() + 300);
            ASSERT_EQ(m_ws.openWithRange(m_dir.file("insert.bin"), fileeditor::hexAddress(at), ""),
                      std::nullopt);
            model.resize(std::max<std::size_t>(model.size(), at + bytes.size()));
            std::copy(bytes.begin(), bytes.end(), model.begin() + static_cast<std::ptrdiff_t>(at));
            push(before);
        } else if (auto& from = op == 8 ? undone : redone; !from.empty()) { // undo or redo
            ASSERT_EQ(op == 8 ? m_ws.undo() : m_ws.redo(), std::nullopt);
            (op == 8 ? redone : undone).push_back(model);
            model = from.back();
            from.pop_back();
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
