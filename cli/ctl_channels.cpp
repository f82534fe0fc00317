#include "ctl_channels.h"

#include "channels/channel_csv.h"
#include "channels/channel_tables.h"
#include "channels/image_writer.h"

#include <filesystem>
#include <string>
#include <variant>

namespace corvex::cli {

namespace {

void printWarning(std::ostream& out, const std::string& text) {
    out << "WARNING ";
    for (const char c : text) {
        if (c == '\r') {
            out << "\\r";
        } else {
            out << c;
        }
    }
    out << '\n';
}

} // namespace

int runChannels(const CtlOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.saveIntoFile.empty() && !options.force) {
        // Whatever stands there, a dangling symbolic link included, is the user's.
        std::error_code ec;
        if (std::filesystem::symlink_status(options.saveIntoFile, ec).type() !=
            std::filesystem::file_type::not_found) {
            err << "corvexctl: " << options.saveIntoFile
                << " exists; --force replaces it with the new image\n";
            return 1;
        }
    }
    std::string problem;
    const auto image = channels::readImageFile(options.channelsImage, &problem);
    if (!image) {
        err << "corvexctl: " << problem << '\n';
        return 1;
    }
    const auto mode =
        options.hex ? channels::DisplayMode::Hexadecimal : channels::DisplayMode::Decimal;
    channels::LoadResult result = channels::loadChannelTables(
        *image, mode, [&](const std::string& text) { printWarning(out, text); });
    if (const auto* failure = std::get_if<channels::LoadFailure>(&result)) {
        err << failure->text << '\n';
        return 1;
    }
    auto& tables = std::get<channels::ChannelTables>(result);
    if (!options.orderFile.empty()) {
        const auto csv = channels::readImageFile(options.orderFile, &problem);
        if (!csv) {
            err << "corvexctl: " << problem << '\n';
            return 1;
        }
        channels::ArrangedList arranged = channels::arrangeByCsv(
            tables.channels, {reinterpret_cast<const char*>(csv->data()), csv->size()}, mode);
        for (const std::string& warning : arranged.warnings) {
            printWarning(out, options.orderFile + ": " + warning);
        }
        tables.channels = std::move(arranged.channels);
    }
    for (const auto* list : {&tables.channels, &tables.transponders}) {
        for (const channels::Line& line : *list) {
            out << line.text << '\n';
        }
    }
    out << std::flush;
    std::string error;
    if (!options.csvFile.empty() && !channels::writeChannelListCsv(options.csvFile, tables.channels,
                                                                   tables.transponders, error)) {
        err << "corvexctl: " << error << '\n';
        return 1;
    }
    if (!options.saveIntoFile.empty() &&
        !channels::saveListIntoImage(*image, options.channelsImage, options.saveIntoFile,
                                     tables.channels, mode, error)) {
        err << "corvexctl: " << error << '\n';
        return 1;
    }
    return 0;
}

} // namespace corvex::cli
