#include "hex_field.h"
#include "workspace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opening, inserting and saving files, and the history of what was loaded.
namespace corvex::fileeditor {

namespace {

Notice error(std::string text) {
    return Notice{"Error", std::move(text)};
}

// The first line of the last 256-byte page; an empty file has only page 0.
std::uint64_t scrollMaximumFor(std::uint64_t size) {
    return size == 0 ? 0 : ((size - 1) >> 4) & ~std::uint64_t{15};
}

// A file to open or insert, or the message refusing it. There is no size limit: the file is
// copied inside the kernel and shown a page at a time, so a file of gigabytes opens as a small
// one does (addresses past 4 GiB wrap, as every 32-bit address does).
std::optional<ReadableFile> openInput(const std::string& name, std::optional<Notice>& refusal) {
    bool notRegular = false;
    auto opened = openRegularFile(name, notRegular);
    if (!opened) {
        refusal =
            error("File (" + name + (notRegular ? ") is not a regular file." : ") not found."));
    }
    return opened;
}

// The name stands for the file `fd` has open: the same inode, the name itself not a link to it
// (a save renames over the link, not over the file it points to).
bool namesFile(const std::string& name, int fd) {
    struct stat named {};
    struct stat held {};
    return ::lstat(name.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// An empty length field means "all of it".
std::optional<std::uint32_t> parseLengthField(std::string_view text) {
    return text.empty() ? std::optional<std::uint32_t>(0) : parseHexField(text);
}

} // namespace

std::string Workspace::saveDialogOffset() const {
    return hex8(m_base);
}

void Workspace::deleteHistoryLines(std::vector<std::size_t> lines) {
    std::sort(lines.begin(), lines.end(), std::greater<>());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    for (const std::size_t line : lines) {
        if (line < m_history.size()) {
            m_history.erase(m_history.begin() + static_cast<std::ptrdiff_t>(line));
        }
    }
}

void Workspace::addHistoryLine(std::uint32_t start, std::uint64_t length, const std::string& name) {
    // An empty file ends where it starts rather than one below it.
    const std::uint32_t end = length == 0 ? start : static_cast<std::uint32_t>(start + length - 1);
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "%4d  %8.8X  %8.8X  %8.8X  ",
                  static_cast<int>(m_history.size() + 1), start, end,
                  static_cast<std::uint32_t>(length));
    m_history.push_back(line.data() + name);
}

std::optional<Notice> Workspace::openByName(const std::string& name) {
    closeNibble();
    std::optional<Notice> refusal;
    auto opened = openInput(name, refusal);
    if (!opened) {
        return refusal;
    }
    auto& [source, size] = *opened;
    const Notice notCreated = error("Temporary file (" + m_workFileName + ") not created.");

    // The new copy is made beside the old one and renamed over it, so a failed copy leaves the
    // loaded workspace as it was. No fsync: the working copy is scratch, and a 1 GiB file
    // should open in the time the copy takes, not the time the disk needs to settle it.
    std::string partName;
    OwnedFd part = createBeside(m_workFileName, partName);
    if (!part.valid()) {
        return notCreated;
    }
    const auto copied = copyBytes(source.get(), 0, part.get(), 0, size);
    const bool closed = part.reset();
    if (!copied || *copied != size || !closed ||
        ::rename(partName.c_str(), m_workFileName.c_str()) != 0) {
        (void)::unlink(partName.c_str());
        return notCreated;
    }
    OwnedFd work(::open(m_workFileName.c_str(), O_RDWR | O_CLOEXEC));
    if (!work.valid()) {
        return notCreated;
    }

    m_source = std::move(source);
    m_work = std::move(work);
    m_currentFileName = name;
    m_size = size;
    m_scrollMax = scrollMaximumFor(size);
    m_changes.clear();
    addHistoryLine(m_base, size, name);
    m_scroll = 0;
    readPage();
    return std::nullopt;
}

std::optional<Notice> Workspace::openWithRange(const std::string& name, std::string_view offsetText,
                                               std::string_view lengthText) {
    closeNibble();
    m_lastDialogFile = name;
    if (!loaded()) {
        return openByName(name);
    }
    return insertFile(name, offsetText, lengthText);
}

std::optional<Notice> Workspace::insertFile(const std::string& name, std::string_view offsetText,
                                            std::string_view lengthText) {
    const auto address = parseHexField(offsetText);
    if (!address) {
        return error("Invalid value specified for offset.");
    }
    const auto length = parseLengthField(lengthText);
    if (!length) {
        return error("Invalid value specified for length.");
    }
    if (*address < m_base) {
        return error("Invalid value found for offset or length.");
    }
    const std::uint64_t offset = *address - m_base;
    std::optional<Notice> refusal;
    auto opened = openInput(name, refusal);
    if (!opened) {
        return refusal;
    }
    auto& [file, fileSize] = *opened;
    const std::uint64_t wanted =
        *length == 0 ? fileSize : std::min<std::uint64_t>(*length, fileSize);
    const Notice failed = error("File (" + name + ") not inserted.");
    if (!writeBack()) {
        return failed;
    }
    const auto sizeBefore = fileSizeOf(m_work.get());
    m_changes.dropRedo();
    auto before = sizeBefore ? m_changes.capture(m_work.get(), offset, wanted) : std::nullopt;
    if (!before) {
        return failed;
    }
    const auto copied = copyBytes(file.get(), 0, m_work.get(), offset, wanted);
    const auto sizeAfter = fileSizeOf(m_work.get());
    if (!copied || !sizeAfter) {
        // Put back what the broken copy overwrote.
        (void)m_changes.write(m_work.get(), offset, *before);
        (void)::ftruncate(m_work.get(), static_cast<off_t>(*sizeBefore));
        readPage();
        return failed;
    }
    if (*copied > 0) {
        ChangeLog::Step step;
        step.offset = offset;
        step.before = std::move(*before);
        step.afterLength = *copied;
        step.sizeBefore = *sizeBefore;
        step.sizeAfter = *sizeAfter;
        m_changes.push(std::move(step));
    }
    addHistoryLine(static_cast<std::uint32_t>(*address), *copied, name);
    readPage();
    return std::nullopt;
}

std::optional<Notice> Workspace::saveRange(const std::string& name, std::string_view offsetText,
                                           std::string_view lengthText) {
    closeNibble();
    const auto address = parseHexField(offsetText);
    if (!address) {
        return error("Invalid value specified for offset.");
    }
    const auto length = parseLengthField(lengthText);
    if (!length) {
        return error("Invalid value specified for length.");
    }
    if (*address < m_base) {
        return error("Invalid value specified for offset or length.");
    }
    if (!loaded()) {
        return error("No assigned workspace available !");
    }
    const std::uint64_t offset = *address - m_base;
    const auto workSize = writeBack() ? fileSizeOf(m_work.get()) : std::nullopt;
    if (!workSize) {
        return error("Cannot save " + name + ".\r" + std::strerror(errno));
    }
    // Up to the length, or up to the end of the working copy, whichever comes first.
    const std::uint64_t available = *workSize > offset ? *workSize - offset : 0;
    const std::uint64_t wanted =
        *length == 0 ? available : std::min<std::uint64_t>(*length, available);

    // The new file is renamed over the old one, which needs only the folder's permission: a file
    // the user made read-only would be replaced all the same, where writing it in place fails.
    if (struct stat old{}; ::stat(name.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
                           ((old.st_mode & 0222) == 0 || ::access(name.c_str(), W_OK) != 0)) {
        return error("Cannot save " + name + ".\r" + std::strerror(EACCES));
    }
    std::string partName;
    OwnedFd part = createBeside(name, partName);
    if (!part.valid()) {
        return error("Cannot create file " + name + ".\r" + std::strerror(errno));
    }
    const auto copied = copyBytes(m_work.get(), offset, part.get(), 0, wanted);
    if (!copied || *copied != wanted) {
        const int cause = errno;
        part.reset();
        (void)::unlink(partName.c_str());
        return error("Cannot save " + name + ".\r" + std::strerror(cause));
    }
    // Saved onto the opened file, the new file is renamed over it: the source stream would go on
    // reading the old one, and the change marks and the integrity check would compare the
    // working copy with what the file no longer holds.
    const bool replacesSource = namesFile(name, m_source.get());
    if (auto failure = commitBeside(part, partName, name)) {
        return error("Cannot save " + name + ".\r" + *failure);
    }
    if (replacesSource) {
        bool notRegular = false;
        if (auto reopened = openRegularFile(name, notRegular)) {
            m_source = std::move(reopened->fd);
        }
    }
    m_currentFileName = name;
    readPage();
    return std::nullopt;
}

} // namespace corvex::fileeditor
