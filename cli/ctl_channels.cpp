#include "ctl_channels.h"

#include "channels/channel_csv.h"
#include "channels/channel_tables.h"

#include <string>
#include <variant>

namespace corvex::cli {

int runChannels(const CtlOptions& options, std::ostream& out, std::ostream& err) {
    std::string problem;
    const auto image = channels::readImageFile(options.channelsImage, &problem);
    if (!image) {
        err << "corvexctl: " << problem << '\n';
        return 1;
    }
    const auto mode =
        options.hex ? channels::DisplayMode::Hexadecimal : channels::DisplayMode::Decimal;
    const channels::LoadResult result =
        channels::loadChannelTables(*image, mode, [&](const std::string& text) {
            out << "WARNING ";
            for (const char c : text) {
                if (c == '\r') {
                    out << "\\r";
                } else {
                    out << c;
                }
            }
            out << '\n';
        });
    if (const auto* failure = std::get_if<channels::LoadFailure>(&result)) {
        err << failure->text << '\n';
        return 1;
    }
    const auto& tables = std::get<channels::ChannelTables>(result);
    for (const auto* list : {&tables.channels, &tables.transponders}) {
        for (const channels::Line& line : *list) {
            out << line.text << '\n';
        }
    }
    out << std::flush;
    if (!options.csvFile.empty()) {
        std::string error;
        if (!channels::writeChannelListCsv(options.csvFile, tables.channels, tables.transponders,
                                           error)) {
            err << "corvexctl: " << error << '\n';
            return 1;
        }
    }
    return 0;
}

} // namespace corvex::cli
