#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvex::link {

enum class BackupKind { Flash, Eeprom };

// What a write job is about to change, as it reads now, and what it knows of the receiver.
struct BackupRequest {
    BackupKind kind = BackupKind::Flash;
    std::span<const std::uint8_t> content; // the whole flash from offset 0, or the whole EEPROM
    std::uint32_t hardwareType = 0;
    std::uint32_t flashBase = 0;
    std::uint32_t areaCount = 0;
    std::string signature; // the last signature read under this hardware; empty when none was
    std::string image;     // the file about to be written; empty for an erase
};

struct BackupOutcome {
    bool kept = false;
    bool existing = false; // an earlier backup already holds this content
    std::string path;      // the backup, or the file or folder a failure concerns
    std::string problem;   // why no backup could be kept
};

// Keeps a verified copy of what a write is about to change, before it changes anything. The
// owner hands one to the Guard (none: writes go ahead without a copy); the write jobs call it on
// the Guard thread, and refuse to write when it fails.
class BackupKeeper {
public:
    virtual ~BackupKeeper() = default;
    /// Whether a backup can be kept at all (`kept` true), before the job spends a whole read of
    /// the flash on one.
    [[nodiscard]] virtual BackupOutcome prepare() = 0;
    /// Keeps the content, or an earlier backup that holds it already, verified on disk.
    [[nodiscard]] virtual BackupOutcome keep(const BackupRequest& request) = 0;
};

} // namespace corvex::link
