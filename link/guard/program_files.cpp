#include "link/guard/program_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace corvex::link {

namespace fs = std::filesystem;

std::string currentProgramPath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string("corvex") : path.string();
}

std::string userDataFolder(std::string_view sub) {
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        data = fs::path(xdg) / "corvex";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        data = fs::path(home) / ".local" / "share" / "corvex";
    } else {
        data = fs::temp_directory_path() / "corvex";
    }
    if (!sub.empty()) {
        data /= sub;
    }
    // Made private: recovery files and backups hold the user's firmware and unsaved work. A
    // folder that cannot be made shows up when a file in it is opened.
    std::error_code ignored;
    fs::create_directories(data, ignored);
    (void)::chmod(data.c_str(), 0700);
    return data.string();
}

namespace {

// The folders a package manager owns. Root may write there, but a program installed in them that
// left its settings and log book beside itself would scatter files no package owns into them.
bool isSystemFolder(const fs::path& folder) {
    const fs::path absolute = folder.lexically_normal();
    for (const char* system : {"/usr", "/bin", "/sbin"}) {
        const fs::path top(system);
        const auto [end, unused] =
            std::mismatch(top.begin(), top.end(), absolute.begin(), absolute.end());
        if (end == top.end()) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string programFileName(const std::string& programPath, std::string_view extension) {
    const fs::path program(programPath);
    std::string name = program.filename().string();
    name += '.';
    name += extension;

    fs::path folder = program.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (!isSystemFolder(folder) && ::access(folder.c_str(), W_OK) == 0) {
        return (folder / name).string();
    }
    const std::string data = userDataFolder();
    return (fs::path(data) / name).string();
}

WorkFile::WorkFile(WorkFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

WorkFile& WorkFile::operator=(WorkFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

WorkFile::~WorkFile() {
    if (m_fd >= 0) {
        ::close(m_fd); // closing the last descriptor of the open file drops its flock
    }
}

std::optional<WorkFile> lockWorkFile(const std::string& programPath, std::string_view extension,
                                     std::string& error) {
    const std::string first = programFileName(programPath, extension);
    for (int slot = 1; slot <= WorkFile::kSlots; ++slot) {
        std::string numbered = std::to_string(slot);
        numbered.append(".").append(extension); // appended: GCC 12 -O2 misreads "+" here
        const std::string path = slot == 1 ? first : programFileName(programPath, numbered);
        // Close-on-exec: a child process must not carry the lock past this run.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot open the work file " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        // Never unlinked while locked, so the name always refers to the inode locked here.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return WorkFile(fd, path);
        }
        const int lockError = errno;
        ::close(fd);
        if (lockError != EWOULDBLOCK) {
            error = "cannot lock the work file " + path + ": " + std::strerror(lockError);
            return std::nullopt;
        }
    }
    error = "the work file " + first + " and its " + std::to_string(WorkFile::kSlots - 1) +
            " alternatives are in use by other runs";
    return std::nullopt;
}

} // namespace corvex::link
