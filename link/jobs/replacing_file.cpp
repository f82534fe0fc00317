#include "link/jobs/replacing_file.h"

#include "link/jobs/job_files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvex::link {

namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any file the user saves
constexpr int kPartNameTries = 100;
constexpr int kMaxLinks = 40; // the kernel's own limit on links followed in one path

// Distinguishes the part files of one process; the process id distinguishes processes.
std::atomic<unsigned> g_partCounter{0};

std::string folderOf(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : name.substr(0, slash);
}

} // namespace

std::string followLinks(const std::string& name) {
    std::string current = name;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        char text[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), text, sizeof text - 1);
        if (length <= 0) {
            return current;
        }
        const std::string link(text, static_cast<std::size_t>(length));
        current = link.front() == '/' ? link : folderOf(current) + "/" + link;
    }
    return current; // a loop: the open beside it fails with the system's own error
}

ReplacingFile::ReplacingFile(std::string target) : m_target(std::move(target)) {
    if (m_target.empty()) {
        m_error = ENOENT;
        return;
    }
    m_realTarget = followLinks(m_target);
    struct stat old {};
    const bool replacing = ::stat(m_realTarget.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    for (int attempt = 0; attempt < kPartNameTries && m_fd < 0; ++attempt) {
        m_partName = m_realTarget + "." + std::to_string(::getpid()) + "-" +
                     std::to_string(g_partCounter.fetch_add(1)) + ".part";
        m_fd = ::open(m_partName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (m_fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (m_fd < 0) {
        m_error = errno;
        m_partName.clear();
        return;
    }
    if (replacing) {
        (void)::fchmod(m_fd, old.st_mode & 07777);
    }
}

void ReplacingFile::fail(int error) {
    m_error = error;
    discard();
    errno = error;
}

bool ReplacingFile::commit() {
    if (m_fd < 0) {
        errno = m_error != 0 ? m_error : EBADF;
        return false;
    }
    if (::fsync(m_fd) != 0) {
        fail(errno);
        return false;
    }
    if (::close(std::exchange(m_fd, -1)) != 0) {
        fail(errno);
        return false;
    }
    if (::rename(m_partName.c_str(), m_realTarget.c_str()) != 0) {
        fail(errno);
        return false;
    }
    m_partName.clear();
    // The rename is only durable once the folder's entry is on disk. A file system that cannot
    // flush a folder (EINVAL) has nothing more to flush.
    const int folder = ::open(folderOf(m_realTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        const bool synced = ::fsync(folder) == 0 || errno == EINVAL;
        const int error = errno;
        ::close(folder);
        if (!synced) {
            m_error = error;
            errno = error;
            return false;
        }
    }
    return true;
}

void ReplacingFile::discard() {
    if (m_fd >= 0) {
        ::close(std::exchange(m_fd, -1));
    }
    if (!m_partName.empty()) {
        (void)::unlink(m_partName.c_str());
        m_partName.clear();
    }
}

std::string ReplacingFile::error() const {
    return m_error == 0 ? std::string() : std::string(std::strerror(m_error));
}

std::optional<std::string> replaceFileContents(const std::string& target,
                                               std::span<const std::uint8_t> bytes) {
    ReplacingFile file(target);
    if (!file.valid()) {
        return file.error();
    }
    if (!writeAt(file.fd(), bytes.data(), bytes.size(), 0)) {
        const int error = errno;
        file.discard();
        return std::string(std::strerror(error));
    }
    if (!file.commit()) {
        return file.error();
    }
    return std::nullopt;
}

} // namespace corvex::link
