#include "backup/backup_folder.h"
#include "backup/restore_check.h"
#include "backup/sha256.h"
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace corvex::test {
namespace {

namespace fs = std::filesystem;
using backup::BackupFolder;

constexpr std::time_t kDecember7 = 1796654102; // 2026-12-07 14:35:02 UTC

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return bytes;
}

link::BackupRequest flashRequest(const std::vector<std::uint8_t>& content) {
    link::BackupRequest request;
    request.kind = link::BackupKind::Flash;
    request.content = content;
    request.hardwareType = 0;
    request.flashBase = 0x7FE00000;
    request.areaCount = 19;
    request.signature = "AMD: AM29LV800BB";
    request.image = "/tmp/new.bin";
    return request;
}

std::vector<std::string> backupFiles(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class UtcClock : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TZ", "UTC", 1), ::tzset(); }
    void TearDown() override { ::unsetenv("TZ"), ::tzset(); }
};

using BackupFolderTest = UtcClock;

TEST(Sha256, GivesTheStandardDigest) {
    EXPECT_EQ(backup::sha256Hex(std::string_view("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(BackupFolderTest, KeepsAVerifiedCopyNamedAfterWhenWhatAndWhichReceiver) {
    TempDir dir;
    const std::string folder = dir.file("new/backups");
    BackupFolder backups(folder);
    backups.setClock([] { return kDecember7; });
    const auto content = pattern(4096, 1);
    const link::BackupOutcome outcome = backups.keep(flashRequest(content));
    ASSERT_TRUE(outcome.kept) << outcome.problem;
    EXPECT_FALSE(outcome.existing);
    const std::string sha = backup::sha256Hex(content);
    const std::string name = "20261207-143502-flash-AM29LV800BB-DSX6071-" + sha.substr(0, 12);
    EXPECT_EQ(outcome.path, folder + "/" + name + ".bin");
    EXPECT_EQ(backupFiles(folder), (std::vector<std::string>{name + ".bin", name + ".json"}));
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);
    const backup::LoadedBackup loaded = backup::loadBackup(outcome.path);
    ASSERT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.content, content);
    const backup::BackupRecord& r = loaded.record;
    EXPECT_EQ(std::tie(r.time, r.kind, r.receiver, r.signature, r.firmware, r.sha256, r.image),
              std::tuple("2026-12-07T14:35:02+00:00", "flash", "DSX6071", "AMD: AM29LV800BB",
                         "Unknown Firmware", sha, "/tmp/new.bin"));
    EXPECT_EQ(r.size, 4096U);
    const auto sidecar = readBytes(folder + "/" + name + ".json");
    EXPECT_LE(std::count(sidecar.begin(), sidecar.end(), '\n'), 1) << "the sidecar is one line";
}

// The same content is kept once, unless its earlier backup no longer reads back whole.
TEST_F(BackupFolderTest, TheSameContentIsKeptOnceWhileItsBackupReadsBackWhole) {
    TempDir dir;
    BackupFolder backups(dir.path().string());
    std::time_t now = kDecember7;
    backups.setClock([&] { return now++; });
    const auto content = pattern(4096, 1);
    const link::BackupOutcome first = backups.keep(flashRequest(content));
    const link::BackupOutcome again = backups.keep(flashRequest(content));
    EXPECT_TRUE(again.kept && again.existing);
    EXPECT_EQ(again.path, first.path);
    {
        std::fstream file(first.path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(10);
        file.put('\x55');
    }
    const link::BackupOutcome replaced = backups.keep(flashRequest(content));
    EXPECT_TRUE(replaced.kept && !replaced.existing);
    EXPECT_NE(replaced.path, first.path);
}

TEST_F(BackupFolderTest, AFolderThatCannotTakeTheBackupRefusesItAndLeavesNoPart) {
    TempDir dir;
    { std::ofstream(dir.file("plain")) << "a file"; }
    const auto content = pattern(256 * 1024, 3);
    EXPECT_EQ(BackupFolder(dir.file("plain")).keep(flashRequest(content)).problem,
              "the backup folder is not a folder");
    ASSERT_EQ(::mkdir(dir.file("locked").c_str(), 0500), 0);
    if (::geteuid() != 0) { // root writes anyway
        EXPECT_NE(BackupFolder(dir.file("locked"))
                      .keep(flashRequest(content))
                      .problem.find("not writable"),
                  std::string::npos);
    }

    // A full disk: writes past 64 KiB fail as they would on a full file system.
    const std::string full = dir.file("full");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const link::BackupOutcome outcome = BackupFolder(full).keep(flashRequest(content));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(outcome.kept);
    EXPECT_EQ(outcome.problem, "the backup cannot be saved (File too large)");
    EXPECT_TRUE(backupFiles(full).empty()) << "no part file, no half backup";
}

TEST_F(BackupFolderTest, ABackupAlteredByHandIsRefusedWithItsReason) {
    struct Row {
        const char* what;
        std::function<void(const std::string& bin, const std::string& json)> alter;
        const char* problem;
    };
    const auto replaceInFile = [](const std::string& file, const std::string& from,
                                  const std::string& to) {
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        text.replace(text.find(from), from.size(), to);
        std::ofstream(file, std::ios::trunc) << text;
    };
    const std::vector<Row> rows = {
        {"one byte of the content",
         [](const std::string& bin, const std::string&) {
             std::fstream file(bin, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(100);
             file.put('\x01');
         },
         "SHA-256 mismatch: the content is not what its sidecar records"},
        {"the content cut short",
         [](const std::string& bin, const std::string&) { fs::resize_file(bin, 1000); },
         "SHA-256 mismatch: the content is not what its sidecar records"},
        {"the receiver in the sidecar",
         [&](const std::string&, const std::string& json) {
             replaceInFile(json, "\"hardware\":0", "\"hardware\":1");
         },
         "SHA-256 mismatch: the sidecar was altered since the backup was made"},
        {"the sidecar's content digest",
         [&](const std::string&, const std::string& json) {
             replaceInFile(json, "\"sha256\":\"", "\"sha256\":\"0");
         },
         "SHA-256 mismatch: the sidecar was altered since the backup was made"},
        {"a sidecar that is not JSON",
         [](const std::string&, const std::string& json) {
             std::ofstream(json, std::ios::trunc) << "{\"kind\": ";
         },
         "not a backup sidecar (no JSON object)"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        const auto content = pattern(4096, 5);
        const link::BackupOutcome kept =
            BackupFolder(dir.path().string()).keep(flashRequest(content));
        ASSERT_TRUE(kept.kept);
        row.alter(kept.path, backup::sidecarPathOf(kept.path));
        EXPECT_EQ(backup::loadBackup(kept.path).problem, row.problem) << row.what;
    }
    TempDir dir;
    EXPECT_NE(backup::loadBackup(dir.file("none.bin")).problem.find("none.json"),
              std::string::npos);
}

TEST_F(BackupFolderTest, TheListIsNewestFirstAndCountsEveryFileOfTheFolder) {
    TempDir dir;
    BackupFolder backups(dir.path().string());
    std::time_t now = kDecember7;
    backups.setClock([&] { return now; });
    const auto older = pattern(4096, 1);
    const auto newer = pattern(2048, 2);
    ASSERT_TRUE(backups.keep(flashRequest(older)).kept);
    now += 3600;
    link::BackupRequest eeprom = flashRequest(newer);
    eeprom.kind = link::BackupKind::Eeprom;
    eeprom.hardwareType = 1;
    eeprom.flashBase = 0xC0000000;
    ASSERT_TRUE(backups.keep(eeprom).kept);
    std::ofstream(dir.file("notes.json")) << "my notes";
    const backup::BackupList list = backup::listBackups(dir.path().string());
    ASSERT_EQ(list.backups.size(), 2U);
    EXPECT_EQ(list.backups[0].kind, "eeprom");
    EXPECT_EQ(list.backups[0].receiver, "DSI185D-CL");
    EXPECT_EQ(backup::shownTime(list.backups[0].time), "2026-12-07 15:35:02");
    EXPECT_EQ(list.backups[1].kind, "flash");
    ASSERT_EQ(list.problems.size(), 1U);
    EXPECT_NE(list.problems[0].find("notes.json"), std::string::npos);
    EXPECT_EQ(list.totalBytes, 4096U + 2048U + 8U +
                                   fs::file_size(backup::sidecarPathOf(list.backups[0].path)) +
                                   fs::file_size(backup::sidecarPathOf(list.backups[1].path)));
}

// A write and the restore of its backup can fall in one second: "newest first" must still
// name the later backup first, whatever the content hashes in the names.
TEST_F(BackupFolderTest, BackupsOfTheSameSecondListInTheOrderTheyWereMade) {
    TempDir dir;
    BackupFolder backups(dir.path().string());
    backups.setClock([] { return kDecember7; });
    for (std::uint8_t seed = 1; seed <= 4; ++seed) {
        const auto content = pattern(1024, seed);
        ASSERT_TRUE(backups.keep(flashRequest(content)).kept);
        // Past the file system's clock step, so that the files' own times tell them apart.
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    const backup::BackupList list = backup::listBackups(dir.path().string());
    ASSERT_EQ(list.backups.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.backups[i].sha256,
                  backup::sha256Hex(pattern(1024, static_cast<std::uint8_t>(4 - i))))
            << "place " << i;
    }
}

TEST(RestoreRefusal, ABackupGoesOnlyToTheReceiverTypeAndChipItWasReadFrom) {
    backup::BackupRecord dsx;
    dsx.kind = backup::kKindFlash;
    dsx.hardware = 0;
    dsx.receiver = "DSX6071";
    dsx.signature = "AMD: AM29LV800BB";
    struct Row {
        unsigned selection;
        std::string signature;
        std::string backupSignature;
        std::string refusal;
    };
    const std::vector<Row> rows = {
        {0, "AMD: AM29LV800BB", "AMD: AM29LV800BB", ""},
        {1, "AMD: AM29LV800BB", "AMD: AM29LV800BB",
         "the backup is of a DSX6071 (hardware 0), the receiver is driven as a DSI185D "
         "(hardware 1)"},
        {0, "AMD: AM29LV800BT", "AMD: AM29LV800BB",
         "the backup was read from \"AMD: AM29LV800BB\", the receiver has \"AMD: AM29LV800BT\""},
        {0, "", "AMD: AM29LV800BB", "the receiver's chip is not known (read its signature first)"},
        {0, "AMD: AM29LV800BB", "", "the backup does not say which chip it was read from"},
    };
    for (const Row& row : rows) {
        dsx.signature = row.backupSignature;
        EXPECT_EQ(backup::restoreRefusal(dsx, row.selection, row.signature), row.refusal);
    }
    // The EEPROM holds the receiver's settings: any receiver of the type takes them.
    dsx.kind = backup::kKindEeprom;
    dsx.signature.clear();
    EXPECT_EQ(backup::restoreRefusal(dsx, 0, ""), "");
    EXPECT_NE(backup::restoreRefusal(dsx, 1, "AMD: AM29LV800BB"), "");
}

} // namespace
} // namespace corvex::test
