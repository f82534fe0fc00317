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

/// The program's line in --help.
inline constexpr std::string_view kAppDescription = "The Corvex desktop program.";
/// What --help prints after Qt's list of the options.
inline constexpr std::string_view kAppHelpNotes =
    R"(A second start while the program runs brings the running window to the front, and
opens the editor there on the file given with --hex-editor or --channel-editor; it
ends with 0 once the running program took the request, else with 1.
)";

/// What --help prints: Qt's usage line and list of the options, then kAppHelpNotes.
[[nodiscard]] std::string appHelpText();

} // namespace corvex::app
