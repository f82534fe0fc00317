#include "app_options.h"

#include <QCommandLineParser>
#include <QStringList>

#include <filesystem>

namespace corvex::app {

namespace {

// The options as Qt's parser knows them; the version option only when there is a version to
// show (the parser prints it as "corvex VERSION").
void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QString::fromLatin1(
        kAppDescription.data(), static_cast<qsizetype>(kAppDescription.size())));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("The interface (default: a usable ppdev port, else sim)."),
         QStringLiteral("sim|ppdev[:DEVICE]|direct")},
        {QStringLiteral("sim-dir"),
         QStringLiteral("The simulated receiver keeps flash.bin and eeprom.bin in DIR."),
         QStringLiteral("DIR")},
        {QStringLiteral("sim-option"), QStringLiteral("A simulator setting or fault (repeatable)."),
         QStringLiteral("KEY=VALUE")},
        {QStringLiteral("hex-editor"), QStringLiteral("Open the file editor on FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("channel-editor"),
         QStringLiteral("Open the channel list editor on IMAGE (--channel-editor --hex IMAGE "
                        "shows its numbers in hexadecimal)."),
         QStringLiteral("IMAGE")},
        {QStringLiteral("hex"), QStringLiteral("With --channel-editor: hexadecimal numbers.")},
        {QStringLiteral("backup-dir"),
         QStringLiteral("Keep the backups made before each write in DIR (default "
                        "~/.local/share/corvex/backups)."),
         QStringLiteral("DIR")},
        {QStringLiteral("no-backup"),
         QStringLiteral("Write the flash and the EEPROM without a backup first (this run only; "
                        "Config > Backup before writing).")},
    });
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Loaded when Tools > Hex Editor opens."),
                                 QStringLiteral("[FILE]"));
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

std::optional<AppOptions> parseAppOptions(const std::vector<std::string_view>& args,
                                          std::string& error) {
    QStringList words{QStringLiteral("corvex")};
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        filesOnly = filesOnly || args[i] == "--";
        // The documented form puts the mode between the option and its image.
        if (!filesOnly && args[i] == "--channel-editor" && i + 1 < args.size() &&
            args[i + 1] == "--hex") {
            words << QStringLiteral("--hex") << QStringLiteral("--channel-editor");
            ++i;
            continue;
        }
        words << QString::fromLocal8Bit(args[i].data(), static_cast<qsizetype>(args[i].size()));
    }
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(words)) {
        error = utf8(parser.errorText());
        return std::nullopt;
    }
    AppOptions options;
    options.help = parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"));
    options.version = parser.isSet(QStringLiteral("version"));
    if (options.help || options.version) {
        return options;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        error = "more than one FILE given ('" + utf8(files[1]) + "')";
        return std::nullopt;
    }
    if (!files.isEmpty()) {
        options.file = files.front().toLocal8Bit().toStdString();
    }
    const auto value = [&](const char* name) {
        return parser.value(QString::fromLatin1(name)).toLocal8Bit().toStdString();
    };
    options.port = value("port");
    options.simDir = value("sim-dir");
    for (const QString& option : parser.values(QStringLiteral("sim-option"))) {
        options.simOptions.push_back(option.toLocal8Bit().toStdString());
    }
    options.hexEditorFile = value("hex-editor");
    options.channelEditorImage = value("channel-editor");
    options.backupDir = value("backup-dir");
    options.noBackup = parser.isSet(QStringLiteral("no-backup"));
    options.channelEditorHex = parser.isSet(QStringLiteral("hex"));
    if (options.channelEditorHex && options.channelEditorImage.empty()) {
        error = "--hex needs --channel-editor IMAGE";
        return std::nullopt;
    }
    return options;
}

std::string appHelpText() {
    QCommandLineParser parser;
    describeOptions(parser);
    QString text = parser.helpText();
    // Before the application object exists Qt names the program by a placeholder.
    text.replace(QStringLiteral("<executable_name>"), QStringLiteral("corvex"));
    return utf8(text) + '\n' + std::string(kAppHelpNotes);
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
