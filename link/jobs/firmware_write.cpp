#include "link/jobs/area_table.h"
#include "link/jobs/backup_hook.h"
#include "link/jobs/firmware_read.h"
#include "link/jobs/flash_jobs.h"
#include "link/jobs/flash_ops.h"
#include "link/jobs/job_context.h"
#include "link/jobs/job_files.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace corvex::link {

namespace {

// A missing work file is created this size, filled with a word no flash area is likely to hold.
constexpr std::uint32_t kWorkFillWord = 0x12345678;
constexpr std::uint32_t kWorkFillBytes = 0x200000;
constexpr std::size_t kCompareBlock = 4096;
constexpr std::size_t kImageChunk = 64 * 1024;
// The marks and icon a write works out afresh for every area.
constexpr std::uint32_t kCompareMarks = kAreaDiffersMark | kAreaProtectedMark | kAreaIconMask;
constexpr std::uint32_t kProtectedIconOnly = 1;
constexpr std::uint32_t kProtectedShown = 0;
constexpr std::size_t kMessageTextLimit = 100;
constexpr std::string_view kImageException = "*** EXCEPTION ON PROGRAMMING FILE - ";

int secondsOfDayNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

std::uint32_t littleEndianWord(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void createFilledWorkFile(const std::string& name) {
    const FileHandle file = createOrTruncate(name);
    if (!file.valid()) {
        return;
    }
    std::array<std::uint8_t, kCompareBlock> block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(kWorkFillWord >> (8 * (i % 4)));
    }
    for (std::uint32_t offset = 0; offset < kWorkFillBytes; offset += block.size()) {
        if (!writeAt(file.fd(), block.data(), block.size(), offset)) {
            return;
        }
    }
}

// One "WRITE FIRMWARE" or "PREVIEW FIRMWARE" run.
class WriteJob {
public:
    WriteJob(JobContext& guard, AreaTable& table, const FlashFamily& family, bool preview)
        : m_guard(guard), m_table(table), m_link(guard.link()), m_flash(guard.link(), family),
          m_preview(preview), m_areaCount(guard.areaCount()), m_flashBase(guard.flashBase()),
          m_workName(guard.tempFileName()) {}

    void run();

private:
    [[nodiscard]] bool broken() const { return m_link.breakRequested(); }
    [[nodiscard]] std::uint32_t areaStart(std::uint32_t area) const {
        return m_table.AreaStart[area].load();
    }
    bool openWorkFile();
    bool openImage();
    [[nodiscard]] std::string coverageProblem(std::uint64_t size) const;
    [[nodiscard]] std::string shortImageProblem(ssize_t got) const;
    void imageException(std::string_view problem);
    void compareArea(std::uint32_t area);
    [[nodiscard]] bool workAreaBlank(std::uint32_t area);
    enum class Compare { Same, Differs, ImageError };
    [[nodiscard]] Compare workAreaMatchesImage(std::uint32_t area);
    void reportCompareBroken();
    [[nodiscard]] bool anyAreaToErase() const;
    bool keepBackup();
    void readAreaForBackup(std::uint32_t area, std::uint8_t* into);
    void programAreas();
    void updateArea(std::uint32_t area);
    [[nodiscard]] bool programArea(std::uint32_t area);
    void reportWrite(int startSecond);
    void postWriteProtected(std::uint32_t shown) {
        GuardRecord& message = m_guard.messageRecord();
        message.Code = kMsgWriteProtected;
        message.Data = shown;
        m_guard.PostMessageRecord();
    }

    JobContext& m_guard;
    AreaTable& m_table;
    Link& m_link;
    FlashOps m_flash;
    const bool m_preview;
    const std::uint32_t m_areaCount;
    const std::uint32_t m_flashBase;
    const std::string m_workName;
    std::string m_imageName;
    FileHandle m_work;
    FileHandle m_image;
    std::uint32_t m_errors = 0;
};

bool WriteJob::openWorkFile() {
    m_work = openForUpdate(m_workName);
    if (!m_work.valid()) {
        // A new work file holds nothing read from the flash: no area may count as read.
        for (std::size_t i = 0; i < kAreaSlots; ++i) {
            m_table.clearBits(i, kAreaReadMark);
        }
        createFilledWorkFile(m_workName);
        m_work = openForUpdate(m_workName);
    }
    if (!m_work.valid()) {
        m_guard.Log("*** EXCEPTION ON TEMPORARY FILE " + m_workName);
        reportFinal(m_guard, kWorkFileFailed, kStyleError);
        return false;
    }
    return true;
}

// The image must hold every byte of every PGM area: an area past its end would be erased and
// then programmed with nothing, or with all ones, and reported as written. Checked before the
// receiver is touched.
bool WriteJob::openImage() {
    m_imageName = m_guard.writeFileName();
    m_guard.Log("PROGRAMMING FILE " + m_imageName);
    InputFile input = openInputFile(m_imageName);
    std::string problem = std::move(input.problem);
    if (problem.empty()) {
        problem = input.size == 0 ? "empty" : coverageProblem(input.size);
    }
    if (!problem.empty()) {
        imageException(problem);
        return false;
    }
    m_image = std::move(input.file);
    return true;
}

// The span of PGM areas a file of `size` bytes does not hold to their last byte, and the size
// the last of them needs; empty when it holds them all.
std::string WriteJob::coverageProblem(std::uint64_t size) const {
    std::uint32_t first = m_areaCount;
    std::uint32_t last = 0;
    for (std::uint32_t i = 0; i < m_areaCount; ++i) {
        if (m_table.mode(i) == kAreaModePgm && areaStart(i + 1) > size) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first == m_areaCount) {
        return {};
    }
    const auto bytes = static_cast<unsigned long long>(size);
    const auto needs = static_cast<unsigned>(areaStart(last + 1));
    return first == last
               ? formatLine("%llu bytes, area %u needs %u", bytes, first, needs)
               : formatLine("%llu bytes, area %u to %u needs %u", bytes, first, last, needs);
}

// What went wrong with a read of the image that did not bring the bytes the checks promised:
// an error, or a file cut short since.
std::string WriteJob::shortImageProblem(ssize_t got) const {
    if (got < 0) {
        return readErrorProblem(errno);
    }
    struct stat info {};
    if (::fstat(m_image.fd(), &info) != 0) {
        return readErrorProblem(errno);
    }
    std::string problem = coverageProblem(static_cast<std::uint64_t>(info.st_size));
    return problem.empty() ? readErrorProblem(EIO) : problem;
}

// The image cannot be used: the job ends before anything is erased, and the Guard reports the
// abort.
void WriteJob::imageException(std::string_view problem) {
    m_guard.Log(fileProblemLine(kImageException, m_imageName, problem));
    m_guard.Break();
}

void WriteJob::run() {
    for (std::uint32_t i = 0; i < m_areaCount; ++i) {
        m_guard.raise(AreaEvent::Reset, i);
    }
    if (!openWorkFile()) {
        return;
    }
    if (!openImage()) {
        (void)m_work.close();
        return;
    }
    (void)m_guard.jobPrologue();

    for (std::uint32_t i = 0; i < m_areaCount && !broken(); ++i) {
        compareArea(i);
    }
    if (!m_work.close() && !broken()) {
        m_guard.Log("*** EXCEPTION ON TEMPORARY FILE " + m_workName);
        m_guard.Break();
    }
    if (broken()) {
        reportCompareBroken();
        return;
    }
    for (std::uint32_t i = 0; i < m_areaCount; ++i) {
        m_guard.raise(AreaEvent::Reset, i);
    }
    if (m_preview) {
        IdentifyFirmware(m_guard, m_workName);
        reportFinal(m_guard, "Preview \"Write Firmware\" function completed successful.",
                    kStyleNormal);
        return;
    }
    if (!keepBackup()) {
        (void)m_image.close();
        return;
    }
    programAreas();
}

// The areas phase 2 will erase: changed, not protected, and still not SKIP.
bool WriteJob::anyAreaToErase() const {
    for (std::uint32_t i = 0; i < m_areaCount; ++i) {
        if (m_table.has(i, kAreaDiffersMark) && !m_table.has(i, kAreaProtectedMark) &&
            m_table.mode(i) != kAreaModeSkip) {
            return true;
        }
    }
    return false;
}

// Before the first erase, a verified copy of the whole flash, every area whatever its mode. The
// compare has just read the areas it looks at into the work file: those are taken from there,
// and only the rest is read from the flash now. Without a copy nothing is erased.
bool WriteJob::keepBackup() {
    BackupKeeper* const keeper = m_guard.backupKeeper();
    if (keeper == nullptr || !anyAreaToErase()) {
        return true;
    }
    auto failed = [&](std::string_view problem, std::string_view where) {
        const std::string text = "Backup failed: " + std::string(problem);
        m_guard.Log(where.empty() ? std::string(logLineOf(text))
                                  : fileProblemLine("Backup failed: ", where, problem));
        // Nothing was erased: the areas keep the marks the compare gave them. With the link
        // broken the Guard's own report says so instead.
        if (m_guard.PendingDepth() == 0) {
            postFinal(m_guard, logLineOf(text), kStyleError);
        }
        return false;
    };
    if (const BackupOutcome ready = keeper->prepare(); !ready.kept) {
        return failed(ready.problem, ready.path);
    }
    std::vector<std::uint8_t> flash(areaStart(m_areaCount));
    const FileHandle work = openForReading(m_workName);
    for (std::uint32_t i = 0; i < m_areaCount && !broken(); ++i) {
        const std::uint32_t start = areaStart(i);
        const std::uint32_t size = areaStart(i + 1) - start;
        if (m_table.readThisRun(i) && work.valid() &&
            readAt(work.fd(), &flash[start], size, start) == static_cast<ssize_t>(size)) {
            continue;
        }
        readAreaForBackup(i, &flash[start]);
    }
    if (broken()) {
        return failed("the read of the flash was broken off", {});
    }
    const BackupRequest request{BackupKind::Flash, flash,       m_guard.hardwareType(),
                                m_flashBase,       m_areaCount, m_guard.lastSignature(),
                                m_imageName};
    const BackupOutcome outcome = keeper->keep(request);
    if (!outcome.kept) {
        return failed(outcome.problem, outcome.path);
    }
    m_guard.Log(fileLine(outcome.existing ? "Backup of the flash already held in "
                                          : "Backup of the flash saved in ",
                         outcome.path));
    return true;
}

// Reads an area the compare did not, with the area's progress steps and no other event: the
// map keeps showing what the compare found.
void WriteJob::readAreaForBackup(std::uint32_t area, std::uint8_t* into) {
    const std::uint32_t start = m_flashBase + areaStart(area);
    const std::uint32_t end = m_flashBase + areaStart(area + 1);
    m_guard.Log(
        formatLine("BACKUP READ FLASHROM AREA %2u - Range %8.8X...%8.8X", area, start, end - 1));
    const std::uint32_t mask = progressMask(start, end);
    for (std::uint32_t address = start; address < end && !broken(); address += 4) {
        if ((address & mask) == 0) {
            m_guard.raise(AreaEvent::Progress, area);
        }
        const std::uint32_t word = m_link.readWord(address);
        for (int shift = 0; shift < 32; shift += 8) {
            *into++ = static_cast<std::uint8_t>(word >> shift);
        }
    }
    m_guard.raise(AreaEvent::Reset, area);
}

void WriteJob::compareArea(std::uint32_t area) {
    m_guard.setCurrentArea(area);
    m_table.clearBits(area, kCompareMarks);
    if (m_flash.ProtectCheck(m_flashBase + areaStart(area))) {
        m_table.setBits(area, kAreaProtectedMark);
        postWriteProtected(kProtectedIconOnly);
    }
    const std::uint32_t mode = m_table.mode(area);
    if (mode != kAreaModeSkip) {
        if (!m_table.has(area, kAreaReadMark)) {
            m_guard.raise(AreaEvent::Reading, area);
            const AreaRead result = readAreaIntoFile(m_guard, m_table, area, m_work.fd());
            if (result == AreaRead::FileError) {
                // The area's part of the work file is not what the flash holds: stop as if
                // broken off, which clears the marks.
                m_guard.Log("*** EXCEPTION ON TEMPORARY FILE " + m_workName);
                m_guard.Break();
            }
            if (broken()) {
                m_guard.raise(AreaEvent::ReadError, area);
                return;
            }
            m_guard.raise(AreaEvent::ReadOK, area);
            m_table.markRead(area);
        }
        bool unchanged = false;
        if (mode == kAreaModeClr) {
            unchanged = workAreaBlank(area);
        } else {
            const Compare compare = workAreaMatchesImage(area);
            if (compare == Compare::ImageError) {
                return; // broken off: the marks are cleared and nothing is erased
            }
            unchanged = compare == Compare::Same;
        }
        if (!unchanged) {
            m_table.setBits(area, kAreaDiffersMark);
            m_guard.raise(AreaEvent::NeedsUpdate, area);
        }
    }
    if (!m_table.has(area, kAreaDiffersMark)) {
        m_guard.raise(mode == kAreaModeSkip ? AreaEvent::Skipped : AreaEvent::UpToDate, area);
    }
}

bool WriteJob::workAreaBlank(std::uint32_t area) {
    static const std::array<std::uint8_t, kCompareBlock> erased = [] {
        std::array<std::uint8_t, kCompareBlock> block;
        block.fill(0xFF);
        return block;
    }();
    std::array<std::uint8_t, kCompareBlock> block;
    const std::uint32_t end = areaStart(area + 1);
    for (std::uint32_t offset = areaStart(area); offset < end; offset += kCompareBlock) {
        const std::size_t size = std::min<std::size_t>(kCompareBlock, end - offset);
        if (readAt(m_work.fd(), block.data(), size, offset) != static_cast<ssize_t>(size) ||
            std::memcmp(block.data(), erased.data(), size) != 0) {
            return false;
        }
    }
    return true;
}

WriteJob::Compare WriteJob::workAreaMatchesImage(std::uint32_t area) {
    std::array<std::uint8_t, kCompareBlock> present;
    std::array<std::uint8_t, kCompareBlock> wanted;
    const std::uint32_t end = areaStart(area + 1);
    for (std::uint32_t offset = areaStart(area); offset < end; offset += kCompareBlock) {
        const auto size = std::min<std::size_t>(kCompareBlock, end - offset);
        const auto whole = static_cast<ssize_t>(size);
        const ssize_t got = readAt(m_image.fd(), wanted.data(), size, offset);
        if (got != whole) {
            imageException(shortImageProblem(got));
            return Compare::ImageError;
        }
        if (readAt(m_work.fd(), present.data(), size, offset) != whole ||
            std::memcmp(present.data(), wanted.data(), size) != 0) {
            return Compare::Differs;
        }
    }
    return Compare::Same;
}

void WriteJob::reportCompareBroken() {
    for (std::uint32_t i = 0; i <= m_areaCount && i < kAreaSlots; ++i) {
        m_table.clearBits(i, kAreaReadMark | kAreaDiffersMark);
    }
    GuardRecord& message = m_guard.messageRecord();
    message.Code = kMsgFinalReport;
    message.Flag = 1;
    message.Data = kStyleError;
    message.Text.assign("Function Failed - Job aborted.");
    // With the link broken the Guard's own report says so instead.
    if (m_guard.PendingDepth() == 0) {
        m_guard.PostMessageRecord();
    }
}

void WriteJob::programAreas() {
    const int startSecond = secondsOfDayNow();
    std::uint32_t area = 0;
    for (; area < m_areaCount && !broken(); ++area) {
        m_guard.setCurrentArea(area);
        updateArea(area);
        if (m_guard.stopOnError() && m_errors != 0) {
            m_guard.Break();
        }
    }
    // Areas a break kept from being visited may still differ from the image: never report
    // such a write as complete.
    if (area < m_areaCount && m_errors == 0) {
        ++m_errors;
    }
    (void)m_image.close();
    reportWrite(startSecond);
}

void WriteJob::updateArea(std::uint32_t area) {
    if (!m_table.has(area, kAreaDiffersMark)) {
        return;
    }
    if (m_table.has(area, kAreaProtectedMark)) {
        postWriteProtected(kProtectedShown);
        return;
    }
    const std::uint32_t mode = m_table.mode(area);
    if (mode == kAreaModeSkip) {
        // Set to SKIP since the compare: the user wants it left alone.
        return;
    }
    m_guard.raise(AreaEvent::Erasing, area);
    if (!m_flash.SectorErase(m_flashBase + areaStart(area))) {
        m_guard.Log("ERROR ERASING AREA " + std::to_string(area));
        m_guard.raise(AreaEvent::EraseFailed, area);
        ++m_errors;
    } else if (mode == kAreaModeClr) {
        m_guard.raise(AreaEvent::Erased, area);
    } else if (programArea(area)) {
        m_guard.raise(AreaEvent::Programmed, area);
    } else {
        ++m_errors;
        m_guard.raise(AreaEvent::ProgramFailed, area);
        m_guard.Log("ERROR PROGRAMMING AREA " + std::to_string(area));
    }
    // The flash no longer holds what the work file says for this area.
    m_table.clearBits(area, kAreaReadMark);
}

bool WriteJob::programArea(std::uint32_t area) {
    m_guard.Log("PROGRAMMING AREA " + std::to_string(area));
    m_guard.raise(AreaEvent::Programming, area);
    const std::uint32_t startOffset = areaStart(area);
    const std::uint32_t endOffset = areaStart(area + 1);
    const std::uint32_t mask = progressMask(m_flashBase + startOffset, m_flashBase + endOffset);
    std::vector<std::uint8_t> chunk(kImageChunk);
    std::uint32_t chunkStart = startOffset;
    std::uint32_t chunkEnd = startOffset;
    for (std::uint32_t offset = startOffset; offset < endOffset; offset += 4) {
        if (broken()) {
            return false;
        }
        const std::uint32_t address = m_flashBase + offset;
        if ((address & mask) == 0) {
            m_guard.raise(AreaEvent::Progress, area);
        }
        if (offset >= chunkEnd) {
            const std::size_t size = std::min<std::size_t>(chunk.size(), endOffset - offset);
            const ssize_t got = readAt(m_image.fd(), chunk.data(), size, offset);
            if (got != static_cast<ssize_t>(size)) {
                // Checked whole before the compare: the file was cut or failed since.
                m_guard.Log(fileProblemLine(kImageException, m_imageName, shortImageProblem(got)));
                m_guard.raise(AreaEvent::Reset, area);
                return false;
            }
            chunkStart = offset;
            chunkEnd = offset + static_cast<std::uint32_t>(size);
        }
        if (!m_flash.ProgramWord(address, littleEndianWord(&chunk[offset - chunkStart]))) {
            m_guard.raise(AreaEvent::Reset, area);
            return false;
        }
    }
    return true;
}

void WriteJob::reportWrite(int startSecond) {
    if (m_errors == 0) {
        const int elapsed = elapsedSecondsOfDay(startSecond, secondsOfDayNow());
        m_guard.Log(formatLine("PROGRAMMING COMPLETION TIME %2.2d:%2.2d:%2.2d", elapsed / 3600,
                               (elapsed % 3600) / 60, elapsed % 60));
        reportFinal(m_guard, "\"Write Firmware\" function completed successful.", kStyleNormal);
        return;
    }
    if (m_guard.stopOnError()) {
        m_guard.Log("Process stopped on error.");
        constexpr std::string_view text = "Process stopped on error.\r\r"
                                          "Select \"Config\" - \"Stop on Error\" to disable this "
                                          "function!";
        m_guard.messageRecord().Flag = 0;
        m_guard.Post(kMsgStoppedOnError, text.substr(0, kMessageTextLimit),
                     m_guard.messageRecord().Data);
        return;
    }
    reportFinal(m_guard,
                formatLine("\"Write Firmware\" function completed with %u error(s).",
                           static_cast<unsigned>(m_errors)),
                kStyleError);
}

void firmwareJob(JobContext& guard, const GuardRecord& command, bool preview) {
    AreaTable* const table = requireAreaTable(guard, command);
    if (table == nullptr) {
        return;
    }
    // SETHARDWARE only ever selects a type with flash commands.
    const FlashFamily* family = flashFamily(guard.hardwareType());
    WriteJob(guard, *table, family != nullptr ? *family : kFlashFamily0, preview).run();
}

} // namespace

void writeFirmwareJob(JobContext& guard, const GuardRecord& command) {
    firmwareJob(guard, command, false);
}

void previewFirmwareJob(JobContext& guard, const GuardRecord& command) {
    firmwareJob(guard, command, true);
}

} // namespace corvex::link
