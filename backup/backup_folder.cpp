#include "backup/backup_folder.h"

#include "backup/sha256.h"
#include "link/guard/program_files.h"
#include "link/jobs/firmware_read.h"
#include "link/jobs/job_files.h"
#include "link/jobs/replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvex::backup {

namespace fs = std::filesystem;

namespace {

// A sidecar is one short line; anything much larger is not one of ours.
constexpr std::uint64_t kSidecarLimit = 64 * 1024;
// Larger than any flash the program drives.
constexpr std::uint64_t kContentLimit = 64 * 1024 * 1024;

std::string systemText(int error) {
    return std::strerror(error);
}

// The whole file as it is on the disk: the pages a save has just flushed are dropped from the
// cache first, so the read really comes from the disk and not from memory.
std::optional<std::vector<std::uint8_t>> readFromDisk(const std::string& path, std::uint64_t limit,
                                                      std::string& error) {
    link::InputFile in = link::openInputFile(path);
    if (!in.problem.empty()) {
        error = in.problem;
        return std::nullopt;
    }
    if (in.size > limit) {
        error = "larger than any backup (" + std::to_string(in.size) + " bytes)";
        return std::nullopt;
    }
    (void)::posix_fadvise(in.file.fd(), 0, 0, POSIX_FADV_DONTNEED);
    std::vector<std::uint8_t> bytes(in.size);
    const ssize_t got = link::readAt(in.file.fd(), bytes.data(), bytes.size(), 0);
    if (got != static_cast<ssize_t>(bytes.size())) {
        error = link::readErrorProblem(got < 0 ? errno : EIO);
        return std::nullopt;
    }
    return bytes;
}

std::string isoTime(const std::tm& local) {
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string time(text);
    if (time.size() == 24) {
        time.insert(22, ":"); // +0100 as +01:00
    }
    return time;
}

bool sameBackup(const BackupRecord& a, const BackupRecord& b) {
    return a.kind == b.kind && a.hardware == b.hardware && a.signature == b.signature &&
           a.sha256 == b.sha256 && a.size == b.size;
}

} // namespace

BackupFolder::BackupFolder(std::string dir)
    : m_dir(std::move(dir)), m_clock([] { return std::time(nullptr); }) {}

std::string BackupFolder::path() const {
    return m_dir.empty() ? link::userDataFolder("backups") : m_dir;
}

std::string prepareFolder(const std::string& dir) {
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0) {
        std::error_code error;
        fs::create_directories(fs::path(dir).parent_path(), error);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            return "the backup folder cannot be made (" + systemText(errno) + ")";
        }
        if (::stat(dir.c_str(), &info) != 0) {
            return "the backup folder cannot be made (" + systemText(errno) + ")";
        }
    }
    if (!S_ISDIR(info.st_mode)) {
        return "the backup folder is not a folder";
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        return "the backup folder is not writable (" + systemText(errno) + ")";
    }
    return {};
}

link::BackupOutcome BackupFolder::prepare() {
    link::BackupOutcome outcome;
    outcome.path = path();
    outcome.problem = prepareFolder(outcome.path);
    outcome.kept = outcome.problem.empty();
    return outcome;
}

link::BackupOutcome BackupFolder::keep(const link::BackupRequest& request) {
    link::BackupOutcome outcome;
    const std::string dir = path();
    outcome.path = dir;
    if (std::string problem = prepareFolder(dir); !problem.empty()) {
        outcome.problem = std::move(problem);
        return outcome;
    }

    BackupRecord record;
    const bool flash = request.kind == link::BackupKind::Flash;
    record.kind = flash ? kKindFlash : kKindEeprom;
    record.hardware = hardwareSelection(request.hardwareType, request.flashBase);
    record.receiver = receiverName(record.hardware);
    record.signature = request.signature;
    record.chip = chipOf(request.signature);
    if (flash) {
        record.firmware = link::findFirmwareName(request.content).value_or("Unknown Firmware");
    }
    record.size = request.content.size();
    record.sha256 = sha256Hex(request.content);
    record.image = request.image;

    // The same content of the same receiver is kept once: an earlier backup of it serves, if it
    // still reads back whole.
    for (const BackupRecord& earlier : listBackups(dir).backups) {
        if (sameBackup(earlier, record) && loadBackup(earlier.path).problem.empty()) {
            outcome.kept = true;
            outcome.existing = true;
            outcome.path = earlier.path;
            return outcome;
        }
    }

    const std::time_t now = m_clock();
    std::tm local{};
    localtime_r(&now, &local);
    record.time = isoTime(local);
    const std::string file = (fs::path(dir) / backupFileName(record, local)).string();
    const std::string sidecar = sidecarPathOf(file);
    outcome.path = file;
    // A backup that did not come out whole is no backup: neither file is left behind.
    auto fail = [&](std::string problem) {
        (void)::unlink(sidecar.c_str());
        (void)::unlink(file.c_str());
        outcome.problem = std::move(problem);
        return outcome;
    };
    if (const auto error = link::replaceFileContents(file, request.content)) {
        return fail("the backup cannot be saved (" + *error + ")");
    }
    std::string error;
    const auto content = readFromDisk(file, kContentLimit, error);
    if (!content || !std::equal(content->begin(), content->end(), request.content.begin(),
                                request.content.end())) {
        return fail("the backup does not read back as saved" +
                    (error.empty() ? std::string() : " (" + error + ")"));
    }
    const std::string text = sidecarText(record);
    if (const auto failure = link::replaceFileContents(
            sidecar, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))) {
        return fail("the backup's sidecar cannot be saved (" + *failure + ")");
    }
    const auto line = readFromDisk(sidecar, kSidecarLimit, error);
    if (!line || std::string(line->begin(), line->end()) != text) {
        return fail("the backup's sidecar does not read back as saved" +
                    (error.empty() ? std::string() : " (" + error + ")"));
    }
    outcome.kept = true;
    return outcome;
}

BackupList listBackups(const std::string& dir) {
    BackupList list;
    std::error_code error;
    fs::directory_iterator entries(dir, error);
    if (error) {
        list.problem = "the backup folder cannot be read (" + error.message() + ")";
        return list;
    }
    std::vector<std::pair<std::int64_t, BackupRecord>> found; // sidecar written (ns), record
    for (const fs::directory_entry& entry : entries) {
        std::error_code ignored;
        if (!entry.is_regular_file(ignored)) {
            continue;
        }
        list.totalBytes += entry.file_size(ignored);
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(".json")) {
            continue;
        }
        std::string problem;
        const auto text = readFromDisk(entry.path().string(), kSidecarLimit, problem);
        std::optional<BackupRecord> record;
        if (text) {
            record = parseSidecar(
                std::string_view(reinterpret_cast<const char*>(text->data()), text->size()),
                problem);
        }
        if (!record) {
            list.problems.push_back(entry.path().string() + ": " + problem);
            continue;
        }
        std::string path = entry.path().string();
        path.resize(path.size() - 5);
        record->path = path + ".bin";
        // The stored time has whole seconds; a write and the restore of its backup can share
        // one. The sidecar's own modification time tells such backups apart.
        struct stat status {};
        const std::int64_t written =
            ::stat(entry.path().c_str(), &status) == 0
                ? std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec
                : 0;
        found.emplace_back(written, std::move(*record));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        const BackupRecord& x = a.second;
        const BackupRecord& y = b.second;
        if (x.time != y.time) {
            return x.time > y.time;
        }
        return a.first != b.first ? a.first > b.first : x.path > y.path;
    });
    for (auto& [written, record] : found) {
        list.backups.push_back(std::move(record));
    }
    std::sort(list.problems.begin(), list.problems.end());
    return list;
}

LoadedBackup loadBackup(const std::string& path) {
    LoadedBackup loaded;
    std::string file = path;
    if (file.ends_with(".json")) {
        file.resize(file.size() - 5);
        file += ".bin";
    }
    std::string error;
    const auto text = readFromDisk(sidecarPathOf(file), kSidecarLimit, error);
    if (!text) {
        loaded.problem = "its sidecar " + sidecarPathOf(file) + ": " + error;
        return loaded;
    }
    auto record = parseSidecar(
        std::string_view(reinterpret_cast<const char*>(text->data()), text->size()), error);
    if (!record) {
        loaded.problem = error;
        return loaded;
    }
    record->path = file;
    loaded.record = std::move(*record);
    auto content = readFromDisk(file, kContentLimit, error);
    if (!content) {
        loaded.problem = error;
        return loaded;
    }
    if (content->size() != loaded.record.size || sha256Hex(*content) != loaded.record.sha256) {
        loaded.problem = "SHA-256 mismatch: the content is not what its sidecar records";
        return loaded;
    }
    loaded.content = std::move(*content);
    return loaded;
}

} // namespace corvex::backup
