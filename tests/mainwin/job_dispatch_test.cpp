#include "mainwin/job_dispatch.h"
#include "tests/mainwin/model_rig.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using mainwin::DispatchResult;
using mainwin::FileKind;
using mainwin::FileSetter;
using mainwin::Job;
using mainwin::JobDispatch;

struct Rig : ModelRig {
    Rig() { dispatch.bindGuard(&jobs); }
    std::string makeFile(const std::string& name) {
        const std::string path = dir.file(name);
        writeBytes(path, {1});
        return path;
    }
    JobDispatch dispatch{settings, areas, feedback, host};
};

TEST(JobDispatch, EachJobSubmitsItsCommandWithItsFileAndWaitText) {
    struct Case {
        Job job;
        const char* command;
        const char* wait;
        FileSetter setter;
        const char* dialog; // "" when the job asks for no file
        bool flashPage;
        bool busy;
    };
    const Case cases[] = {
        {Job::ReadSignature, "SIGNATURE", "Reading signature, please wait ...", FileSetter::None,
         "", true, false},
        {Job::ReadFirmware, "RFW", "Reading firmware, please wait ...", FileSetter::ReadFile,
         "Save readed firmware as ...", true, true},
        {Job::PreviewWriteFirmware, "PFW", "Preview writing firmware, please wait ...",
         FileSetter::WriteFile, "Select firmware to program ...", true, true},
        {Job::WriteFirmware, "WFW", "Writing firmware, please wait ...", FileSetter::WriteFile,
         "Select firmware to program ...", true, true},
        {Job::ReadConfiguration, "EEREAD", "Reading configuration EEprom, please wait ...",
         FileSetter::EESaveFile, "Save readed configuration EEprom as ...", false, false},
        {Job::ViewConfiguration, "EEVIEW", "Reading configuration EEprom, please wait ...",
         FileSetter::EESaveFile, "Save readed configuration EEprom as ...", false, false},
        {Job::WriteConfiguration, "EEWRITE", "Writing configutation EEprom, please wait ...",
         FileSetter::EELoadFile, "Select configuration EEprom to program ...", false, false},
        {Job::EraseConfiguration, "EEERASE", "Erasing configutation EEprom, please wait ...",
         FileSetter::None, "", false, false},
        {Job::ResetInterface, "RST", "Reset Corvex Interface.", FileSetter::None, "", false, false},
        {Job::IdlePriority, "IPRIO", "Set Corvex Guard to use CPU Idle priority.", FileSetter::None,
         "", false, false},
        {Job::HighPriority, "HPRIO", "Set Corvex Guard to use CPU High priority.", FileSetter::None,
         "", false, false},
        {Job::UploadMicrocode, "BOOTCODE",
         "Uploading MicroCode (bootcode) program, please wait ...", FileSetter::EELoadFile,
         "Select bootcode program ...", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Rig rig;
        rig.host.answer = rig.makeFile("chosen.bin");
        rig.areas.setStatus(3, "OLD", 16);
        EXPECT_EQ(rig.dispatch.dispatch(c.job), DispatchResult::Submitted);
        EXPECT_EQ(rig.jobs.commands(), std::vector<std::string>{std::string(c.command) + ":0"});
        EXPECT_EQ(rig.feedback.panel(1).text, c.wait);
        EXPECT_EQ(rig.feedback.panel(1).icon, mainwin::kIconWait);
        EXPECT_FALSE(rig.feedback.hintHandlerInstalled());
        EXPECT_EQ(rig.jobs.setter, c.setter);
        EXPECT_EQ(rig.feedback.mapBusy(), c.busy);
        EXPECT_EQ(rig.host.flashPage, c.flashPage);
        // Only a firmware read starts the map from blank.
        EXPECT_EQ(rig.areas.area(3).statusText.empty(), c.job == Job::ReadFirmware);
        if (*c.dialog == '\0') {
            EXPECT_TRUE(rig.host.dialogs.empty());
            EXPECT_TRUE(rig.jobs.file.empty());
        } else {
            ASSERT_EQ(rig.host.dialogs.size(), 1U);
            EXPECT_EQ(rig.host.dialogs[0], std::string(c.dialog) + "|");
            EXPECT_EQ(rig.jobs.file, *rig.host.answer);
            EXPECT_EQ(rig.settings.lastFile(*mainwin::jobSpec(c.job).file), *rig.host.answer);
        }
    }
}

TEST(JobDispatch, FilesToSendMustExistAndCancelSubmitsNothing) {
    for (const Job job : {Job::WriteFirmware, Job::PreviewWriteFirmware, Job::WriteConfiguration,
                          Job::UploadMicrocode}) {
        Rig rig;
        rig.host.answer = rig.dir.file("gone.bin");
        EXPECT_EQ(rig.dispatch.dispatch(job), DispatchResult::FileMissing);
        ASSERT_EQ(rig.host.boxes.size(), 1U);
        EXPECT_EQ(rig.host.boxes[0].title, "Error");
        EXPECT_EQ(rig.host.boxes[0].text,
                  "Operation failed.\rFile (" + *rig.host.answer + ") not found.");
        EXPECT_TRUE(rig.jobs.submitted.empty());
        EXPECT_FALSE(rig.feedback.mapBusy());
    }
    Rig rig; // a file to save to need not exist yet
    rig.host.answer = rig.dir.file("new.bin");
    EXPECT_EQ(rig.dispatch.dispatch(Job::ReadFirmware), DispatchResult::Submitted);
    rig.host.answer.reset();
    rig.jobs.submitted.clear();
    EXPECT_EQ(rig.dispatch.dispatch(Job::ReadConfiguration), DispatchResult::Cancelled);
    EXPECT_TRUE(rig.jobs.submitted.empty());
}

TEST(JobDispatch, DefaultFileIsTakenWithoutAskingOnlyWhileItExists) {
    Rig rig;
    EXPECT_EQ(rig.dispatch.defaultFileCaption(FileKind::WriteFirmware), "No file specified");
    EXPECT_EQ(rig.dispatch.defaultFileCaption(FileKind::BootCode), "No File Specified");
    const std::string image = rig.makeFile("A&B.bin");
    rig.host.answer = image;
    rig.dispatch.chooseDefaultFile(FileKind::WriteFirmware);
    EXPECT_TRUE(rig.dispatch.defaultFileSet(FileKind::WriteFirmware));
    EXPECT_EQ(rig.dispatch.defaultFileCaption(FileKind::WriteFirmware), rig.dir.file("A&&B.bin"));

    rig.host.dialogs.clear();
    rig.host.answer = rig.makeFile("other.bin");
    EXPECT_EQ(rig.dispatch.dispatch(Job::WriteFirmware), DispatchResult::Submitted);
    EXPECT_TRUE(rig.host.dialogs.empty());
    EXPECT_EQ(rig.jobs.file, image);

    std::filesystem::remove(image); // gone since it was chosen: the dialog asks instead
    EXPECT_EQ(rig.dispatch.dispatch(Job::WriteFirmware), DispatchResult::Submitted);
    ASSERT_EQ(rig.host.dialogs.size(), 1U);
    EXPECT_EQ(rig.host.dialogs[0], "Select firmware to program ...|" + image);
    EXPECT_EQ(rig.jobs.file, *rig.host.answer);

    // The entry's dialog starts at its file; Cancel clears the entry.
    rig.host.answer.reset();
    rig.dispatch.chooseDefaultFile(FileKind::WriteFirmware);
    EXPECT_EQ(rig.host.dialogs.back(), "When \"Write Firmware\" use file ...|" + image);
    EXPECT_FALSE(rig.dispatch.defaultFileSet(FileKind::WriteFirmware));
    EXPECT_EQ(rig.dispatch.defaultFileCaption(FileKind::WriteFirmware), "No file specified");
}

TEST(JobDispatch, ACommandWhileAJobRunsLeavesThatJobAlone) {
    Rig rig;
    rig.host.answer = rig.dir.file("other.bin");
    rig.jobs.setter = FileSetter::ReadFile;
    rig.jobs.file = "running.bin";
    rig.jobs.running = true;
    rig.feedback.setMapBusy(true);
    rig.areas.setStatus(3, "Reading 128K - OK", 16);
    for (const Job job : {Job::ReadFirmware, Job::WriteFirmware, Job::ReadConfiguration}) {
        EXPECT_EQ(rig.dispatch.dispatch(job), DispatchResult::Refused);
    }
    EXPECT_TRUE(rig.host.dialogs.empty());
    EXPECT_EQ(rig.jobs.file, "running.bin"); // the running read still saves where it was told
    EXPECT_EQ(rig.areas.area(3).statusText, "Reading 128K - OK");
    EXPECT_TRUE(rig.feedback.mapBusy());
    EXPECT_TRUE(rig.settings.lastFile(FileKind::ReadFirmware).empty());

    // A refusal with no job running leaves the map usable: no final report would clear it.
    rig.jobs.running = false;
    rig.jobs.refuse = true;
    rig.feedback.setMapBusy(false);
    EXPECT_EQ(rig.dispatch.dispatch(Job::ReadFirmware), DispatchResult::Refused);
    EXPECT_FALSE(rig.feedback.mapBusy());
}

TEST(JobDispatch, HardwareTypeFollowsTheGuardsAnswer) {
    Rig rig;
    EXPECT_EQ(rig.dispatch.selectHardware(2), 2);
    EXPECT_EQ(rig.jobs.commands(), std::vector<std::string>{"SETHARDWARE:2"});
    EXPECT_EQ(rig.areas.shownAreaCount(), 11);
    rig.jobs.refuse = true;
    EXPECT_EQ(rig.dispatch.selectHardware(0), 2);
    EXPECT_EQ(rig.areas.shownAreaCount(), 11);
}

// A read with no PGM area in use would say "completed successful" and write no file.
TEST(JobDispatch, AReadOfNothingIsRefusedBeforeItAsksForAFile) {
    Rig rig;
    rig.host.answer = rig.dir.file("read.bin");
    rig.areas.setAll(link::kAreaModeSkip);
    rig.areas.table().setMode(12, link::kAreaModePgm); // beyond the 11 areas of type 1
    rig.areas.selectHardwareType(1, true);
    rig.areas.table().setMode(3, link::kAreaModeClr); // read, but never saved
    EXPECT_NE(rig.dispatch.dispatch(Job::ReadFirmware), DispatchResult::Submitted);
    EXPECT_TRUE(rig.host.dialogs.empty());
    EXPECT_TRUE(rig.jobs.submitted.empty());
    EXPECT_TRUE(rig.settings.lastFile(FileKind::ReadFirmware).empty());
    EXPECT_FALSE(rig.feedback.mapBusy());
    ASSERT_EQ(rig.host.boxes.size(), 1U);
    EXPECT_EQ(rig.host.boxes[0].text, mainwin::kNothingToRead);
    EXPECT_EQ(rig.host.boxes[0].kind, mainwin::BoxKind::Warning);

    rig.areas.table().setMode(10, link::kAreaModePgm);
    EXPECT_EQ(rig.dispatch.dispatch(Job::ReadFirmware), DispatchResult::Submitted);
}

// The editor opens on the file this run's last firmware read saved into, never on a path an
// earlier run left in the settings; without such a read it offers to open an image instead.
TEST(JobDispatch, TheChannelEditorOpensOnThisRunsReadOrOffersAnImage) {
    Rig rig;
    using Mode = JobDispatch::ChannelMode;
    rig.settings.lastFile(FileKind::ReadFirmware) = "/tmp/earlier-run.bin";
    std::string file;
    rig.host.yes = false;
    EXPECT_FALSE(rig.dispatch.openChannelEditor(Mode::Hex, file));
    ASSERT_EQ(rig.host.boxes.size(), 1U);
    EXPECT_EQ(rig.host.boxes[0].text, mainwin::kNoFirmwareRead);
    EXPECT_EQ(rig.host.boxes[0].kind, mainwin::BoxKind::Question);
    EXPECT_TRUE(rig.host.dialogs.empty());
    EXPECT_TRUE(rig.dispatch.channelEditorEnabled(Mode::Dec)) << "declined: nothing opened";

    rig.host.yes = true;
    rig.host.answer = "/tmp/image.bin";
    EXPECT_TRUE(rig.dispatch.openChannelEditor(Mode::Hex, file));
    EXPECT_EQ(file, "/tmp/image.bin");
    EXPECT_EQ(rig.host.dialogs,
              std::vector<std::string>{"Select firmware image ...|/tmp/earlier-run.bin"});

    // A firmware read of this run that completed.
    rig.feedback.readFileSet("/tmp/read-now.bin");
    rig.feedback.jobSubmitted(link::GuardRecord::command("RFW"));
    link::GuardRecord done = link::GuardRecord::command(
        "Read Firmware function completed successful.", 0, 0, link::kStyleNormal);
    done.Code = link::kMsgFinalReport;
    rig.feedback.onMessage(done);
    rig.host.boxes.clear();
    EXPECT_TRUE(rig.dispatch.openChannelEditor(Mode::Hex, file));
    EXPECT_EQ(file, "/tmp/read-now.bin");
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_FALSE(rig.dispatch.channelEditorEnabled(Mode::Dec));
    EXPECT_FALSE(rig.dispatch.openChannelEditor(Mode::Dec, file));
}

} // namespace
} // namespace corvex::test
