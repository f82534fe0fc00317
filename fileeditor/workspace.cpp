#include "workspace.h"

#include "hex_field.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::fileeditor {

namespace {

constexpr std::string_view kError = "Error";
constexpr std::size_t kScanBlock = 64 * 1024;

Notice error(std::string text) {
    return Notice{std::string(kError), std::move(text)};
}

std::string folderOf(const std::string& path) {
    const auto folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// The first line of the last 256-byte page; an empty file has only page 0.
std::uint64_t scrollMaximumFor(std::uint64_t size) {
    return size == 0 ? 0 : ((size - 1) >> 4) & ~std::uint64_t{15};
}

bool isHexPane(int column) {
    return column >= kFirstHexColumn && column <= kLastHexColumn;
}

bool isCharPane(int column) {
    return column >= kFirstCharColumn && column <= kLastCharColumn;
}

std::optional<std::uint8_t> hexDigitValue(char typed) {
    if (typed >= '0' && typed <= '9') {
        return static_cast<std::uint8_t>(typed - '0');
    }
    if (typed >= 'a' && typed <= 'f') {
        return static_cast<std::uint8_t>(typed - 'a' + 10);
    }
    if (typed >= 'A' && typed <= 'F') {
        return static_cast<std::uint8_t>(typed - 'A' + 10);
    }
    return std::nullopt;
}

// A regular file opened for reading, with its size; nothing for a missing file, a folder or a
// device, which the editor reports alike as not found.
std::optional<std::pair<OwnedFd, std::uint64_t>> openRegularFile(const std::string& name) {
    OwnedFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return std::pair(std::move(file), static_cast<std::uint64_t>(info.st_size));
}

// An empty length field means "all of it".
std::optional<std::uint32_t> parseLengthField(std::string_view text) {
    return text.empty() ? std::optional<std::uint32_t>(0) : parseHexField(text);
}

} // namespace

Workspace::Workspace(std::string workFileName)
    : m_workFileName(std::move(workFileName)), m_changes(folderOf(m_workFileName)) {}

std::string Workspace::workFileNameFor(std::string_view programPath) {
    return std::string(programPath) + ".TBF";
}

std::string Workspace::caption() const {
    return loaded() ? "File Editor - [" + m_currentFileName + "]" : "File Editor";
}

std::string Workspace::fileOffsetText() const {
    return hex8(static_cast<std::uint32_t>(m_pageOffset));
}

bool Workspace::byteChanged(int index) const {
    return index >= m_referenceLength || m_edited.at(index) != m_reference.at(index);
}

int Workspace::byteIndexAt(int column, int row) const {
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
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (column == 0) {
        if (row < 1 || row > kRows || (row - 1) * kRowBytes >= m_pageLength) {
            return {};
        }
        return hex8(static_cast<std::uint32_t>(m_base + m_pageOffset + kRowBytes * (row - 1)));
    }
    const int index = byteIndexAt(column, row);
    if (!editable(index)) {
        return {};
    }
    const std::uint8_t byte = m_edited[index];
    if (isHexPane(column)) {
        const bool high = (column - kFirstHexColumn) % 2 == 0;
        return std::string(1, kDigits[high ? byte >> 4 : byte & 15]);
    }
    if ((byte < 33 || byte >= 127) && !(byte == 127 && m_typedDel.test(index))) {
        return ".";
    }
    return std::string(1, static_cast<char>(byte));
}

bool Workspace::cellChanged(int column, int row) const {
    const int index = byteIndexAt(column, row);
    return editable(index) && byteChanged(index);
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
    return hex8(static_cast<std::uint32_t>(m_base + cursorOffset()));
}

std::string Workspace::saveDialogOffset() const {
    return hex8(m_base);
}

void Workspace::deleteHistoryLines(std::vector<std::size_t> lines) {
    std::sort(lines.begin(), lines.end(), std::greater<>());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (const std::size_t line : lines) {
        if (line < m_history.size()) {
            m_history.erase(m_history.begin() + static_cast<std::ptrdiff_t>(line));
        }
    }
}

// ---- pages ----

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
    m_typedDel.reset();
    m_dirty = false;
    if (loaded() && m_pageOffset < m_size) {
        // Past the end of the opened file the page shows nothing, even where an inserted file
        // made the working copy longer.
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPageBytes, m_size - m_pageOffset));
        const auto work = preadAll(m_work.get(), m_edited.data(), want, m_pageOffset);
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
    std::uint64_t target = m_scroll;
    if (lines < 0) {
        const auto up = static_cast<std::uint64_t>(-lines);
        target = m_scroll > up ? m_scroll - up : 0;
    } else {
        target = std::min(m_scroll + static_cast<std::uint64_t>(lines), m_scrollMax);
    }
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

// ---- cursor and keys ----

bool Workspace::setCursor(int column, int row) {
    closeNibble();
    if (row < 1 || row > kRows || !(isHexPane(column) || isCharPane(column))) {
        return false;
    }
    m_column = column;
    m_row = row;
    return true;
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
    m_typedDel.reset(index);
    m_dirty = true;
}

void Workspace::typeCharacter(char typed) {
    if (typed == '\r' || typed == '\n' || typed == '\t') {
        return;
    }
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
    const auto value = static_cast<std::uint8_t>(typed);
    editByte(index, value, false, false);
    if (value == 127) {
        m_typedDel.set(index);
    }
    moveRight();
}

void Workspace::pressKey(EditorKey key) {
    closeNibble();
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
}

// ---- files ----

void Workspace::addHistoryLine(std::uint32_t start, std::uint64_t length, const std::string& name) {
    // An empty file ends where it starts rather than one below it.
    const std::uint32_t end = length == 0 ? start : static_cast<std::uint32_t>(start + length - 1);
    char line[64];
    std::snprintf(line, sizeof line, "%4d  %8.8X  %8.8X  %8.8X  ",
                  static_cast<int>(m_history.size() + 1), start, end,
                  static_cast<std::uint32_t>(length));
    m_history.push_back(line + name);
}

std::optional<Notice> Workspace::openByName(const std::string& name) {
    closeNibble();
    auto opened = openRegularFile(name);
    if (!opened) {
        return error("File (" + name + ") not found.");
    }
    auto& [source, size] = *opened;
    const Notice notCreated = error("Temporary file (" + m_workFileName + ") not created.");

    // The new copy is made beside the old one and renamed over it, so a failed copy leaves the
    // loaded workspace as it was. No fsync: the working copy is scratch, and a 1 GiB file
    // should open in the time the copy takes, not the time the disk needs to settle it.
    std::string partName;
    OwnedFd part = createBeside(m_workFileName, partName);
    if (!part.valid()) {
        return notCreated;
    }
    const auto copied = copyBytes(source.get(), 0, part.get(), 0, size);
    const bool closed = part.reset();
    if (!copied || *copied != size || !closed ||
        ::rename(partName.c_str(), m_workFileName.c_str()) != 0) {
        (void)::unlink(partName.c_str());
        return notCreated;
    }
    OwnedFd work(::open(m_workFileName.c_str(), O_RDWR | O_CLOEXEC));
    if (!work.valid()) {
        return notCreated;
    }

    m_source = std::move(source);
    m_work = std::move(work);
    m_currentFileName = name;
    m_size = size;
    m_scrollMax = scrollMaximumFor(size);
    m_changes.clear();
    addHistoryLine(m_base, size, name);
    m_scroll = 0;
    readPage();
    return std::nullopt;
}

std::optional<Notice> Workspace::openWithRange(const std::string& name, std::string_view offsetText,
                                               std::string_view lengthText) {
    closeNibble();
    m_lastDialogFile = name;
    if (!loaded()) {
        return openByName(name);
    }
    return insertFile(name, offsetText, lengthText);
}

std::optional<Notice> Workspace::insertFile(const std::string& name, std::string_view offsetText,
                                            std::string_view lengthText) {
    const auto address = parseHexField(offsetText);
    if (!address) {
        return error("Invalid value specified for offset.");
    }
    const auto length = parseLengthField(lengthText);
    if (!length) {
        return error("Invalid value specified for length.");
    }
    if (*address < m_base) {
        return error("Invalid value found for offset or length.");
    }
    const std::uint64_t offset = *address - m_base;
    auto opened = openRegularFile(name);
    if (!opened) {
        return error("File (" + name + ") not found.");
    }
    auto& [file, fileSize] = *opened;
    const std::uint64_t wanted =
        *length == 0 ? fileSize : std::min<std::uint64_t>(*length, fileSize);
    const Notice failed = error("File (" + name + ") not inserted.");
    if (!writeBack()) {
        return failed;
    }
    const auto sizeBefore = fileSizeOf(m_work.get());
    m_changes.dropRedo();
    auto before = sizeBefore ? m_changes.capture(m_work.get(), offset, wanted) : std::nullopt;
    if (!before) {
        return failed;
    }
    const auto copied = copyBytes(file.get(), 0, m_work.get(), offset, wanted);
    const auto sizeAfter = fileSizeOf(m_work.get());
    if (!copied || !sizeAfter) {
        // Put back what the broken copy overwrote.
        (void)m_changes.write(m_work.get(), offset, *before);
        (void)::ftruncate(m_work.get(), static_cast<off_t>(*sizeBefore));
        readPage();
        return failed;
    }
    if (*copied > 0) {
        ChangeLog::Step step;
        step.offset = offset;
        step.before = std::move(*before);
        step.afterLength = *copied;
        step.sizeBefore = *sizeBefore;
        step.sizeAfter = *sizeAfter;
        m_changes.push(std::move(step));
    }
    addHistoryLine(static_cast<std::uint32_t>(*address), *copied, name);
    readPage();
    return std::nullopt;
}

std::optional<Notice> Workspace::saveRange(const std::string& name, std::string_view offsetText,
                                           std::string_view lengthText) {
    closeNibble();
    const auto address = parseHexField(offsetText);
    if (!address) {
        return error("Invalid value specified for offset.");
    }
    const auto length = parseLengthField(lengthText);
    if (!length) {
        return error("Invalid value specified for length.");
    }
    if (*address < m_base) {
        return error("Invalid value specified for offset or length.");
    }
    if (!loaded()) {
        return error("No assigned workspace available !");
    }
    const std::uint64_t offset = *address - m_base;
    const auto workSize = writeBack() ? fileSizeOf(m_work.get()) : std::nullopt;
    if (!workSize) {
        return error("Cannot save " + name + ".\r" + std::strerror(errno));
    }
    // Up to the length, or up to the end of the working copy, whichever comes first.
    const std::uint64_t available = *workSize > offset ? *workSize - offset : 0;
    const std::uint64_t wanted =
        *length == 0 ? available : std::min<std::uint64_t>(*length, available);

    std::string partName;
    OwnedFd part = createBeside(name, partName);
    if (!part.valid()) {
        return error("Cannot create file " + name + ".\r" + std::strerror(errno));
    }
    const auto copied = copyBytes(m_work.get(), offset, part.get(), 0, wanted);
    if (!copied || *copied != wanted) {
        const int cause = errno;
        part.reset();
        (void)::unlink(partName.c_str());
        return error("Cannot save " + name + ".\r" + std::strerror(cause));
    }
    if (auto failure = commitBeside(part, partName, name)) {
        return error("Cannot save " + name + ".\r" + *failure);
    }
    m_currentFileName = name;
    readPage();
    return std::nullopt;
}

// ---- tools ----

std::optional<Notice> Workspace::setBaseAddress(std::string_view text) {
    closeNibble();
    const auto base = parseHexField(text);
    if (!base) {
        return error("Invalid base address specified !");
    }
    m_base = *base & ~std::uint32_t{15};
    refreshPage();
    return std::nullopt;
}

void Workspace::placeAt(std::uint64_t offset, bool characterPane) {
    if (offset >= m_pageOffset && offset < m_pageOffset + kPageBytes) {
        m_row = static_cast<int>((offset - m_pageOffset) / kRowBytes) + 1;
        refreshPage();
    } else {
        if (!showPage(offset >> 4)) {
            return;
        }
        m_row = static_cast<int>((offset - m_pageOffset) / kRowBytes) + 1;
    }
    const int inRow = static_cast<int>(offset & 15);
    m_column = characterPane ? inRow + kFirstCharColumn : inRow * 2 + kFirstHexColumn;
}

std::optional<Notice> Workspace::goToOffset(std::uint64_t offset) {
    closeNibble();
    if ((offset >> 8) * kRowBytes > m_scrollMax) {
        return error("Invalid jump address.\rJump address out of range !");
    }
    placeAt(offset, cursorInCharacterPane());
    return std::nullopt;
}

std::optional<Notice> Workspace::jump(std::string_view baseText, std::string_view targetText) {
    closeNibble();
    const auto base = parseHexField(baseText);
    if (!base) {
        return error("Invalid base address specified !");
    }
    const std::uint32_t newBase = *base & ~std::uint32_t{15};
    const auto target = parseHexField(targetText);
    if (!target) {
        return error("Invalid jump address specified !");
    }
    if (*target < newBase) {
        return error("Invalid jump address.\rJump address must be higher or equal to base "
                     "address !");
    }
    const std::uint64_t offset = *target - newBase;
    if ((offset >> 8) * kRowBytes > m_scrollMax) {
        return error("Invalid jump address.\rJump address out of range !");
    }
    m_base = newBase;
    placeAt(offset, cursorInCharacterPane());
    return std::nullopt;
}

FillOutcome Workspace::fill(FillAction action, const FillFields& fields) {
    closeNibble();
    const auto value = parseHexField(fields.value);
    if (!value || *value > 0xFF) {
        return {error("Invalid fill value !"), {}, {}};
    }
    const auto start = parseHexField(fields.start);
    if (!start) {
        return {error("Invalid Start address !"), {}, {}};
    }
    if (fields.end.empty()) {
        return skip(static_cast<std::uint8_t>(*value), *start);
    }
    const auto end = parseHexField(fields.end);
    if (!end) {
        return {error("Invalid End address !"), {}, {}};
    }
    if (*start < m_base) {
        return {error("Start address must be higher or equal to Base address !"), {}, {}};
    }
    if (*start > *end) {
        return {error(std::string(kEndAsLengthMessage)), endFieldAsLength(*start, fields.end), {}};
    }
    if (*end - m_base > m_scrollMax * kRowBytes + (kPageBytes - 1)) {
        return {error("End address must be lower or equal than maximum workspace size !"), {}, {}};
    }
    if (!loaded()) {
        return {error("No assigned workspace available !"), {}, {}};
    }
    const Notice failed = error("Fill operation failed !");
    if (!writeBack()) {
        return {failed, {}, {}};
    }
    // The last page may reach past the end of the file; nothing is written there, as no edit is.
    const std::uint64_t first = *start - m_base;
    if (first >= m_size) {
        readPage();
        return {};
    }
    const std::uint64_t length = std::min<std::uint64_t>(*end - m_base, m_size - 1) - first + 1;
    const auto size = fileSizeOf(m_work.get());
    m_changes.dropRedo();
    auto before = size ? m_changes.capture(m_work.get(), first, length) : std::nullopt;
    if (!before) {
        return {failed, {}, {}};
    }
    ChangeLog::Step step;
    step.offset = first;
    step.afterLength = length;
    step.sizeBefore = step.sizeAfter = *size;
    bool done = false;
    if (action == FillAction::Fill) {
        step.after = ChangeLog::repeated(static_cast<std::uint8_t>(*value), length);
        done = m_changes.write(m_work.get(), first, *step.after);
    } else {
        done = copyBytes(m_source.get(), first, m_work.get(), first, length).has_value();
    }
    if (!done) {
        (void)m_changes.write(m_work.get(), first, *before);
        readPage();
        return {failed, {}, {}};
    }
    step.before = std::move(*before);
    m_changes.push(std::move(step));
    readPage();
    return {};
}

FillOutcome Workspace::skip(std::uint8_t value, std::uint32_t start) {
    if (start < m_base) {
        return {error("Start address must be higher or equal to Base address !"), {}, {}};
    }
    if (!loaded()) {
        return {};
    }
    if (!writeBack()) {
        return {error("Fill operation failed !"), {}, {}};
    }
    std::vector<std::uint8_t> block(kScanBlock);
    for (std::uint64_t offset = start - m_base; offset < m_size;) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), m_size - offset));
        const auto got = preadAll(m_work.get(), block.data(), want, offset);
        if (!got) {
            return {error("Fill operation failed !"), {}, {}};
        }
        const auto end = block.begin() + static_cast<std::ptrdiff_t>(*got);
        const auto found =
            std::find_if(block.begin(), end, [value](std::uint8_t byte) { return byte != value; });
        if (found != end) {
            const std::uint64_t at = offset + static_cast<std::uint64_t>(found - block.begin());
            placeAt(at, cursorInCharacterPane());
            return {std::nullopt, std::nullopt, hex8(static_cast<std::uint32_t>(m_base + at))};
        }
        if (*got < want) {
            break;
        }
        offset += *got;
    }
    return {};
}

// ---- undo ----

std::optional<Notice> Workspace::applyUndo(bool redo) {
    closeNibble();
    if (!loaded() || !(redo ? canRedo() : canUndo())) {
        return std::nullopt;
    }
    const Notice failed = error(redo ? "Redo failed !" : "Undo failed !");
    if (!writeBack()) {
        return failed; // the page keeps its edits
    }
    const auto offset = redo ? m_changes.redo(m_work.get()) : m_changes.undo(m_work.get());
    if (!offset) {
        readPage();
        return failed;
    }
    if (*offset < m_size) {
        placeAt(*offset, cursorInCharacterPane());
    } else {
        readPage();
    }
    return std::nullopt;
}

std::optional<Notice> Workspace::undo() {
    return applyUndo(false);
}

std::optional<Notice> Workspace::redo() {
    return applyUndo(true);
}

} // namespace corvex::fileeditor
