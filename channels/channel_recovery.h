#pragma once

// A channel list arranged and not saved, kept when the program has to close without asking (a
// signal) and offered again at the next open of the same image.
//
// A snapshot is a small text file in a folder of the user's own (the window passes
// link::userDataFolder("recovery")), named after the image's file name and a hash of its full
// path, so two images of the same name in different folders keep apart; a second window on the
// same image gets a numbered name beside the first. It holds the image's size and a hash of its
// bytes, and each channel's record bytes, transponder key and reference: a snapshot is offered
// only for an image that still holds the very bytes the list was arranged on.

#include "channels/channel_tables.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvex::channels {

/// Writes a snapshot of `lines`, arranged on `image` (read from `imageName`), into a new file in
/// `folder`; the file's name, or nullopt with `error` set.
[[nodiscard]] std::optional<std::string> keepArrangedList(const std::string& folder,
                                                          const std::string& imageName,
                                                          std::span<const std::uint8_t> image,
                                                          std::span<const Line> lines,
                                                          std::string& error);

/// A snapshot found for an image, with its lines as `mode` shows them.
struct ArrangedSnapshot {
    std::string file;
    std::vector<Line> lines;
};

/// The first snapshot in `folder` kept for `imageName` while it held `image`; nullopt when there
/// is none. Snapshots of the same name that are damaged or were made on other bytes stay where
/// they are and are passed over.
[[nodiscard]] std::optional<ArrangedSnapshot> findArrangedList(const std::string& folder,
                                                               const std::string& imageName,
                                                               std::span<const std::uint8_t> image,
                                                               DisplayMode mode);

} // namespace corvex::channels
