#include "mainwin/diagnostics_model.h"
#include "tests/mainwin/model_rig.h"

#include <fstream>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using mainwin::DiagControl;
using mainwin::DiagnosticsModel;
using mainwin::FieldRole;
using mainwin::FileSetter;
using mainwin::LineWatch;
using Result = DiagnosticsModel::Result;

using Request = FakeJobs::Request;

// Remembers each register access the factory check makes.
class Registers : public link::PortIo {
public:
    std::uint8_t in(std::uint16_t address) override {
        reads.push_back(address);
        return 0x5A;
    }
    void out(std::uint16_t address, std::uint8_t value) override {
        writes.emplace_back(address, value);
    }
    std::vector<std::uint16_t> reads;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> writes;
};

struct Rig : ModelRig {
    Rig() {
        model.bindGuard(&jobs);
        model.bindPort(&port, [this] { return portFree; });
    }
    Registers port;
    bool portFree = true;
    DiagnosticsModel model{settings, areas, feedback, host};
};

const int kField = 0; // a stand-in for the control that shows the result

TEST(DiagnosticsRequests, EachControlSubmitsItsPidAndFields) {
    struct Case {
        DiagControl control;
        Request expected;
    };
    const Case cases[] = {
        {DiagControl::Read, {"DIAG", 1, 0x80000000, 0, &kField}},
        {DiagControl::Write, {"DIAG", 2, 0x80000000, 0x12345678, &kField}},
        {DiagControl::ReadByte, {"DIAG", 3, 0, 0, &kField}},
        {DiagControl::WriteByte, {"DIAG", 4, 0, 0x12345678, &kField}},
        {DiagControl::WriteAck, {"DIAG", 5, 0, 0, &kField}},
        {DiagControl::DataPortRead, {"DIAG", 7, 0, 0, &kField}},
        {DiagControl::DataPortWrite, {"DIAG", 8, 0, 0x12345678, &kField}},
        {DiagControl::ReadLineHigh, {"DIAG", 9, 0, 1, &kField}},
        {DiagControl::ReadLineLow, {"DIAG", 10, 0, 0, &kField}},
        {DiagControl::TxAckHigh, {"DIAG", 11, 0, 1, &kField}},
        {DiagControl::WriteLineLow, {"DIAG", 14, 0, 0, &kField}},
        {DiagControl::ResetHigh, {"DIAG", 15, 0, 1, &kField}},
        {DiagControl::ResetLow, {"DIAG", 16, 0, 0, &kField}},
        {DiagControl::DataValidRead, {"DIAG", 17, 0, 0, &kField}},
        {DiagControl::RxAckRead, {"DIAG", 18, 0, 0, &kField}},
        {DiagControl::Start, {"DIAG", 24, 0, 0x12345678, &kField}},
    };
    for (const Case& c : cases) {
        Rig rig;
        EXPECT_EQ(rig.model.run(c.control, "80000000", "12345678", &kField), Result::Submitted);
        ASSERT_EQ(rig.jobs.submitted.size(), 1U) << "pid " << c.expected.param;
        EXPECT_EQ(rig.jobs.submitted[0], c.expected) << "pid " << c.expected.param;
        EXPECT_EQ(rig.feedback.panel(1).text,
                  "Executing function, press ESC or click BREAK to abort operation.");
        EXPECT_EQ(rig.feedback.panel(1).icon, mainwin::kIconWait);
    }

    Rig rig;
    rig.model.choosePort(2);
    rig.model.choosePort(1);
    rig.model.choosePort(0);
    rig.model.setLoopback(true);
    rig.model.setLoopback(false);
    rig.model.loopbackTest(mainwin::LoopbackTest::Ack, true, true, &kField);
    rig.model.loopbackTest(mainwin::LoopbackTest::Data, false, false, &kField);
    rig.model.loopbackTest(mainwin::LoopbackTest::Flow, true, false, &kField);
    const std::vector<Request> expected{
        {"DIAG", 6, 0x3BC, 0, nullptr}, {"DIAG", 6, 0x278, 0, nullptr},
        {"DIAG", 6, 0x378, 0, nullptr}, {"DIAG", 19, 1, 0, nullptr},
        {"DIAG", 20, 0, 0, nullptr},    {"DIAG", 21, 1, 1, &kField},
        {"DIAG", 22, 0, 0, &kField},    {"DIAG", 23, 1, 0, &kField},
    };
    EXPECT_EQ(rig.jobs.submitted, expected);
}

TEST(DiagnosticsFields, HexDigitsOnlyUpperCasedAndAtMostTheFieldWidth) {
    EXPECT_EQ(mainwin::hexFieldText("0x1fG-a9", 8), "01FA9");
    EXPECT_EQ(mainwin::hexFieldText("123456789", 8), "12345678");
    EXPECT_EQ(mainwin::hexFieldText("fff", 2), "FF");
    EXPECT_EQ(mainwin::parseHex("80000000"), 0x80000000U);
    EXPECT_EQ(mainwin::parseHex("ff"), 0xFFU);
    EXPECT_EQ(mainwin::parseHex(""), std::nullopt);
    EXPECT_EQ(mainwin::parseHex("12G4"), std::nullopt);
    EXPECT_EQ(mainwin::parseHex("123456789"), std::nullopt); // would not fit 32 bits
}

TEST(DiagnosticsFields, AWrongFieldIsNamedOnceAndNothingIsSubmitted) {
    struct Case {
        const char* address;
        const char* data;
        const char* message;
    };
    const Case cases[] = {
        {"XYZ", "", "Wrong data entered for DATA field."}, // data is read first
        {"", "12345678", "Wrong data entered for ADDRESS field."},
        {"80000000", "1 2", "Wrong data entered for DATA field."},
    };
    for (const Case& c : cases) {
        Rig rig;
        EXPECT_EQ(rig.model.run(DiagControl::Write, c.address, c.data, nullptr), Result::Dropped);
        EXPECT_EQ(rig.host.boxTexts(), std::vector<std::string>{c.message});
        EXPECT_EQ(rig.host.boxes[0].title, "Error");
        EXPECT_TRUE(rig.jobs.submitted.empty());
        EXPECT_FALSE(rig.model.fieldError());
        // The mark was cleared: the next request goes out normally.
        EXPECT_EQ(rig.model.run(DiagControl::Read, "10", "", nullptr), Result::Submitted);
    }

    // A mark left by a field read outside a request drops the next request silently.
    Rig rig;
    EXPECT_EQ(rig.model.readField("", FieldRole::Address), 0U);
    EXPECT_EQ(rig.model.readField("", FieldRole::Data), 0U);
    EXPECT_EQ(rig.host.boxes.size(), 1U);
    EXPECT_EQ(rig.model.run(DiagControl::WriteAck, "", "", nullptr), Result::Dropped);
    EXPECT_TRUE(rig.jobs.submitted.empty());
}

TEST(DiagnosticsLineWatch, AChangedLineStaysHighlightedForFifteenTicks) {
    LineWatch watch;
    watch.restart();
    watch.poll(0x7F); // the first look only takes the lines as they are
    EXPECT_TRUE(watch.dataValid().set);
    EXPECT_FALSE(watch.dataValid().highlighted);
    watch.poll(0x7F & ~link::kStatusRxAck);
    EXPECT_TRUE(watch.rxAck().highlighted);
    EXPECT_FALSE(watch.rxAck().set);
    EXPECT_FALSE(watch.dataValid().highlighted);
    for (int tick = 0; tick < LineWatch::kHoldTicks; ++tick) {
        watch.poll(0x7F & ~link::kStatusRxAck);
        EXPECT_TRUE(watch.rxAck().highlighted) << "tick " << tick;
    }
    watch.poll(0x7F & ~link::kStatusRxAck);
    EXPECT_FALSE(watch.rxAck().highlighted);
    // The next change lights it again.
    watch.poll(0x7F);
    EXPECT_TRUE(watch.rxAck().highlighted);
    EXPECT_TRUE(watch.rxAck().set);
}

TEST(DiagnosticsBlockMode, ALengthThatFitsGoesOutWithItsFileElseTheUserIsTold) {
    struct Case {
        bool reading;
        const char* address;
        const char* length;
        const char* message; // "" when submitted
    };
    const Case cases[] = {
        {true, "80000000", "8", ""},
        {false, "80000000", "8", ""},
        {true, "80000000", "6", "Datablock must be divisible by 4 without remainder !"},
        {false, "80000000", "0", "Datablock of 0 bytes: nothing to transfer !"},
        {true, "FFFFFFFC", "8", "Datablock runs past the end of the address space (FFFFFFFF) !"},
        {true, "FFFFFFFC", "4", ""},
        {true, "8000000G", "8", "Wrong data entered for ADDRESS field."},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.settings.lastFile(mainwin::FileKind::WriteFirmware) = "/w.bin";
        rig.settings.lastFile(mainwin::FileKind::ReadFirmware) = "/r.bin";
        const std::string file = rig.dir.file("block.bin");
        std::ofstream(file) << "12345678";
        rig.host.answer = file;
        const Result result = c.reading ? rig.model.blockRead(c.address, c.length)
                                        : rig.model.blockWrite(c.address, c.length);
        EXPECT_EQ(rig.host.dialogs, std::vector<std::string>{c.reading ? "Save as ...|/w.bin"
                                                                       : "Use file ...|/r.bin"});
        if (*c.message == '\0') {
            EXPECT_EQ(result, Result::Submitted) << c.address << " " << c.length;
            ASSERT_EQ(rig.jobs.submitted.size(), 1U);
            const Request& sent = rig.jobs.submitted[0];
            EXPECT_EQ(sent.command, c.reading ? "RBB" : "WBB");
            EXPECT_EQ(sent.address, *mainwin::parseHex(c.address));
            EXPECT_EQ(sent.data, *mainwin::parseHex(c.length));
            EXPECT_EQ(rig.jobs.setter, c.reading ? FileSetter::WriteFile : FileSetter::ReadFile);
            EXPECT_EQ(rig.jobs.file, file);
            EXPECT_TRUE(rig.host.flashPage);
        } else {
            EXPECT_EQ(rig.host.boxTexts(), std::vector<std::string>{c.message});
            EXPECT_TRUE(rig.jobs.submitted.empty());
            EXPECT_FALSE(rig.model.fieldError());
        }
        // Block transfers do not move the firmware paths they start from.
        EXPECT_EQ(rig.settings.lastFile(mainwin::FileKind::WriteFirmware), "/w.bin");
    }
}

TEST(DiagnosticsBlockMode, AFileThatCannotBeUsedOrACancelSendsNothing) {
    Rig rig;
    rig.host.answer = std::nullopt;
    EXPECT_EQ(rig.model.blockWrite("0", "8"), Result::Cancelled);
    rig.host.answer = rig.dir.file("missing.bin");
    EXPECT_EQ(rig.model.blockWrite("0", "8"), Result::Rejected);
    rig.host.answer = rig.dir.file("no/such/folder/out.bin");
    EXPECT_EQ(rig.model.blockRead("0", "8"), Result::Rejected);
    rig.host.answer = rig.dir.path().string(); // a folder is no block file either way
    EXPECT_EQ(rig.model.blockRead("0", "8"), Result::Rejected);
    EXPECT_EQ(rig.model.blockWrite("0", "8"), Result::Rejected);
    EXPECT_EQ(rig.host.boxes.size(), 4U);
    EXPECT_TRUE(rig.jobs.submitted.empty());

    // While a job runs its file name stays its own: a firmware read saves at its very end.
    rig.jobs.setter = FileSetter::ReadFile;
    rig.jobs.file = "firmware.bin";
    rig.jobs.running = true;
    rig.host.answer = rig.dir.file("block.bin");
    std::ofstream(*rig.host.answer) << "12345678";
    EXPECT_EQ(rig.model.blockWrite("0", "8"), Result::Refused);
    EXPECT_EQ(rig.jobs.file, "firmware.bin");
}

TEST(DiagnosticsFactoryCheck, RegistersAreTouchedOnlyWhileTheGuardLeavesThePortAlone) {
    Rig rig;
    EXPECT_EQ(rig.model.factoryRead("379"), std::uint8_t{0x5A});
    EXPECT_EQ(rig.model.factoryWrite("37A", "C4"), Result::Submitted);
    EXPECT_EQ(rig.port.reads, std::vector<std::uint16_t>{0x379});
    EXPECT_EQ(rig.port.writes.size(), 1U);
    EXPECT_EQ(rig.port.writes[0], std::make_pair(std::uint16_t{0x37A}, std::uint8_t{0xC4}));

    rig.portFree = false;
    EXPECT_EQ(rig.model.factoryRead("379"), std::nullopt);
    EXPECT_EQ(rig.model.factoryWrite("37A", "00"), Result::Rejected);
    EXPECT_EQ(rig.port.reads.size(), 1U);
    EXPECT_EQ(rig.port.writes.size(), 1U);
    EXPECT_EQ(rig.host.boxes.size(), 2U);
    EXPECT_EQ(rig.jobs.submitted.size(), 0U); // never through the Guard
}

} // namespace
} // namespace corvex::test
