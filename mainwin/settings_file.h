#pragma once

#include "link/jobs/area_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvex::mainwin {

// The files a job takes without asking (the "Default files ..." entries) and the files the
// dialogs last pointed at, one of each per kind of job.
enum class FileKind { ReadFirmware, WriteFirmware, ReadConfig, WriteConfig, BootCode };
inline constexpr std::size_t kFileKinds = 5;

/// Every area in the same flags word.
[[nodiscard]] constexpr std::array<std::uint32_t, link::kAreaSlots> allAreas(std::uint32_t flags) {
    std::array<std::uint32_t, link::kAreaSlots> areas{};
    areas.fill(flags);
    return areas;
}

// What the window keeps between runs. Read once while the window is created, written once when
// it closes; the window maps it onto its menus, check marks and the shared AreaFlags.
struct Settings {
    /// Default file of each kind of job; empty when the entry is not set.
    std::array<std::string, kFileKinds> defaultFiles;
    bool timeoutControl = true;
    bool stopOnError = true;
    /// Config > "Backup before writing": a write keeps a copy of what it changes first.
    bool backupBeforeWrite = true;
    /// Where each kind of job's file dialog last pointed.
    std::array<std::string, kFileKinds> lastFiles;
    /// AreaFlags of all twenty entries: mode, area icon and job marks.
    std::array<std::uint32_t, link::kAreaSlots> areaFlags = allAreas(link::kAreaModeSkip);

    [[nodiscard]] std::string& defaultFile(FileKind kind) {
        return defaultFiles[static_cast<std::size_t>(kind)];
    }
    [[nodiscard]] std::string& lastFile(FileKind kind) {
        return lastFiles[static_cast<std::size_t>(kind)];
    }

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Bounds that keep a damaged or hostile file from costing more than a glance. The longest value
// is twice a Linux path; a file this program writes always fits well inside the file limit.
inline constexpr std::size_t kSettingsValueLimit = 8192;
inline constexpr std::size_t kSettingsLineLimit = kSettingsValueLimit + 256;
inline constexpr std::size_t kSettingsFileLimit = 256 * 1024;

/// Guard log lines, followed by the file name.
inline constexpr std::string_view kReadingSettingsLine = "Reading configuration data from ";
inline constexpr std::string_view kWritingSettingsLine = "Writing configuration data to ";

/// The settings file of the program at `programPath`: "<program>.INI" beside it, or in the
/// user's data folder when the program's folder is not writable.
[[nodiscard]] std::string settingsFileName(const std::string& programPath);

/// Whether `value` is stored as it is. A line break would end the value early and start a line
/// of its own, blanks at either end are dropped by every INI reader, and NUL ends a C string;
/// such a value (or one over kSettingsValueLimit) is written empty.
[[nodiscard]] bool isStorableValue(std::string_view value);

/// The file's text: sections and keys in their fixed order, one "Key=value" line each.
[[nodiscard]] std::string settingsText(const Settings& settings);

/// Takes every value from `text` into `settings`; what is missing or unreadable gets its
/// default. An area value that is not a 32-bit hexadecimal number (or names no mode) sets that
/// area's mode to SKIP and keeps its other bits as `settings` held them.
void readSettings(std::string_view text, Settings& settings);

/// Reads the file into `settings` (defaults where it has nothing). Returns what kept it from
/// being read whole, empty when it was read or does not exist yet.
std::string loadSettings(const std::string& path, Settings& settings);

/// Replaces the file with `settings`, flushed to disk before it takes the old file's place.
/// Returns the problem as one log line, empty on success; on failure the old file is untouched.
[[nodiscard]] std::string saveSettings(const std::string& path, const Settings& settings);

} // namespace corvex::mainwin
