#include "backup/restore_check.h"

namespace corvex::backup {

std::string restoreRefusal(const BackupRecord& backup, unsigned selection,
                           std::string_view signature) {
    if (backup.hardware != selection) {
        return "the backup is of a " + backup.receiver + " (hardware " +
               std::to_string(backup.hardware) + "), the receiver is driven as a " +
               receiverName(selection) + " (hardware " + std::to_string(selection) + ")";
    }
    // The EEPROM holds the receiver's settings, whatever flash chip it has: a backup of it goes
    // to any receiver of its type, which is also how one receiver's settings go to another.
    if (backup.kind == kKindEeprom) {
        return {};
    }
    if (backup.signature.empty()) {
        return "the backup does not say which chip it was read from";
    }
    if (signature.empty()) {
        return "the receiver's chip is not known (read its signature first)";
    }
    if (signature != backup.signature) {
        return "the backup was read from \"" + backup.signature + "\", the receiver has \"" +
               std::string(signature) + "\"";
    }
    return {};
}

} // namespace corvex::backup
