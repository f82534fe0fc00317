#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace corvex::link {

/// The full path of the running program (/proc/self/exe), or "corvex" when it cannot be read.
[[nodiscard]] std::string currentProgramPath();

/// The user's data folder for this program, $XDG_DATA_HOME/corvex (else ~/.local/share/corvex),
/// or the folder `sub` inside it ("recovery", "backups"); created when missing, mode 0700.
[[nodiscard]] std::string userDataFolder(std::string_view sub = {});

/// A file that belongs to the program, named after it: the program's path, ".", the extension
/// ("corvex.LOG"). Where the program's folder is not writable, or is a system folder (under /usr,
/// /bin or /sbin, where an installed program lives), the file goes to the user's data folder
/// ($XDG_DATA_HOME/corvex, else ~/.local/share/corvex), which is created when missing.
[[nodiscard]] std::string programFileName(const std::string& programPath,
                                          std::string_view extension);

// A work file (the Guard's flash image, the window's backup) that this run alone uses: an
// exclusive flock on it is held for the object's life. A second run that shared the file would
// read, compare or save the other run's receiver. The file itself stays when the lock ends.
class WorkFile {
public:
    WorkFile(WorkFile&& other) noexcept;
    WorkFile& operator=(WorkFile&& other) noexcept;
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    /// Releases the lock.
    ~WorkFile();

    [[nodiscard]] const std::string& path() const { return m_path; }

    /// How many names lockWorkFile tries: the program's own, then ".2." up to this number.
    static constexpr int kSlots = 8;

    friend std::optional<WorkFile> lockWorkFile(const std::string& programPath,
                                                std::string_view extension, std::string& error);

private:
    WorkFile(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

    int m_fd = -1;
    std::string m_path;
};

/// Locks the program's work file with `extension` ("LRF"), creating it when missing. When
/// another run holds it, the next free one of "<program>.2.<extension>" to
/// "<program>.8.<extension>" is taken instead, so runs side by side each keep their own.
/// nullopt, with one line in `error`, when no name can be opened or every one is in use.
[[nodiscard]] std::optional<WorkFile> lockWorkFile(const std::string& programPath,
                                                   std::string_view extension, std::string& error);

} // namespace corvex::link
