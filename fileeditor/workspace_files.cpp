#include "hex_field.h"
#include "link/jobs/replacing_file.h"
#include "workspace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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
// one does.
std::optional<ReadableFile> openInput(const std::string& name, std::optional<Notice>& refusal) {
    bool notRegular = false;
    auto opened = openRegularFile(name, notRegular);
    if (!opened) {
        refusal =
            error("File (" + name + (notRegular ? ") is not a regular file." : ") not found."));
    }
    return opened;
}

// The file `fd` has open is the one a save to `name` replaces: links followed.
bool namesFile(const std::string& name, int fd) {
    struct stat named {};
    struct stat held {};
    return ::stat(name.c_str(), &named) == 0 && ::fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// An empty length field means "all of it".
std::optional<std::uint64_t> parseLengthField(std::string_view text) {
    return text.empty() ? std::optional<std::uint64_t>(0) : parseHexAddress(text);
}

// A digest of a path for the name of its recovery file (64-bit FNV-1a): short, the same in every
// run, and no library needed for it below the windows.
std::string pathDigest(std::string_view path) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : path) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    std::array<char, 17> text{};
    std::snprintf(text.data(), text.size(), "%016llX", static_cast<unsigned long long>(hash));
    return text.data();
}

} // namespace

std::string Workspace::saveDialogOffset() const {
    return hexAddress(m_base);
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

void Workspace::addHistoryLine(std::uint64_t start, std::uint64_t length, const std::string& name) {
    // An empty file ends where it starts rather than one below it.
    const std::uint64_t end = length == 0 ? start : start + length - 1;
    std::array<char, 96> line{};
    std::snprintf(line.data(), line.size(), "%4d  %8.8llX  %8.8llX  %8.8llX  ",
                  static_cast<int>(m_history.size() + 1), static_cast<unsigned long long>(start),
                  static_cast<unsigned long long>(end), static_cast<unsigned long long>(length));
    m_history.push_back(line.data() + name);
}

std::optional<Notice> Workspace::openByName(const std::string& name) {
    if (auto refusal = beginOpen(name)) {
        return refusal;
    }
    return finishLoading(true);
}

std::optional<Notice> Workspace::beginOpen(const std::string& name,
                                           const std::string& restoreFrom) {
    closeNibble();
    std::optional<Notice> refusal;
    auto opened = openInput(name, refusal);
    if (!opened) {
        return refusal;
    }
    auto& [source, size] = *opened;
    std::optional<ReadableFile> restored;
    if (!restoreFrom.empty() && !(restored = openInput(restoreFrom, refusal))) {
        return refusal;
    }
    OwnedFd from(::dup(restored ? restored->fd.get() : source.get()));
    if (!from.valid()) {
        return error("File (" + name + ") not found.");
    }
    // The working copy is scratch and private (it may become a recovery file): a copy left by
    // an earlier run, even a read-only one, goes, and the new one is the user's alone.
    close();
    (void)::unlink(m_workFileName.c_str());
    OwnedFd work(
        ::open(m_workFileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!work.valid()) {
        return error("Temporary file (" + m_workFileName + ") not created.");
    }
    m_source = std::move(source);
    m_work = std::move(work);
    m_copy = std::make_unique<CopyThread>(std::move(from), m_work.get(),
                                          restored ? restored->size : size);
    m_restoredFrom = restoreFrom;
    m_currentFileName = name;
    m_size = size;
    m_scrollMax = scrollMaximumFor(size);
    m_changes.clear();
    m_savedPosition = m_changes.position();
    m_selecting = false;
    addHistoryLine(m_base, size, name);
    m_scroll = 0;
    readPage();
    return std::nullopt;
}

std::optional<Notice> Workspace::finishLoading(bool wait) {
    if (!m_copy || (!wait && !m_copy->finished())) {
        return std::nullopt;
    }
    const CopyEnd end = m_copy->wait();
    m_copy.reset();
    if (end != CopyEnd::Done) {
        close();
        return end == CopyEnd::Failed ? std::optional<Notice>(error(
                                            "Temporary file (" + m_workFileName + ") not created."))
                                      : std::nullopt;
    }
    if (!m_restoredFrom.empty()) {
        // The unsaved work is the working copy again; it is kept anew at the next signal.
        (void)::unlink(m_restoredFrom.c_str());
        m_restoredFrom.clear();
        m_savedPosition = kNeverSaved;
    }
    readPage();
    return std::nullopt;
}

void Workspace::cancelLoading() {
    if (!m_copy) {
        return;
    }
    m_copy->cancel();
    (void)m_copy->wait();
    m_copy.reset();
    close();
}

void Workspace::close() {
    m_copy.reset();
    m_source.reset();
    m_work.reset();
    m_restoredFrom.clear();
    m_size = 0;
    m_scrollMax = 0;
    m_scroll = 0;
    m_selecting = false;
    m_changes.clear();
    m_savedPosition = m_changes.position();
    readPage();
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
    if (auto busy = refuseWhileLoading()) {
        return busy;
    }
    const auto address = parseHexAddress(offsetText);
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
        // As far as it goes: the insert is reported as failed either way. (Not a (void) cast:
        // with _FORTIFY_SOURCE, as distributions build, GCC insists on the result being kept.)
        [[maybe_unused]] const int cut = ::ftruncate(m_work.get(), static_cast<off_t>(*sizeBefore));
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
    addHistoryLine(*address, *copied, name);
    m_selecting = false;
    readPage();
    return std::nullopt;
}

namespace {

// The save dialog's fields as a range of the working copy, or the message refusing them.
struct SaveFields {
    std::optional<Notice> refusal;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

SaveFields parseSaveFields(std::string_view offsetText, std::string_view lengthText,
                           std::uint32_t base, std::uint64_t workSize) {
    const auto address = parseHexAddress(offsetText);
    if (!address) {
        return {error("Invalid value specified for offset."), 0, 0};
    }
    const auto length = parseLengthField(lengthText);
    if (!length) {
        return {error("Invalid value specified for length."), 0, 0};
    }
    if (*address < base) {
        return {error("Invalid value specified for offset or length."), 0, 0};
    }
    const std::uint64_t offset = *address - base;
    // Up to the length, or up to the end of the working copy, whichever comes first.
    const std::uint64_t available = workSize > offset ? workSize - offset : 0;
    return {std::nullopt, offset, *length == 0 ? available : std::min(*length, available)};
}

} // namespace

SaveCheck Workspace::checkSave(const std::string& name, std::string_view offsetText,
                               std::string_view lengthText) {
    if (auto busy = refuseWhileLoading()) {
        return {busy, std::nullopt};
    }
    if (!loaded()) {
        // The field checks come first, as saveRange makes them.
        const SaveFields fields = parseSaveFields(offsetText, lengthText, m_base, 0);
        return {fields.refusal ? fields.refusal : error("No assigned workspace available !"),
                std::nullopt};
    }
    const auto workSize = writeBack() ? fileSizeOf(m_work.get()) : std::nullopt;
    const SaveFields fields = parseSaveFields(offsetText, lengthText, m_base, workSize.value_or(0));
    if (fields.refusal) {
        return {fields.refusal, std::nullopt};
    }
    // Cutting the file on screen short is the one save the overwrite question of the dialog
    // does not cover: the bytes past the range exist nowhere else.
    struct stat target {};
    if (namesFile(name, m_source.get()) && ::stat(name.c_str(), &target) == 0 &&
        fields.length < static_cast<std::uint64_t>(target.st_size)) {
        return {std::nullopt, "This replaces " + name + " (" + std::to_string(target.st_size) +
                                  " bytes) with " + std::to_string(fields.length) + " bytes."};
    }
    return {};
}

std::optional<Notice> Workspace::saveRange(const std::string& name, std::string_view offsetText,
                                           std::string_view lengthText) {
    closeNibble();
    if (auto busy = refuseWhileLoading()) {
        return busy;
    }
    if (!loaded()) {
        const SaveFields fields = parseSaveFields(offsetText, lengthText, m_base, 0);
        return fields.refusal ? fields.refusal : error("No assigned workspace available !");
    }
    const auto workSize = writeBack() ? fileSizeOf(m_work.get()) : std::nullopt;
    if (!workSize) {
        return error("Cannot save " + name + ".\r" + std::strerror(errno));
    }
    const SaveFields fields = parseSaveFields(offsetText, lengthText, m_base, *workSize);
    if (fields.refusal) {
        return fields.refusal;
    }
    link::ReplacingFile out(name);
    // The new file is renamed over the old one, which needs only the folder's permission: a file
    // the user made read-only would be replaced all the same, where writing it in place fails.
    if (struct stat old{};
        ::stat(out.realTarget().c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ((old.st_mode & 0222) == 0 || ::access(out.realTarget().c_str(), W_OK) != 0)) {
        return error("Cannot save " + name + ".\r" + std::strerror(EACCES));
    }
    if (!out.valid()) {
        return error("Cannot create file " + name + ".\r" + out.error());
    }
    const auto copied = copyBytes(m_work.get(), fields.offset, out.fd(), 0, fields.length);
    if (!copied || *copied != fields.length) {
        const int cause = errno;
        out.discard();
        return error("Cannot save " + name + ".\r" + std::strerror(cause));
    }
    const bool ontoSource = namesFile(name, m_source.get());
    if (!out.commit()) {
        return error("Cannot save " + name + ".\r" + out.error());
    }
    if (ontoSource || (fields.offset == 0 && fields.length == *workSize)) {
        takeSavedFile(name, fields.offset, fields.length, *workSize);
    }
    readPage();
    return std::nullopt;
}

// The saved file is the workspace's file from now on, as it now is. A part of the working copy
// saved onto the opened file replaced all of it, so the working copy becomes that part: moved
// to the start and cut to its length, with the undo steps, whose offsets no longer fit, gone.
void Workspace::takeSavedFile(const std::string& name, std::uint64_t offset, std::uint64_t length,
                              std::uint64_t workSize) {
    if (offset != 0 || length != workSize) {
        if (offset != 0) {
            OwnedFd other(::dup(m_work.get()));
            (void)(other.valid() && copyBytes(m_work.get(), offset, other.get(), 0, length));
        }
        [[maybe_unused]] const int cut = ::ftruncate(m_work.get(), static_cast<off_t>(length));
        m_changes.clear();
    }
    bool notRegular = false;
    if (auto reopened = openRegularFile(name, notRegular)) {
        m_source = std::move(reopened->fd);
        m_size = reopened->size;
    } else {
        m_size = length;
    }
    m_currentFileName = name;
    m_scrollMax = scrollMaximumFor(m_size);
    m_scroll = std::min(m_scroll, m_scrollMax);
    m_selecting = false;
    m_savedPosition = m_changes.position();
    if (!m_keptAs.empty()) {
        // The work kept at a signal is saved now; it must not be offered again.
        (void)::unlink(m_keptAs.c_str());
        m_keptAs.clear();
    }
}

std::string Workspace::recoveryFileName(const std::string& folder, const std::string& sourceName) {
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::weakly_canonical(sourceName, ignored);
    const std::string full = path.empty() ? sourceName : path.string();
    return (std::filesystem::path(folder) / (std::filesystem::path(full).filename().string() + "." +
                                             pathDigest(full) + ".recovery"))
        .string();
}

std::optional<std::string> Workspace::keepForRecovery(const std::string& folder) {
    closeNibble();
    if (loading() || !loaded() || !writeBack() || !modified()) {
        return std::nullopt;
    }
    const std::string kept = recoveryFileName(folder, m_currentFileName);
    (void)::unlink(kept.c_str());
    // A second name for the working copy costs nothing on one file system; else a copy, which
    // waits for the disk alone.
    if (::link(m_workFileName.c_str(), kept.c_str()) != 0) {
        OwnedFd copy(::open(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        const auto size = fileSizeOf(m_work.get());
        if (!copy.valid() || !size ||
            copyWholeFile(m_work.get(), copy.get(), *size, nullptr) != CopyEnd::Done ||
            ::fsync(copy.get()) != 0 || !copy.reset()) {
            (void)::unlink(kept.c_str());
            return std::nullopt;
        }
    } else {
        (void)::fsync(m_work.get());
    }
    (void)::chmod(kept.c_str(), 0600);
    m_keptAs = kept;
    return kept;
}

} // namespace corvex::fileeditor
