#include "ctl_find.h"

#include "fileeditor/search.h"

#include <fcntl.h>
#include <unistd.h>

namespace corvex::cli {

int runFind(const CtlOptions& options, std::ostream& out, std::ostream& err) {
    const auto pattern = fileeditor::buildPattern(*options.findPattern,
                                                  options.hex ? fileeditor::PatternMode::Hexadecimal
                                                              : fileeditor::PatternMode::Text);
    const int fd = ::open(options.findFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err << "corvexctl: cannot open " << options.findFile << '\n';
        out << fileeditor::searchStatusLine(fileeditor::ScanEnd::ReadFailed, 0) << '\n';
        return 1;
    }
    // Lines go out as they are found rather than through a results list: a script wants every
    // match, not the ones a full list would have kept.
    std::uint64_t matches = 0;
    const auto end = fileeditor::scanFile(
        fd, pattern, [&](std::uint64_t offset, std::span<const std::uint8_t> context) {
            out << fileeditor::matchLine(options.findBase + offset, offset, context) << '\n';
            ++matches;
        });
    ::close(fd);
    out << fileeditor::searchStatusLine(end, matches) << '\n';
    if (end != fileeditor::ScanEnd::Completed) {
        err << "corvexctl: read error in " << options.findFile << '\n';
        return 1;
    }
    return 0;
}

} // namespace corvex::cli
