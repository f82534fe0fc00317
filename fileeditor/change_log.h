#pragma once

#include "work_files.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace corvex::fileeditor {

// The undo and redo stacks of a working copy. A step is one contiguous range of the file with
// the bytes it held before and after the change. Only those ranges are kept: small ones in
// memory, large ones (a fill or an inserted file of many megabytes) in an unnamed scratch file
// beside the working copy, so neither the file nor a large change ever sits in memory whole.
// The oldest steps are forgotten once there are too many or the scratch file holds too much.
class ChangeLog {
public:
    /// One side of a change: bytes in memory, a stretch of the scratch file, or one repeated value.
    struct Bytes {
        enum class Kind { Memory, Scratch, Repeat };
        Kind kind = Kind::Memory;
        std::uint64_t length = 0;
        std::vector<std::uint8_t> data;  // Memory
        std::uint64_t scratchOffset = 0; // Scratch
        std::uint8_t value = 0;          // Repeat
    };

    struct Step {
        std::uint64_t offset = 0;
        Bytes before;               // the range as it was, cut at the old end of the file
        std::optional<Bytes> after; // taken lazily on the first undo when not known up front
        std::uint64_t afterLength = 0;
        std::uint64_t sizeBefore = 0; // file sizes around the change (an insert may grow it)
        std::uint64_t sizeAfter = 0;
        std::uint64_t id = 0; // given by push(), never given again
    };

    /// `scratchFolder`: where large ranges go (the working copy's folder).
    explicit ChangeLog(std::string scratchFolder) : m_scratchFolder(std::move(scratchFolder)) {}

    [[nodiscard]] bool canUndo() const { return !m_undo.empty(); }
    [[nodiscard]] bool canRedo() const { return !m_redo.empty(); }
    /// Names the state the steps have brought the file to: the newest step's id, or the id of
    /// the newest forgotten one. Equal positions mean the same contents, so a save can remember
    /// its position and the file counts as changed whenever the position moves off it.
    [[nodiscard]] std::uint64_t position() const {
        return m_undo.empty() ? m_floor : m_undo.back().id;
    }
    /// Forgets every step (a new workspace).
    void clear();

    /// Reads `length` bytes of `fd` at `offset` (cut at its end) into a side of a step.
    [[nodiscard]] std::optional<Bytes> capture(int fd, std::uint64_t offset, std::uint64_t length);
    /// Bytes known up front, kept in memory.
    [[nodiscard]] static Bytes inMemory(std::vector<std::uint8_t> data);
    [[nodiscard]] static Bytes repeated(std::uint8_t value, std::uint64_t length);

    /// Forgets the undone steps; called before a new change captures its bytes, so their
    /// scratch space can be used again.
    void dropRedo();
    /// Records a step that was just made; the undone steps go.
    void push(Step step);
    /// The newest step, so a low nibble can join the step of its high nibble.
    [[nodiscard]] Step* last() { return m_undo.empty() ? nullptr : &m_undo.back(); }

    /// Puts the file back as it was before the newest step; the step's offset, or nullopt when
    /// there is nothing to undo or the file could not be written (the step then stays).
    std::optional<std::uint64_t> undo(int fd);
    /// Makes the newest undone step again.
    std::optional<std::uint64_t> redo(int fd);

    /// Writes a side of a step into `fd` at `offset`; false on an error.
    bool write(int fd, std::uint64_t offset, const Bytes& bytes);

private:
    bool ensureScratch();
    /// Gives the scratch space of a forgotten side back to the file system.
    void release(const Bytes& bytes);
    void release(const Step& step);

    std::string m_scratchFolder;
    OwnedFd m_scratch;
    std::uint64_t m_scratchEnd = 0;  // where the next large range goes
    std::uint64_t m_scratchHeld = 0; // bytes of the scratch file the steps refer to
    std::deque<Step> m_undo;
    std::vector<Step> m_redo;
    std::uint64_t m_nextId = 1;
    std::uint64_t m_floor = 0; // position() with every remaining step undone
};

} // namespace corvex::fileeditor
