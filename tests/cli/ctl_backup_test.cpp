#include "backup/backup_folder.h"
#include "cli/ctl_session.h"
#include "tests/link/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace corvex::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct CtlResult {
    int status;
    std::string out;
    std::string err;
};

// corvexctl on the simulated DSI185D kept in the folder, its backups in another.
struct Receiver {
    CtlResult ctl(std::vector<std::string> args) const {
        std::vector<std::string> all = {"--port",       "sim",          "--sim-dir",    simDir,
                                        "--sim-option", "receiver=dsi", "--backup-dir", backups};
        all.insert(all.end(), args.begin(), args.end());
        const std::vector<std::string_view> views(all.begin(), all.end());
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli::runCorvexctl(views, out, err);
        return {status, out.str(), err.str()};
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
    const CtlResult write =
        receiver.ctl({"--hardware", "1", "--areas", "SKIP", "--areas", "0-1:PGM", "--write-file",
                      imageFile, "--verbose", "WFW"});
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_NE(write.out.find("AREA  1 Programmed - OK"), std::string::npos) << write.out;
    EXPECT_NE(write.out.find(" - Backup of the flash saved in "), std::string::npos) << write.out;
    EXPECT_EQ(receiver.flash(), image);
    ASSERT_EQ(receiver.kept().size(), 1U);
    const backup::BackupRecord kept = receiver.kept()[0];
    EXPECT_EQ(kept.chip, "AM29F400BB");
    EXPECT_EQ(kept.image, imageFile);

    const CtlResult list = receiver.ctl({"--list-backups"});
    ASSERT_EQ(list.status, 0) << list.err;
    const std::string line = backup::shownTime(kept.time) +
                             "  flash  AM29F400BB  DSI185D  \"DSI185D V1.07 SIM\"  1048576  " +
                             kept.sha256.substr(0, 12) + "  " + kept.path + "\n";
    const auto total = fs::file_size(kept.path) + fs::file_size(backup::sidecarPathOf(kept.path));
    EXPECT_EQ(list.out,
              line + "1 backup, " + std::to_string(total) + " bytes in " + receiver.backups + "\n");

    // Another receiver type is refused before anything is written; --hardware 1 restores.
    const CtlResult wrongType = receiver.ctl({"--restore", kept.path});
    EXPECT_EQ(wrongType.status, 1);
    EXPECT_NE(wrongType.err.find(" not run: "), std::string::npos) << wrongType.err;
    EXPECT_EQ(receiver.flash(), image);
    const CtlResult restore = receiver.ctl({"--hardware", "1", "--restore", kept.path});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(receiver.flash(), before);
    EXPECT_EQ(receiver.kept().size(), 2U) << "the restore kept the flash it overwrote";
}

TEST(CorvexctlBackups, AnAlteredBackupIsRefusedBeforeThePortIsOpened) {
    Receiver receiver;
    ASSERT_EQ(receiver.ctl({"VERSION"}).status, 0);
    backup::BackupFolder folder(receiver.backups);
    const Bytes content(2048, 0x42);
    link::BackupRequest request;
    request.kind = link::BackupKind::Eeprom;
    request.content = content;
    request.hardwareType = 1;
    request.flashBase = 0x7FF00000;
    const link::BackupOutcome outcome = folder.keep(request);
    ASSERT_TRUE(outcome.kept);
    Bytes altered = content;
    altered[7] = 0;
    writeBytes(outcome.path, altered);
    const CtlResult restore = receiver.ctl({"--hardware", "1", "--restore", outcome.path});
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.err, "corvexctl: --restore " + outcome.path +
                               " refused: SHA-256 mismatch: the content is not what its sidecar "
                               "records\n");
    EXPECT_EQ(restore.out, "") << "no port, no job";
}

TEST(CorvexctlBackups, EepromWritesAreBackedUpAndTheBackupWritesTheEepromBack) {
    Receiver receiver;
    Bytes pattern(2048);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<std::uint8_t>(i * 11 + 3);
    }
    const std::string load = receiver.dir.file("eeprom-new.bin");
    writeBytes(load, pattern);
    ASSERT_EQ(receiver.ctl({"--hardware", "1", "--eeprom-load", load, "EEWRITE"}).status, 0);
    const CtlResult erase = receiver.ctl({"--hardware", "1", "EEERASE"});
    ASSERT_EQ(erase.status, 0) << erase.out;
    EXPECT_NE(erase.out.find(" - Backup of the EEPROM saved in "), std::string::npos);
    EXPECT_EQ(receiver.eeprom(), Bytes(2048, 0xFF));
    const auto kept = receiver.kept();
    ASSERT_EQ(kept.size(), 2U);
    EXPECT_EQ(kept[0].kind, "eeprom");
    const CtlResult restore = receiver.ctl({"--hardware", "1", "--restore", kept[0].path});
    ASSERT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(receiver.eeprom(), pattern);

    // The next run finds in the EEPROM what this one wrote, and views it.
    const std::string readBack = receiver.dir.file("read-back.bin");
    const CtlResult view = receiver.ctl({"--hardware", "1", "--eeprom-save", readBack, "EEVIEW"});
    ASSERT_EQ(view.status, 0) << view.out << view.err;
    EXPECT_NE(view.out.find("MESSAGE 12 " + readBack + "\n"), std::string::npos) << view.out;
    EXPECT_EQ(readBytes(readBack), pattern);
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
    const CtlResult refused = receiver.ctl(write);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("MESSAGE 5 Backup failed: the backup folder is not a folder\n"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(receiver.flash(), before);

    std::vector<std::string> unguarded = write;
    unguarded.insert(unguarded.begin(), "--no-backup");
    ASSERT_EQ(receiver.ctl(unguarded).status, 0);
    EXPECT_EQ(receiver.flash(), image);
}

TEST(CorvexctlBackups, TheBackupOptionsGoWithTheirOwnKindOfRun) {
    for (const std::vector<std::string_view>& args : {
             std::vector<std::string_view>{"--list-backups", "RFW"},
             std::vector<std::string_view>{"--restore", "x.bin", "WFW"},
             std::vector<std::string_view>{"--restore", "x.bin", "--areas", "PGM"},
             std::vector<std::string_view>{"--restore", "x.bin", "--write-file", "y.bin"},
         }) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(cli::runCorvexctl(args, out, err), 2) << args[0] << ' ' << args[2];
    }
}

} // namespace
} // namespace corvex::test
