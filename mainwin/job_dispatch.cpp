#include "job_dispatch.h"

#include <filesystem>

namespace corvex::mainwin {

namespace {

constexpr FileDialogSpec kSaveFirmware{"Save readed firmware as ...", "Binary Firmware files|*.bin",
                                       true};
constexpr FileDialogSpec kOpenFirmware{"Select firmware to program ...",
                                       "Binary Firmware files|*.bin", false};
constexpr FileDialogSpec kSaveConfig{"Save readed configuration EEprom as ...",
                                     "Binary EEprom files|*.bin", true};
constexpr FileDialogSpec kOpenConfig{"Select configuration EEprom to program ...",
                                     "Binary EEprom files|*.bin", false};
constexpr FileDialogSpec kOpenBootcode{"Select bootcode program ...", "Bootcode files|*.bin",
                                       false};
constexpr FileDialogSpec kOpenImage{"Select firmware image ...", "Binary Firmware files|*.bin",
                                    false};

constexpr std::string_view kReadingConfig = "Reading configuration EEprom, please wait ...";

// In the order of Job.
const std::array<JobSpec, kJobCount> kJobs{{
    {.command = "SIGNATURE", .waitText = "Reading signature, please wait ...", .flashPage = true},
    {.command = "RFW",
     .waitText = "Reading firmware, please wait ...",
     .file = FileKind::ReadFirmware,
     .dialog = kSaveFirmware,
     .setter = FileSetter::ReadFile,
     .flashPage = true,
     .resetAreas = true,
     .mapBusy = true},
    {.command = "PFW",
     .waitText = "Preview writing firmware, please wait ...",
     .file = FileKind::WriteFirmware,
     .dialog = kOpenFirmware,
     .setter = FileSetter::WriteFile,
     .sendsFile = true,
     .flashPage = true,
     .mapBusy = true},
    {.command = "WFW",
     .waitText = "Writing firmware, please wait ...",
     .file = FileKind::WriteFirmware,
     .dialog = kOpenFirmware,
     .setter = FileSetter::WriteFile,
     .sendsFile = true,
     .flashPage = true,
     .mapBusy = true},
    {.command = "EEREAD",
     .waitText = kReadingConfig,
     .file = FileKind::ReadConfig,
     .dialog = kSaveConfig,
     .setter = FileSetter::EESaveFile},
    {.command = "EEVIEW",
     .waitText = kReadingConfig,
     .file = FileKind::ReadConfig,
     .dialog = kSaveConfig,
     .setter = FileSetter::EESaveFile},
    {.command = "EEWRITE",
     .waitText = "Writing configutation EEprom, please wait ...",
     .file = FileKind::WriteConfig,
     .dialog = kOpenConfig,
     .setter = FileSetter::EELoadFile,
     .sendsFile = true},
    {.command = "EEERASE", .waitText = "Erasing configutation EEprom, please wait ..."},
    {.command = "RST", .waitText = "Reset Corvex Interface."},
    {.command = "IPRIO", .waitText = "Set Corvex Guard to use CPU Idle priority."},
    {.command = "HPRIO", .waitText = "Set Corvex Guard to use CPU High priority."},
    {.command = "BOOTCODE",
     .waitText = "Uploading MicroCode (bootcode) program, please wait ...",
     .file = FileKind::BootCode,
     .dialog = kOpenBootcode,
     .setter = FileSetter::EELoadFile,
     .sendsFile = true},
}};

// In the order of FileKind.
const std::array<DefaultFileSpec, kFileKinds> kDefaultFiles{{
    {"Read Firmware File",
     {"When \"Read Firmware\" save file as ...", "Binary firmware files (*.bin)|*.BIN", false}},
    {"Write Firmware File",
     {"When \"Write Firmware\" use file ...", "Binary firmware files (*.bin)|*.BIN", false}},
    {"Read Configuration File",
     {"When \"Read Configuration\" save file as ...", "Binary configuration file (*.bin)|*.BIN",
      false}},
    {"Write Configuration File",
     {"When \"Write Configuration\" use file ...", "Binary configuration file (*.bin)|*.BIN",
      false}},
    {"Upload MicroCode File",
     {"When \"Upload Microcode File\" use file ...", "Binary bootcode file (*.bin)|*.BIN", false}},
}};

} // namespace

const JobSpec& jobSpec(Job job) {
    return kJobs.at(static_cast<std::size_t>(job));
}

const DefaultFileSpec& defaultFileSpec(FileKind kind) {
    return kDefaultFiles.at(static_cast<std::size_t>(kind));
}

bool DispatchHost::fileExists(const std::string& path) const {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string JobDispatch::fileFor(const JobSpec& entry, bool& cancelled) {
    const FileKind kind = *entry.file;
    // A default file that has gone since it was chosen is passed over: the dialog asks instead.
    if (const std::string& preset = m_settings.defaultFile(kind);
        !preset.empty() && m_host.fileExists(preset)) {
        return preset;
    }
    std::optional<std::string> chosen = m_host.chooseFile(entry.dialog, m_settings.lastFile(kind));
    cancelled = !chosen || chosen->empty();
    return cancelled ? std::string() : *chosen;
}

DispatchResult JobDispatch::dispatch(Job job) {
    return dispatchJob(job, nullptr);
}

DispatchResult JobDispatch::dispatchWithFile(Job job, const std::string& file) {
    return dispatchJob(job, &file);
}

DispatchResult JobDispatch::dispatchJob(Job job, const std::string* given) {
    const JobSpec& entry = jobSpec(job);
    m_feedback.removeHintHandler();
    if (entry.flashPage) {
        m_host.showFlashPage();
    }
    // The running job reads its file name when it gets there (the read job only at its end),
    // so a name set now would send its data elsewhere.
    if (m_guard != nullptr && m_guard->refuseWhileBusy(link::GuardRecord::command(entry.command))) {
        return DispatchResult::Refused;
    }
    if (job == Job::ReadFirmware && m_areas.readSavesNothing()) {
        // Asked before the file: the read would report success and leave no file behind.
        m_host.showMessage({"Warning", std::string(kNothingToRead), BoxKind::Warning});
        return DispatchResult::NothingToRead;
    }
    std::string file;
    if (entry.file) {
        bool cancelled = false;
        file = given != nullptr ? *given : fileFor(entry, cancelled);
        if (cancelled) {
            return DispatchResult::Cancelled;
        }
        if (entry.sendsFile && !m_host.fileExists(file)) {
            m_host.showMessage(
                {"Error", "Operation failed.\rFile (" + file + ") not found.", BoxKind::Error});
            return DispatchResult::FileMissing;
        }
        if (given == nullptr) {
            m_settings.lastFile(*entry.file) = file;
        }
    }
    if (entry.resetAreas) {
        m_areas.resetAreaStatus();
    }
    const bool wasBusy = m_feedback.mapBusy();
    if (entry.mapBusy) {
        m_feedback.setMapBusy(true);
    }
    m_feedback.showWait(entry.waitText);
    const auto command = link::GuardRecord::command(entry.command);
    const bool accepted =
        m_guard != nullptr &&
        (entry.file ? m_guard->Submit(command, entry.setter, file) : m_guard->Submit(command)) >= 0;
    if (!accepted) {
        // No final report will come to clear the mark: the map would refuse clicks for good.
        m_feedback.setMapBusy(wasBusy);
        return DispatchResult::Refused;
    }
    return DispatchResult::Submitted;
}

int JobDispatch::selectHardware(int type) {
    return m_areas.submitHardwareType(type, [this](const link::GuardRecord& command) {
        return m_guard != nullptr ? m_guard->Submit(command) : -1;
    });
}

std::string JobDispatch::defaultFileCaption(FileKind kind) const {
    const std::string& file = m_settings.defaultFiles[static_cast<std::size_t>(kind)];
    if (file.empty()) {
        return std::string(kind == FileKind::BootCode ? kNoBootcodeSpecified : kNoFileSpecified);
    }
    std::string caption;
    for (const char c : file) {
        caption += c;
        if (c == '&') {
            caption += '&';
        }
    }
    return caption;
}

void JobDispatch::chooseDefaultFile(FileKind kind) {
    std::string& file = m_settings.defaultFile(kind);
    const std::optional<std::string> chosen = m_host.chooseFile(defaultFileSpec(kind).dialog, file);
    file = chosen ? *chosen : std::string();
}

bool JobDispatch::openChannelEditor(ChannelMode mode, std::string& file) {
    if (!channelEditorEnabled(mode)) {
        return false;
    }
    // Only a read of this run: the path the settings keep from an earlier run may name
    // another receiver's firmware, or a file that was never written.
    file = m_feedback.lastFirmwareRead();
    if (file.empty()) {
        if (!m_host.showMessage({"Information", std::string(kNoFirmwareRead), BoxKind::Question})) {
            return false;
        }
        std::optional<std::string> chosen =
            m_host.chooseFile(kOpenImage, m_settings.lastFile(FileKind::ReadFirmware));
        if (!chosen || chosen->empty()) {
            return false;
        }
        file = std::move(*chosen);
    }
    m_channelMode = mode;
    return true;
}

} // namespace corvex::mainwin
