#pragma once

#include "backup/backup_record.h"
#include "link/jobs/backup_hook.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace corvex::backup {

// The folder the backups go to, and the keeper the Guard's write jobs call: before the first
// change, the content is saved with its sidecar, both read back from the disk and compared; an
// earlier backup that already holds the same content (checked whole) serves instead of a new
// file. Backups are never deleted here. keep() runs on the Guard thread; the object holds no
// state that changes after construction except the clock tests set before any job.
class BackupFolder final : public link::BackupKeeper {
public:
    /// `dir` empty: the user's data folder, $XDG_DATA_HOME/corvex/backups.
    explicit BackupFolder(std::string dir = {});

    /// The folder's path (the default one is created on the way, mode 0700).
    [[nodiscard]] std::string path() const;
    [[nodiscard]] link::BackupOutcome prepare() override;
    [[nodiscard]] link::BackupOutcome keep(const link::BackupRequest& request) override;
    /// Tests fix the time a backup is named after; call before a job runs.
    void setClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

private:
    std::string m_dir;
    std::function<std::time_t()> m_clock;
};

/// Makes sure `dir` is a folder backups can be written to, creating it (mode 0700) when
/// missing; the problem, empty when it is.
[[nodiscard]] std::string prepareFolder(const std::string& dir);

struct BackupList {
    std::vector<BackupRecord> backups; // newest first
    std::vector<std::string> problems; // one line per file that is not a readable backup
    std::uint64_t totalBytes = 0;      // every file in the folder, backups or not
    std::string problem;               // the folder itself cannot be read
};
/// The backups in the folder as their sidecars describe them; the content is not read.
[[nodiscard]] BackupList listBackups(const std::string& dir);

struct LoadedBackup {
    BackupRecord record;
    std::vector<std::uint8_t> content;
    std::string problem; // empty when the backup is whole and its sidecar unaltered
};
/// Reads a backup (its .bin or its .json) and checks it whole: the sidecar as written, the
/// content's size and SHA-256 as the sidecar records, and the name's digest prefix.
[[nodiscard]] LoadedBackup loadBackup(const std::string& path);

} // namespace corvex::backup
