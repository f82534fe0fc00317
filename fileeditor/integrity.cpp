#include "integrity.h"

#include "work_files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace corvex::fileeditor {

Notice checkIntegrity(int sourceFd, int workFd, std::uint64_t start, std::uint64_t end,
                      std::uint32_t baseAddress, SearchResults& results) {
    std::array<std::uint8_t, kIntegrityBlockBytes> source{};
    std::array<std::uint8_t, kIntegrityBlockBytes> work{};
    // Offsets are the files' own, so a line jumps to the byte it names whatever the start.
    std::uint64_t position = start;
    do {
        const ssize_t fromSource = preadCount(sourceFd, source.data(), source.size(), position);
        const ssize_t fromWork = preadCount(workFd, work.data(), work.size(), position);
        // A short block is the end of a file, not an error: compare what both hold.
        const ssize_t common = std::max<ssize_t>(0, std::min(fromSource, fromWork));
        for (ssize_t i = 0; i < common; ++i) {
            if (source[static_cast<std::size_t>(i)] != work[static_cast<std::size_t>(i)]) {
                const std::uint64_t offset = position + static_cast<std::uint64_t>(i);
                results.addDifference(baseAddress + offset, offset);
            }
        }
        if (fromSource != fromWork || fromSource < 0) {
            return {"Error",
                    "Read Error " + std::to_string(fromSource) + " " + std::to_string(fromWork)};
        }
        if (static_cast<std::size_t>(fromSource) < kIntegrityBlockBytes) {
            break;
        }
        position += kIntegrityBlockBytes;
    } while (position < end);
    return {"Info", "Integrity Check Done"};
}

} // namespace corvex::fileeditor
