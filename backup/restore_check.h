#pragma once

#include "backup/backup_record.h"

#include <string>
#include <string_view>

namespace corvex::backup {

/// Why a backup must not be written to the receiver a run drives: another receiver type
/// (hardware selection), or for a flash backup another chip or a chip that no signature named;
/// empty when it may. A DSX6071 image in a DSI185D is a dead receiver.
[[nodiscard]] std::string restoreRefusal(const BackupRecord& backup, unsigned selection,
                                         std::string_view signature);

} // namespace corvex::backup
