#include "ctl_options.h"

#include "link/guard/guard_commands.h"
#include "link/jobs/area_table.h"

#include <charconv>
#include <cstdint>
#include <utility>

namespace corvex::cli {

namespace {

std::optional<std::uint32_t> parseNumber(std::string_view text, int base) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> parseMode(std::string_view word) {
    if (word == "PGM") {
        return link::kAreaModePgm;
    }
    if (word == "CLR") {
        return link::kAreaModeClr;
    }
    if (word == "SKIP") {
        return link::kAreaModeSkip;
    }
    return std::nullopt;
}

// The commands that cannot run without a file name; refused before anything runs, so a forgotten
// option never costs a 2 MiB read that has nowhere to go.
struct FileNeed {
    std::string_view word; // the command table's word; aliases match through it
    std::string CtlOptions::*file;
    std::string_view option;
    std::string_view purpose;
};

constexpr FileNeed kFileNeeds[] = {
    {"READ FIRMWARE", &CtlOptions::readFile, "--read-file", ""},
    {"WRITE FIRMWARE", &CtlOptions::writeFile, "--write-file", ""},
    {"PREVIEW FIRMWARE", &CtlOptions::writeFile, "--write-file", ""},
    {"RBB", &CtlOptions::writeFile, "--write-file", " (the file the block is saved to)"},
    {"WBB", &CtlOptions::readFile, "--read-file", " (the file whose words are written)"},
};

bool haveFilesFor(const CtlOptions& options, std::string& error) {
    for (const link::GuardRecord& command : options.commands) {
        const link::CommandEntry* entry = link::findCommand(command.Text.view());
        for (const FileNeed& need : kFileNeeds) {
            if (entry != nullptr && entry->word == need.word && (options.*need.file).empty()) {
                error = command.Text.str() + " needs " + std::string(need.option) + " FILE" +
                        std::string(need.purpose);
                return false;
            }
        }
    }
    return true;
}

} // namespace

bool parseAreas(std::string_view text, std::array<std::uint32_t, 20>& modes, std::string& error) {
    auto fail = [&] {
        error = "bad --areas '" + std::string(text) +
                "': use PGM, CLR or SKIP, or ranges such as 0-6:PGM,7-18:SKIP";
        return false;
    };
    if (const auto all = parseMode(text)) {
        modes.fill(*all);
        return true;
    }
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos) {
            return fail();
        }
        const auto mode = parseMode(item.substr(colon + 1));
        const std::string_view range = item.substr(0, colon);
        const auto dash = range.find('-');
        const auto first = parseNumber(range.substr(0, dash), 10);
        const auto last =
            dash == std::string_view::npos ? first : parseNumber(range.substr(dash + 1), 10);
        if (!mode || !first || !last || *first > *last || *last >= modes.size()) {
            return fail();
        }
        for (std::uint32_t area = *first; area <= *last; ++area) {
            modes[area] = *mode;
        }
        if (comma != std::string_view::npos && rest.empty()) {
            return fail();
        }
    }
    return !text.empty() || fail();
}

std::optional<link::GuardRecord> parseCommand(std::string_view text, std::string& error) {
    const auto colon = text.find(':');
    const std::string_view word = text.substr(0, colon);
    if (word.size() > link::ShortText::kCapacity) {
        error = "command '" + std::string(word.substr(0, 20)) + "...' is longer than " +
                std::to_string(link::ShortText::kCapacity) + " characters";
        return std::nullopt;
    }
    auto record = link::GuardRecord::command(word);
    if (colon == std::string_view::npos) {
        return record;
    }
    std::string_view fields = text.substr(colon + 1);
    while (true) {
        const auto comma = fields.find(',');
        const std::string_view field = fields.substr(0, comma);
        const auto eq = field.find('=');
        const std::string_view key = field.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : field.substr(eq + 1);
        std::optional<std::uint32_t> number;
        if (key == "param") {
            number = parseNumber(value, 10);
        } else if (key == "address" || key == "data") {
            number = parseNumber(value, 16);
        }
        if (!number || eq == std::string_view::npos) {
            error = "bad field '" + std::string(field) + "' in command '" + std::string(text) +
                    "': use param=N, address=HEX or data=HEX";
            return std::nullopt;
        }
        if (key == "param") {
            record.Param = *number;
        } else if (key == "address") {
            record.Address = *number;
        } else {
            record.Data = *number;
        }
        if (comma == std::string_view::npos) {
            break;
        }
        fields.remove_prefix(comma + 1);
    }
    return record;
}

std::optional<CtlOptions> parseOptions(const std::vector<std::string_view>& args,
                                       std::string& error) {
    CtlOptions options;
    // Asking for help or the version always works, whatever else the line holds.
    for (const std::string_view arg : args) {
        if (arg == "--") {
            break;
        }
        options.help = options.help || arg == "--help" || arg == "-h";
        options.version = options.version || arg == "--version";
    }
    if (options.help || options.version) {
        return options;
    }
    bool commandsOnly = false;
    bool find = false;
    bool areasGiven = false;
    std::vector<std::string_view> findArgs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // No command word starts with '-': such an argument is an option, known or not, and
        // never reaches the Guard.
        if (!commandsOnly && arg.starts_with("-")) {
            if (arg == "--") {
                commandsOnly = true;
                continue;
            }
            auto takeValue = [&](std::string& into) {
                if (i + 1 >= args.size()) {
                    error = std::string(arg) + " needs a value";
                    return false;
                }
                into = args[++i];
                return true;
            };
            std::string value;
            if (arg == "--port") {
                if (!takeValue(options.port)) {
                    return std::nullopt;
                }
            } else if (arg == "--sim-dir") {
                if (!takeValue(options.simDir)) {
                    return std::nullopt;
                }
            } else if (arg == "--sim-option") {
                if (!takeValue(value)) {
                    return std::nullopt;
                }
                options.simOptions.push_back(value);
            } else if (arg == "--read-file") {
                if (!takeValue(options.readFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--write-file") {
                if (!takeValue(options.writeFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--eeprom-load") {
                if (!takeValue(options.eepromLoadFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--eeprom-save") {
                if (!takeValue(options.eepromSaveFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--areas") {
                if (!takeValue(value) || !parseAreas(value, options.areaModes, error)) {
                    return std::nullopt;
                }
                areasGiven = true;
            } else if (arg == "--hardware") {
                if (!takeValue(value)) {
                    return std::nullopt;
                }
                const auto type = parseNumber(value, 10);
                if (!type || *type > 2) {
                    error = "--hardware needs 0 (DSX6071/6072), 1 (DSI185D firmware) or 2 "
                            "(DSI185D channel list), not '" +
                            value + "'";
                    return std::nullopt;
                }
                options.hardware = *type;
            } else if (arg == "--log-file") {
                if (!takeValue(options.logFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--break-after") {
                if (!takeValue(value)) {
                    return std::nullopt;
                }
                const auto ms = parseNumber(value, 10);
                if (!ms || *ms > 86'400'000) {
                    error = "--break-after needs a number of milliseconds, not '" + value + "'";
                    return std::nullopt;
                }
                options.breakAfterMs = static_cast<int>(*ms);
            } else if (arg == "--channels") {
                if (!takeValue(options.channelsImage)) {
                    return std::nullopt;
                }
            } else if (arg == "--csv") {
                if (!takeValue(options.csvFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--order") {
                if (!takeValue(options.orderFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--save-into") {
                if (!takeValue(options.saveIntoFile)) {
                    return std::nullopt;
                }
            } else if (arg == "--force") {
                options.force = true;
            } else if (arg == "--hex") {
                options.hex = true;
            } else if (arg == "--find") {
                find = true;
            } else if (arg == "--ignore-case") {
                options.ignoreCase = true;
            } else if (arg == "--base") {
                if (!takeValue(value)) {
                    return std::nullopt;
                }
                const auto base = parseNumber(value, 16);
                if (!base) {
                    error = "--base needs a hexadecimal address, not '" + value + "'";
                    return std::nullopt;
                }
                options.findBase = *base & ~std::uint32_t{0xF};
            } else if (arg == "--stop-on-error") {
                options.stopOnError = true;
            } else if (arg == "--timeout-control") {
                options.timeoutControl = true;
            } else if (arg == "--no-timeout-control") {
                options.timeoutControl = false;
            } else if (arg == "--quiet") {
                options.quiet = true;
            } else if (arg == "--verbose") {
                options.verbose = true;
            } else if (arg == "--yes") {
                options.yes = true;
            } else if (arg == "--backup-dir") {
                if (!takeValue(options.backupDir)) {
                    return std::nullopt;
                }
            } else if (arg == "--no-backup") {
                options.noBackup = true;
            } else if (arg == "--list-backups") {
                options.listBackups = true;
            } else if (arg == "--restore") {
                if (!takeValue(options.restoreFile)) {
                    return std::nullopt;
                }
            } else {
                error = "unknown option " + std::string(arg) + " (corvexctl --help lists them)";
                return std::nullopt;
            }
            continue;
        }
        if (find) {
            findArgs.push_back(arg); // a pattern may be any text, not a command
            continue;
        }
        auto command = parseCommand(arg, error);
        if (!command) {
            return std::nullopt;
        }
        options.commands.push_back(*command);
    }
    if (options.ignoreCase && (!find || options.hex)) {
        error = "--ignore-case needs --find with a text PATTERN, not --hex";
        return std::nullopt;
    }
    if (options.listBackups) {
        if (find || !options.channelsImage.empty() || !options.restoreFile.empty() ||
            !options.commands.empty()) {
            error = "--list-backups works on the backup folder alone and takes no COMMAND";
            return std::nullopt;
        }
        return options;
    }
    if (!options.restoreFile.empty()) {
        if (find || !options.channelsImage.empty() || !options.commands.empty() ||
            !options.writeFile.empty() || !options.eepromLoadFile.empty() || areasGiven) {
            error = "--restore writes the backup alone: no COMMAND, --areas, --write-file or "
                    "--eeprom-load";
            return std::nullopt;
        }
        return options;
    }
    if (!options.channelsImage.empty() && find) {
        error = "--channels and --find do not go together";
        return std::nullopt;
    }
    if (!options.channelsImage.empty()) {
        if (!options.commands.empty()) {
            error = "--channels works on a file and takes no COMMAND";
            return std::nullopt;
        }
        return options;
    }
    for (const auto& [given, name] :
         {std::pair{&options.csvFile, "--csv"}, std::pair{&options.orderFile, "--order"},
          std::pair{&options.saveIntoFile, "--save-into"}}) {
        if (!given->empty()) {
            error = std::string(name) + " needs --channels";
            return std::nullopt;
        }
    }
    if (find) {
        if (findArgs.size() != 2 || !options.commands.empty()) {
            error = "--find needs a PATTERN and a FILE, and no COMMAND";
            return std::nullopt;
        }
        options.findPattern = std::string(findArgs[0]);
        options.findFile = findArgs[1];
        return options;
    }
    if (options.commands.empty()) {
        error = "no COMMAND given (corvexctl --help shows how to run one)";
        return std::nullopt;
    }
    if (!haveFilesFor(options, error)) {
        return std::nullopt;
    }
    return options;
}

} // namespace corvex::cli
