#include "mainwin/restore_model.h"

#include "backup/restore_check.h"

#include <utility>

namespace corvex::mainwin {

RestoreModel::RestoreModel(std::string folder, std::string_view kind)
    : m_folder(std::move(folder)), m_kind(kind) {
    reload();
}

void RestoreModel::reload() {
    m_backups.clear();
    m_rows.clear();
    m_problems.clear();
    backup::BackupList list = backup::listBackups(m_folder);
    if (!list.problem.empty()) {
        m_problems.push_back(list.problem);
    }
    m_problems.insert(m_problems.end(), list.problems.begin(), list.problems.end());
    for (backup::BackupRecord& record : list.backups) {
        if (record.kind != m_kind) {
            continue;
        }
        m_rows.push_back({backup::shownTime(record.time), record.chip, record.receiver,
                          record.firmware, std::to_string(record.size)});
        m_backups.push_back(std::move(record));
    }
    m_chosen = m_rows.empty() ? -1 : 0;
}

std::vector<std::string_view> RestoreModel::headers() {
    return {"Date", "Chip", "Receiver", "Firmware", "Size"};
}

const backup::BackupRecord* RestoreModel::chosenBackup() const {
    return m_chosen < 0 ? nullptr : &m_backups[static_cast<std::size_t>(m_chosen)];
}

std::string RestoreModel::refusal(unsigned selection, std::string_view signature) const {
    const backup::BackupRecord* record = chosenBackup();
    if (record == nullptr) {
        return "No backup is chosen.";
    }
    if (const std::string problem = backup::loadBackup(record->path).problem; !problem.empty()) {
        return "The backup cannot be used: " + problem + ".";
    }
    std::string why = backup::restoreRefusal(*record, selection, signature);
    if (!why.empty()) {
        why[0] = static_cast<char>(why[0] - 'a' + 'A');
        why += ".";
    }
    return why;
}

std::string RestoreModel::differingAreas(const link::AreaTable& table, std::uint32_t areaCount) {
    std::string list;
    for (std::uint32_t area = 0; area < areaCount && area < link::kAreaSlots; ++area) {
        if (table.has(area, link::kAreaDiffersMark)) {
            list += (list.empty() ? "" : ", ") + std::to_string(area);
        }
    }
    return list.empty() ? "No area differs from the receiver." : "Areas that differ: " + list;
}

std::string RestoreModel::question(bool keepsBackup) const {
    const backup::BackupRecord* record = chosenBackup();
    if (record == nullptr) {
        return {};
    }
    const std::string what = isFlash() ? "flash" : "EEPROM";
    return "Write the backup of " + backup::shownTime(record->time) + " back into the " + what +
           "?" + (isFlash() ? "\rEvery area is set to PGM and written where it differs." : "") +
           (keepsBackup ? "\rWhat the " + what + " holds now is kept as a backup first." : "");
}

} // namespace corvex::mainwin
