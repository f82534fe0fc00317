#include "mainwin/settings_file.h"

#include "link/guard/program_files.h"
#include "link/jobs/job_files.h"
#include "link/jobs/plain_text.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace corvex::mainwin {

namespace {

using link::kAreaModeMask;
using link::kAreaModeSkip;
using link::kAreaSlots;

// Blanks that INI readers drop around keys and values.
constexpr std::string_view kBlanks = " \t\v\f";

constexpr std::string_view kConfig = "Config";
constexpr std::string_view kLastFiles = "LastFiles";
constexpr std::string_view kAreas = "Areas";
// Our own section, after every key the settings always had, so those keep their places.
constexpr std::string_view kBackup = "Backup";
constexpr std::string_view kBackupBeforeWrite = "BackupBeforeWrite";
constexpr std::string_view kAreaKeyPrefix = "Area";
constexpr std::string_view kTimeoutControl = "TimeoutControl";
constexpr std::string_view kStopOnError = "StopOnError";

// Indexed by FileKind, and also the order in which they are written.
constexpr std::array<std::string_view, kFileKinds> kDefaultFileKeys = {
    "AutoReadFirmware", "AutoWriteFirmware", "AutoReadConfig", "AutoWriteConfig", "AutoBootCode"};

struct LastFileKey {
    FileKind kind;
    std::string_view key;
};
// In the order in which they are written, which is not FileKind's.
constexpr std::array<LastFileKey, kFileKinds> kLastFileKeys = {{
    {FileKind::ReadFirmware, "LastReadFirmwarePath"},
    {FileKind::ReadConfig, "LastReadEEpromPath"},
    {FileKind::WriteFirmware, "LastWriteFirmwarePath"},
    {FileKind::WriteConfig, "LastWriteEEpromPath"},
    {FileKind::BootCode, "LastBootCodePath"},
}};

std::string_view trimmed(std::string_view text) {
    return link::trimmed(text, kBlanks);
}

// Section and key names match whatever their case, as in other INI readers.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// The area number of an "Area00" to "Area19" key.
std::optional<std::size_t> areaOfKey(std::string_view key) {
    if (key.size() != kAreaKeyPrefix.size() + 2 || !sameName(key.substr(0, 4), kAreaKeyPrefix)) {
        return std::nullopt;
    }
    const char tens = key[4];
    const char ones = key[5];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9') {
        return std::nullopt;
    }
    const auto area = static_cast<std::size_t>((tens - '0') * 10 + (ones - '0'));
    return area < kAreaSlots ? std::optional(area) : std::nullopt;
}

std::optional<std::uint32_t> hexWord(std::string_view text) {
    std::uint32_t word = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), word, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return word;
}

// The first value of each known key; views into the text being read.
struct FoundValues {
    std::array<std::optional<std::string_view>, kFileKinds> defaultFiles;
    std::optional<std::string_view> timeoutControl;
    std::optional<std::string_view> stopOnError;
    std::array<std::optional<std::string_view>, kFileKinds> lastFiles;
    std::array<std::optional<std::string_view>, kAreaSlots> areas;
    std::optional<std::string_view> backupBeforeWrite;

    // A repeated key keeps its first value, and repeated sections are one section.
    void take(std::string_view section, std::string_view key, std::string_view value) {
        std::optional<std::string_view>* slot = nullptr;
        if (sameName(section, kConfig)) {
            for (std::size_t kind = 0; kind < kFileKinds && slot == nullptr; ++kind) {
                slot = sameName(key, kDefaultFileKeys[kind]) ? &defaultFiles[kind] : nullptr;
            }
            if (sameName(key, kTimeoutControl)) {
                slot = &timeoutControl;
            } else if (sameName(key, kStopOnError)) {
                slot = &stopOnError;
            }
        } else if (sameName(section, kLastFiles)) {
            for (const LastFileKey& last : kLastFileKeys) {
                if (sameName(key, last.key)) {
                    slot = &lastFiles[static_cast<std::size_t>(last.kind)];
                }
            }
        } else if (sameName(section, kAreas)) {
            if (const std::optional<std::size_t> area = areaOfKey(key)) {
                slot = &areas[*area];
            }
        } else if (sameName(section, kBackup) && sameName(key, kBackupBeforeWrite)) {
            slot = &backupBeforeWrite;
        }
        if (slot != nullptr && !slot->has_value()) {
            *slot = value;
        }
    }
};

FoundValues findValues(std::string_view text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    FoundValues found;
    std::string_view section;
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        // A line this long was not written here; nothing in it is worth the look. Nor is a NUL,
        // which no file name holds.
        if (line.size() > kSettingsLineLimit || line.find('\0') != std::string_view::npos) {
            continue;
        }
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        line = trimmed(line);
        if (line.starts_with('[')) {
            // An unclosed heading still ends the section before it: its keys are not the
            // previous section's.
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos;
            section = inSection ? trimmed(line.substr(1, close - 1)) : std::string_view();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || line.starts_with(';') ||
            line.starts_with('#')) {
            continue;
        }
        found.take(section, trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
    }
    return found;
}

std::string notRead(const std::string& path, std::string_view problem) {
    return link::fileProblemLine("Configuration data not read from ", path, problem);
}

std::string notWritten(const std::string& path, int error) {
    return link::fileProblemLine("Configuration data not written to ", path,
                                 error != 0 ? std::strerror(error) : "the file was not replaced");
}

// The file's text, at most kSettingsFileLimit bytes of it; empty when it cannot be read.
std::string readSettingsFile(const std::string& path, std::string& text) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        return {}; // the first run: everything at its default
    }
    const link::InputFile input = link::openInputFile(path);
    if (!input.file.valid()) {
        return notRead(path, input.problem);
    }
    const auto size = static_cast<std::size_t>(
        std::min<std::uint64_t>(input.size, static_cast<std::uint64_t>(kSettingsFileLimit)));
    text.assign(size, '\0');
    const ssize_t got = link::readAt(input.file.fd(), text.data(), size, 0);
    if (got < 0) {
        text.clear();
        return notRead(path, link::readErrorProblem(errno));
    }
    text.resize(static_cast<std::size_t>(got));
    if (input.size <= kSettingsFileLimit) {
        return {};
    }
    // The line the limit cuts through would otherwise give a shortened value.
    const std::size_t lastBreak = text.rfind('\n');
    text.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    return notRead(path, "longer than " + std::to_string(kSettingsFileLimit / 1024) +
                             " KiB, only its beginning was read");
}

} // namespace

std::string settingsFileName(const std::string& programPath) {
    return link::programFileName(programPath, "INI");
}

bool isStorableValue(std::string_view value) {
    return value.size() <= kSettingsValueLimit &&
           value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos &&
           value == trimmed(value);
}

std::string settingsText(const Settings& settings) {
    std::string text;
    const auto line = [&text](std::string_view key, std::string_view value) {
        text.append(key).append("=").append(isStorableValue(value) ? value : "").append("\n");
    };
    text += "[Config]\n";
    for (std::size_t kind = 0; kind < kFileKinds; ++kind) {
        line(kDefaultFileKeys[kind], settings.defaultFiles[kind]);
    }
    line(kTimeoutControl, settings.timeoutControl ? "1" : "0");
    line(kStopOnError, settings.stopOnError ? "1" : "0");
    text += "\n[LastFiles]\n";
    for (const LastFileKey& last : kLastFileKeys) {
        line(last.key, settings.lastFiles[static_cast<std::size_t>(last.kind)]);
    }
    text += "\n[Areas]\n";
    for (std::size_t area = 0; area < kAreaSlots; ++area) {
        char key[16];
        char value[16];
        std::snprintf(key, sizeof key, "Area%2.2d", static_cast<int>(area));
        std::snprintf(value, sizeof value, "%8.8X",
                      static_cast<unsigned>(settings.areaFlags[area]));
        line(key, value);
    }
    text += "\n[";
    text.append(kBackup).append("]\n");
    line(kBackupBeforeWrite, settings.backupBeforeWrite ? "1" : "0");
    return text;
}

void readSettings(std::string_view text, Settings& settings) {
    const FoundValues found = findValues(text);
    for (std::size_t kind = 0; kind < kFileKinds; ++kind) {
        settings.defaultFiles[kind] = found.defaultFiles[kind].value_or("");
        settings.lastFiles[kind] = found.lastFiles[kind].value_or("");
    }
    // Checked only by exactly "1": "yes", "on" or "" uncheck.
    settings.timeoutControl = found.timeoutControl.value_or("1") == "1";
    settings.stopOnError = found.stopOnError.value_or("1") == "1";
    settings.backupBeforeWrite = found.backupBeforeWrite.value_or("1") == "1";
    for (std::size_t area = 0; area < kAreaSlots; ++area) {
        const std::optional<std::uint32_t> flags = hexWord(found.areas[area].value_or("2"));
        // Mode 3 names no mode; a job would treat the area as neither programmed nor skipped.
        if (flags && (*flags & kAreaModeMask) <= kAreaModeSkip) {
            settings.areaFlags[area] = *flags;
        } else {
            settings.areaFlags[area] = (settings.areaFlags[area] & ~kAreaModeMask) | kAreaModeSkip;
        }
        // The word is stored whole, but the job marks say what was read from a receiver in an
        // earlier run; the flash may have changed since, or be another receiver's. A write
        // trusting them would call an area "Up-to-Date" it never compared.
        settings.areaFlags[area] &= ~link::kAreaJobMarks;
    }
}

std::string loadSettings(const std::string& path, Settings& settings) {
    std::string text;
    const std::string problem = readSettingsFile(path, text);
    readSettings(text, settings);
    return problem;
}

std::string saveSettings(const std::string& path, const Settings& settings) {
    if (path.empty()) {
        return notWritten(path, ENOENT);
    }
    const std::string text = settingsText(settings);
    link::ReplacingFile file(path);
    if (!file.valid()) {
        return notWritten(path, errno);
    }
    if (!link::writeAt(file.fd(), text.data(), text.size(), 0)) {
        const int error = errno;
        file.discard();
        return notWritten(path, error);
    }
    // commit() flushes to disk before the rename; after a failure errno is the failed step's.
    errno = 0;
    if (!file.commit()) {
        return notWritten(path, errno);
    }
    return {};
}

} // namespace corvex::mainwin
