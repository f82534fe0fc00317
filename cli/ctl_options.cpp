#include "ctl_options.h"

#include <charconv>
#include <cstdint>

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

} // namespace

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
    bool commandsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!commandsOnly && arg.starts_with("--")) {
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
            } else if (arg == "--areas") {
                if (!takeValue(options.areas)) {
                    return std::nullopt;
                }
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
            } else if (arg == "--stop-on-error") {
                options.stopOnError = true;
            } else if (arg == "--timeout-control") {
                options.timeoutControl = true;
            } else if (arg == "--verbose") {
                options.verbose = true;
            } else {
                error = "unknown option " + std::string(arg);
                return std::nullopt;
            }
            continue;
        }
        auto command = parseCommand(arg, error);
        if (!command) {
            return std::nullopt;
        }
        options.commands.push_back(*command);
    }
    if (options.commands.empty()) {
        error = "no COMMAND given";
        return std::nullopt;
    }
    return options;
}

} // namespace corvex::cli
