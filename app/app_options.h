#pragma once

#include "single_instance.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::app {

struct AppOptions {
    std::string port;                    // "", "sim", "ppdev", "ppdev:DEVICE" or "direct"
    std::string simDir;                  // folder holding the simulated receiver's state
    std::vector<std::string> simOptions; // KEY=VALUE, checked by the simulator
    std::string hexEditorFile;           // --hex-editor: open the file editor on this file
    std::string channelEditorImage;      // --channel-editor: open the channel list editor
    bool channelEditorHex = false;       // --hex with --channel-editor
    std::string file;                    // the file Tools > "Hex Editor" loads
    std::string backupDir;               // --backup-dir: where the backups before writes go
    bool noBackup = false;               // --no-backup: this run writes without them
    bool help = false;
    bool version = false;
};

/// Parses the arguments after the program name. On a usage error returns nullopt and sets
/// `error` to one line saying what is wrong.
[[nodiscard]] std::optional<AppOptions> parseAppOptions(const std::vector<std::string_view>& args,
                                                        std::string& error);

/// What a start asks of a program already running: to show itself, or to open the file editor
/// (--hex-editor) and the channel list editor (--channel-editor) on their files, named
/// absolutely.
[[nodiscard]] std::vector<StartRequest> startRequests(const AppOptions& options);

/// What --help prints.
inline constexpr std::string_view kAppHelp =
    R"(usage: corvex [OPTION]... [FILE]

The Corvex desktop program. FILE is loaded when Tools > Hex Editor opens.

  --port sim|ppdev[:DEVICE]|direct   the interface (default: a usable ppdev port, else sim)
  --sim-dir DIR              the simulated receiver keeps flash.bin and eeprom.bin in DIR
  --sim-option KEY=VALUE     a simulator setting or fault (repeatable)
  --hex-editor FILE          open the file editor on FILE
  --channel-editor [--hex] IMAGE   open the channel list editor on IMAGE
  --backup-dir DIR           keep the backups made before each write in DIR
                             (default ~/.local/share/corvex/backups)
  --no-backup                write the flash and the EEPROM without a backup first
                             (this run only; Config > Backup before writing)
  --help, -h                 this text
  --version                  the program version

A second start while the program runs brings the running window to the front, and
opens the editor there on the file given with --hex-editor or --channel-editor; it
ends with 0 once the running program took the request, else with 1.
)";

} // namespace corvex::app
