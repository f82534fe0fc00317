#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::backup {

inline constexpr std::string_view kKindFlash = "flash";
inline constexpr std::string_view kKindEeprom = "eeprom";

// What the sidecar beside a backup says of it.
struct BackupRecord {
    std::string time;      // local time with its offset: "2026-12-07T14:35:02+01:00"
    std::string kind;      // kKindFlash or kKindEeprom
    unsigned hardware = 0; // the selection: 0 DSX6071/6072, 1 DSI185D, 2 DSI185D channel list
    std::string receiver;  // receiverName(hardware)
    std::string chip;      // the chip's device name ("AM29LV800BB"), "unknown" without one
    std::string signature; // the signature read's text; empty when none named the chip
    std::string firmware;  // the firmware name a flash image carries; empty for the EEPROM
    std::uint64_t size = 0;
    std::string sha256; // of the backup file's content, 64 lower-case hexadecimal digits
    std::string image;  // the file that was about to be written; empty for an erase
    std::string path;   // the backup file; not stored, it is where the sidecar was found
};

/// The sidecar: one line of JSON and a newline. Its "check" field is the SHA-256 of the line
/// without it, so a sidecar altered by hand does not pass for the one the program wrote.
[[nodiscard]] std::string sidecarText(const BackupRecord& record);
/// Reads a sidecar; nullopt with one line in `error` when it is not one the program wrote or
/// it was altered since.
[[nodiscard]] std::optional<BackupRecord> parseSidecar(std::string_view text, std::string& error);

/// The hardware selection a Guard's hardware type and flash base stand for.
[[nodiscard]] unsigned hardwareSelection(std::uint32_t hardwareType, std::uint32_t flashBase);
/// The receiver a selection drives: "DSX6071", "DSI185D", "DSI185D-CL" (its channel list).
[[nodiscard]] std::string receiverName(unsigned selection);
/// The device part of a signature text ("AMD: AM29LV800BB" gives "AM29LV800BB"), made safe for
/// a file name; "unknown" for an empty one.
[[nodiscard]] std::string chipOf(std::string_view signature);
/// "20261207-143502-flash-AM29LV800BB-DSX6071-1a2b3c4d5e6f.bin" for a backup made at `when`.
[[nodiscard]] std::string backupFileName(const BackupRecord& record, const std::tm& when);
/// The sidecar's path for a backup file's path (".bin" replaced by ".json").
[[nodiscard]] std::string sidecarPathOf(std::string_view backupPath);
/// The record's time as the list shows it: "2026-12-07 14:35:02".
[[nodiscard]] std::string shownTime(std::string_view time);

} // namespace corvex::backup
