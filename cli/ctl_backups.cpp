#include "ctl_backups.h"

#include "backup/backup_folder.h"
#include "link/jobs/area_table.h"

#include <cerrno>
#include <filesystem>

namespace corvex::cli {

int runListBackups(const CtlOptions& options, std::ostream& out, std::ostream& err) {
    const std::string dir = backup::BackupFolder(options.backupDir).path();
    std::error_code missing;
    if (!std::filesystem::exists(dir, missing) && !missing) {
        out << "0 backups, 0 bytes in " << dir << '\n';
        return 0;
    }
    const backup::BackupList list = backup::listBackups(dir);
    if (!list.problem.empty()) {
        err << "corvexctl: " << dir << ": " << list.problem << '\n';
        return 1;
    }
    for (const backup::BackupRecord& record : list.backups) {
        out << backup::shownTime(record.time) << "  " << record.kind << "  " << record.chip << "  "
            << record.receiver << "  \""
            << (record.firmware.empty() ? std::string("-") : record.firmware) << "\"  "
            << record.size << "  " << record.sha256.substr(0, 12) << "  " << record.path << '\n';
    }
    for (const std::string& problem : list.problems) {
        err << "corvexctl: not a backup: " << problem << '\n';
    }
    out << list.backups.size() << (list.backups.size() == 1 ? " backup" : " backups") << ", "
        << list.totalBytes << " bytes in " << dir << '\n';
    return 0;
}

std::optional<RestorePlan> planRestore(const CtlOptions& options, std::ostream& err) {
    backup::LoadedBackup loaded = backup::loadBackup(options.restoreFile);
    if (!loaded.problem.empty()) {
        err << "corvexctl: --restore " << options.restoreFile << " refused: " << loaded.problem
            << '\n';
        return std::nullopt;
    }
    RestorePlan plan{std::move(loaded.record), options};
    CtlOptions& run = plan.options;
    if (plan.backup.kind == backup::kKindFlash) {
        run.writeFile = plan.backup.path;
        run.areaModes.fill(link::kAreaModePgm);
        run.commands = {link::GuardRecord::command("WFW")};
    } else {
        run.eepromLoadFile = plan.backup.path;
        run.commands = {link::GuardRecord::command("EEWRITE")};
    }
    return plan;
}

} // namespace corvex::cli
