#pragma once

#include "change_log.h"
#include "notice.h"
#include "work_files.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::fileeditor {

class SearchResults;

inline constexpr int kPageBytes = 256;
inline constexpr int kRowBytes = 16;
inline constexpr int kRows = 16;
inline constexpr int kFirstHexColumn = 1;
inline constexpr int kLastHexColumn = 32;
inline constexpr int kFirstCharColumn = 34;
inline constexpr int kLastCharColumn = 49;

// The range dialog's preference names as the editor offers them, the first chosen. They carry
// no addresses or sizes: choosing one changes no field.
inline constexpr std::array<std::string_view, 7> kRangePreferences{
    "User defined",      "Firmware",    "TPT TABLE (10000)", "TCS TABLE (20000)",
    "TCS TABLE (30000)", "EEPROM 5816", "EEPROM Smartcard"};

enum class EditorKey { Tab, Up, Down, Left, Right, PageUp, PageDown, Enter };

enum class FillAction { Fill, Reload };

// The texts of the fill panel's fields.
struct FillFields {
    std::string value;
    std::string start;
    std::string end;
};

// What a fill, reload or skip asks of the window besides an optional message box: new texts
// for the "End address:" or "Jump to:" field. The panel closes when there is no message.
struct FillOutcome {
    std::optional<Notice> notice;
    std::optional<std::string> endField;
    std::optional<std::string> jumpField;
};

// The file editor's workspace: a working copy of the opened file, shown one page of 256 bytes
// at a time in a grid of 16 rows with a hexadecimal pane (columns 1..32, two per byte) and a
// character pane (columns 34..49). Edits go into the page buffer and reach the working copy
// when the page is left (or on flush()); the opened file stays untouched and is the reference
// that marks changed bytes. Only the two page buffers are held in memory, whatever the size.
//
// Addresses shown and entered are the base address plus a file offset. The range dialogs'
// offset field holds such an address, base included: the editor presets it with base + offset
// and takes field - base as the file offset when it inserts or saves.
//
// Every refusal comes back as a Notice (title and text) for the window to show; a refused
// operation changes nothing. No window code here: the window asks for cell texts and marks
// and forwards keys.
class Workspace {
public:
    /// `workFileName`: the working copy's path, the program's path + ".TBF" (see
    /// workFileNameFor); a caller whose program folder is not writable passes another folder's.
    explicit Workspace(std::string workFileName);

    /// The working copy's name beside the program: its path, ".", "TBF".
    [[nodiscard]] static std::string workFileNameFor(std::string_view programPath);

    // State.
    /// A file is open (an empty one among them).
    [[nodiscard]] bool loaded() const { return m_source.valid(); }
    /// The working copy's path: a search reads the file there after flush().
    [[nodiscard]] const std::string& workFileName() const { return m_workFileName; }
    /// The file opened, or last saved to: the caption and the save dialog's default.
    [[nodiscard]] const std::string& currentFileName() const { return m_currentFileName; }
    /// "File Editor", or "File Editor - [name]" with a workspace.
    [[nodiscard]] std::string caption() const;
    /// The size of the opened file: the part of the working copy that is shown and edited.
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    [[nodiscard]] std::uint32_t baseAddress() const { return m_base; }
    /// Scroll positions count lines of 16 bytes; the maximum is the first line of the last page.
    [[nodiscard]] std::uint64_t scrollPosition() const { return m_scroll; }
    [[nodiscard]] std::uint64_t scrollMaximum() const { return m_scrollMax; }
    [[nodiscard]] std::uint64_t pageOffset() const { return m_pageOffset; }
    /// The "File Offset:" field: the page's file offset in eight hexadecimal digits.
    [[nodiscard]] std::string fileOffsetText() const;
    [[nodiscard]] bool pageDirty() const { return m_dirty; }

    // The page on screen.
    /// How many bytes of the file the page holds; cells past them show nothing.
    [[nodiscard]] int pageLength() const { return m_pageLength; }
    /// A byte of the page as shown, edits included.
    [[nodiscard]] std::uint8_t pageByte(int index) const { return m_edited.at(index); }
    /// The byte differs from the opened file's.
    [[nodiscard]] bool byteChanged(int index) const;
    /// A grid cell's text: the row address in column 0, a digit, a character, or "".
    [[nodiscard]] std::string cellText(int column, int row) const;
    /// The cell's byte carries the change mark.
    [[nodiscard]] bool cellChanged(int column, int row) const;
    /// Band pattern: true for a white cell, false for a light blue one.
    [[nodiscard]] bool cellLight(int column, int row) const;
    /// View modes 0..3 give bands of 2, 4, 8 or 16 bytes; mode 2 at start.
    void setViewMode(int mode);
    [[nodiscard]] int hexBandMask() const { return m_hexBandMask; }
    [[nodiscard]] int characterBandMask() const { return m_charBandMask; }

    // Cursor and keys.
    [[nodiscard]] int cursorColumn() const { return m_column; }
    [[nodiscard]] int cursorRow() const { return m_row; }
    [[nodiscard]] bool cursorInCharacterPane() const { return m_column >= kFirstCharColumn; }
    /// The file offset of the byte under the cursor.
    [[nodiscard]] std::uint64_t cursorOffset() const;
    /// Base address + cursor offset in eight digits: the fill panel's start field.
    [[nodiscard]] std::string cursorAddressText() const;
    /// Puts the cursor on a cell; false for a cell that cannot be selected.
    bool setCursor(int column, int row);
    /// A typed character: a digit or character edit, space, or backspace.
    void typeCharacter(char typed);
    /// A navigation key: cursor moves, wrapping and scrolling at the page's edges.
    void pressKey(EditorKey key);
    /// The scroll bar moved; the page follows (its edits written back first).
    void setScrollPosition(std::uint64_t line);
    /// Writes an edited page back and reads the page again.
    void refreshPage();
    /// Writes an edited page back into the working copy, so a search over the file sees it.
    bool flush();

    // Files.
    /// Copies the file into the working copy and shows its first page; the undo steps go. A
    /// folder, device or FIFO is refused as "File (name) is not a regular file.".
    std::optional<Notice> openByName(const std::string& name);
    /// Range dialog "open": the first file becomes the workspace, later files are copied into
    /// it at the offset (an address, base included) for the length (hexadecimal, empty or 0:
    /// the whole file).
    std::optional<Notice> openWithRange(const std::string& name, std::string_view offsetText,
                                        std::string_view lengthText);
    /// Writes a range of the working copy into a file, replacing it only when complete. Saved
    /// onto the opened file, the saved file becomes the reference.
    std::optional<Notice> saveRange(const std::string& name, std::string_view offsetText,
                                    std::string_view lengthText);
    /// The file last chosen in the range dialog: the next dialog's folder and name.
    [[nodiscard]] const std::string& lastDialogFile() const { return m_lastDialogFile; }
    /// The open dialog's preset offset: base + the cursor's offset.
    [[nodiscard]] std::string openDialogOffset() const { return cursorAddressText(); }
    /// The save dialog's preset offset: the base, i.e. file offset 0.
    [[nodiscard]] std::string saveDialogOffset() const;
    /// "Item  Start  End  Length  Filename" lines of the files loaded into the workspace.
    [[nodiscard]] const std::vector<std::string>& history() const { return m_history; }
    void clearHistory() { m_history.clear(); }
    /// Deletes the lines at these indices (any order); the workspace is not touched.
    void deleteHistoryLines(std::vector<std::size_t> lines);

    // Tools.
    /// The "Base address:" field: low four bits cleared, page refreshed.
    std::optional<Notice> setBaseAddress(std::string_view text);
    /// The "Jump to:" button: the base field is read again, then the target.
    std::optional<Notice> jump(std::string_view baseText, std::string_view targetText);
    /// Shows the file offset as a jump does, the cursor on its byte.
    std::optional<Notice> goToOffset(std::uint64_t offset);
    /// The fill panel's "OK" and "Reload", and the skip when the end field is empty.
    FillOutcome fill(FillAction action, const FillFields& fields);
    /// The integrity check (integrity.h) of the working copy as stored against the opened file;
    /// a page not yet written back is not seen.
    [[nodiscard]] Notice checkIntegrity(std::uint32_t start, std::uint32_t end,
                                        SearchResults& results) const;

    // Undo.
    [[nodiscard]] bool canUndo() const { return m_changes.canUndo(); }
    [[nodiscard]] bool canRedo() const { return m_changes.canRedo(); }
    /// Takes back the newest edit, fill, reload or insert (a typed byte's two nibbles are one)
    /// and shows where it was.
    std::optional<Notice> undo();
    /// Makes the newest undone change again.
    std::optional<Notice> redo();

private:
    /// The page index of the byte a cell shows, -1 for a cell that shows none.
    [[nodiscard]] static int byteIndexAt(int column, int row);
    void closeNibble() { m_openNibble.reset(); }
    [[nodiscard]] bool editable(int index) const { return index >= 0 && index < m_pageLength; }
    bool writeBack();
    void readPage();
    bool showPage(std::uint64_t line);
    bool scrollBy(std::int64_t lines);
    void editByte(int index, std::uint8_t value, bool opensNibble, bool joinsNibble);
    void moveRight();
    void moveLeft();
    void placeAt(std::uint64_t offset, bool characterPane);
    std::optional<Notice> insertFile(const std::string& name, std::string_view offsetText,
                                     std::string_view lengthText);
    void addHistoryLine(std::uint32_t start, std::uint64_t length, const std::string& name);
    FillOutcome skip(std::uint8_t value, std::uint32_t start);
    std::optional<Notice> applyUndo(bool redo);

    std::string m_workFileName;
    std::string m_currentFileName;
    std::string m_lastDialogFile;
    OwnedFd m_source;
    OwnedFd m_work;
    std::uint64_t m_size = 0;
    std::uint32_t m_base = 0;
    std::uint64_t m_scroll = 0;
    std::uint64_t m_scrollMax = 0;
    std::uint64_t m_pageOffset = 0;
    std::array<std::uint8_t, kPageBytes> m_edited{};
    std::array<std::uint8_t, kPageBytes> m_stored{}; // the page as the working copy holds it
    std::array<std::uint8_t, kPageBytes> m_reference{};
    int m_pageLength = 0;
    int m_referenceLength = 0;
    std::bitset<kPageBytes> m_typedDel; // 127 typed in the character pane shows as itself
    bool m_dirty = false;
    int m_column = kFirstHexColumn;
    int m_row = 1;
    int m_hexBandMask = 16;
    int m_charBandMask = 8;
    std::vector<std::string> m_history;
    ChangeLog m_changes;
    // The offset of a byte whose high nibble was just typed as a step of its own: its low nibble,
    // typed next, joins that step. Anything else done in between closes it.
    std::optional<std::uint64_t> m_openNibble;
};

} // namespace corvex::fileeditor
