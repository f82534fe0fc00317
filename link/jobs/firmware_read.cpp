#include "link/jobs/firmware_read.h"

#include "link/jobs/area_table.h"
#include "link/jobs/flash_jobs.h"
#include "link/jobs/job_context.h"
#include "link/jobs/job_files.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <algorithm>
#include <array>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvex::link {

namespace {

constexpr std::size_t kCopyBlock = 4096;
constexpr std::size_t kSearchBlock = 4096;

void clearReadMarks(AreaTable& table, std::uint32_t areaCount) {
    for (std::uint32_t i = 0; i <= areaCount && i < kAreaSlots; ++i) {
        table.clearBits(i, kAreaReadMark);
    }
}

// Fills a skipped area of the work file with erased bytes, a block at a time.
AreaRead fillSkippedArea(JobContext& guard, std::uint32_t start, std::uint32_t end, int fd) {
    static const std::vector<std::uint8_t> erased(WordWriter::kBlockBytes, 0xFF);
    for (std::uint32_t offset = start; offset < end; offset += erased.size()) {
        if (guard.link().breakRequested()) {
            return AreaRead::Broken;
        }
        const std::size_t size = std::min<std::size_t>(erased.size(), end - offset);
        if (!writeAt(fd, erased.data(), size, offset)) {
            return AreaRead::FileError;
        }
    }
    return AreaRead::Complete;
}

} // namespace

namespace {

// Looks for the firmware marker in bytes fed block by block, and collects the name after it.
class FirmwareNameScanner {
public:
    FirmwareNameScanner() {
        // How far a partial match falls back on a mismatch, so a marker that starts inside a
        // failed attempt (or right at its last byte) is still found, across block edges too.
        for (std::size_t i = 1, k = 0; i < kFirmwareMarker.size(); ++i) {
            while (k > 0 && kFirmwareMarker[i] != kFirmwareMarker[k]) {
                k = m_fallback[k - 1];
            }
            if (kFirmwareMarker[i] == kFirmwareMarker[k]) {
                ++k;
            }
            m_fallback[i] = k;
        }
    }

    /// True once the name is complete.
    bool feed(const char* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = bytes[i];
            if (m_inName) {
                if (c == '\0') {
                    return true;
                }
                if (m_name.size() < kFirmwareNameLimit) {
                    m_name.push_back(c);
                }
                continue;
            }
            while (m_matched > 0 && c != kFirmwareMarker[m_matched]) {
                m_matched = m_fallback[m_matched - 1];
            }
            if (c == kFirmwareMarker[m_matched] && ++m_matched == kFirmwareMarker.size()) {
                m_inName = true;
            }
        }
        return false;
    }
    [[nodiscard]] std::string name() && { return std::move(m_name); }

private:
    std::array<std::size_t, kFirmwareMarker.size()> m_fallback{};
    std::size_t m_matched = 0;
    bool m_inName = false;
    std::string m_name;
};

} // namespace

std::optional<std::string> findFirmwareName(const std::string& fileName) {
    const FileHandle file = openForReading(fileName);
    if (!file.valid()) {
        return std::nullopt;
    }
    FirmwareNameScanner scanner;
    std::array<char, kSearchBlock> block;
    for (off_t position = 0;;) {
        const ssize_t got = readAt(file.fd(), block.data(), block.size(), position);
        if (got <= 0) {
            return std::nullopt;
        }
        position += got;
        if (scanner.feed(block.data(), static_cast<std::size_t>(got))) {
            return std::move(scanner).name();
        }
    }
}

std::optional<std::string> findFirmwareName(std::span<const std::uint8_t> bytes) {
    FirmwareNameScanner scanner;
    if (scanner.feed(reinterpret_cast<const char*>(bytes.data()), bytes.size())) {
        return std::move(scanner).name();
    }
    return std::nullopt;
}

void IdentifyFirmware(JobContext& guard, const std::string& fileName) {
    const std::optional<std::string> name = findFirmwareName(fileName);
    GuardRecord& message = guard.messageRecord();
    message.Code = kMsgFirmwareName;
    message.Text.assign(name ? *name : "Unknown Firmware");
    guard.Log(message);
    guard.PostMessageRecord();
}

bool SaveRange(JobContext& guard, const AreaTable& table, const std::string& work,
               const std::string& target) {
    const std::uint32_t areaCount = guard.areaCount();
    std::uint32_t first = 0;
    while (first < areaCount && table.mode(first) != kAreaModePgm) {
        ++first;
    }
    if (first == areaCount) {
        return true;
    }
    std::uint32_t after = first + 1;
    while (after < areaCount && table.mode(after) == kAreaModePgm) {
        ++after;
    }
    const std::uint32_t start = table.AreaStart[first].load();
    const std::uint32_t end = table.AreaStart[after].load();
    guard.Log(formatLine("READFIRMWARE RANGE %8.8X-%8.8X WRITING TO: %s", start, end - 1,
                         target.c_str()));

    const FileHandle in = openForReading(work);
    const off_t reached = in.valid() ? ::lseek(in.fd(), start, SEEK_SET) : -1;
    if (reached != static_cast<off_t>(start)) {
        guard.Log(formatLine("*** ERROR:  READ POSITION FAILED %d <=> %d (%s)",
                             static_cast<int>(start), static_cast<int>(reached), work.c_str()));
        return false;
    }

    ReplacingFile out(target);
    if (!out.valid()) {
        return false;
    }
    std::array<char, kCopyBlock> block;
    std::atomic<bool>& breakFlag = guard.link().flags().breakFlag;
    for (std::uint32_t position = start; position < end && !breakFlag.load();) {
        const std::size_t wanted = std::min<std::size_t>(block.size(), end - position);
        const ssize_t got = readAt(in.fd(), block.data(), wanted, position);
        if (got <= 0) {
            guard.Log(formatLine("*** READ ERROR: NO DATA IN TEMPORARY FILE, POSITION %d",
                                 static_cast<int>(position)));
            breakFlag.store(true);
            break;
        }
        if (!writeAt(out.fd(), block.data(), static_cast<std::size_t>(got), position - start)) {
            return false;
        }
        position += static_cast<std::uint32_t>(got);
    }
    return !breakFlag.load() && out.commit();
}

AreaRead readAreaIntoFile(JobContext& guard, const AreaTable& table, std::uint32_t area, int fd) {
    Link& link = guard.link();
    const std::uint32_t startOffset = table.AreaStart[area].load();
    const std::uint32_t endOffset = table.AreaStart[area + 1].load();
    const std::uint32_t start = guard.flashBase() + startOffset;
    const std::uint32_t end = guard.flashBase() + endOffset;
    guard.Log(
        formatLine("READ FLASHROM      AREA %2u - Range %8.8X...%8.8X", area, start, end - 1));
    const std::uint32_t mask = progressMask(start, end);
    WordWriter out(fd, startOffset);
    for (std::uint32_t offset = startOffset; offset < endOffset && !link.breakRequested();
         offset += 4) {
        const std::uint32_t address = guard.flashBase() + offset;
        if ((address & mask) == 0) {
            guard.raise(AreaEvent::Progress, area);
        }
        out.append(link.readWord(address));
    }
    const bool written = out.flush();
    if (link.breakRequested()) {
        return AreaRead::Broken;
    }
    return written ? AreaRead::Complete : AreaRead::FileError;
}

void readFirmwareJob(JobContext& guard, const GuardRecord& command) {
    AreaTable* const table = requireAreaTable(guard, command);
    if (table == nullptr) {
        return;
    }
    const std::uint32_t areaCount = guard.areaCount();
    const std::string& workName = guard.tempFileName();
    clearReadMarks(*table, areaCount);
    FileHandle work = createOrTruncate(workName);
    if (!work.valid()) {
        guard.Log("READ FIRMWARE - ERROR CREATING TEMPORARY FILE");
        // The log line alone would leave the window showing nothing: a job that did not run
        // must say so like any other failure.
        reportFinal(guard, kWorkFileFailed, kStyleError);
        return;
    }
    (void)guard.jobPrologue();

    Link& link = guard.link();
    // A work file that cannot take the image must not pass for one: the job ends as if broken
    // off, which leaves every read mark clear.
    const auto workFileFailed = [&] {
        guard.Log("Write Error: " + workName);
        guard.Break();
    };
    for (std::uint32_t i = 0; i < areaCount && !link.breakRequested(); ++i) {
        guard.raise(AreaEvent::Reading, i);
        if (table->mode(i) != kAreaModeSkip) {
            const AreaRead result = readAreaIntoFile(guard, *table, i, work.fd());
            if (result == AreaRead::FileError) {
                workFileFailed();
            }
            guard.raise(link.breakRequested() ? AreaEvent::ReadError : AreaEvent::ReadOK, i);
            if (result == AreaRead::Complete) {
                table->markRead(i);
            }
            continue;
        }
        const std::uint32_t startOffset = table->AreaStart[i].load();
        const std::uint32_t endOffset = table->AreaStart[i + 1].load();
        guard.Log(formatLine("READ FLASHROM SKIP AREA %2u - Range %8.8X...%8.8X", i,
                             guard.flashBase() + startOffset, guard.flashBase() + endOffset - 1));
        if (fillSkippedArea(guard, startOffset, endOffset, work.fd()) == AreaRead::FileError) {
            workFileFailed();
        }
        guard.raise(AreaEvent::Skipped, i);
    }
    if (!work.close() && !link.breakRequested()) {
        workFileFailed();
    }

    if (link.breakRequested()) {
        clearReadMarks(*table, areaCount);
        GuardRecord& message = guard.messageRecord();
        message.Code = kMsgFinalReport;
        message.Flag = 1;
        message.Data = kStyleError;
        message.Text.assign("Function failed - Job aborted.");
        guard.Log(message);
        // With the link broken the Guard's own report says so instead.
        if (guard.PendingDepth() == 0) {
            guard.PostMessageRecord();
        }
        return;
    }

    IdentifyFirmware(guard, workName);
    const std::string target = guard.readFileName();
    if (SaveRange(guard, *table, workName, target)) {
        reportFinal(guard, "Read Firmware function completed successful.", kStyleNormal);
    } else {
        guard.Log("Write Error: " + target);
        reportFinal(guard, "Can not write firmware to disk. Disk full, write protected ?",
                    kStyleError);
    }
}

} // namespace corvex::link
