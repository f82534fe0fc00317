#include "backup/backup_folder.h"
#include "mainwin/restore_model.h"
#include "tests/link/temp_dir.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using mainwin::RestoreModel;

link::BackupOutcome keep(backup::BackupFolder& folder, link::BackupKind kind, std::uint8_t fill,
                         std::uint32_t hardwareType = 0) {
    const std::vector<std::uint8_t> content(kind == link::BackupKind::Flash ? 8192 : 2048, fill);
    link::BackupRequest request;
    request.kind = kind;
    request.content = content;
    request.hardwareType = hardwareType;
    request.flashBase = hardwareType == 0 ? 0x7FE00000 : 0x7FF00000;
    request.signature = "AMD: AM29LV800BB";
    return folder.keep(request);
}

TEST(RestoreModel, ListsTheBackupsOfItsKindNewestFirstAndSaysWhenOneMayNotGoBack) {
    TempDir dir;
    backup::BackupFolder folder(dir.path().string());
    std::time_t now = 1796654102;
    folder.setClock([&] { return now; });
    ASSERT_TRUE(keep(folder, link::BackupKind::Flash, 1).kept);
    now += 60;
    ASSERT_TRUE(keep(folder, link::BackupKind::Eeprom, 2).kept);
    now += 60;
    const link::BackupOutcome newest = keep(folder, link::BackupKind::Flash, 3, 1);
    ASSERT_TRUE(newest.kept);

    RestoreModel flash(dir.path().string(), backup::kKindFlash);
    ASSERT_EQ(flash.rows().size(), 2U);
    EXPECT_EQ(flash.chosen(), 0);
    EXPECT_EQ(flash.chosenBackup()->path, newest.path);
    EXPECT_EQ(flash.rows()[0].receiver, "DSI185D");
    EXPECT_EQ(flash.rows()[0].chip, "AM29LV800BB");
    EXPECT_EQ(flash.rows()[0].firmware, "Unknown Firmware");
    EXPECT_EQ(flash.rows()[0].size, "8192");
    EXPECT_EQ(flash.rows()[1].receiver, "DSX6071");
    EXPECT_EQ(RestoreModel(dir.path().string(), backup::kKindEeprom).rows().size(), 1U);

    EXPECT_EQ(flash.refusal(1, "AMD: AM29LV800BB"), "");
    EXPECT_EQ(flash.refusal(0, "AMD: AM29LV800BB"),
              "The backup is of a DSI185D (hardware 1), the receiver is driven as a DSX6071 "
              "(hardware 0).");
    flash.choose(1);
    EXPECT_EQ(flash.refusal(0, "AMD: AM29LV800BB"), "");
    writeBytes(flash.chosenBackup()->path, std::vector<std::uint8_t>(8192, 9));
    EXPECT_EQ(flash.refusal(0, "AMD: AM29LV800BB"),
              "The backup cannot be used: SHA-256 mismatch: the content is not what its sidecar "
              "records.");
    flash.choose(5);
    EXPECT_EQ(flash.refusal(0, "AMD: AM29LV800BB"), "No backup is chosen.");
}

TEST(RestoreModel, TheQuestionAndTheDifferingAreasReadAsTheDialogShowsThem) {
    TempDir dir;
    backup::BackupFolder folder(dir.path().string());
    folder.setClock([] { return std::time_t{1796654102}; });
    ASSERT_TRUE(keep(folder, link::BackupKind::Flash, 1).kept);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    RestoreModel flash(dir.path().string(), backup::kKindFlash);
    EXPECT_EQ(flash.question(true),
              "Write the backup of 2026-12-07 14:35:02 back into the flash?\rEvery area is set to "
              "PGM and written where it differs.\rWhat the flash holds now is kept as a backup "
              "first.");
    ::unsetenv("TZ");
    ::tzset();
    link::AreaTable table;
    EXPECT_EQ(RestoreModel::differingAreas(table, 19), "No area differs from the receiver.");
    table.setBits(0, link::kAreaDiffersMark);
    table.setBits(7, link::kAreaDiffersMark);
    table.setBits(19, link::kAreaDiffersMark); // past the receiver's areas
    EXPECT_EQ(RestoreModel::differingAreas(table, 19), "Areas that differ: 0, 7");
}

} // namespace
} // namespace corvex::test
