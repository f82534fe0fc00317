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

// One access of the receiver's bus, in the order the Guard made them.
struct BusAccess {
    char kind; // 'W' or 'R'
    std::uint32_t address;
    std::uint32_t data; // 0 for a read
    friend bool operator==(const BusAccess&, const BusAccess&) = default;
    friend std::ostream& operator<<(std::ostream& out, const BusAccess& a) {
        return out << a.kind << ' ' << std::hex << a.address << ' ' << a.data;
    }
};

// The simulated receiver behind a bus that records every access and, at the n-th read of one
// register, either breaks the running job off or flips bits of the value read.
class ScriptedBus : public sim::ReceiverBus {
public:
    explicit ScriptedBus(sim::Receiver& inner) : m_inner(inner) {}
    void at(std::uint32_t address, int nthRead, std::uint32_t flip) {
        m_address = address;
        m_at = nthRead;
        m_flip = flip;
    }
    /// Every read of the register gives `value`, as a receiver part that never gets ready.
    void stick(std::uint32_t address, std::uint32_t value) {
        m_stuckAddress = address;
        m_stuckValue = value;
    }
    std::uint32_t read(std::uint32_t address) override {
        std::uint32_t value = m_inner.read(address);
        if (address == m_stuckAddress) {
            value = m_stuckValue;
        }
        if (address == m_address && ++m_reads == m_at) {
            if (m_flip != 0) {
                value ^= m_flip;
            } else {
                guard.load()->Break();
            }
        }
        m_accesses.push_back({'R', address, 0});
        return value;
    }
    void write(std::uint32_t address, std::uint32_t data) override {
        m_accesses.push_back({'W', address, data});
        m_inner.write(address, data);
    }
    void reset() override { m_inner.reset(); }
    /// The accesses to the I2C controller and the pin block; a poll that read the same register
    /// again and again counts once, since how often it reads is the receiver's timing.
    [[nodiscard]] std::vector<BusAccess> i2cAccesses() const {
        std::vector<BusAccess> out;
        for (const BusAccess& a : m_accesses) {
            if (!sim::I2cBlocks::claims(a.address) ||
                (a.kind == 'R' && !out.empty() && out.back() == a)) {
                continue;
            }
            out.push_back(a);
        }
        return out;
    }

    std::atomic<link::TCorvexThread*> guard{nullptr}; // set before the job, read by the Guard

private:
    sim::Receiver& m_inner;
    // The fields below are set before the job and used by the Guard thread only.
    std::uint32_t m_address = 0;
    int m_at = 0;
    std::uint32_t m_flip = 0;
    int m_reads = 0;
    std::uint32_t m_stuckAddress = 0;
    std::uint32_t m_stuckValue = 0;
    std::vector<BusAccess> m_accesses;
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

TEST(EepromJobs, AReadBrokenOffAfter300BytesReportsItsCountAndKeepsTheOldFile) {
    BusRig rig;
    // Set-up, device, word address and read device: four reads before the first byte's.
    rig.bus.at(kReceiveRegister, 4 + 301, 0);
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
    BusRig rig;
    rig.bus.at(kStatusRegister, 10, 0);
    rig.harness.run("EEREAD");
    ASSERT_TRUE(rig.harness.waitForLine("Communication with Corvex broken."));
    EXPECT_TRUE(rig.harness.events.waitForMessage(link::kMsgBrokenLink));
    EXPECT_EQ(rig.harness.guard->PendingDepth(), 0) << "the abort report resets it";
}

// A receiver part that never gets ready keeps no job waiting: the controller that never has a
// frame through, the data line held low. Each wait gives up within its bound and the job ends
// with its own failure, not with a broken link the window's time-out never sees coming.
TEST(EepromJobs, AWaitOnTheReceiverGivesUpAndTheJobReportsItsFailure) {
    const struct {
        std::uint32_t stuck;
        const char* job;
        const char* line;
        const char* report;
    } cases[] = {
        {kStatusRegister, "EEREAD", "EEPROM READ ERROR (0EE1E002) @ 0",
         "Reading configuration EEprom failed."},
        {kStatusRegister, "EEWRITE", "EEPROM WRITE ERROR (0EE0E002)",
         "Error writing configuration EEprom."},
        {kPinInput, "EEREAD", "EEPROM READ ERROR (0EE1E001) @ 0",
         "Reading configuration EEprom failed."},
        {kPinInput, "EEERASE", "EEPROM ERASE ERROR (0EE2E001)",
         "Erasing configuration EEprom failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.job) + " " + c.line);
        BusRig rig;
        writeBytes(rig.load, pattern());
        rig.bus.stick(c.stuck, 0);
        const auto started = std::chrono::steady_clock::now();
        rig.harness.run(c.job);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_THAT(rig.harness.repliesTo(c.job), Contains(c.line));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // no Guard report follows
        const auto messages = rig.harness.events.messages();
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_EQ(messages[0].Text.view(), c.report);
        EXPECT_EQ(rig.harness.guard->PendingDepth(), 0);
    }
}

// Every failure of the EEPROM and microcode jobs: the error line, and the messages the owner
// gets. A job the user broke off posts nothing of its own: only the Guard's report follows,
// an abort, or a broken link when the break caught a controller wait.
TEST(EepromJobs, EachFailureEndsWithItsCodeAndOnlyTheReadsReportAfterABreak) {
    constexpr std::uint32_t kByteFlip = 0x100; // the frame's byte comes back changed
    constexpr std::uint32_t kAckFlip = 0x001;  // only the acknowledge slot does
    const std::pair<std::uint32_t, std::string> readFailed{link::kMsgFinalReport,
                                                           "Reading configuration EEprom failed."};
    const std::pair<std::uint32_t, std::string> aborted{
        link::kMsgFinalReport, "Job aborted and Corvex guard ready to start new job !"};
    const std::pair<std::uint32_t, std::string> brokenLink{
        link::kMsgBrokenLink,
        "Function aborted.\rThe communication with your Corvex interface is broken."};
    const struct {
        const char* job;
        std::uint32_t address; // of the scripted read; 0 for the port's n-th data byte
        int nth;
        std::uint32_t flip; // 0: break there
        const char* line;
        std::vector<std::pair<std::uint32_t, std::string>> messages;
    } cases[] = {
        {"EEREAD", kPinInput, 1, 0, "EEPROM READ ERROR (0EE1E001) @ 0", {readFailed, brokenLink}},
        {"EEREAD",
         kReceiveRegister,
         3,
         kByteFlip,
         "EEPROM READ ERROR (0EE1E003) @ 0",
         {readFailed}},
        {"EEREAD",
         kReceiveRegister,
         4,
         kByteFlip,
         "EEPROM READ ERROR (0EE1E004) @ 0",
         {readFailed}},
        // The word address need only come back echoed, the device address acknowledged.
        {"EEREAD",
         kReceiveRegister,
         3,
         kAckFlip,
         "EEPROM READ - OK",
         {{link::kMsgFinalReport, "Reading configuration EEprom succeeded."}}},
        {"EEREAD", kReceiveRegister, 2, kAckFlip, "EEPROM READ ERROR (0EE1E002) @ 0", {readFailed}},
        {"EEWRITE", kPinInput, 1, 0, "EEPROM WRITE ERROR (0EE0E001)", {brokenLink}},
        {"EEERASE", kPinInput, 1, 0, "EEPROM ERASE ERROR (0EE2E001)", {brokenLink}},
        {"EEWRITE", kReceiveRegister, 2, 0, "EEPROM WRITE ERROR (0EE0B001)", {aborted}},
        {"EEERASE", kReceiveRegister, 2, 0, "EEPROM ERASE ERROR (0EE2B001)", {aborted}},
        {"BOOTCODE", 0, 3, 0, "BOOTCODE WRITE - ERROR", {aborted}},
    };
    for (const auto& c : cases) {
        BusRig rig;
        writeBytes(rig.load, std::string(c.job) == "BOOTCODE" ? Bytes{1, 2, 3, 4} : pattern());
        if (c.address == 0) {
            rig.port.breakAt = c.nth;
        } else {
            rig.bus.at(c.address, c.nth, c.flip);
        }
        rig.harness.run(c.job);
        const std::string what = std::string(c.job) + " " + c.line;
        ASSERT_TRUE(rig.harness.events.waitForMessage(c.messages.back().first)) << what;
        EXPECT_THAT(rig.harness.repliesTo(c.job), Contains(c.line)) << what;
        std::vector<std::pair<std::uint32_t, std::string>> got;
        for (const GuardRecord& m : rig.harness.events.messages()) {
            got.emplace_back(m.Code, m.Text.str());
        }
        EXPECT_EQ(got, c.messages) << what;
    }
}

// The register writes of the EEPROM jobs, step by step: set-up, free-bus wait, START, frames,
// STOP, acknowledge polling and release, as the receiver's controller and pins need them.
class I2cSequence {
public:
    I2cSequence& write(std::uint32_t address, std::uint32_t data) {
        m_accesses.push_back({'W', address, data});
        return *this;
    }
    I2cSequence& read(std::uint32_t address) {
        m_accesses.push_back({'R', address, 0});
        return *this;
    }
    I2cSequence& writes(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> list) {
        for (const auto& [address, data] : list) {
            write(address, data);
        }
        return *this;
    }
    I2cSequence& setUp() {
        writes({{0x2000900C, 0}, {0x20009000, 300}, {0x20009010, 0}, {0x2000900C, 0x318}});
        read(0x2000900C).read(0x20009008);
        return writes({{0x2000D004, 7},
                       {0x2000D028, 2},
                       {0x2000D024, 5},
                       {0x2000D038, 2},
                       {0x2000D034, 5},
                       {0x2000D048, 5},
                       {0x2000D044, 2}})
            .read(kPinInput);
    }
    I2cSequence& start() {
        return writes({{0x2000D004, 7},
                       {0x2000D048, 5},
                       {0x2000D044, 2},
                       {0x2000D038, 2},
                       {0x2000D034, 5},
                       {0x2000D028, 2},
                       {0x2000D024, 5},
                       {0x2000D004, 5},
                       {0x2000D008, 1},
                       {0x2000D008, 4},
                       {0x2000D024, 7},
                       {0x2000D034, 7},
                       {0x2000D044, 7}});
    }
    I2cSequence& stop() {
        return writes({{0x2000D008, 4},
                       {0x2000D004, 3},
                       {0x2000D048, 5},
                       {0x2000D044, 2},
                       {0x2000D038, 2},
                       {0x2000D034, 5},
                       {0x2000D028, 2},
                       {0x2000D024, 5},
                       {0x2000D008, 5},
                       {0x2000D004, 4},
                       {0x2000D004, 1}});
    }
    I2cSequence& release() {
        return writes({{0x2000D048, 7}, {0x2000D038, 7}, {0x2000D028, 7}, {0x2000D008, 7}});
    }
    I2cSequence& frame(std::uint32_t frame) {
        return read(kStatusRegister)
            .write(0x20009004, frame)
            .read(kStatusRegister)
            .read(kReceiveRegister);
    }
    // The pin method: one write per line change, one read per data sample.
    I2cSequence& pinsSend(std::uint32_t frame) {
        for (int bit = 8; bit > 0; --bit) {
            write(((frame >> bit) & 1) != 0 ? 0x2000D004 : 0x2000D008, 2);
            writes({{0x2000D004, 4}, {0x2000D008, 4}});
        }
        // The acknowledge slot, released, is sampled while the clock is high.
        return write(0x2000D004, 2).write(0x2000D004, 4).read(kPinInput).write(0x2000D008, 4);
    }
    I2cSequence& pinsReceive(bool last) {
        write(0x2000D004, 2);
        for (int bit = 0; bit < 8; ++bit) {
            write(0x2000D004, 4).read(kPinInput).write(0x2000D008, 4);
        }
        return write(last ? 0x2000D004 : 0x2000D008, 2).writes({{0x2000D004, 4}, {0x2000D008, 4}});
    }
    [[nodiscard]] const std::vector<BusAccess>& accesses() const { return m_accesses; }

private:
    std::vector<BusAccess> m_accesses;
};

std::vector<BusAccess> expectedWrite(const Bytes& image) {
    I2cSequence s;
    s.setUp();
    for (std::uint32_t page = 0; page < 128; ++page) {
        const std::uint32_t address = page * 16;
        const std::uint32_t device = 0x141 | ((address >> 6) & 0x1C);
        // Acknowledge polling: the device refuses its address while the last page is written.
        const int attempts = page == 0 ? 1 : 1 + sim::Eeprom24c16::kWriteCycleAttempts;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            s.start().frame(device);
        }
        s.frame(((address & 0xFF) << 1) | 1);
        for (std::uint32_t i = 0; i < 16; ++i) {
            s.frame(static_cast<std::uint32_t>(image[address + i]) << 1 | 1);
        }
        s.stop();
    }
    return s.write(0x2000D008, 7).release().accesses();
}

std::vector<BusAccess> expectedControllerRead() {
    I2cSequence s;
    s.setUp().start().frame(0x141).frame(0x001).start().frame(0x143);
    for (int i = 0; i < 2047; ++i) {
        s.frame(0x1FE);
    }
    return s.frame(0x1FF).stop().release().accesses();
}

std::vector<BusAccess> expectedPinsRead() {
    I2cSequence s;
    s.writes({{0x2000D024, 6}, {0x2000D034, 0}, {0x2000D044, 0}, {0x2000D004, 6}, {0x2000D004, 6}});
    s.writes({{0x2000D008, 2}, {0x2000D008, 4}}).pinsSend(0x141).pinsSend(0x001);
    s.writes({{0x2000D004, 6}, {0x2000D008, 2}, {0x2000D008, 4}}).pinsSend(0x143);
    for (int i = 0; i < 2047; ++i) {
        s.pinsReceive(false);
    }
    s.pinsReceive(true);
    return s.writes({{0x2000D008, 6}, {0x2000D004, 4}, {0x2000D004, 2}}).accesses();
}

TEST(EepromJobs, EachJobDrivesTheI2cRegistersInExactlyTheirOrder) {
    const struct {
        const char* job;
        std::uint32_t hardware;
        std::vector<BusAccess> expected;
    } cases[] = {
        {"EEWRITE", 0, expectedWrite(pattern())},
        {"EEERASE", 0, expectedWrite(Bytes(kEeprom, 0xFF))},
        {"EEREAD", 0, expectedControllerRead()},
        {"EEREAD", 1, expectedPinsRead()},
    };
    for (const auto& c : cases) {
        BusRig rig;
        writeBytes(rig.load, pattern());
        rig.harness.run(GuardRecord::command("SETHARDWARE", c.hardware));
        rig.harness.run(c.job);
        ASSERT_TRUE(rig.harness.events.waitForMessage(link::kMsgFinalReport)) << c.job;
        EXPECT_THAT(rig.receiver.anomalies(), IsEmpty()) << c.job;
        const auto got = rig.bus.i2cAccesses();
        // The first difference says more than two listings of many thousand accesses.
        const auto diff =
            std::mismatch(got.begin(), got.end(), c.expected.begin(), c.expected.end());
        EXPECT_TRUE(diff.first == got.end() && diff.second == c.expected.end())
            << c.job << " " << c.hardware << ": access " << (diff.first - got.begin()) << " is "
            << (diff.first == got.end() ? std::string("missing")
                                        : ::testing::PrintToString(*diff.first))
            << ", wanted "
            << (diff.second == c.expected.end() ? std::string("none")
                                                : ::testing::PrintToString(*diff.second));
    }
}

} // namespace
} // namespace corvex::test
