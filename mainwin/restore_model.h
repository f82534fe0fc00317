#pragma once

#include "backup/backup_folder.h"
#include "link/jobs/area_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::mainwin {

// The restore-backup dialog without widgets: the backups of one kind in the folder, newest
// first, the one chosen, whether it may go to the receiver the window drives, and the texts
// the dialog shows.
class RestoreModel {
public:
    struct Row {
        std::string date; // "2026-12-07 14:35:02"
        std::string chip;
        std::string receiver;
        std::string firmware;
        std::string size; // bytes, in decimal
    };
    static constexpr int kColumns = 5;

    /// `kind` is backup::kKindFlash or backup::kKindEeprom.
    RestoreModel(std::string folder, std::string_view kind);

    /// Reads the folder again; the first (newest) backup is chosen.
    void reload();
    [[nodiscard]] static std::vector<std::string_view> headers();
    [[nodiscard]] const std::vector<Row>& rows() const { return m_rows; }
    /// Files of the kind's name that are not whole backups, one line each.
    [[nodiscard]] const std::vector<std::string>& problems() const { return m_problems; }
    [[nodiscard]] const std::string& folder() const { return m_folder; }
    [[nodiscard]] bool isFlash() const { return m_kind == backup::kKindFlash; }

    void choose(int row) {
        m_chosen = row >= 0 && row < static_cast<int>(m_rows.size()) ? row : -1;
    }
    [[nodiscard]] int chosen() const { return m_chosen; }
    /// The chosen backup; null when none is.
    [[nodiscard]] const backup::BackupRecord* chosenBackup() const;

    /// Why the chosen backup must not be written to the receiver driven as `selection` whose
    /// signature read gave `signature` (empty when none named a known chip): no backup chosen,
    /// a backup that does not read back whole, another receiver type or chip. Empty when it
    /// may be written.
    [[nodiscard]] std::string refusal(unsigned selection, std::string_view signature) const;
    /// The areas whose differs mark the last compare set, as the dialog shows them.
    [[nodiscard]] static std::string differingAreas(const link::AreaTable& table,
                                                    std::uint32_t areaCount);
    /// The Yes/No question before the restore; `keepsBackup`: the write keeps a backup first.
    [[nodiscard]] std::string question(bool keepsBackup) const;

private:
    std::string m_folder;
    std::string m_kind;
    std::vector<backup::BackupRecord> m_backups;
    std::vector<Row> m_rows;
    std::vector<std::string> m_problems;
    int m_chosen = -1;
};

/// The dialog's title, its compare button and texts (ours: the Parts have no restore).
inline constexpr std::string_view kRestoreFlashTitle = "Restore Backup of the Flash";
inline constexpr std::string_view kRestoreEepromTitle = "Restore Backup of the EEPROM";
inline constexpr std::string_view kNoBackups = "No backups in ";

} // namespace corvex::mainwin
