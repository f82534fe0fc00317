#include "link/jobs/job_files.h"

#include "link/jobs/guard_record.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvex::link {

namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any file the user saves

std::string notRegular(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "of an unknown kind";
    return std::string("not a regular file (") + kind + ")";
}

std::string cannotOpen(int error) {
    return std::string("cannot open (") + std::strerror(error) + ")";
}

} // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        (void)close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool FileHandle::close() {
    if (m_fd < 0) {
        return true;
    }
    const int result = ::close(std::exchange(m_fd, -1));
    return result == 0;
}

FileHandle openForReading(const std::string& name) {
    return FileHandle(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
}

FileHandle openForUpdate(const std::string& name) {
    return FileHandle(::open(name.c_str(), O_RDWR | O_CLOEXEC));
}

FileHandle createOrTruncate(const std::string& name) {
    return FileHandle(::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode));
}

InputFile openInputFile(const std::string& name) {
    InputFile input;
    // Looked at before it is opened: opening a device may already act on it.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        input.problem = cannotOpen(errno);
        return input;
    }
    if (!S_ISREG(info.st_mode)) {
        input.problem = notRegular(info.st_mode);
        return input;
    }
    // Non-blocking, in case a FIFO took the file's place since the look; on a regular file the
    // flag changes nothing.
    FileHandle file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        input.problem = cannotOpen(errno);
        return input;
    }
    if (::fstat(file.fd(), &info) != 0) {
        input.problem = readErrorProblem(errno);
        return input;
    }
    if (!S_ISREG(info.st_mode)) {
        input.problem = notRegular(info.st_mode);
        return input;
    }
    input.file = std::move(file);
    input.size = static_cast<std::uint64_t>(info.st_size);
    return input;
}

std::string readErrorProblem(int error) {
    return std::string("read error (") + std::strerror(error) + ")";
}

std::string fileLine(std::string_view prefix, std::string_view name) {
    constexpr std::string_view kCut = "...";
    std::string line(prefix);
    if (prefix.size() + name.size() > kLogLineLimit &&
        prefix.size() + kCut.size() < kLogLineLimit) {
        line += kCut;
        line += name.substr(name.size() -
                            std::min(name.size(), kLogLineLimit - prefix.size() - kCut.size()));
    } else {
        line += name;
    }
    return line;
}

std::string fileProblemLine(std::string_view prefix, std::string_view name,
                            std::string_view problem) {
    constexpr std::string_view kCut = "...";
    const std::size_t fixed = prefix.size() + 2 + problem.size();
    std::string line(prefix);
    if (fixed + name.size() > kLogLineLimit && fixed + kCut.size() < kLogLineLimit) {
        line += kCut;
        line +=
            name.substr(name.size() - std::min(name.size(), kLogLineLimit - fixed - kCut.size()));
    } else {
        line += name;
    }
    line += ": ";
    line += problem;
    return line;
}

ssize_t readAt(int fd, void* buffer, std::size_t size, off_t offset) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool writeAt(int fd, const void* data, std::size_t size, off_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            ::pwrite(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

WordWriter::WordWriter(int fd, off_t offset) : m_fd(fd), m_offset(offset), m_block(kBlockBytes) {}

bool WordWriter::flush() {
    if (m_used > 0) {
        if (!m_failed && !writeAt(m_fd, m_block.data(), m_used, m_offset)) {
            m_failed = true;
        }
        m_offset += static_cast<off_t>(m_used);
        m_used = 0;
    }
    return !m_failed;
}

} // namespace corvex::link
