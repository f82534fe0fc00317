#include "backup/backup_folder.h"
#include "mainwin/restore_dialog.h"
#include "tests/mainwin/window_rig.h"

#include <QPushButton>
#include <QTreeWidget>

using Bytes = std::vector<std::uint8_t>;

namespace {

// The window over the simulated DSI185D (1 MiB of flash); the restore dialog takes the newest
// backup.
struct Rig : corvex::test::WindowRig {
    Rig()
        : WindowRig([](corvex::mainwin::MainWindowSetup& setup) { setup.noBackup = true; }, dsi()) {
        window->setRestoreHandler([this](corvex::mainwin::RestoreModel& model) {
            offered = model.rows().size();
            return true;
        });
    }
    static corvex::sim::SimConfig dsi() {
        corvex::sim::SimConfig config = corvex::test::simWith("receiver=dsi");
        config.record = false;
        return config;
    }
    bool start() {
        act("Corvex/On DSI185D (Firmware)").trigger();
        return idle() && readSignature();
    }
    [[nodiscard]] std::size_t kept() const {
        return corvex::backup::listBackups(backups).backups.size();
    }
    std::string backups = dir.file("backups");
    std::size_t offered = 0;
};

} // namespace

class RestoreBackupTest : public QObject {
    Q_OBJECT

private slots:
    // --no-backup: the switch off for the run only. Switched on, an erase keeps the EEPROM for
    // Restore; a flash backup comes back byte for byte, every area PGM, after a question.
    void theEepromAndTheFlashComeBackAndNoBackupIsForTheRunOnly() {
        Rig rig;
        QVERIFY(!rig.act("Config/Backup before writing").isChecked());
        QVERIFY(rig.start());
        Bytes first(2048);
        for (std::size_t i = 0; i < first.size(); ++i) {
            first[i] = static_cast<std::uint8_t>(i * 5 + 1);
        }
        rig.answer = rig.dir.file("config.bin");
        corvex::test::writeBytes(*rig.answer, first);
        rig.act("Eeprom/Write Configuration").trigger();
        QVERIFY(rig.idle(120000));
        QCOMPARE(rig.kept(), std::size_t{0});
        QVERIFY(rig.window->settings().backupBeforeWrite);
        rig.act("Config/Backup before writing").trigger();
        QVERIFY(rig.window->settings().backupBeforeWrite);
        rig.act("Eeprom/Erase Configuration").trigger();
        QVERIFY(rig.idle(120000));
        QCOMPARE(rig.kept(), std::size_t{1});
        QCOMPARE(rig.sim.bus().eepromImage(), Bytes(2048, 0xFF));
        rig.act("Eeprom/Restore Backup ...").trigger();
        QVERIFY(rig.idle(120000));
        QCOMPARE(rig.sim.bus().eepromImage(), first);

        rig.act("Config/Backup before writing").trigger(); // no copy of 1 MiB of flash first
        Bytes image = rig.sim.bus().flashImage();
        for (std::size_t offset = 0; offset < 0x8000; offset += 97) {
            image[offset] ^= 0x5A;
        }
        corvex::link::BackupRequest request;
        request.content = image;
        request.hardwareType = 1;
        request.flashBase = 0x7FF00000;
        request.areaCount = 11;
        request.signature = rig.window->guard()->lastSignature();
        QVERIFY(corvex::backup::BackupFolder(rig.backups).keep(request).kept);
        rig.boxes.clear();
        rig.act("Flash/Restore Backup ...").trigger();
        QCOMPARE(rig.offered, std::size_t{1});
        QVERIFY(!rig.boxes.empty());
        QCOMPARE(rig.boxes[0].title, std::string("Confirm"));
        QCOMPARE(rig.boxes[0].kind, corvex::mainwin::BoxKind::Question);
        QVERIFY(rig.idle(120000));
        QCOMPARE(rig.sim.bus().flashImage(), image);
        QCOMPARE(rig.window->areas().table().mode(5), corvex::link::kAreaModePgm);
    }

    // The dialog lists the backups and will not restore one that may not go back.
    void theDialogListsTheBackupsAndHoldsBackARefusedOne() {
        corvex::test::TempDir dir;
        corvex::backup::BackupFolder folder(dir.path().string());
        const Bytes content(4096, 7);
        corvex::link::BackupRequest request;
        request.content = content;
        request.signature = "AMD: AM29LV800BB";
        QVERIFY(folder.keep(request).kept);
        corvex::mainwin::RestoreModel model(dir.path().string(), corvex::backup::kKindFlash);
        std::string refusal;
        corvex::mainwin::RestoreBackupDialog dialog(model,
                                                    {{}, {}, {}, [&refusal] { return refusal; }});
        QCOMPARE(dialog.list().topLevelItemCount(), 1);
        QCOMPARE(dialog.list().headerItem()->text(3), QStringLiteral("Firmware"));
        QCOMPARE(dialog.list().topLevelItem(0)->text(1), QStringLiteral("AM29LV800BB"));
        QVERIFY(dialog.restoreButton().isEnabled());
        refusal = "Another receiver.";
        dialog.list().setCurrentItem(nullptr);
        dialog.list().setCurrentItem(dialog.list().topLevelItem(0));
        QVERIFY(!dialog.restoreButton().isEnabled());
        QCOMPARE(dialog.statusText(), QStringLiteral("Another receiver."));
    }
};

QTEST_MAIN(RestoreBackupTest)
#include "restore_backup_test.moc"
