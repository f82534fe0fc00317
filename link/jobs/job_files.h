#pragma once

#include "link/jobs/replacing_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace corvex::link {

// An open file descriptor, closed when the handle goes.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { (void)close(); }
    FileHandle(FileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    [[nodiscard]] int fd() const { return m_fd; }
    /// False when the system reported an error on close (a write that never reached the disk).
    bool close();

private:
    int m_fd = -1;
};

/// An existing file, for reading.
[[nodiscard]] FileHandle openForReading(const std::string& name);
/// An existing file, for reading and writing; nothing is created.
[[nodiscard]] FileHandle openForUpdate(const std::string& name);
/// Creates the file, or truncates it, for reading and writing.
[[nodiscard]] FileHandle createOrTruncate(const std::string& name);

// A file a job takes its data from, opened only when it is a regular file: a folder has no
// data, a device or a FIFO may never end (or, for a FIFO without a writer, never open).
struct InputFile {
    FileHandle file;
    std::uint64_t size = 0;
    /// What is wrong with the file, empty when it is open: "cannot open (...)" or
    /// "not a regular file (a folder)".
    std::string problem;
};
/// Opens an existing regular file for reading, without blocking on anything else.
[[nodiscard]] InputFile openInputFile(const std::string& name);
/// The problem text of a read that failed with `error` (an errno value).
[[nodiscard]] std::string readErrorProblem(int error);
/// `prefix`, the file name, ": " and the problem, within the log line limit: a long name gives
/// up its beginning so that the problem is never cut off.
[[nodiscard]] std::string fileProblemLine(std::string_view prefix, std::string_view name,
                                          std::string_view problem);

/// `prefix` and the file name within the log line limit, the name giving up its beginning.
[[nodiscard]] std::string fileLine(std::string_view prefix, std::string_view name);

/// Reads up to `size` bytes at `offset`, short only at the end of the file; -1 on an error.
[[nodiscard]] ssize_t readAt(int fd, void* buffer, std::size_t size, off_t offset);
/// Writes every byte at `offset`; false on an error (a full disk among them).
[[nodiscard]] bool writeAt(int fd, const void* data, std::size_t size, off_t offset);

// 32-bit words, least significant byte first, into a file from an offset on, gathered into
// large blocks: a whole-flash job would otherwise make half a million tiny writes.
class WordWriter {
public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    WordWriter(int fd, off_t offset);
    /// Queues one word; a full block goes to the file.
    void append(std::uint32_t word) {
        if (m_used == m_block.size()) {
            (void)flush();
        }
        for (int shift = 0; shift < 32; shift += 8) {
            m_block[m_used++] = static_cast<std::uint8_t>(word >> shift);
        }
    }
    /// Writes what is queued; false once any write of this writer has failed.
    bool flush();
    [[nodiscard]] bool failed() const { return m_failed; }

private:
    int m_fd;
    off_t m_offset;
    std::vector<std::uint8_t> m_block;
    std::size_t m_used = 0;
    bool m_failed = false;
};

} // namespace corvex::link
