#pragma once

#include "fileeditor/notice.h"
#include "fileeditor/search.h"

#include <cstdint>

namespace corvex::fileeditor {

inline constexpr std::size_t kIntegrityBlockBytes = 4096;

/// Compares the working copy with the opened file from file offset `start` on, block by block,
/// until the block that reaches `end` (a file offset) or the shorter file ends. Every byte that
/// differs adds a results line with base + offset and offset. The notice is "Integrity Check
/// Done", or "Read Error " with the two counts read (source, then work) where the files stop
/// having the same length or a read fails.
[[nodiscard]] Notice checkIntegrity(int sourceFd, int workFd, std::uint64_t start,
                                    std::uint64_t end, std::uint32_t baseAddress,
                                    SearchResults& results);

} // namespace corvex::fileeditor
