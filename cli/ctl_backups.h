#pragma once

#include "backup/backup_record.h"
#include "ctl_options.h"

#include <optional>
#include <ostream>

namespace corvex::cli {

/// corvexctl --list-backups: one line per backup, newest first (date and time, kind, chip,
/// receiver, firmware, size, SHA-256 prefix, path), then the count and the folder's total size.
/// Files that are not readable backups are named on `err`. Needs no port. Returns 0, or 1 when
/// the folder cannot be read.
int runListBackups(const CtlOptions& options, std::ostream& out, std::ostream& err);

// A --restore run: the backup, checked whole, and the options that write it back.
struct RestorePlan {
    backup::BackupRecord backup;
    CtlOptions options; // WFW of it with every area PGM, or EEWRITE of it
};
/// Reads and checks the backup --restore names; nullopt with the reason on `err` when it is
/// not whole (altered sidecar or content, a file missing).
[[nodiscard]] std::optional<RestorePlan> planRestore(const CtlOptions& options, std::ostream& err);

} // namespace corvex::cli
