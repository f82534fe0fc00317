#include "change_log.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace corvex::fileeditor {

namespace {

// Ranges up to this size stay in memory; an edit is one byte, a page at most 256.
constexpr std::uint64_t kInMemoryLimit = std::uint64_t{16} * 1024;
constexpr std::size_t kFillBlock = std::size_t{64} * 1024;
// Beyond these the oldest steps go: a long session of small edits, or a few fills over a
// large image, must not fill the memory or the disk. The newest step is always kept.
constexpr std::size_t kMaxSteps = 100000;
constexpr std::uint64_t kScratchLimit = 2ULL << 30;

} // namespace

void ChangeLog::clear() {
    m_undo.clear();
    m_redo.clear();
    // A position never names two states: after a clear the empty log stands for new contents.
    m_floor = m_nextId++;
    m_scratch.reset();
    m_scratchEnd = 0;
    m_scratchHeld = 0;
}

void ChangeLog::release(const Bytes& bytes) {
    if (bytes.kind != Bytes::Kind::Scratch || bytes.length == 0) {
        return;
    }
    (void)::fallocate(m_scratch.get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                      static_cast<off_t>(bytes.scratchOffset), static_cast<off_t>(bytes.length));
    m_scratchHeld -= std::min(m_scratchHeld, bytes.length);
}

void ChangeLog::release(const Step& step) {
    release(step.before);
    if (step.after) {
        release(*step.after);
    }
}

bool ChangeLog::ensureScratch() {
    if (!m_scratch.valid()) {
        m_scratch = scratchFileIn(m_scratchFolder);
        m_scratchEnd = 0;
    }
    return m_scratch.valid();
}

std::optional<ChangeLog::Bytes> ChangeLog::capture(int fd, std::uint64_t offset,
                                                   std::uint64_t length) {
    const auto size = fileSizeOf(fd);
    if (!size) {
        return std::nullopt;
    }
    length = offset >= *size ? 0 : std::min(length, *size - offset);
    Bytes bytes;
    bytes.length = length;
    if (length <= kInMemoryLimit) {
        bytes.data.resize(static_cast<std::size_t>(length));
        const auto got = preadAll(fd, bytes.data.data(), bytes.data.size(), offset);
        if (!got || *got != length) {
            return std::nullopt;
        }
        return bytes;
    }
    if (!ensureScratch()) {
        return std::nullopt;
    }
    bytes.kind = Bytes::Kind::Scratch;
    bytes.scratchOffset = m_scratchEnd;
    const auto copied = copyBytes(fd, offset, m_scratch.get(), m_scratchEnd, length);
    if (!copied || *copied != length) {
        return std::nullopt;
    }
    m_scratchEnd += length;
    m_scratchHeld += length;
    return bytes;
}

ChangeLog::Bytes ChangeLog::inMemory(std::vector<std::uint8_t> data) {
    Bytes bytes;
    bytes.length = data.size();
    bytes.data = std::move(data);
    return bytes;
}

ChangeLog::Bytes ChangeLog::repeated(std::uint8_t value, std::uint64_t length) {
    Bytes bytes;
    bytes.kind = Bytes::Kind::Repeat;
    bytes.length = length;
    bytes.value = value;
    return bytes;
}

void ChangeLog::dropRedo() {
    for (const Step& step : m_redo) {
        release(step);
    }
    m_redo.clear();
    if (m_undo.empty() && m_scratch.valid()) {
        // Nothing refers to the scratch file any more: start it again from nothing.
        // Left long, the file is only bigger: writes start again at its beginning.
        [[maybe_unused]] const int cut = ::ftruncate(m_scratch.get(), 0);
        m_scratchEnd = 0;
        m_scratchHeld = 0;
    }
}

void ChangeLog::push(Step step) {
    for (const Step& undone : m_redo) {
        release(undone);
    }
    m_redo.clear();
    step.id = m_nextId++;
    m_undo.push_back(std::move(step));
    while (m_undo.size() > 1 && (m_undo.size() > kMaxSteps || m_scratchHeld > kScratchLimit)) {
        release(m_undo.front());
        m_floor = m_undo.front().id;
        m_undo.pop_front();
    }
}

bool ChangeLog::write(int fd, std::uint64_t offset, const Bytes& bytes) {
    switch (bytes.kind) {
    case Bytes::Kind::Memory:
        return pwriteAll(fd, bytes.data.data(), bytes.data.size(), offset);
    case Bytes::Kind::Scratch: {
        const auto copied =
            copyBytes(m_scratch.get(), bytes.scratchOffset, fd, offset, bytes.length);
        return copied && *copied == bytes.length;
    }
    case Bytes::Kind::Repeat: {
        const std::vector<std::uint8_t> block(
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes.length, kFillBlock)),
            bytes.value);
        for (std::uint64_t done = 0; done < bytes.length;) {
            const auto part = std::min<std::uint64_t>(bytes.length - done, block.size());
            if (!pwriteAll(fd, block.data(), static_cast<std::size_t>(part), offset + done)) {
                return false;
            }
            done += part;
        }
        return true;
    }
    }
    return false;
}

std::optional<std::uint64_t> ChangeLog::undo(int fd) {
    if (m_undo.empty()) {
        return std::nullopt;
    }
    Step& step = m_undo.back();
    if (!step.after) {
        // The file holds exactly the state after this step now: keep it for the redo.
        step.after = capture(fd, step.offset, step.afterLength);
        if (!step.after) {
            return std::nullopt;
        }
    }
    if (!write(fd, step.offset, step.before)) {
        return std::nullopt;
    }
    if (step.sizeAfter != step.sizeBefore &&
        ::ftruncate(fd, static_cast<off_t>(step.sizeBefore)) != 0) {
        return std::nullopt;
    }
    const std::uint64_t offset = step.offset;
    m_redo.push_back(std::move(step));
    m_undo.pop_back();
    return offset;
}

std::optional<std::uint64_t> ChangeLog::redo(int fd) {
    if (m_redo.empty()) {
        return std::nullopt;
    }
    Step& step = m_redo.back();
    if (!write(fd, step.offset, *step.after)) {
        return std::nullopt;
    }
    if (step.sizeAfter != step.sizeBefore &&
        ::ftruncate(fd, static_cast<off_t>(step.sizeAfter)) != 0) {
        return std::nullopt;
    }
    const std::uint64_t offset = step.offset;
    m_undo.push_back(std::move(step));
    m_redo.pop_back();
    return offset;
}

} // namespace corvex::fileeditor
