#include "work_files.h"

#include "link/jobs/job_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvex::fileeditor {

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 30; // the kernel copies at most ~2 GiB a call
constexpr std::size_t kBufferBytes = std::size_t{256} * 1024;
// A copy watched from another thread reports and looks for Cancel after this many bytes.
constexpr std::uint64_t kWatchedChunk = std::uint64_t{8} << 20;

// Errors after which the next way of copying may still work: the file systems or file kinds do
// not support this one.
bool unsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY;
}

enum class Copied { Done, Unsupported, Failed };

Copied copyInKernel(int from, std::uint64_t& fromOffset, int to, std::uint64_t& toOffset,
                    std::uint64_t& left) {
    while (left > 0) {
        auto in = static_cast<off_t>(fromOffset);
        auto out = static_cast<off_t>(toOffset);
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunk));
        const ssize_t moved = ::copy_file_range(from, &in, to, &out, chunk, 0);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            return unsupported(errno) ? Copied::Unsupported : Copied::Failed;
        }
        if (moved == 0) {
            left = 0; // end of the source
            break;
        }
        fromOffset += static_cast<std::uint64_t>(moved);
        toOffset += static_cast<std::uint64_t>(moved);
        left -= static_cast<std::uint64_t>(moved);
    }
    return Copied::Done;
}

Copied copyBySendfile(int from, std::uint64_t& fromOffset, int to, std::uint64_t& toOffset,
                      std::uint64_t& left) {
    // sendfile writes at the target's file position.
    if (::lseek(to, static_cast<off_t>(toOffset), SEEK_SET) < 0) {
        return Copied::Unsupported;
    }
    while (left > 0) {
        auto in = static_cast<off_t>(fromOffset);
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunk));
        const ssize_t moved = ::sendfile(to, from, &in, chunk);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            return unsupported(errno) ? Copied::Unsupported : Copied::Failed;
        }
        if (moved == 0) {
            left = 0;
            break;
        }
        fromOffset += static_cast<std::uint64_t>(moved);
        toOffset += static_cast<std::uint64_t>(moved);
        left -= static_cast<std::uint64_t>(moved);
    }
    return Copied::Done;
}

bool copyByBuffer(int from, std::uint64_t& fromOffset, int to, std::uint64_t& toOffset,
                  std::uint64_t& left) {
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(left, kBufferBytes)));
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const auto got = preadAll(from, buffer.data(), want, fromOffset);
        if (!got) {
            return false;
        }
        if (*got > 0 && !pwriteAll(to, buffer.data(), *got, toOffset)) {
            return false;
        }
        fromOffset += *got;
        toOffset += *got;
        left -= *got;
        if (*got < want) {
            left = 0;
        }
    }
    return true;
}

// Copies a range of a file to another place in it (through two descriptors of the same file),
// back to front when the target lies above the source, so overlapping ranges come out as the
// source was.
bool copyWithinFile(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                    std::uint64_t length) {
    if (toOffset <= fromOffset) {
        return copyByBuffer(from, fromOffset, to, toOffset, length);
    }
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kBufferBytes)));
    for (std::uint64_t left = length; left > 0;) {
        const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        left -= part;
        const auto got = preadAll(from, buffer.data(), part, fromOffset + left);
        if (!got || *got != part || !pwriteAll(to, buffer.data(), part, toOffset + left)) {
            return false;
        }
    }
    return true;
}

} // namespace

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = other.release();
    }
    return *this;
}

int OwnedFd::release() {
    return std::exchange(m_fd, -1);
}

bool OwnedFd::reset() {
    if (m_fd < 0) {
        return true;
    }
    return ::close(std::exchange(m_fd, -1)) == 0;
}

std::optional<ReadableFile> openRegularFile(const std::string& name, bool& notRegular) {
    notRegular = false;
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        notRegular = true;
        return std::nullopt;
    }
    // Non-blocking in case the name is swapped for a FIFO between the two looks; for a regular
    // file the flag changes nothing.
    OwnedFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid() || ::fstat(file.get(), &info) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        notRegular = true;
        return std::nullopt;
    }
    return ReadableFile{std::move(file), static_cast<std::uint64_t>(info.st_size)};
}

std::optional<std::size_t> preadAll(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    const ssize_t got = link::readAt(fd, buffer, size, static_cast<off_t>(offset));
    return got < 0 ? std::nullopt : std::optional(static_cast<std::size_t>(got));
}

bool pwriteAll(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    return link::writeAt(fd, data, size, static_cast<off_t>(offset));
}

std::optional<std::uint64_t> fileSizeOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::uint64_t> copyBytes(int from, std::uint64_t fromOffset, int to,
                                       std::uint64_t toOffset, std::uint64_t length) {
    struct stat fromInfo {};
    struct stat toInfo {};
    if (::fstat(from, &fromInfo) != 0 || ::fstat(to, &toInfo) != 0) {
        return std::nullopt;
    }
    if (fromInfo.st_dev == toInfo.st_dev && fromInfo.st_ino == toInfo.st_ino) {
        // A file copied into itself (the working copy inserted into the workspace): the kernel
        // refuses overlapping ranges, and a forward copy to a higher offset would read bytes
        // it has already overwritten.
        const auto size = static_cast<std::uint64_t>(fromInfo.st_size);
        length = fromOffset >= size ? 0 : std::min(length, size - fromOffset);
        return copyWithinFile(from, fromOffset, to, toOffset, length)
                   ? std::optional<std::uint64_t>(length)
                   : std::nullopt;
    }
    std::uint64_t left = length;
    Copied result = copyInKernel(from, fromOffset, to, toOffset, left);
    if (result == Copied::Unsupported) {
        result = copyBySendfile(from, fromOffset, to, toOffset, left);
    }
    if (result == Copied::Unsupported) {
        result = copyByBuffer(from, fromOffset, to, toOffset, left) ? Copied::Done : Copied::Failed;
    }
    if (result == Copied::Failed) {
        return std::nullopt;
    }
    return length - left;
}

OwnedFd scratchFileIn(const std::string& folder) {
    OwnedFd file(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file.valid()) {
        return file;
    }
    // File systems without unnamed files: a named one, unlinked at once.
    std::string pattern = (std::filesystem::path(folder) / "corvex-undo-XXXXXX").string();
    file = OwnedFd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (file.valid()) {
        (void)::unlink(pattern.c_str());
    }
    return file;
}

CopyEnd copyWholeFile(int from, int to, std::uint64_t size, CopyWatch* watch) {
    if (::ftruncate(to, static_cast<off_t>(size)) != 0) {
        return CopyEnd::Failed;
    }
    const auto stopped = [watch] {
        return watch != nullptr && watch->cancel.load(std::memory_order_relaxed);
    };
    std::uint64_t position = 0;
    while (position < size) {
        // The next stretch of data; a file system that cannot tell holes gives it all as data.
        std::uint64_t data = position;
        std::uint64_t hole = size;
        if (const off_t found = ::lseek(from, static_cast<off_t>(position), SEEK_DATA);
            found >= 0) {
            data = static_cast<std::uint64_t>(found);
            const off_t after = ::lseek(from, found, SEEK_HOLE);
            hole = after >= 0 ? std::min(size, static_cast<std::uint64_t>(after)) : size;
        } else if (errno == ENXIO) {
            break; // only a hole is left
        }
        for (std::uint64_t at = data; at < hole;) {
            if (stopped()) {
                return CopyEnd::Cancelled;
            }
            const std::uint64_t chunk = std::min<std::uint64_t>(hole - at, kWatchedChunk);
            const auto copied = copyBytes(from, at, to, at, chunk);
            if (!copied || *copied != chunk) {
                return CopyEnd::Failed; // a file that shrank under us is not copied whole either
            }
            at += chunk;
            if (watch != nullptr) {
                watch->done.store(at, std::memory_order_relaxed);
            }
        }
        position = std::max(hole, data);
    }
    if (watch != nullptr) {
        watch->done.store(size, std::memory_order_relaxed);
    }
    return stopped() ? CopyEnd::Cancelled : CopyEnd::Done;
}

std::string lockedWorkFileName(const std::string& programPath,
                               std::optional<link::WorkFile>& lock) {
    std::string error;
    lock = link::lockWorkFile(programPath, "TBF.lock", error);
    if (lock) {
        const std::string& path = lock->path();
        return path.substr(0, path.size() - std::string_view(".lock").size());
    }
    return link::programFileName(programPath, std::to_string(::getpid()) + ".TBF");
}

} // namespace corvex::fileeditor
