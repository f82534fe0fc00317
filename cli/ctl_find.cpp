#include "ctl_find.h"

#include "fileeditor/search.h"
#include "fileeditor/work_files.h"

#include <cerrno>
#include <cstring>

namespace corvex::cli {

int runFind(const CtlOptions& options, std::ostream& out, std::ostream& err) {
    const auto pattern = fileeditor::buildPattern(*options.findPattern,
                                                  options.hex ? fileeditor::PatternMode::Hexadecimal
                                                              : fileeditor::PatternMode::Text);
    // Any size will do, as the scan reads block by block; a device or FIFO would never end.
    bool notRegular = false;
    const auto file = fileeditor::openRegularFile(options.findFile, notRegular);
    if (!file) {
        err << "corvexctl: ";
        if (notRegular) {
            err << options.findFile << " is not a regular file\n";
        } else {
            err << "cannot open " << options.findFile << ": " << std::strerror(errno) << '\n';
        }
        out << fileeditor::searchStatusLine(fileeditor::ScanEnd::ReadFailed, 0) << '\n';
        return 1;
    }
    // Lines go out as they are found rather than through a results list: a script wants every
    // match, not the ones a full list would have kept.
    std::uint64_t matches = 0;
    const auto end = fileeditor::scanFile(
        file->fd.get(), pattern,
        [&](std::uint64_t offset, std::span<const std::uint8_t> context) {
            out << fileeditor::matchLine(options.findBase + offset, offset, context) << '\n';
            ++matches;
        },
        {}, fileeditor::kScanBlockBytes,
        options.ignoreCase ? fileeditor::CaseMatch::IgnoreAsciiCase : fileeditor::CaseMatch::Exact);
    out << fileeditor::searchStatusLine(end, matches) << '\n';
    if (end != fileeditor::ScanEnd::Completed) {
        err << "corvexctl: read error in " << options.findFile << '\n';
        return 1;
    }
    return 0;
}

} // namespace corvex::cli
