#pragma once

#include "link/jobs/guard_record.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::cli {

struct CtlOptions {
    std::string port;                    // "", "sim", "ppdev", "ppdev:DEVICE" or "direct"
    std::string simDir;                  // folder holding the simulated receiver's state
    std::vector<std::string> simOptions; // KEY=VALUE, checked by the simulator
    std::string readFile;
    std::string writeFile;
    std::string eepromLoadFile;                // EELOADFILENAME: what EEWRITE and BOOTCODE load
    std::string eepromSaveFile;                // EESAVEFILENAME: where EEREAD and EEVIEW save
    std::array<std::uint32_t, 20> areaModes{}; // from --areas; every area PGM by default
    std::optional<std::uint32_t> hardware;     // --hardware: "SETHARDWARE" before the commands
    std::string logFile;
    bool stopOnError = false;
    bool timeoutControl = false;
    bool verbose = false;
    bool yes = false; // answers the loopback tests' warning with Yes
    std::optional<int> breakAfterMs;
    std::vector<link::GuardRecord> commands;
    std::string channelsImage; // --channels: print this image's channel list; no port, no COMMAND
    std::string csvFile;       // --csv: also write the channel list there
    // --find PATTERN FILE: the file editor's search over FILE, offline; no port, no COMMAND.
    std::optional<std::string> findPattern;
    std::string findFile;
    std::uint32_t findBase = 0; // --base: added to each match's offset, low four bits cleared
    // --hex: with --channels ID and PID fields in hexadecimal; with --find the pattern is
    // hexadecimal digits, not text.
    bool hex = false;
    bool ignoreCase = false; // --ignore-case: a --find text pattern matches either case of A-Z
};

/// Parses the arguments after the program name. On a usage error returns nullopt and sets
/// `error` to one line saying what is wrong.
[[nodiscard]] std::optional<CtlOptions> parseOptions(const std::vector<std::string_view>& args,
                                                     std::string& error);

/// One COMMAND argument: a Guard command word, optionally ":" and comma-separated fields
/// param=N (decimal), address=HEX, data=HEX.
[[nodiscard]] std::optional<link::GuardRecord> parseCommand(std::string_view text,
                                                            std::string& error);

/// An --areas value: PGM, CLR or SKIP for every area, or comma-separated FROM[-TO]:MODE.
[[nodiscard]] bool parseAreas(std::string_view text, std::array<std::uint32_t, 20>& modes,
                              std::string& error);

inline constexpr std::string_view kUsage =
    "usage: corvexctl [--port sim|ppdev[:DEVICE]|direct] [--sim-dir DIR] "
    "[--sim-option KEY=VALUE]... [--read-file F] [--write-file F] [--eeprom-load F] "
    "[--eeprom-save F] [--areas MODES] "
    "[--stop-on-error] [--timeout-control] [--break-after MS] [--log-file F] [--verbose] [--yes] "
    "COMMAND...\n"
    "       corvexctl --channels IMAGE [--hex] [--csv FILE]\n"
    "       corvexctl --find PATTERN FILE [--hex | --ignore-case] [--base HEX]";

} // namespace corvex::cli
