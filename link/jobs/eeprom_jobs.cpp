#include "link/jobs/eeprom_jobs.h"

#include "link/jobs/backup_hook.h"
#include "link/jobs/eeprom_i2c.h"
#include "link/jobs/flash_jobs.h"
#include "link/jobs/job_context.h"
#include "link/jobs/job_files.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvex::link {

namespace {

constexpr std::size_t kBootcodeMin = 2;
constexpr std::size_t kBootcodeMax = 255;

// A file loaded whole: its size, and its bytes when it was not too large to take; or what kept
// it from being read.
struct LoadedFile {
    std::string problem;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> bytes;
};

// Opens the file, takes its size, and reads it when it holds at most `limit` bytes. Only a
// regular file is opened; one that shrinks while it is read is unreadable.
LoadedFile loadFile(const std::string& name, std::uint64_t limit) {
    LoadedFile file;
    InputFile in = openInputFile(name);
    if (!in.problem.empty()) {
        file.problem = std::move(in.problem);
        return file;
    }
    file.size = in.size;
    if (file.size <= limit) {
        file.bytes.resize(file.size);
        const ssize_t got = readAt(in.file.fd(), file.bytes.data(), file.bytes.size(), 0);
        if (got != static_cast<ssize_t>(file.size)) {
            file.problem = readErrorProblem(got < 0 ? errno : EIO);
        }
    }
    return file;
}

// A load file that cannot be read breaks the job off before the receiver is touched; the first
// line is the job's own, the second says what is wrong.
void refuseLoadFile(JobContext& guard, std::string_view job, const std::string& name,
                    std::string_view problem) {
    guard.Log(logLineOf(std::string(job) + name + " - ERROR"));
    guard.Log(logLineOf(std::string(job) + std::string(problem)));
    guard.Break();
}

bool saveImage(const std::string& name, const EepromImage& image) {
    ReplacingFile out(name);
    return out.valid() && writeAt(out.fd(), image.data(), image.size(), 0) && out.commit();
}

void readJob(JobContext& guard, bool view) {
    EepromImage image{};
    (void)guard.jobPrologue(); // a break cuts the read short at its first wait
    const EepromRead read =
        guard.hardwareType() == 1
            ? readEepromPins(guard.link(), image)
            : readEepromController(guard.link(), image,
                                   [&guard](std::string_view line) { guard.Log(line); });
    if (read.bytes != kEepromSize) {
        guard.Log(formatLine("EEPROM READ ERROR (%8.8X) @ %u", static_cast<unsigned>(read.status),
                             static_cast<unsigned>(read.bytes)));
        postFinal(guard, "Reading configuration EEprom failed.", kStyleError);
        return;
    }
    guard.Log("EEPROM READ - OK");
    const std::string name = guard.eeSaveFileName();
    if (!saveImage(name, image)) {
        guard.Log(logLineOf("EESaveToFile - " + name + " - ERROR"));
        postFinal(guard, "Saving configuration EEprom to disk failed.", kStyleError);
        return;
    }
    if (view) {
        GuardRecord& message = guard.messageRecord();
        message.Code = kMsgEepromView;
        message.Text.assign(name);
        try {
            guard.PostMessageRecord();
        } catch (const std::exception&) {
            guard.Log("Callback 12 failed.");
        }
        return;
    }
    postFinal(guard, "Reading configuration EEprom succeeded.", kStyleNormal);
    guard.Log(logLineOf("EESaveToFile - " + name + " - OK"));
}

// Reads the EEPROM as it is, with the read method of the hardware type, and keeps it before a
// write changes it. False, with the reason logged and reported, when no copy could be kept:
// then nothing is written.
bool keepEepromBackup(JobContext& guard, const std::string& image) {
    BackupKeeper* const keeper = guard.backupKeeper();
    if (keeper == nullptr) {
        return true;
    }
    auto failed = [&](std::string_view problem, std::string_view where) {
        const std::string text = "Backup failed: " + std::string(problem);
        guard.Log(where.empty() ? std::string(logLineOf(text))
                                : fileProblemLine("Backup failed: ", where, problem));
        // A user break ends the job with its log line alone, as a write does.
        if (!guard.link().breakRequested()) {
            postFinal(guard, logLineOf(text), kStyleError);
        }
        return false;
    };
    if (const BackupOutcome ready = keeper->prepare(); !ready.kept) {
        return failed(ready.problem, ready.path);
    }
    EepromImage present{};
    // The read's own progress lines belong to "EEREAD"; here they would only crowd the log.
    const EepromRead read =
        guard.hardwareType() == 1
            ? readEepromPins(guard.link(), present)
            : readEepromController(guard.link(), present, [](std::string_view /*line*/) {});
    if (read.bytes != kEepromSize) {
        return failed(formatLine("the EEPROM could not be read (%8.8X @ %u)",
                                 static_cast<unsigned>(read.status),
                                 static_cast<unsigned>(read.bytes)),
                      {});
    }
    BackupRequest request;
    request.kind = BackupKind::Eeprom;
    request.content = present;
    request.hardwareType = guard.hardwareType();
    request.flashBase = guard.flashBase();
    request.areaCount = guard.areaCount();
    request.signature = guard.lastSignature();
    request.image = image;
    const BackupOutcome outcome = keeper->keep(request);
    if (!outcome.kept) {
        return failed(outcome.problem, outcome.path);
    }
    guard.Log(fileLine(outcome.existing ? "Backup of the EEPROM already held in "
                                        : "Backup of the EEPROM saved in ",
                       outcome.path));
    return true;
}

// Writes the image and reports; `erase` selects the erase job's lines and codes. `source` is
// the file the image came from (empty for an erase), for the backup's record.
void writeJob(JobContext& guard, const EepromImage& image, bool erase, const std::string& source) {
    (void)guard.jobPrologue();
    if (!keepEepromBackup(guard, source)) {
        return;
    }
    const std::uint32_t result = writeEeprom(guard.link(), image);
    if (result == kEepromComplete) {
        guard.Log(erase ? "EEPROM ERASE - OK" : "EEPROM WRITE - OK");
        postFinal(guard,
                  erase ? "Erasing configuration EEprom succeeded."
                        : "Writing configuration EEprom succeeded.",
                  kStyleNormal);
        return;
    }
    guard.Log(
        erase ? formatLine("EEPROM ERASE ERROR (%8.8X)", static_cast<unsigned>(result | kEraseMark))
              : formatLine("EEPROM WRITE ERROR (%8.8X)", static_cast<unsigned>(result)));
    // A job the user broke off ends with its error line alone.
    if (!guard.link().breakRequested()) {
        postFinal(guard, erase ? "Erasing configuration EEprom failed." : kEepromWriteFailed,
                  kStyleError);
    }
}

} // namespace

void eepromReadJob(JobContext& guard, const GuardRecord& /*command*/) {
    readJob(guard, false);
}

void eepromViewJob(JobContext& guard, const GuardRecord& /*command*/) {
    readJob(guard, true);
}

void eepromWriteJob(JobContext& guard, const GuardRecord& /*command*/) {
    const std::string name = guard.eeLoadFileName();
    const LoadedFile file = loadFile(name, kEepromSize);
    if (!file.problem.empty()) {
        refuseLoadFile(guard, "EELoadFromFile - ", name, file.problem);
        return;
    }
    if (file.size != kEepromSize) {
        // Any other size would leave part of the EEPROM to whatever an earlier job left behind.
        guard.Log(logLineOf("EELoadFromFile - " + name + " - ERROR"));
        guard.Log(formatLine("EEPROM IMAGE FILE HOLDS %llu BYTES, NOT %u",
                             static_cast<unsigned long long>(file.size),
                             static_cast<unsigned>(kEepromSize)));
        postFinal(guard, kEepromWriteFailed, kStyleError);
        return;
    }
    EepromImage image{};
    std::copy(file.bytes.begin(), file.bytes.end(), image.begin());
    guard.Log(logLineOf("EELoadFromFile - " + name + " - OK"));
    writeJob(guard, image, false, name);
}

void eepromEraseJob(JobContext& guard, const GuardRecord& /*command*/) {
    EepromImage image;
    image.fill(0xFF);
    writeJob(guard, image, true, {});
}

void bootcodeJob(JobContext& guard, const GuardRecord& /*command*/) {
    const std::string name = guard.eeLoadFileName();
    const LoadedFile file = loadFile(name, kBootcodeMax);
    if (!file.problem.empty()) {
        refuseLoadFile(guard, "BootCodeLoadFromFile - ", name, file.problem);
        return;
    }
    if (file.size < kBootcodeMin) {
        postFinal(guard, "Error uploading MicroCode (bootcode) program too small.", kStyleError);
        return;
    }
    if (file.size > kBootcodeMax) {
        postFinal(guard, "Error uploading MicroCode (bootcode) program too large.", kStyleError);
        return;
    }
    guard.Log(logLineOf("BootCodeLoadFromFile - " + name + " - OK"));

    // Only the port is set up: the receiver is not reset, and no word transaction is made. A
    // port left at its power-on state would hold the interface in reset.
    if (!guard.portPrologue()) {
        guard.Log("BOOTCODE WRITE - ERROR");
        return;
    }
    Link& link = guard.link();
    std::atomic<std::int32_t>& pending = link.flags().pendingDepth;
    auto sendAcknowledged = [&](std::uint8_t byte) {
        pending.fetch_add(1);
        link.sendByte(byte);
        link.waitRxAck();
        pending.fetch_sub(1);
    };
    // The length goes where a word transaction's command byte goes.
    sendAcknowledged(static_cast<std::uint8_t>(file.bytes.size()));
    std::size_t sent = 0;
    for (const std::uint8_t byte : file.bytes) {
        if (link.breakRequested()) {
            break;
        }
        sendAcknowledged(byte);
        ++sent;
    }
    if (sent == file.bytes.size() && !link.breakRequested()) {
        guard.Log("BOOTCODE WRITE - OK");
        postFinal(guard, "Uploading MicroCode (bootcode) program succeeded.", kStyleNormal);
        return;
    }
    guard.Log("BOOTCODE WRITE - ERROR");
    if (!link.breakRequested()) {
        postFinal(guard, "Error uploading MicroCode (bootcode) program.", kStyleError);
    }
}

} // namespace corvex::link
