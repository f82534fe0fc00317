#include "flash_rig.h"
#include "link/jobs/eeprom_i2c.h"
#include "sim/receiver.h"
#include "sim/virtual_port.h"

#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/stat.h>

namespace corvex::test {
namespace {

using link::GuardRecord;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kEeprom = 2048;

// Every byte different from its neighbours and from the erased value.
Bytes pattern() {
    Bytes bytes(kEeprom);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return bytes;
}

// A Guard over the simulated receiver, with the EEPROM jobs' two files in its folder.
struct EepromRig : FlashRig {
    explicit EepromRig(const std::vector<std::string>& options = {})
        : FlashRig(options), load(dir.file("load.bin")), save(dir.file("save.bin")) {
        guard->SetEELoadFileName(load);
        guard->SetEESaveFileName(save);
    }
    [[nodiscard]] Bytes eeprom() const { return sim->bus().eepromImage(); }
    [[nodiscard]] GuardRecord lastMessage() const { return events.messages().back(); }

    std::string load;
    std::string save;
};

class EepromRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(EepromRoundTrip, AnImageReadBackAndWrittenAgainLeavesTheEepromAsItWas) {
    const int hardware = GetParam();
    EepromRig rig({hardware == 1 ? "receiver=dsi" : "receiver=dsx"});
    rig.run(GuardRecord::command("SETHARDWARE", static_cast<std::uint32_t>(hardware)));
    writeBytes(rig.load, pattern());
    rig.run("EEWRITE");
    ASSERT_TRUE(rig.contains("EEPROM WRITE - OK"));
    ASSERT_EQ(rig.eeprom(), pattern());
    EXPECT_GT(rig.sim->bus().eepromBusyRefusals(), 0U)
        << "no page write was waited out by acknowledge polling";

    rig.run("EEREAD");
    EXPECT_EQ(readBytes(rig.save), pattern());
    const auto replies = rig.repliesTo("EEREAD");
    ASSERT_GE(replies.size(), 2U);
    // The report is a message, not a log line; the save line follows it.
    EXPECT_THAT(std::vector<std::string>(replies.end() - 2, replies.end()),
                ElementsAre("EEPROM READ - OK", "EESaveToFile - " + rig.save + " - OK"));
    EXPECT_EQ(rig.lastMessage().Text.view(), "Reading configuration EEprom succeeded.");
    EXPECT_EQ(rig.lastMessage().Data, link::kStyleNormal);
    // Only the controller reports its progress.
    EXPECT_EQ(rig.contains("CURRENTLY READING EEPROM ADDRESS 0700"), hardware == 0);

    const std::uint64_t before = rig.sim->bus().eepromGeneration();
    writeBytes(rig.load, readBytes(rig.save));
    rig.run("EEWRITE");
    EXPECT_EQ(rig.eeprom(), pattern());
    EXPECT_EQ(rig.sim->bus().eepromGeneration() - before, 128U) << "every page written once";
}

INSTANTIATE_TEST_SUITE_P(ByReadMethod, EepromRoundTrip, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Controller" : "Pins"; });

TEST(EepromJobs, EraseLeavesEveryByteErased) {
    EepromRig rig;
    writeBytes(rig.load, pattern());
    rig.run("EEWRITE");
    rig.run("EEERASE");
    EXPECT_EQ(rig.eeprom(), Bytes(kEeprom, 0xFF));
    EXPECT_THAT(rig.repliesTo("EEERASE"), Contains("EEPROM ERASE - OK"));
    EXPECT_EQ(rig.lastMessage().Text.view(), "Erasing configuration EEprom succeeded.");
}

TEST(EepromJobs, AByteThatDoesNotComeBackEndsTheWriteAtItsAddress) {
    const struct {
        const char* job;
        const char* line;
        const char* report;
    } cases[] = {
        {"EEWRITE", "EEPROM WRITE ERROR (0EE0A123)", "Error writing configuration EEprom."},
        {"EEERASE", "EEPROM ERASE ERROR (0EE2A123)", "Erasing configuration EEprom failed."},
    };
    for (const auto& c : cases) {
        EepromRig rig({"eeprom-nack=123"});
        writeBytes(rig.load, pattern());
        rig.run(c.job);
        EXPECT_THAT(rig.repliesTo(c.job), Contains(c.line)) << c.job;
        EXPECT_EQ(rig.lastMessage().Text.view(), c.report) << c.job;
        EXPECT_EQ(rig.lastMessage().Data, link::kStyleError) << c.job;
        // The pages before the failing one were written whole.
        const Bytes wanted = std::string(c.job) == "EEWRITE" ? pattern() : Bytes(kEeprom, 0xFF);
        EXPECT_TRUE(std::equal(wanted.begin(), wanted.begin() + 0x120, rig.eeprom().begin()))
            << c.job;
    }
}

TEST(EepromJobs, AReadOfAnAbsentEepromFailsAtTheDeviceAddress) {
    EepromRig rig({"eeprom-absent"});
    writeBytes(rig.save, {1, 2, 3});
    rig.run("EEREAD");
    EXPECT_THAT(rig.repliesTo("EEREAD"), Contains("EEPROM READ ERROR (0EE1E002) @ 0"));
    EXPECT_EQ(rig.lastMessage().Text.view(), "Reading configuration EEprom failed.");
    EXPECT_EQ(readBytes(rig.save), (Bytes{1, 2, 3}));
}

TEST(EepromJobs, ViewHandsTheSavedFileToTheOwnerInsteadOfTheSaveLine) {
    EepromRig rig;
    rig.run("EEVIEW");
    EXPECT_EQ(readBytes(rig.save), Bytes(kEeprom, 0xFF));
    EXPECT_EQ(rig.lastMessage().Code, link::kMsgEepromView);
    EXPECT_EQ(rig.lastMessage().Text.view(), rig.save);
    EXPECT_EQ(rig.repliesTo("EEVIEW").back(), "EEPROM READ - OK");
}

TEST(EepromJobs, AFailedSaveIsReportedAsAFailure) {
    EepromRig rig;
    const std::string missing = rig.dir.file("no-such-folder/save.bin");
    rig.guard->SetEESaveFileName(missing);
    rig.run("EEREAD");
    EXPECT_THAT(rig.repliesTo("EEREAD"), Contains("EESaveToFile - " + missing + " - ERROR"));
    EXPECT_EQ(rig.lastMessage().Text.view(), "Saving configuration EEprom to disk failed.");
    EXPECT_EQ(rig.lastMessage().Data, link::kStyleError);
}

TEST(EepromJobs, ALoadFileOfAnyOtherSizeIsRefusedBeforeTheEepromIsTouched) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{100}, kEeprom + 1}) {
        EepromRig rig;
        rig.recordBus(true);
        writeBytes(rig.load, Bytes(size, 0x00));
        rig.run("EEWRITE");
        EXPECT_THAT(
            rig.repliesTo("EEWRITE"),
            ElementsAre("EELoadFromFile - " + rig.load + " - ERROR",
                        "EEPROM IMAGE FILE HOLDS " + std::to_string(size) + " BYTES, NOT 2048"))
            << size;
        EXPECT_EQ(rig.lastMessage().Text.view(), "Error writing configuration EEprom.");
        EXPECT_EQ(rig.lastMessage().Data, link::kStyleError);
        EXPECT_EQ(rig.eeprom(), Bytes(kEeprom, 0xFF)) << size;
        EXPECT_THAT(rig.sim->bus().writes(), IsEmpty()) << "the receiver was touched";
    }
}

// Only a regular file is loaded; anything else is refused without waiting on it (a FIFO with no
// writer would hold the job forever) and before the receiver or the adapter is touched.
TEST(EepromJobs, ALoadFileThatIsNotARegularFileBreaksTheJobOffWithoutAReport) {
    const struct {
        const char* what;
        std::function<std::string(EepromRig&)> make;
        const char* problem;
    } cases[] = {
        {"missing", [](EepromRig& rig) { return rig.load; },
         "cannot open (No such file or directory)"},
        {"folder",
         [](EepromRig& rig) {
             std::filesystem::create_directory(rig.load);
             return rig.load;
         },
         "not a regular file (a folder)"},
        {"FIFO",
         [](EepromRig& rig) {
             EXPECT_EQ(::mkfifo(rig.load.c_str(), 0600), 0);
             return rig.load;
         },
         "not a regular file (a FIFO)"},
        {"device", [](EepromRig&) { return std::string("/dev/zero"); },
         "not a regular file (a device)"},
    };
    for (const auto& c : cases) {
        for (const std::string job : {"EEWRITE", "BOOTCODE"}) {
            EepromRig rig;
            const std::string name = c.make(rig);
            rig.guard->SetEELoadFileName(name);
            rig.recordBus(true);
            rig.run(job);
            ASSERT_TRUE(rig.waitForLine("Operation aborted.")) << c.what << ' ' << job;
            const std::string prefix =
                job == "EEWRITE" ? "EELoadFromFile - " : "BootCodeLoadFromFile - ";
            EXPECT_THAT(rig.repliesTo(job), ElementsAre(prefix + name + " - ERROR",
                                                        prefix + c.problem, "Operation aborted."))
                << c.what << ' ' << job;
            EXPECT_EQ(rig.events.messages().size(), 1U) << c.what << ' ' << job;
            EXPECT_EQ(rig.lastMessage().Text.view(),
                      "Job aborted and Corvex guard ready to start new job !");
            EXPECT_THAT(rig.sim->bus().writes(), IsEmpty()) << c.what << ' ' << job;
            EXPECT_THAT(rig.sim->adapter().microcodeUploads(), IsEmpty()) << c.what << ' ' << job;
        }
    }
}

TEST(EepromJobs, ALongFileNameIsCutInTheLogLineButUsedWhole) {
    EepromRig rig;
    const std::string name = rig.dir.file(std::string(120, 'n') + ".bin");
    ASSERT_GT(name.size(), 85U);
    writeBytes(name, pattern());
    rig.guard->SetEELoadFileName(name);
    rig.run("EEWRITE");
    EXPECT_TRUE(rig.contains(("EELOADFILENAME " + name).substr(0, 100)));
    EXPECT_THAT(rig.repliesTo("EEWRITE"),
                Contains(("EELoadFromFile - " + name + " - OK").substr(0, 100)));
    EXPECT_EQ(rig.eeprom(), pattern());
}

TEST(BootcodeJob, SendsTwoTo255BytesAndRefusesOthersUnsent) {
    const struct {
        std::size_t size;
        const char* report;
    } cases[] = {
        {1, "Error uploading MicroCode (bootcode) program too small."},
        {2, "Uploading MicroCode (bootcode) program succeeded."},
        {255, "Uploading MicroCode (bootcode) program succeeded."},
        {256, "Error uploading MicroCode (bootcode) program too large."},
    };
    for (const auto& c : cases) {
        EepromRig rig;
        Bytes program(c.size);
        std::iota(program.begin(), program.end(), std::uint8_t{0x80});
        writeBytes(rig.load, program);
        rig.run("BOOTCODE");
        EXPECT_EQ(rig.lastMessage().Text.view(), c.report) << c.size;
        const bool sent = c.size >= 2 && c.size <= 255;
        EXPECT_EQ(rig.sim->adapter().microcodeUploads(),
                  sent ? std::vector<Bytes>{program} : std::vector<Bytes>{})
            << c.size;
        EXPECT_EQ(rig.contains("BOOTCODE WRITE - OK"), sent) << c.size;
        EXPECT_EQ(rig.sim->bus().resets(), 0) << "the receiver was reset";
    }
}

constexpr std::uint32_t kReceiveRegister = 0x20009008;
constexpr std::uint32_t kStatusRegister = 0x20009014;

// The simulated receiver behind a bus that breaks the running job off at the n-th read of one
// register.
class BreakingBus : public sim::ReceiverBus {
public:
    BreakingBus(sim::Receiver& inner, std::uint32_t address, int breakAt)
        : m_inner(inner), m_address(address), m_breakAt(breakAt) {}
    std::uint32_t read(std::uint32_t address) override {
        const std::uint32_t value = m_inner.read(address);
        if (address == m_address && ++m_reads == m_breakAt) {
            guard.load()->Break();
        }
        return value;
    }
    void write(std::uint32_t address, std::uint32_t data) override { m_inner.write(address, data); }
    void reset() override { m_inner.reset(); }

    std::atomic<link::TCorvexThread*> guard{nullptr}; // set before the job, read by the Guard

private:
    sim::Receiver& m_inner;
    std::uint32_t m_address;
    int m_breakAt;
    int m_reads = 0; // Guard thread only
};

// A Guard over the simulated receiver, broken off at the n-th read of a register.
struct BreakingRig {
    BreakingRig(std::uint32_t address, int breakAt)
        : receiver(sim::ReceiverOptions{}, Bytes(sim::flashSizeOf(sim::ReceiverModel::Dsx), 0xFF)),
          bus(receiver, address, breakAt), adapter(bus), harness(adapter) {
        harness.guard->link().setSleeper([](auto) {});
        bus.guard = harness.guard.get();
        harness.guard->SetEESaveFileName(save);
    }
    TempDir dir;
    std::string save = dir.file("save.bin");
    sim::Receiver receiver;
    BreakingBus bus;
    sim::VirtualPort adapter;
    GuardHarness harness;
};

TEST(EepromJobs, AReadBrokenOffAfter300BytesReportsItsCountAndKeepsTheOldFile) {
    // Set-up, device, word address and read device: four reads before the first byte's.
    BreakingRig rig(kReceiveRegister, 4 + 301);
    writeBytes(rig.save, {0x55});
    rig.harness.run("EEREAD");
    EXPECT_THAT(rig.harness.repliesTo("EEREAD"), Contains("EEPROM READ ERROR (0EE1B001) @ 300"));
    ASSERT_TRUE(rig.harness.events.waitForMessage(link::kMsgFinalReport));
    const auto messages = rig.harness.events.messages();
    EXPECT_EQ(messages.front().Text.view(), "Reading configuration EEprom failed.");
    EXPECT_EQ(readBytes(rig.save), Bytes{0x55});
    EXPECT_EQ(rig.dir.names(), std::vector<std::string>{"save.bin"});
}

TEST(EepromJobs, ABreakInsideAControllerWaitIsReportedAsABrokenLink) {
    BreakingRig rig(kStatusRegister, 10);
    rig.harness.run("EEREAD");
    ASSERT_TRUE(rig.harness.waitForLine("Communication with Corvex broken."));
    EXPECT_TRUE(rig.harness.events.waitForMessage(link::kMsgBrokenLink));
    EXPECT_EQ(rig.harness.guard->PendingDepth(), 0) << "the abort report resets it";
}

} // namespace
} // namespace corvex::test
