#include "flash_rig.h"
#include "link/jobs/eeprom_i2c.h"
#include "sim/i2c_blocks.h"
#include "sim/receiver.h"
#include "sim/virtual_port.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <ostream>
#include <sys/stat.h>
#include <thread>

namespace corvex::test {
namespace {

using link::GuardRecord;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
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
    // A long file name is cut in the log lines but used whole.
    rig.load = rig.dir.file(std::string(120, 'n') + ".bin");
    rig.guard->SetEELoadFileName(rig.load);
    writeBytes(rig.load, pattern());
    rig.run("EEWRITE");
    ASSERT_TRUE(rig.contains("EEPROM WRITE - OK"));
    ASSERT_EQ(rig.eeprom(), pattern());
    EXPECT_TRUE(rig.contains(("EELOADFILENAME " + rig.load).substr(0, 100)));
    EXPECT_THAT(rig.repliesTo("EEWRITE"),
                Contains(("EELoadFromFile - " + rig.load + " - OK").substr(0, 100)));
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
    rig.run("EEERASE");
    EXPECT_EQ(rig.eeprom(), Bytes(kEeprom, 0xFF));
    EXPECT_THAT(rig.repliesTo("EEERASE"), Contains("EEPROM ERASE - OK"));
    EXPECT_EQ(rig.lastMessage().Text.view(), "Erasing configuration EEprom succeeded.");
}

INSTANTIATE_TEST_SUITE_P(ByReadMethod, EepromRoundTrip, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Controller" : "Pins"; });

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
        SCOPED_TRACE(c.job);
        EepromRig rig({"eeprom-nack=123"});
        writeBytes(rig.load, pattern());
        rig.run(c.job);
        EXPECT_THAT(rig.repliesTo(c.job), Contains(c.line));
        EXPECT_EQ(rig.lastMessage().Text.view(), c.report);
        EXPECT_EQ(rig.lastMessage().Data, link::kStyleError);
        // The pages before the failing one were written whole.
        const Bytes wanted = std::string(c.job) == "EEWRITE" ? pattern() : Bytes(kEeprom, 0xFF);
        EXPECT_TRUE(std::equal(wanted.begin(), wanted.begin() + 0x120, rig.eeprom().begin()));
    }
}

TEST(EepromJobs, AReadOfAnAbsentEepromFailsAtTheDeviceAddressByEitherMethod) {
    for (const std::uint32_t hardware : {0U, 1U}) {
        EepromRig rig({"eeprom-absent"});
        rig.run(GuardRecord::command("SETHARDWARE", hardware));
        writeBytes(rig.save, {1, 2, 3});
        rig.run("EEREAD");
        EXPECT_THAT(rig.repliesTo("EEREAD"), Contains("EEPROM READ ERROR (0EE1E002) @ 0"));
        EXPECT_EQ(rig.lastMessage().Text.view(), "Reading configuration EEprom failed.");
        EXPECT_EQ(readBytes(rig.save), (Bytes{1, 2, 3})) << hardware;
    }
}

// A view hands the saved file to the owner instead of the save line; a failed save is a failure.
TEST(EepromJobs, ViewHandsTheSavedFileOverAndAFailedSaveIsAFailure) {
    EepromRig rig;
    rig.run("EEVIEW");
    EXPECT_EQ(readBytes(rig.save), Bytes(kEeprom, 0xFF));
    EXPECT_EQ(rig.lastMessage().Code, link::kMsgEepromView);
    EXPECT_EQ(rig.lastMessage().Text.view(), rig.save);
    EXPECT_EQ(rig.repliesTo("EEVIEW").back(), "EEPROM READ - OK");
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
        const char* problem;
    } cases[] = {
        {"missing", "cannot open (No such file or directory)"},
        {"folder", "not a regular file (a folder)"},
        {"FIFO", "not a regular file (a FIFO)"},
        {"device", "not a regular file (a device)"},
    };
    for (const auto& c : cases) {
        for (const std::string job : {"EEWRITE", "BOOTCODE"}) {
            SCOPED_TRACE(c.what + (" " + job));
            EepromRig rig;
            const std::string what = c.what;
            if (what == "folder") {
                std::filesystem::create_directory(rig.load);
            } else if (what == "FIFO") {
                EXPECT_EQ(::mkfifo(rig.load.c_str(), 0600), 0);
            }
            const std::string name = what == "device" ? "/dev/zero" : rig.load;
            rig.guard->SetEELoadFileName(name);
            rig.recordBus(true);
            rig.run(job);
            ASSERT_TRUE(rig.waitForLine("Operation aborted."));
            const std::string prefix =
                job == "EEWRITE" ? "EELoadFromFile - " : "BootCodeLoadFromFile - ";
            EXPECT_THAT(rig.repliesTo(job), ElementsAre(prefix + name + " - ERROR",
                                                        prefix + c.problem, "Operation aborted."));
            EXPECT_EQ(rig.events.messages().size(), 1U);
            EXPECT_EQ(rig.lastMessage().Text.view(),
                      "Job aborted and Corvex guard ready to start new job !");
            EXPECT_THAT(rig.sim->bus().writes(), IsEmpty());
            EXPECT_THAT(rig.sim->adapter().microcodeUploads(), IsEmpty());
        }
    }
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
constexpr std::uint32_t kPinInput = 0x2000D010;

// The simulated receiver behind a bus that, at the n-th read of one register, breaks the running
// job off or flips bits of the value read; or that reads one register as 0 for good.
class ScriptedBus : public sim::ReceiverBus {
public:
    explicit ScriptedBus(sim::Receiver& inner) : m_inner(inner) {}
    void at(std::uint32_t address, int nthRead, std::uint32_t flip) {
        m_address = address;
        m_at = nthRead;
        m_flip = flip;
    }
    std::uint32_t read(std::uint32_t address) override {
        std::uint32_t value = m_inner.read(address);
        if (address == m_address && m_at == 0) {
            return 0; // a receiver part that never gets ready
        }
        if (address == m_address && ++m_reads == m_at) {
            if (m_flip != 0) {
                value ^= m_flip;
            } else {
                guard.load()->Break();
            }
        }
        return value;
    }
    void write(std::uint32_t address, std::uint32_t data) override { m_inner.write(address, data); }
    void reset() override { m_inner.reset(); }
    std::atomic<link::TCorvexThread*> guard{nullptr}; // set before the job, read by the Guard

private:
    sim::Receiver& m_inner;
    // Set before the job and used by the Guard thread only.
    std::uint32_t m_address = 0;
    int m_at = -1;
    std::uint32_t m_flip = 0;
    int m_reads = 0;
};

// Breaks the running job off at the n-th byte put on the data lines.
class BreakingPort : public link::PortIo {
public:
    explicit BreakingPort(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override { return m_inner.in(address); }
    void out(std::uint16_t address, std::uint8_t value) override {
        m_inner.out(address, value);
        if (address == link::kDefaultPortBase && ++m_writes == breakAt) {
            guard.load()->Break();
        }
    }
    int breakAt = 0;                                  // set before the job
    std::atomic<link::TCorvexThread*> guard{nullptr}; // set before the job, read by the Guard

private:
    link::PortIo& m_inner;
    int m_writes = 0; // Guard thread only
};

// A Guard over the simulated receiver through a scripted bus and a breaking port.
struct BusRig {
    BusRig()
        : receiver(sim::ReceiverOptions{}, Bytes(sim::flashSizeOf(sim::ReceiverModel::Dsx), 0xFF)),
          bus(receiver), adapter(bus), port(adapter), harness(port) {
        harness.guard->link().setSleeper([](auto) {});
        bus.guard = harness.guard.get();
        port.guard = harness.guard.get();
        harness.guard->SetEESaveFileName(save);
        harness.guard->SetEELoadFileName(load);
    }
    TempDir dir;
    std::string save = dir.file("save.bin");
    std::string load = dir.file("load.bin");
    sim::Receiver receiver;
    ScriptedBus bus;
    sim::VirtualPort adapter;
    BreakingPort port;
    GuardHarness harness;
};

// Every failure of the EEPROM and microcode jobs: the error line, the messages the owner gets,
// and a saved file left as it was. A job the user broke off posts nothing of its own: only the
// Guard's report follows, an abort, or a broken link when the break caught a controller wait.
// A receiver part that never gets ready (nth 0) keeps no job waiting: the wait gives up within
// its bound and the job reports its own failure, not a broken link the window never sees coming.
TEST(EepromJobs, EachFailureEndsWithItsCodeAndOnlyTheReadsReportAfterABreak) {
    constexpr std::uint32_t kByte = 0x100; // the frame's byte comes back changed
    constexpr std::uint32_t kAck = 0x001;  // only the acknowledge slot does
    constexpr std::uint32_t kRx = kReceiveRegister;
    constexpr std::uint32_t kStatus = kStatusRegister;
    constexpr std::uint32_t kPins = kPinInput;
    using Message = std::pair<std::uint32_t, std::string>;
    const Message readFailed{link::kMsgFinalReport, "Reading configuration EEprom failed."};
    const Message writeFailed{link::kMsgFinalReport, "Error writing configuration EEprom."};
    const Message eraseFailed{link::kMsgFinalReport, "Erasing configuration EEprom failed."};
    const Message readOk{link::kMsgFinalReport, "Reading configuration EEprom succeeded."};
    const Message aborted{link::kMsgFinalReport,
                          "Job aborted and Corvex guard ready to start new job !"};
    const Message broken{
        link::kMsgBrokenLink,
        "Function aborted.\rThe communication with your Corvex interface is broken."};
    const struct {
        const char* job;
        std::uint32_t address; // of the scripted read; 0 for the port's n-th data byte
        int nth;               // 0: the register reads 0 for good
        std::uint32_t flip;    // 0: break there
        const char* line;      // the end of the job's error line
        std::vector<Message> messages;
    } cases[] = {
        {"EEREAD", kPins, 1, 0, "READ ERROR (0EE1E001) @ 0", {readFailed, broken}},
        {"EEREAD", kStatus, 10, 0, "READ ERROR (0EE1E004) @ 0", {readFailed, broken}},
        // Set-up, device, word address and read device: four reads before the first byte's.
        {"EEREAD", kRx, 4 + 301, 0, "READ ERROR (0EE1B001) @ 300", {readFailed, aborted}},
        {"EEREAD", kRx, 3, kByte, "READ ERROR (0EE1E003) @ 0", {readFailed}},
        {"EEREAD", kRx, 4, kByte, "READ ERROR (0EE1E004) @ 0", {readFailed}},
        // The word address need only come back echoed, the device address acknowledged.
        {"EEREAD", kRx, 3, kAck, "EEPROM READ - OK", {readOk}},
        {"EEREAD", kRx, 2, kAck, "READ ERROR (0EE1E002) @ 0", {readFailed}},
        {"EEWRITE", kPins, 1, 0, "WRITE ERROR (0EE0E001)", {broken}},
        {"EEERASE", kPins, 1, 0, "ERASE ERROR (0EE2E001)", {broken}},
        {"EEWRITE", kRx, 2, 0, "WRITE ERROR (0EE0B001)", {aborted}},
        {"EEERASE", kRx, 2, 0, "ERASE ERROR (0EE2B001)", {aborted}},
        {"BOOTCODE", 0, 3, 0, "BOOTCODE WRITE - ERROR", {aborted}},
        {"EEREAD", kStatus, 0, 0, "READ ERROR (0EE1E002) @ 0", {readFailed}},
        {"EEWRITE", kStatus, 0, 0, "WRITE ERROR (0EE0E002)", {writeFailed}},
        {"EEREAD", kPins, 0, 0, "READ ERROR (0EE1E001) @ 0", {readFailed}},
        {"EEERASE", kPins, 0, 0, "ERASE ERROR (0EE2E001)", {eraseFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.job) + " " + c.line);
        BusRig rig;
        writeBytes(rig.load, std::string(c.job) == "BOOTCODE" ? Bytes{1, 2, 3, 4} : pattern());
        writeBytes(rig.save, {0x55});
        if (c.address == 0) {
            rig.port.breakAt = c.nth;
        } else {
            rig.bus.at(c.address, c.nth, c.flip);
        }
        const auto started = std::chrono::steady_clock::now();
        rig.harness.run(c.job);
        ASSERT_TRUE(rig.harness.events.waitForMessage(c.messages.back().first));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_THAT(rig.harness.repliesTo(c.job), Contains(EndsWith(c.line)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // no report follows late
        std::vector<Message> got;
        for (const GuardRecord& m : rig.harness.events.messages()) {
            got.emplace_back(m.Code, m.Text.str());
        }
        EXPECT_EQ(got, c.messages);
        EXPECT_EQ(rig.harness.guard->PendingDepth(), 0) << "the report resets it";
        if (c.messages[0] == readFailed) {
            EXPECT_EQ(readBytes(rig.save), Bytes{0x55});
            EXPECT_EQ(rig.dir.names(), (std::vector<std::string>{"load.bin", "save.bin"}));
        }
    }
}

} // namespace
} // namespace corvex::test
