#include "backup/backup_folder.h"
#include "flash_rig.h"
#include "link/jobs/area_table.h"
#include "link/jobs/eeprom_i2c.h"
#include "sim/counting_port.h"
#include "sim/receiver.h"
#include "sim/simulator.h"
#include "sim/virtual_port.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

namespace fs = std::filesystem;
using link::AreaEvent;
using link::kAreaModePgm;
using link::kAreaModeSkip;
using Bytes = std::vector<std::uint8_t>;

constexpr auto& kStart = link::kDefaultAreaStart;
// Changes every 97th byte of the areas, so each of them is erased.
Bytes scribbled(Bytes image, std::initializer_list<std::uint32_t> areas) {
    for (const std::uint32_t area : areas) {
        for (std::uint32_t offset = kStart[area]; offset < kStart[area + 1]; offset += 97) {
            image[offset] = static_cast<std::uint8_t>(~image[offset] ^ 0x5A);
        }
    }
    return image;
}

std::vector<std::string> backupsIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(dir, missing)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A Guard on the simulated receiver whose writes keep their backups in a folder of their own.
// The simulator records nothing: these jobs read and write the whole flash.
struct BackupRig : FlashRig {
    explicit BackupRig(std::vector<std::string> options = {})
        : FlashRig([&] {
              options.emplace_back("receiver=dsi");
              return std::move(options);
          }()),
          folderPath(dir.file("backups")), backups(folderPath) {
        sim->adapter().setRecording(false);
        sim->bus().setRecording({});
        guard.reset(); // a Guard of its own, on a port that counts the accesses
        port = std::make_unique<SilencingPort>(sim->port());
        counter = std::make_unique<sim::CountingPort>(*port);
        guard = std::make_unique<link::TCorvexThread>(*counter, link::Synchroniser{}, workFile);
        guard->link().setSleeper([](auto) {});
        guard->link().setMicroDelay([](auto) {});
        guard->bindEvents(&events);
        guard->setAreaTable(&table);
        guard->setBackupKeeper(&backups);
        guard->SetReadFileName(readFile);
        guard->SetWriteFileName(writeFile);
        guard->SetEELoadFileName(dir.file("load.bin"));
        run(link::GuardRecord::command("SETHARDWARE", 1));
    }
    ~BackupRig() { guard.reset(); }
    BackupRig(const BackupRig&) = delete;
    BackupRig& operator=(const BackupRig&) = delete;
    [[nodiscard]] std::vector<std::string> files() const { return backupsIn(folderPath); }
    [[nodiscard]] int erases() const {
        const auto all = events.areaEvents();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [](const auto& record) {
            return record.event == AreaEvent::Erasing;
        }));
    }
    [[nodiscard]] bool logged(std::string_view prefix) const {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& line) { return line.starts_with(prefix); });
    }
    /// A job that reads the whole flash takes its time under the sanitizers.
    void run(const std::string& word, std::chrono::seconds limit) {
        submit(word);
        ASSERT_TRUE(waitIdle(limit)) << word << " still running";
    }
    using GuardDriver::run;
    std::unique_ptr<sim::CountingPort> counter;
    std::string folderPath;
    backup::BackupFolder backups;
};

// One whole read of the flash per test: the jobs here are slow under the sanitizers.
TEST(FlashBackup, AWriteKeepsTheWholeFlashBeforeItsFirstEraseAndItUndoesACutOffWrite) {
    BackupRig rig;
    rig.run("SIGNATURE");
    // SKIP and CLR areas are in the copy too: what the compare did not read is read for it.
    rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}, {1, link::kAreaModeClr}, {3, kAreaModePgm}});
    const Bytes before = rig.flash();
    writeBytes(rig.writeFile, scribbled(before, {0, 1, 2, 3}));
    // Guard thread only while the job runs; read once it has ended.
    bool checked = false;
    bool programming = false;
    rig.events.setHook([&](link::TCorvexThread& guard, AreaEvent event, std::uint32_t area) {
        if (event == AreaEvent::Erasing && !checked) {
            checked = true;
            const backup::BackupList list = backup::listBackups(rig.folderPath);
            ASSERT_EQ(list.backups.size(), 1U) << "the copy is on disk before the first erase";
            EXPECT_EQ(backup::loadBackup(list.backups[0].path).content, before);
        }
        // The power goes half-way through the program of area 3: the adapter answers no more,
        // and the run ends as a killed one would.
        programming = programming || (event == AreaEvent::Programming && area == 3);
        if (event == AreaEvent::Progress && area == 3 && programming) {
            rig.port->silence();
            guard.Break();
        }
    });
    rig.run("WFW", std::chrono::seconds(240));
    EXPECT_TRUE(checked);
    ASSERT_NE(rig.flash(), before);
    ASSERT_EQ(rig.files().size(), 2U);
    const std::string path = rig.folderPath + "/" + rig.files()[0];
    EXPECT_TRUE(rig.contains("Backup of the flash saved in " + path) ||
                rig.logged("Backup of the flash saved in ..."));
    EXPECT_TRUE(rig.contains("BACKUP READ FLASHROM AREA  2 - Range 7FF0C000...7FF0FFFF"));
    EXPECT_FALSE(rig.logged("BACKUP READ FLASHROM AREA  0")) << "the compare's read is reused";
    const backup::LoadedBackup kept = backup::loadBackup(path);
    EXPECT_EQ(kept.content, before);
    EXPECT_EQ(kept.record.image, rig.writeFile);
    EXPECT_EQ(kept.record.firmware, sim::defaultFirmwareName(sim::ReceiverModel::Dsi));
    EXPECT_EQ(kept.record.chip, sim::defaultChipOf(sim::ReceiverModel::Dsi));
    EXPECT_EQ(kept.record.receiver, "DSI185D");
}

TEST(FlashBackup, WithEveryAreaPgmTheCopyAddsNoExchangeAndIsKeptOnce) {
    BackupRig rig;
    rig.setModes(kAreaModePgm);
    const Bytes before = rig.flash();
    const Bytes changed = scribbled(before, {2});
    writeBytes(rig.writeFile, changed);
    // The backup sits between the compare's last event (a Reset for every area) and the first
    // erase: whatever the port does there is the backup's.
    std::uint64_t compared = 0;
    std::uint64_t erasing = 0;
    rig.events.setHook([&](link::TCorvexThread&, AreaEvent event, std::uint32_t) {
        if (event == AreaEvent::Reset && erasing == 0) {
            compared = rig.counter->count();
        } else if (event == AreaEvent::Erasing && erasing == 0) {
            erasing = rig.counter->count();
        }
    });
    rig.run("WFW", std::chrono::seconds(240));
    EXPECT_EQ(rig.files().size(), 2U);
    ASSERT_NE(erasing, 0U);
    EXPECT_EQ(erasing - compared, 0U) << "port accesses added by the backup";
    EXPECT_FALSE(rig.logged("BACKUP READ")) << "the compare read every area";
    rig.events.setHook({});
    writeBytes(rig.writeFile, before);
    rig.run("WFW");
    writeBytes(rig.writeFile, changed);
    rig.run("WFW");
    EXPECT_EQ(rig.flash(), changed);
    EXPECT_EQ(rig.files().size(), 4U) << "two contents, two backups";
    EXPECT_TRUE(rig.logged("Backup of the flash already held in "));
    const int erased = rig.erases();
    rig.setModes(kAreaModeSkip, {{2, kAreaModePgm}});
    rig.run("WFW"); // the flash holds the image already: no erase, no backup
    EXPECT_EQ(rig.erases(), erased);
    EXPECT_EQ(rig.files().size(), 4U);
}

TEST(FlashBackup, WithoutAVerifiedCopyNothingIsErased) {
    struct Row {
        const char* what;
        std::function<void(BackupRig&)> prepare;
        std::string report;
    };
    const std::vector<Row> rows = {
        {"folder that is a file", [](BackupRig& rig) { writeBytes(rig.folderPath, Bytes(10, 1)); },
         "Backup failed: the backup folder is not a folder"},
        {"break during the backup read",
         [](BackupRig& rig) {
             // Area 3 is SKIP: only the backup reads it.
             rig.events.setHook(
                 [](link::TCorvexThread& guard, AreaEvent event, std::uint32_t area) {
                     if (event == AreaEvent::Progress && area == 3) {
                         guard.Break();
                     }
                 });
         },
         "Backup failed: the read of the flash was broken off"},
    };
    for (const Row& row : rows) {
        BackupRig rig;
        rig.setModes(kAreaModeSkip, {{0, kAreaModePgm}});
        const Bytes before = rig.flash();
        writeBytes(rig.writeFile, scribbled(before, {0}));
        row.prepare(rig);
        rig.run("WFW");
        EXPECT_EQ(rig.flash(), before) << row.what;
        EXPECT_EQ(rig.erases(), 0) << row.what;
        const auto reports = rig.messages(link::kMsgFinalReport);
        ASSERT_FALSE(reports.empty()) << row.what;
        EXPECT_EQ(reports.front().Text.str(), row.report) << row.what;
        EXPECT_EQ(reports.front().Data, link::kStyleError);
        EXPECT_TRUE(rig.logged("Backup failed: ")) << row.what;
        std::error_code ignored;
        if (fs::is_directory(rig.folderPath, ignored)) {
            EXPECT_TRUE(rig.files().empty()) << row.what << ": no part of a backup is left";
        }
    }
}

TEST(EepromBackup, AnEepromThatCannotBeReadIsNotWritten) {
    BackupRig rig({"eeprom-absent"});
    const std::uint64_t generation = rig.sim->bus().eepromGeneration();
    rig.run("EEERASE");
    const auto reports = rig.messages(link::kMsgFinalReport);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().Text.str(),
              "Backup failed: the EEPROM could not be read (0EE1E002 @ 0)");
    EXPECT_EQ(rig.sim->bus().eepromGeneration(), generation);
    EXPECT_TRUE(rig.files().empty());
}

} // namespace
} // namespace corvex::test
