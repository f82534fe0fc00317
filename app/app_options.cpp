#include "app_options.h"

#include <filesystem>

namespace corvex::app {

std::optional<AppOptions> parseAppOptions(const std::vector<std::string_view>& args,
                                          std::string& error) {
    AppOptions options;
    bool filesOnly = false;
    bool fileGiven = false;
    bool hex = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (filesOnly || !arg.starts_with("-")) {
            if (fileGiven) {
                error = "more than one FILE given ('" + std::string(arg) + "')";
                return std::nullopt;
            }
            options.file = arg;
            fileGiven = true;
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
        if (arg == "--") {
            filesOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--hex") {
            hex = true;
        } else if (arg == "--no-backup") {
            options.noBackup = true;
        } else if (arg == "--sim-option") {
            if (!takeValue(value)) {
                return std::nullopt;
            }
            options.simOptions.push_back(value);
        } else if (std::string* into = arg == "--port"             ? &options.port
                                       : arg == "--sim-dir"        ? &options.simDir
                                       : arg == "--backup-dir"     ? &options.backupDir
                                       : arg == "--hex-editor"     ? &options.hexEditorFile
                                       : arg == "--channel-editor" ? &options.channelEditorImage
                                                                   : nullptr) {
            // The documented form puts the mode between the option and its image.
            if (into == &options.channelEditorImage && i + 1 < args.size() &&
                args[i + 1] == "--hex") {
                hex = true;
                ++i;
            }
            if (!takeValue(*into)) {
                return std::nullopt;
            }
        } else {
            error = "unknown option " + std::string(arg) + " (corvex --help lists them)";
            return std::nullopt;
        }
    }
    if (options.help || options.version) {
        return options;
    }
    if (hex && options.channelEditorImage.empty()) {
        error = "--hex needs --channel-editor IMAGE";
        return std::nullopt;
    }
    options.channelEditorHex = hex;
    return options;
}

std::vector<StartRequest> startRequests(const AppOptions& options) {
    const auto absolute = [](const std::string& file) {
        std::error_code failed;
        const std::filesystem::path path = std::filesystem::absolute(file, failed);
        return QString::fromStdString(failed ? file : path.lexically_normal().string());
    };
    std::vector<StartRequest> requests;
    if (!options.hexEditorFile.empty()) {
        requests.push_back({StartRequest::Kind::HexEditor, absolute(options.hexEditorFile), false});
    }
    if (!options.channelEditorImage.empty()) {
        requests.push_back({StartRequest::Kind::ChannelEditor, absolute(options.channelEditorImage),
                            options.channelEditorHex});
    }
    if (requests.empty()) {
        requests.emplace_back();
    }
    return requests;
}

} // namespace corvex::app
