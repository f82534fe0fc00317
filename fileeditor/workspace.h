#pragma once

#include "change_log.h"
#include "copy_thread.h"
#include "notice.h"
#include "search.h"
#include "work_files.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::fileeditor {

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

// The most a copy or paste moves through the clipboard: 16 MiB is 48 MiB of hexadecimal text.
inline constexpr std::uint64_t kMaxClipboardBytes = std::uint64_t{16} << 20;

enum class EditorKey { Tab, Up, Down, Left, Right, PageUp, PageDown, Enter };

enum class FillAction { Fill, Reload };

// The texts of the fill panel's fields.
struct FillFields {
    std::string value;
    std::string start;
    std::string end;
};

// A range of file offsets, both ends included.
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    [[nodiscard]] std::uint64_t length() const { return last - first + 1; }
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// What a save would do before it is done: refused, or to be asked about first (Yes/No, No the
// default), or neither.
struct SaveCheck {
    std::optional<Notice> refusal;
    std::optional<std::string> question;
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
// A file of more than a page is shown at once: its pages are read from the file itself while a
// thread of its own makes the working copy (loading()); until that is done the page can be
// moved but nothing edited. Whether the working copy holds work not saved into the opened file
// is known here (modified()), and so is a selected range of bytes, with copy and paste over it.
//
// Every refusal comes back as a Notice (title and text) for the window to show; a refused
// operation changes nothing. No window code here: the window asks for cell texts and marks
// and forwards keys.
class Workspace {
public:
    /// `workFileName`: the working copy's path, the program's path + ".TBF" (see
    /// workFileNameFor); a caller whose program folder is not writable passes another folder's.
    explicit Workspace(std::string workFileName);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    /// The working copy's name beside the program: its path, ".", "TBF".
    [[nodiscard]] static std::string workFileNameFor(std::string_view programPath);

    // State.
    /// A file is open (an empty one among them).
    [[nodiscard]] bool loaded() const { return m_source.valid(); }
    /// The working copy's path: a search reads the file there after flush().
    [[nodiscard]] const std::string& workFileName() const { return m_workFileName; }
    /// The file opened, or last saved to: the caption and the save dialog's default.
    [[nodiscard]] const std::string& currentFileName() const { return m_currentFileName; }
    /// The working copy holds edits, fills, inserts or a restored recovery file that the opened
    /// file does not: known from the undo steps since it was opened or last saved into.
    [[nodiscard]] bool modified() const;
    /// "File Editor", or "File Editor - [name]" with a workspace.
    [[nodiscard]] std::string caption() const;
    /// The size of the opened file: the part of the working copy that is shown and edited.
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    [[nodiscard]] std::uint32_t baseAddress() const { return m_base; }
    /// Base address + file offset, as the address column shows it.
    [[nodiscard]] std::uint64_t addressOf(std::uint64_t offset) const { return m_base + offset; }
    /// Scroll positions count lines of 16 bytes; the maximum is the first line of the last page.
    [[nodiscard]] std::uint64_t scrollPosition() const { return m_scroll; }
    [[nodiscard]] std::uint64_t scrollMaximum() const { return m_scrollMax; }
    [[nodiscard]] std::uint64_t pageOffset() const { return m_pageOffset; }
    /// The "File Offset:" field: the page's file offset in eight (or more) hexadecimal digits.
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
    /// Puts the cursor on a cell; false for a cell that cannot be selected. With `extend` the
    /// selection runs from where it began (or from the old cursor) to the new cell (Shift+click,
    /// a drag); without it the selection goes.
    bool setCursor(int column, int row, bool extend = false);
    /// A typed character: a digit or character edit, space, or backspace. Control characters
    /// other than backspace type nothing.
    void typeCharacter(char typed);
    /// A navigation key: cursor moves, wrapping and scrolling at the page's edges; with `extend`
    /// (Shift) the selection follows the cursor.
    void pressKey(EditorKey key, bool extend = false);

    // Selection, copy and paste.
    /// The selected bytes, clipped to the file; nullopt when none are selected.
    [[nodiscard]] std::optional<ByteRange> selection() const;
    /// The cell's byte lies in the selection.
    [[nodiscard]] bool cellSelected(int column, int row) const;
    /// Ctrl+A: every byte of the file, the cursor on the last.
    void selectAll();
    void clearSelection() { m_selecting = false; }
    /// The selection (or the byte under the cursor) as clipboard text: hexadecimal pairs
    /// ("DE AD BE EF") from the hexadecimal pane, characters from the character pane (bytes
    /// that are no printable ASCII as "."). Refused past kMaxClipboardBytes.
    std::optional<Notice> copyText(bool characterPane, std::string& text);
    /// Writes the clipboard's bytes over the file from the selection's start (or the cursor)
    /// on, as one undo step: hexadecimal pairs in the hexadecimal pane, the text's bytes in the
    /// character pane. Never inserts: what runs past the end of the file is dropped.
    std::optional<Notice> paste(std::string_view text, bool characterPane);

    // Find from the cursor.
    /// The next (or previous) match of `pattern` after (before) the cursor, in the working copy
    /// with the page on screen: selected, the cursor on its first byte.
    std::optional<Notice> findFromCursor(std::span<const std::uint8_t> pattern, bool forward,
                                         CaseMatch caseMatch);

    /// The lines under the grid: the cursor's address and offset and its byte in hexadecimal,
    /// decimal and binary; the 16- and 32-bit words there in both byte orders; the selection's
    /// start, end and length.
    [[nodiscard]] std::string statusLine() const;
    /// The scroll bar moved; the page follows (its edits written back first).
    void setScrollPosition(std::uint64_t line);
    /// Writes an edited page back and reads the page again.
    void refreshPage();
    /// Writes an edited page back into the working copy, so a search over the file sees it.
    bool flush();

    // Files.
    /// Copies the file into the working copy and shows its first page; the undo steps go. A
    /// folder, device or FIFO is refused as "File (name) is not a regular file.". Waits for the
    /// copy: beginOpen() does not.
    std::optional<Notice> openByName(const std::string& name);
    /// Opens the file and shows its first page from it while a thread makes the working copy;
    /// the workspace that was loaded goes. `restoreFrom`: a recovery file whose contents become
    /// the working copy instead (the opened file stays the reference), removed once copied.
    std::optional<Notice> beginOpen(const std::string& name, const std::string& restoreFrom = {});
    /// The working copy is being made: pages come from the opened file and nothing is edited.
    [[nodiscard]] bool loading() const { return m_copy != nullptr; }
    /// Bytes of the working copy made so far, and in all.
    [[nodiscard]] std::uint64_t loadedBytes() const { return m_copy ? m_copy->copied() : m_size; }
    [[nodiscard]] std::uint64_t bytesToLoad() const { return m_copy ? m_copy->size() : m_size; }
    /// Takes the working copy into use once its thread has ended (at once with `wait`); a
    /// failed copy leaves no workspace and says so. Nothing while nothing is loading.
    std::optional<Notice> finishLoading(bool wait);
    /// Stops making the working copy; no workspace is left.
    void cancelLoading();
    /// Range dialog "open": the first file becomes the workspace, later files are copied into
    /// it at the offset (an address, base included) for the length (hexadecimal, empty or 0:
    /// the whole file).
    std::optional<Notice> openWithRange(const std::string& name, std::string_view offsetText,
                                        std::string_view lengthText);
    /// What saveRange would do with these fields: a refusal, or the question to ask first when
    /// it would shorten the opened file ("This replaces NAME (N bytes) with M bytes.").
    [[nodiscard]] SaveCheck checkSave(const std::string& name, std::string_view offsetText,
                                      std::string_view lengthText);
    /// Writes a range of the working copy into a file through the one saver of the program
    /// (links followed, permissions kept, the old file replaced only when the new one is whole).
    /// The whole working copy, or any range saved onto the opened file, makes the saved file the
    /// workspace's file as it now is: its size, its bytes the reference, nothing modified.
    std::optional<Notice> saveRange(const std::string& name, std::string_view offsetText,
                                    std::string_view lengthText);
    /// Ctrl+S: the whole working copy back into the file it was opened from (or last saved to).
    [[nodiscard]] SaveCheck checkSaveToFile() {
        return checkSave(m_currentFileName, saveDialogOffset(), "");
    }
    std::optional<Notice> saveToFile() {
        return saveRange(m_currentFileName, saveDialogOffset(), "");
    }

    // Recovery files.
    /// The recovery file of `sourceName` in `folder`: named after the file (its name and a
    /// digest of its full path).
    [[nodiscard]] static std::string recoveryFileName(const std::string& folder,
                                                      const std::string& sourceName);
    /// Keeps the working copy, page on screen included, as the opened file's recovery file in
    /// `folder` (mode 0600) when it holds unsaved work; waits for nothing but the disk. The name
    /// kept, or nullopt when there was nothing to keep or it could not be kept.
    std::optional<std::string> keepForRecovery(const std::string& folder);
    /// The file last chosen in the range dialog: the next dialog's folder and name.
    [[nodiscard]] const std::string& lastDialogFile() const { return m_lastDialogFile; }
    void rememberDialogFile(std::string name) { m_lastDialogFile = std::move(name); }
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
    /// The "Jump to:" button: the base field is read again, then the target (up to 16 digits).
    std::optional<Notice> jump(std::string_view baseText, std::string_view targetText);
    /// Shows the file offset as a jump does, the cursor on its byte.
    std::optional<Notice> goToOffset(std::uint64_t offset);
    /// The fill panel's "OK" and "Reload", and the skip when the end field is empty.
    FillOutcome fill(FillAction action, const FillFields& fields);
    /// The integrity check (integrity.h) of the working copy as stored against the opened file;
    /// a page not yet written back is not seen.
    [[nodiscard]] Notice checkIntegrity(std::uint64_t start, std::uint64_t end,
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
    /// The page holds a byte of the file at `index`.
    [[nodiscard]] bool inPage(int index) const { return index >= 0 && index < m_pageLength; }
    /// ... and it can be edited: not while the working copy is being made.
    [[nodiscard]] bool editable(int index) const { return !loading() && inPage(index); }
    /// The file the pages come from: the working copy, or the opened file while it is made.
    [[nodiscard]] int pageFd() const { return loading() ? m_source.get() : m_work.get(); }
    [[nodiscard]] std::optional<Notice> refuseWhileLoading() const;
    /// A byte of the file as shown (edits on the page included); nullopt past its end.
    [[nodiscard]] std::optional<std::uint8_t> byteAt(std::uint64_t offset) const;
    void moved(std::uint64_t before, bool extend);
    void close();
    void takeSavedFile(const std::string& name, std::uint64_t offset, std::uint64_t length,
                       std::uint64_t workSize);
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
    void addHistoryLine(std::uint64_t start, std::uint64_t length, const std::string& name);
    FillOutcome skip(std::uint8_t value, std::uint64_t start);
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
    bool m_dirty = false;
    // The change log's position when the working copy last equalled the opened file;
    // kNeverSaved after a restore from a recovery file.
    static constexpr std::uint64_t kNeverSaved = ~std::uint64_t{0};
    std::uint64_t m_savedPosition = 0;
    std::string m_restoredFrom; // the recovery file being copied in, removed once it is
    std::string m_keptAs;       // the recovery file this working copy was kept as
    // The selection: from the anchor (where it began) to the active end (where the cursor is).
    bool m_selecting = false;
    std::uint64_t m_anchor = 0;
    std::uint64_t m_active = 0;
    int m_column = kFirstHexColumn;
    int m_row = 1;
    int m_hexBandMask = 16;
    int m_charBandMask = 8;
    std::vector<std::string> m_history;
    ChangeLog m_changes;
    // Declared after m_work: it writes into the working copy and goes first.
    std::unique_ptr<CopyThread> m_copy;
    // The offset of a byte whose high nibble was just typed as a step of its own: its low nibble,
    // typed next, joins that step. Anything else done in between closes it.
    std::optional<std::uint64_t> m_openNibble;
};

} // namespace corvex::fileeditor
