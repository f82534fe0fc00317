#include "backup/backup_folder.h"
#include "ctl_run.h"
#include "tests/link/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

namespace corvex::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// corvexctl on the simulated DSI185D kept in the folder, its backups in another.
struct Receiver {
    [[nodiscard]] CtlRun ctl(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--port", "sim", "--sim-dir", simDir, "--sim-option",
                                   "receiver=dsi", "--backup-dir", backups});
        return corvexctl(args);
    }
    [[nodiscard]] Bytes flash() const { return readBytes(simDir + "/flash.bin"); }
    [[nodiscard]] Bytes eeprom() const { return readBytes(simDir + "/eeprom.bin"); }
    [[nodiscard]] std::vector<backup::BackupRecord> kept() const {
        return backup::listBackups(backups).backups;
    }
    TempDir dir;
    std::string simDir = dir.file("receiver");
    std::string backups = dir.file("backups");
};

TEST(CorvexctlBackups, AWriteLeavesABackupThatListsAndRestoresTheFlashByteForByte) {
    Receiver receiver;
    ASSERT_EQ(receiver.ctl({"VERSION"}).status, 0);
    const Bytes before = receiver.flash();
    Bytes image = before;
    for (std::size_t offset = 0; offset < 0xC000; offset += 97) {
        image[offset] ^= 0xA5;
    }
    const std::string imageFile = receiver.dir.file("new.bin");
    writeBytes(imageFile, image);

    // The simulated flash lives in --sim-dir: each run loads what the one before it left.
    const CtlRun write = receiver.ctl({"--hardware", "1", "--areas", "SKIP", "--areas", "0-1:PGM",
                                       "--write-file", imageFile, "WFW"});
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_NE(write.out.find(" - Backup of the flash saved in "), std::string::npos) << write.out;
    EXPECT_EQ(receiver.flash(), image);
    ASSERT_EQ(receiver.kept().size(), 1U);
    const backup::BackupRecord kept = receiver.kept()[0];
    const CtlRun list = receiver.ctl({"--list-backups"});
    ASSERT_EQ(list.status, 0) << list.err;
    const std::string line = backup::shownTime(kept.time) +
                             "  flash  AM29F400BB  DSI185D  \"DSI185D V1.07 SIM\"  1048576  " +
                             kept.sha256.substr(0, 12) + "  " + kept.path + "\n";
    const auto total = fs::file_size(kept.path) + fs::file_size(backup::sidecarPathOf(kept.path));
    EXPECT_EQ(list.out,
              line + "1 backup, " + std::to_string(total) + " bytes in " + receiver.backups + "\n");

    // Another receiver type is refused before anything is written; --hardware 1 restores.
    const CtlRun wrongType = receiver.ctl({"--restore", kept.path});
    EXPECT_EQ(wrongType.status, 1);
    EXPECT_NE(wrongType.err.find(" not run: "), std::string::npos) << wrongType.err;
    EXPECT_EQ(receiver.flash(), image);
    const CtlRun restore = receiver.ctl({"--hardware", "1", "--restore", kept.path});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(receiver.flash(), before);
    EXPECT_EQ(receiver.kept().size(), 2U) << "the restore kept the flash it overwrote";
}

// EEERASE keeps the EEPROM it erases; the backup is written back by EEWRITE, and one altered
// since is refused before the port is opened.
TEST(CorvexctlBackups, AnEepromBackupRestoresUnlessItWasAltered) {
    Receiver receiver;
    Bytes content(2048);
    std::iota(content.begin(), content.end(), std::uint8_t{3});
    const std::string load = receiver.dir.file("load.bin");
    writeBytes(load, content);
    ASSERT_EQ(
        receiver.ctl({"--hardware", "1", "--no-backup", "--eeprom-load", load, "EEWRITE"}).status,
        0);
    const CtlRun erase = receiver.ctl({"--hardware", "1", "EEERASE"});
    ASSERT_EQ(erase.status, 0) << erase.out << erase.err;
    EXPECT_NE(erase.out.find(" - Backup of the EEPROM saved in "), std::string::npos) << erase.out;
    EXPECT_EQ(receiver.eeprom(), Bytes(2048, 0xFF));
    ASSERT_EQ(receiver.kept().size(), 1U);
    const backup::BackupRecord kept = receiver.kept()[0];
    EXPECT_EQ(std::tie(kept.kind, kept.hardware, kept.image), std::tuple("eeprom", 1U, ""));
    const CtlRun restore = receiver.ctl({"--hardware", "1", "--restore", kept.path});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(receiver.eeprom(), content);
    content[7] ^= 0xFF;
    writeBytes(kept.path, content);
    const CtlRun refused = receiver.ctl({"--hardware", "1", "--restore", kept.path});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "corvexctl: --restore " + kept.path +
                               " refused: SHA-256 mismatch: the content is not what its sidecar "
                               "records\n");
    EXPECT_EQ(refused.out, "") << "no port, no job";
}

TEST(CorvexctlBackups, WithoutABackupNothingIsWrittenUnlessNoBackupIsAsked) {
    Receiver receiver;
    ASSERT_EQ(receiver.ctl({"VERSION"}).status, 0);
    const Bytes before = receiver.flash();
    Bytes image = before;
    image[5] ^= 0xFF;
    const std::string imageFile = receiver.dir.file("new.bin");
    writeBytes(imageFile, image);
    writeBytes(receiver.backups, {1, 2, 3}); // a file where the folder should be
    const std::vector<std::string> write = {
        "--hardware", "1", "--areas", "SKIP", "--areas", "0:PGM", "--write-file", imageFile, "WFW"};
    EXPECT_EQ(receiver.ctl(write).status, 1);
    EXPECT_EQ(receiver.flash(), before);
    std::vector<std::string> unguarded = write;
    unguarded.insert(unguarded.begin(), "--no-backup");
    ASSERT_EQ(receiver.ctl(unguarded).status, 0);
    EXPECT_EQ(receiver.flash(), image);
}

} // namespace
} // namespace corvex::test
