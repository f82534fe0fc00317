#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace corvex::link {

// The one way this program saves a file: the new contents go to a part file beside the real
// target, are flushed to disk, renamed over it, and the folder is flushed too, so that a crash or
// a full disk at any moment leaves either the old file or the new one, whole. A target that is a
// symbolic link is followed (the file it points to is replaced, the link stays), and a replaced
// file keeps its permissions; a new file gets 0666 narrowed by the umask. Dropped without a
// commit, the part file is removed and the target stays as it was.
class ReplacingFile {
public:
    explicit ReplacingFile(std::string target);
    ~ReplacingFile() { discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    /// False when the file beside the target could not be created (see error()).
    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    [[nodiscard]] int fd() const { return m_fd; }
    /// The name given, as the user knows it.
    [[nodiscard]] const std::string& target() const { return m_target; }
    /// The file that is replaced: the target with its symbolic links followed.
    [[nodiscard]] const std::string& realTarget() const { return m_realTarget; }
    /// Flushes the contents to disk, renames them over the real target and flushes its folder;
    /// false if any step failed, in which case the part file is removed and errno and error()
    /// tell the failed step's cause.
    bool commit();
    /// Removes the part file, leaving the target untouched.
    void discard();
    /// The system's text for the last failure ("No space left on device"), empty when none.
    [[nodiscard]] std::string error() const;

private:
    void fail(int error);

    std::string m_target;
    std::string m_realTarget;
    std::string m_partName;
    int m_fd = -1;
    int m_error = 0;
};

/// The file a save to `name` writes: symbolic links followed to their end (a dangling link
/// names the file it would create). Relative link texts are taken from the link's folder.
[[nodiscard]] std::string followLinks(const std::string& name);

/// Writes `bytes` as the whole new contents of `target` through a ReplacingFile; nullopt when it
/// was saved, else the system's text of the failed step.
[[nodiscard]] std::optional<std::string> replaceFileContents(const std::string& target,
                                                             std::span<const std::uint8_t> bytes);

} // namespace corvex::link
