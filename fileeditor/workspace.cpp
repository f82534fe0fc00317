#include "workspace.h"

#include "hex_field.h"
#include "link/jobs/plain_text.h"

#include <algorithm>
#include <filesystem>

// The page on screen: its buffers, cells and marks, the cursor and the editing keys.
namespace corvex::fileeditor {

namespace {

std::string folderOf(const std::string& path) {
    const auto folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

bool isHexPane(int column) {
    return column >= kFirstHexColumn && column <= kLastHexColumn;
}

bool isCharPane(int column) {
    return column >= kFirstCharColumn && column <= kLastCharColumn;
}

std::optional<std::uint8_t> hexDigitValue(char typed) {
    const int value = link::hexDigitValue(typed);
    return value >= 0 ? std::optional(static_cast<std::uint8_t>(value)) : std::nullopt;
}

} // namespace

Workspace::Workspace(std::string workFileName)
    : m_workFileName(std::move(workFileName)), m_changes(folderOf(m_workFileName)) {}

Workspace::~Workspace() {
    m_copy.reset(); // the thread writes into m_work
}

bool Workspace::modified() const {
    return loaded() && !loading() && m_changes.position() != m_savedPosition;
}

std::optional<Notice> Workspace::refuseWhileLoading() const {
    if (!loading()) {
        return std::nullopt;
    }
    return Notice{"Info", "The file is still being loaded. Wait for it, or cancel loading."};
}

std::string Workspace::workFileNameFor(std::string_view programPath) {
    return std::string(programPath) + ".TBF";
}

std::string Workspace::caption() const {
    return loaded() ? "File Editor - [" + m_currentFileName + "]" : "File Editor";
}

std::string Workspace::fileOffsetText() const {
    return hexAddress(m_pageOffset);
}

bool Workspace::byteChanged(int index) const {
    return index >= m_referenceLength || m_edited.at(index) != m_reference.at(index);
}

int Workspace::byteIndexAt(int column, int row) {
    if (row < 1 || row > kRows) {
        return -1;
    }
    if (isHexPane(column)) {
        return (row - 1) * kRowBytes + (column - kFirstHexColumn) / 2;
    }
    if (isCharPane(column)) {
        return (row - 1) * kRowBytes + (column - kFirstCharColumn);
    }
    return -1;
}

std::string Workspace::cellText(int column, int row) const {
    constexpr std::string_view kDigits = "0123456789ABCDEF";
    if (column == 0) {
        if (row < 1 || row > kRows || (row - 1) * kRowBytes >= m_pageLength) {
            return {};
        }
        return hexAddress(
            addressOf(m_pageOffset + static_cast<std::uint64_t>(kRowBytes * (row - 1))));
    }
    const int index = byteIndexAt(column, row);
    if (!inPage(index)) {
        return {};
    }
    const std::uint8_t byte = m_edited[index];
    if (isHexPane(column)) {
        const bool high = (column - kFirstHexColumn) % 2 == 0;
        return std::string(1, kDigits[high ? byte >> 4 : byte & 15]);
    }
    if (byte < 33 || byte >= 127) {
        return ".";
    }
    return std::string(1, static_cast<char>(byte));
}

bool Workspace::cellChanged(int column, int row) const {
    const int index = byteIndexAt(column, row);
    return inPage(index) && byteChanged(index);
}

bool Workspace::cellLight(int column, int row) const {
    bool band = false;
    if (isHexPane(column)) {
        band = ((column - kFirstHexColumn) & m_hexBandMask) != 0;
    } else if (isCharPane(column)) {
        band = ((column - kFirstCharColumn) & m_charBandMask) != 0;
    }
    return row % 2 == 1 ? band : !band;
}

void Workspace::setViewMode(int mode) {
    mode = std::clamp(mode, 0, 3);
    m_hexBandMask = 4 << mode;
    m_charBandMask = 2 << mode;
}

std::uint64_t Workspace::cursorOffset() const {
    return m_pageOffset + static_cast<std::uint64_t>(byteIndexAt(m_column, m_row));
}

std::string Workspace::cursorAddressText() const {
    return hexAddress(addressOf(cursorOffset()));
}

// Pages.

bool Workspace::writeBack() {
    if (!loaded() || !m_dirty) {
        return true;
    }
    // Compared with what the working copy holds, not with the opened file: a byte typed back
    // to its original over an earlier edit must reach the file too.
    if (!std::equal(m_edited.begin(), m_edited.begin() + m_pageLength, m_stored.begin()) &&
        !pwriteAll(m_work.get(), m_edited.data(), static_cast<std::size_t>(m_pageLength),
                   m_pageOffset)) {
        return false;
    }
    m_stored = m_edited;
    m_dirty = false;
    return true;
}

void Workspace::readPage() {
    m_pageOffset = m_scroll * kRowBytes;
    m_edited.fill(0);
    m_reference.fill(0);
    m_pageLength = 0;
    m_referenceLength = 0;
    m_dirty = false;
    if (loaded() && m_pageOffset < m_size) {
        // Past the end of the opened file the page shows nothing, even where an inserted file
        // made the working copy longer.
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, m_size - m_pageOffset));
        const auto work = preadAll(pageFd(), m_edited.data(), want, m_pageOffset);
        const auto source = preadAll(m_source.get(), m_reference.data(), want, m_pageOffset);
        m_pageLength = static_cast<int>(work.value_or(0));
        m_referenceLength = static_cast<int>(source.value_or(0));
    }
    m_stored = m_edited;
}

bool Workspace::showPage(std::uint64_t line) {
    if (!writeBack()) {
        return false; // the edits stay on screen rather than being dropped
    }
    m_scroll = std::min(line, m_scrollMax);
    readPage();
    return true;
}

bool Workspace::scrollBy(std::int64_t lines) {
    const auto distance = static_cast<std::uint64_t>(lines < 0 ? -lines : lines);
    const std::uint64_t target = lines < 0 ? m_scroll - std::min(m_scroll, distance)
                                           : std::min(m_scroll + distance, m_scrollMax);
    return target != m_scroll && showPage(target);
}

void Workspace::setScrollPosition(std::uint64_t line) {
    closeNibble();
    (void)showPage(line);
}

void Workspace::refreshPage() {
    closeNibble();
    (void)showPage(m_scroll);
}

bool Workspace::flush() {
    return writeBack();
}

// Cursor and keys.

bool Workspace::setCursor(int column, int row, bool extend) {
    closeNibble();
    if (row < 1 || row > kRows || !(isHexPane(column) || isCharPane(column))) {
        return false;
    }
    const std::uint64_t before = cursorOffset();
    m_column = column;
    m_row = row;
    moved(before, extend);
    return true;
}

void Workspace::moved(std::uint64_t before, bool extend) {
    if (!extend) {
        m_selecting = false;
        return;
    }
    if (!m_selecting) {
        m_selecting = true;
        m_anchor = before;
    }
    m_active = cursorOffset();
}

std::optional<ByteRange> Workspace::selection() const {
    if (!m_selecting || m_size == 0) {
        return std::nullopt;
    }
    // The cursor may stand on a cell past the end of the file, on its last page.
    const std::uint64_t a = std::min(m_anchor, m_size - 1);
    const std::uint64_t b = std::min(m_active, m_size - 1);
    return ByteRange{std::min(a, b), std::max(a, b)};
}

bool Workspace::cellSelected(int column, int row) const {
    const int index = byteIndexAt(column, row);
    const auto range = selection();
    if (!range || index < 0 || index >= m_pageLength) {
        return false;
    }
    const std::uint64_t offset = m_pageOffset + static_cast<std::uint64_t>(index);
    return offset >= range->first && offset <= range->last;
}

void Workspace::selectAll() {
    closeNibble();
    if (!loaded() || m_size == 0) {
        return;
    }
    placeAt(m_size - 1, cursorInCharacterPane());
    m_selecting = true;
    m_anchor = 0;
    m_active = m_size - 1;
}

void Workspace::moveRight() {
    const bool hex = isHexPane(m_column);
    if (m_column != (hex ? kLastHexColumn : kLastCharColumn)) {
        ++m_column;
        return;
    }
    if (m_row < kRows) {
        ++m_row;
    } else if (!scrollBy(1)) {
        return; // the last cell of the file's last page
    }
    m_column = hex ? kFirstHexColumn : kFirstCharColumn;
}

void Workspace::moveLeft() {
    const bool hex = isHexPane(m_column);
    if (m_column != (hex ? kFirstHexColumn : kFirstCharColumn)) {
        --m_column;
        return;
    }
    if (m_row > 1) {
        --m_row;
    } else if (!scrollBy(-1)) {
        return;
    }
    m_column = hex ? kLastHexColumn : kLastCharColumn;
}

void Workspace::editByte(int index, std::uint8_t value, bool opensNibble, bool joinsNibble) {
    const std::uint64_t offset = m_pageOffset + static_cast<std::uint64_t>(index);
    const std::uint8_t old = m_edited[index];
    ChangeLog::Step* const last = m_changes.last();
    const bool joins = joinsNibble && last != nullptr && m_openNibble == offset;
    closeNibble();
    if (joins) {
        // The low nibble completes the byte its high nibble began: one step for both.
        last->after = ChangeLog::inMemory({value});
    } else if (old != value) {
        ChangeLog::Step step;
        step.offset = offset;
        step.before = ChangeLog::inMemory({old});
        step.after = ChangeLog::inMemory({value});
        step.afterLength = 1;
        m_changes.push(std::move(step));
        if (opensNibble) {
            m_openNibble = offset;
        }
    }
    m_edited[index] = value;
    m_dirty = true;
}

void Workspace::typeCharacter(char typed) {
    const auto code = static_cast<unsigned char>(typed);
    // Enter and Tab are swallowed, and so is every other control character: Delete comes as
    // 0x7F, Escape as 0x1B, and neither is a byte the user meant to type.
    if (typed != '\b' && (code < 32 || code == 127)) {
        return;
    }
    m_selecting = false;
    const int index = byteIndexAt(m_column, m_row);
    const bool hex = isHexPane(m_column);
    const auto digit = hexDigitValue(typed);
    const bool highNibble = hex && (m_column - kFirstHexColumn) % 2 == 0;
    if (!(hex && digit && !highNibble && editable(index))) {
        closeNibble();
    }
    if (typed == '\b') {
        if (editable(index) && index < m_referenceLength) {
            editByte(index, m_reference[index], false, false);
        }
        moveLeft();
        return;
    }
    if (hex) {
        if (typed == ' ') {
            moveRight();
            return;
        }
        if (!digit || !editable(index)) {
            return;
        }
        const std::uint8_t old = m_edited[index];
        const auto value = static_cast<std::uint8_t>(highNibble ? (old & 0x0F) | (*digit << 4)
                                                                : (old & 0xF0) | *digit);
        editByte(index, value, highNibble, !highNibble);
        moveRight();
        return;
    }
    if (!editable(index)) {
        return;
    }
    editByte(index, static_cast<std::uint8_t>(typed), false, false);
    moveRight();
}

void Workspace::pressKey(EditorKey key, bool extend) {
    closeNibble();
    const std::uint64_t before = cursorOffset();
    const bool hex = isHexPane(m_column);
    switch (key) {
    case EditorKey::Tab:
        m_column = hex ? (m_column - kFirstHexColumn) / 2 + kFirstCharColumn
                       : (m_column - kFirstCharColumn) * 2 + kFirstHexColumn;
        break;
    case EditorKey::Up:
        if (m_row > 1) {
            --m_row;
        } else {
            (void)scrollBy(-1);
        }
        break;
    case EditorKey::Down:
        if (m_row < kRows) {
            ++m_row;
        } else {
            (void)scrollBy(1);
        }
        break;
    case EditorKey::PageUp:
        (void)scrollBy(-kRows);
        break;
    case EditorKey::PageDown:
        (void)scrollBy(kRows);
        break;
    case EditorKey::Left:
        moveLeft();
        break;
    case EditorKey::Right:
        moveRight();
        break;
    case EditorKey::Enter:
        m_column = hex ? kFirstHexColumn : kFirstCharColumn;
        if (m_row < kRows) {
            ++m_row;
        } else {
            (void)scrollBy(1);
        }
        break;
    }
    // Tab stays on the byte and leaves the selection; Enter starts a row as a click would.
    if (key != EditorKey::Tab) {
        moved(before, extend && key != EditorKey::Enter);
    }
}

} // namespace corvex::fileeditor
