#pragma once

#include "link/guard/program_files.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace corvex::fileeditor {

// A file descriptor the owner closes when it goes.
class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd&& other) noexcept : m_fd(other.release()) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    [[nodiscard]] int get() const { return m_fd; }
    int release();
    /// Closes the file; false when the system reported an error (a write that never landed).
    bool reset();

private:
    int m_fd = -1;
};

// A regular file opened for reading, and its size.
struct ReadableFile {
    OwnedFd fd;
    std::uint64_t size = 0;
};

/// Opens `name` for reading when it is a regular file. A folder, device or FIFO is refused with
/// `notRegular` set, without being opened for real: a FIFO would hold the open until a writer
/// comes, and a device such as /dev/zero never ends. Nullopt with errno set when the file is
/// missing or cannot be opened.
[[nodiscard]] std::optional<ReadableFile> openRegularFile(const std::string& name,
                                                          bool& notRegular);

/// Reads up to `size` bytes at `offset`, short only at the end of the file; nullopt on an error.
[[nodiscard]] std::optional<std::size_t> preadAll(int fd, void* buffer, std::size_t size,
                                                  std::uint64_t offset);
/// preadAll as a byte count, -1 for an error: the form reports print.
[[nodiscard]] inline ssize_t preadCount(int fd, void* buffer, std::size_t size,
                                        std::uint64_t offset) {
    const auto got = preadAll(fd, buffer, size, offset);
    return got ? static_cast<ssize_t>(*got) : -1;
}
/// Writes every byte at `offset`; false on an error (a full disk among them).
[[nodiscard]] bool pwriteAll(int fd, const void* data, std::size_t size, std::uint64_t offset);
/// The file's size, or nullopt when it cannot be asked.
[[nodiscard]] std::optional<std::uint64_t> fileSizeOf(int fd);

/// Copies up to `length` bytes from one file to another at the given offsets inside the kernel
/// (copy_file_range, else sendfile, else a bounded buffer), so no file passes through memory
/// whole. Stops early at the end of `from`. Returns the count copied, nullopt on an error.
[[nodiscard]] std::optional<std::uint64_t> copyBytes(int from, std::uint64_t fromOffset, int to,
                                                     std::uint64_t toOffset, std::uint64_t length);

/// An unnamed scratch file in `folder` that vanishes when closed; invalid when none could be made.
[[nodiscard]] OwnedFd scratchFileIn(const std::string& folder);

// How a long copy is watched and stopped from another thread.
struct CopyWatch {
    std::atomic<std::uint64_t> done{0}; // bytes copied so far; written by the copying thread
    std::atomic<bool> cancel{false};    // set by any thread; the copy stops at its next chunk
};

enum class CopyEnd { Done, Cancelled, Failed };

/// Makes the empty file `to` a copy of the whole of `from` (`size` bytes), chunk by chunk so
/// `watch` sees the progress and can stop it. Holes of `from` stay holes: only its data is
/// copied, so a sparse image of gigabytes copies in the time its data takes.
[[nodiscard]] CopyEnd copyWholeFile(int from, int to, std::uint64_t size, CopyWatch* watch);

/// The file editor's working copy for this run: named after the program, with a lock held in
/// `lock` on a companion file so that two runs side by side never work in the same copy (the
/// copy itself is replaced by a rename on every open, which a lock on it would not survive).
/// With every slot taken, a copy of this process's own.
[[nodiscard]] std::string lockedWorkFileName(const std::string& programPath,
                                             std::optional<link::WorkFile>& lock);

} // namespace corvex::fileeditor
