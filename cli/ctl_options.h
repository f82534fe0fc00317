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
    // Breaks an exchange that hangs for 3 s without progress; on unless --no-timeout-control,
    // so a dead interface can never hold a run for ever.
    bool timeoutControl = true;
    bool verbose = false;
    bool quiet = false;   // no progress line on a terminal
    bool help = false;    // --help or -h: print the usage, run nothing
    bool version = false; // --version: print the version, run nothing
    bool yes = false;     // answers the loopback tests' warning with Yes
    // --force: runs RFW, WFW and PFW without first making sure a signature read names a known
    // chip; with --save-into, replaces an existing NEW.
    bool force = false;
    std::optional<int> breakAfterMs;
    std::vector<link::GuardRecord> commands;
    std::string channelsImage; // --channels: print this image's channel list; no port, no COMMAND
    std::string csvFile;       // --csv: also write the channel list there
    std::string orderFile;     // --order: arrange the list as this CSV says first
    std::string saveIntoFile;  // --save-into: write the list into a new image there
    // --find PATTERN FILE: the file editor's search over FILE, offline; no port, no COMMAND.
    std::optional<std::string> findPattern;
    std::string findFile;
    std::uint32_t findBase = 0; // --base: added to each match's offset, low four bits cleared
    // --hex: with --channels ID and PID fields in hexadecimal; with --find the pattern is
    // hexadecimal digits, not text.
    bool hex = false;
    bool ignoreCase = false; // --ignore-case: a --find text pattern matches either case of A-Z
    // Backups before writes: the folder (--backup-dir; empty: the user's data folder), and
    // --no-backup for those who write without one.
    std::string backupDir;
    bool noBackup = false;
    bool listBackups = false; // --list-backups: print the backups; no port, no COMMAND
    std::string restoreFile;  // --restore: write this backup back; no COMMAND
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

/// What --help prints.
inline constexpr std::string_view kHelp =
    R"(usage: corvexctl [OPTION]... COMMAND...
       corvexctl --channels IMAGE [--hex] [--order CSV] [--csv FILE] [--save-into NEW [--force]]
       corvexctl --find PATTERN FILE [--hex | --ignore-case] [--base HEX]
       corvexctl --list-backups [--backup-dir DIR]
       corvexctl --restore FILE [--hardware 0|1|2] [--force] [OPTION]...

Runs Guard commands on a Corvex interface, one after another, and prints the log book.
COMMAND is a command word, optionally with fields: SETHARDWARE:param=1,
RBB:address=7FE00000,data=100 (param decimal, address and data hexadecimal).
Words: RFW, WFW, PFW (or READ FIRMWARE, WRITE FIRMWARE, PREVIEW FIRMWARE), SIGNATURE,
EEREAD, EEVIEW, EEWRITE, EEERASE, BOOTCODE, RBB, WBB, CORVEX, VERSION, SETHARDWARE, DIAG,
EMI_INIT, SETDRIVER, BLOCKMODE, DEADLOCK, IPRIO, HPRIO, RESTART, RST, ENABLEPGM, DISABLEPGM, EXIT.

  --port sim|ppdev[:DEVICE]|direct   the interface (default: a usable ppdev port, else sim)
  --sim-dir DIR              the simulated receiver keeps flash.bin and eeprom.bin in DIR
  --sim-option KEY=VALUE     a simulator setting or fault (repeatable)
  --read-file F              the image RFW saves; the file WBB sends
  --write-file F             the image WFW and PFW compare and program; the file RBB saves
  --eeprom-load F            the image EEWRITE writes, the program BOOTCODE uploads
  --eeprom-save F            the file EEREAD and EEVIEW save
  --areas MODES              PGM, CLR or SKIP for all areas, or ranges: 0-6:PGM,7-18:SKIP
  --hardware 0|1|2           SETHARDWARE first: DSX6071/6072, DSI185D, DSI185D channel list
  --force                    run RFW, WFW and PFW without the signature check: without it
                             the first of them reads the signature (unless SIGNATURE ran)
                             and they are refused when the chip is not known; with
                             --save-into, replace NEW if it exists
  --stop-on-error            WFW stops at the first area that fails
  --backup-dir DIR           keep the backups in DIR (default ~/.local/share/corvex/backups)
  --no-backup                write the flash and the EEPROM without a backup first
  --list-backups             print the backups, newest first, and the folder's total size
  --restore FILE             write a backup back: WFW of it with every area PGM (EEWRITE for
                             an EEPROM backup), after checking it whole and reading the
                             signature; refused for another receiver type, or a flash
                             backup of another chip (--force restores it anyway)
  --no-timeout-control       do not break an exchange that hangs for 3 s (--timeout-control,
                             the default, breaks it and the job fails)
  --break-after MS           break the running job MS milliseconds after the first command
  --log-file F               append the log book to F
  --verbose                  print each area's status as AREA <nn> <text>
  --quiet                    no progress line on a terminal
  --yes                      answer Yes to the loopback tests' question
  --ignore-case              with --find and a text PATTERN: A-Z match either case
  --order CSV                with --channels: arrange the list in the order of CSV's rows (a
                             --csv export, rows moved or deleted), matched by transponder and SID
  --save-into NEW            with --channels: write the (arranged) list into a copy of IMAGE
  --help, -h                 this text
  --version                  the program version

Before WFW erases anything, and before EEWRITE or EEERASE, a copy of the flash or the
EEPROM is saved in the backup folder and read back; if that fails, nothing is written.

Exit status: 0 every job succeeded, 1 a job failed, was aborted or was refused,
2 usage error, 3 the flash differs from the image (PFW found areas to update, or WFW left
a protected area that needed one), 128+N stopped by signal N (130 for Ctrl-C).
)";

} // namespace corvex::cli
