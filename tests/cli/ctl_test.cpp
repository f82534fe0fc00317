#include "cli/ctl_options.h"
#include "cli/ctl_session.h"
#include "link/jobs/area_table.h"
#include "sim/image_builder.h"
#include "tests/link/guard_harness.h"
#include "tests/link/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace corvex::test {
namespace {

struct CtlRun {
    int status;
    std::string out;
    std::string err;

    [[nodiscard]] bool hasLine(const std::string& suffix) const {
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            if (line.size() >= suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
                return true;
            }
        }
        return false;
    }
};

CtlRun corvexctl(const std::vector<std::string_view>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = cli::runCorvexctl(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(CorvexctlCommands, RunsCommandsInOrderOnTheSimulatedInterface) {
    const auto run = corvexctl({"--port", "sim", "VERSION", "CORVEX", "RST", "EMI_INIT"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.hasLine(" - 3.00 BUILD 020411 / DEBUG EXTENSION 020416")) << run.out;
    EXPECT_TRUE(run.hasLine(" - VELMAR (REV B) CORVEX INTERFACE CONNECTED")) << run.out;
    EXPECT_TRUE(run.hasLine("MESSAGE 2 Corvex reset function completed.")) << run.out;
    EXPECT_TRUE(run.hasLine(" - EMI Initialization OK")) << run.out;
    EXPECT_TRUE(run.hasLine(" - Corvex Guard is stopped.")) << run.out;
    EXPECT_LT(run.out.find("VERSION"), run.out.find("CORVEX INTERFACE CONNECTED"));
    EXPECT_LT(run.out.find("RESET CORVEX INTERFACE"), run.out.find("EMI Initialization OK"));
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(CorvexctlCommands, SimOptionsAndFieldsReachTheGuard) {
    const auto run = corvexctl({"--port", "sim", "--sim-option", "adapter=absent", "CORVEX",
                                "SETHARDWARE:param=2", "SETHARDWARE:param=9"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.hasLine(" - NO CORVEX INTERFACE CONNECTED")) << run.out;
    EXPECT_TRUE(run.hasLine(" - Set hardware type: 1")) << run.out;
    EXPECT_FALSE(run.hasLine(" - Set hardware type: 0")) << run.out;
}

TEST(CorvexctlFailures, AHangingExchangeIsBrokenByTheTimeoutWatch) {
    const auto run = corvexctl(
        {"--port", "sim", "--sim-option", "hang-after=3", "--timeout-control", "EMI_INIT"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.hasLine(
        "MESSAGE 10 Function aborted.\\rThe communication with your Corvex interface is broken."))
        << run.out;
    EXPECT_TRUE(run.hasLine(" - Communication with Corvex broken.")) << run.out;
    EXPECT_FALSE(run.hasLine(" - EMI Initialization OK")) << run.out;
}

TEST(CorvexctlFailures, BreakAfterAbortsTheJobAndTheRunFails) {
    // 0 ms: the break is due before the Guard has even taken the job, and must wait for it.
    for (const char* ms : {"100", "0"}) {
        const auto run = corvexctl({"--port", "sim", "--break-after", ms, "DEADLOCK", "VERSION"});
        EXPECT_EQ(run.status, 1) << ms;
        EXPECT_TRUE(run.hasLine("MESSAGE 5 Job aborted and Corvex guard ready to start new job !"))
            << run.out;
        // Later commands still run after an abort.
        EXPECT_TRUE(run.hasLine(" - 3.00 BUILD 020411 / DEBUG EXTENSION 020416")) << run.out;
    }
}

TEST(CorvexctlFailures, UnknownCommandsFailedJobsAndUnknownChipsFailTheRun) {
    const std::pair<std::vector<std::string_view>, const char*> cases[] = {
        {{"--port", "sim", "version"}, " - ERROR - UNKNOWN COMMAND SEND \"version\""},
        {{"--port", "sim", "--sim-option", "eeprom-absent", "EEREAD"},
         "MESSAGE 5 Reading configuration EEprom failed."},
        {{"--port", "sim", "--sim-option", "no-power", "SIGNATURE"},
         "MESSAGE 1 Unknown FFFFFFFF: Unknown FFFFFFFF"},
    };
    for (const auto& [args, line] : cases) {
        const auto run = corvexctl(args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(run.hasLine(line)) << run.out;
    }
    const auto known = corvexctl({"--port", "sim", "SIGNATURE"});
    EXPECT_EQ(known.status, 0) << known.out;
    EXPECT_TRUE(known.hasLine("MESSAGE 1 AMD: AM29LV800BB")) << known.out;
}

TEST(CorvexctlDiag, ResultsAndTheLoopbackQuestionAreShownAsTheWindowWould) {
    const auto unknown = corvexctl({"--port", "sim", "DIAG:param=25", "DIAG:param=17"});
    EXPECT_EQ(unknown.status, 0) << unknown.out;
    for (const char* line : {" - UNKNOWN DIAGNOSTIC COMMAND",
                             " - OUT:   PID: 25   Adr=00000000   Dat=00000000   CALLBACK:  0",
                             "MESSAGE 8 Operation completed", "MESSAGE 7 0"}) {
        EXPECT_TRUE(unknown.hasLine(line)) << line << " missing in\n" << unknown.out;
    }

    const auto declined = corvexctl({"--port", "sim", "DIAG:param=19", "DIAG:param=22"});
    EXPECT_EQ(declined.status, 1) << "a declined test is a broken-off job";
    EXPECT_TRUE(declined.hasLine("ANSWER No")) << declined.out;
    EXPECT_FALSE(declined.hasLine("MESSAGE 9 1")) << "no pass ran";

    const auto accepted = corvexctl({"--port", "sim", "--yes", "DIAG:param=19", "DIAG:param=22"});
    EXPECT_EQ(accepted.status, 0) << accepted.out;
    EXPECT_TRUE(accepted.hasLine("ANSWER Yes")) << accepted.out;
    EXPECT_TRUE(accepted.hasLine("MESSAGE 9 100")) << accepted.out;
    EXPECT_TRUE(accepted.hasLine("MESSAGE 5 Loopback DATA-test succeeded.")) << accepted.out;
}

TEST(CorvexctlUsage, BadArgumentsSayWhatIsWrongAndSubmitNothing) {
    const std::vector<std::vector<std::string_view>> cases = {
        {"--port", "parallel", "VERSION"},
        {"--port", "sim", "RBB:address=XYZ"},
        {"--port", "sim", "RBB:colour=1"},
        {"--port", "sim", "--sim-option", "adapter=purple", "VERSION"},
        {"--port", "sim", "--sim-option", "volume=11", "VERSION"},
        {"--port", "sim", "--break-after", "soon", "VERSION"},
        {"--port", "sim", "--frobnicate", "VERSION"},
        {"--port", "sim", "--sim-option", "chip=AM29F400BB", "VERSION"}, // a dsi chip on dsx
        {"--port", "sim"},
        {"--port"},
        {"--channels", "image.bin", "VERSION"},
        {"--port", "sim", "--csv", "list.csv", "VERSION"},
        {"--port", "sim", "--ignore-case", "VERSION"},
    };
    for (const auto& args : cases) {
        const auto run = corvexctl(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_TRUE(run.out.empty()) << "something ran for " << args.back() << ": " << run.out;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("corvexctl: ", 0), 0U) << run.err;
    }
}

TEST(CorvexctlUsage, CommandFieldsAreDecimalParamAndHexAddressAndData) {
    std::string error;
    const auto record = cli::parseCommand("RBB:address=7FE00000,data=100,param=12", error);
    ASSERT_TRUE(record) << error;
    EXPECT_EQ(record->Text.view(), "RBB");
    EXPECT_EQ(record->Address, 0x7FE00000U);
    EXPECT_EQ(record->Data, 0x100U);
    EXPECT_EQ(record->Param, 12U);
    const auto spaced = cli::parseCommand("READ FIRMWARE", error);
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->Text.view(), "READ FIRMWARE");
    EXPECT_FALSE(cli::parseCommand("WBB:address=", error));
    EXPECT_FALSE(cli::parseCommand("WBB:data=1FFFFFFFF", error)); // wider than a word
    EXPECT_FALSE(cli::parseCommand("SETHARDWARE:param=0x1", error));
}

TEST(CorvexctlUsage, AreasTakeOneModeForAllOrRanges) {
    std::array<std::uint32_t, 20> modes{};
    std::string error;
    ASSERT_TRUE(cli::parseAreas("SKIP", modes, error)) << error;
    EXPECT_EQ(modes[0], link::kAreaModeSkip);
    EXPECT_EQ(modes[19], link::kAreaModeSkip);
    modes.fill(link::kAreaModePgm);
    ASSERT_TRUE(cli::parseAreas("3:CLR,7-18:SKIP", modes, error)) << error;
    EXPECT_EQ(modes[2], link::kAreaModePgm);
    EXPECT_EQ(modes[3], link::kAreaModeClr);
    EXPECT_EQ(modes[6], link::kAreaModePgm);
    EXPECT_EQ(modes[7], link::kAreaModeSkip);
    EXPECT_EQ(modes[18], link::kAreaModeSkip);
    for (const char* bad :
         {"", "pgm", "0-6", "6-0:PGM", "0-20:PGM", "1:PGM,", "x:CLR", "1:ERASE"}) {
        EXPECT_FALSE(cli::parseAreas(bad, modes, error)) << bad;
    }
    const auto run = corvexctl({"--port", "sim", "--hardware", "3", "VERSION"});
    EXPECT_EQ(run.status, 2);
}

// The simulated receiver's flash lives in --sim-dir: what one run writes, the next reads back.
TEST(CorvexctlSimDir, AWriteIsReadBackByALaterRun) {
    TempDir dir;
    const std::string simDir = dir.file("receiver");
    const std::string original = dir.file("original.bin");
    const std::string changed = dir.file("changed.bin");
    const std::string readBack = dir.file("read-back.bin");

    auto first = corvexctl({"--port", "sim", "--sim-dir", simDir, "--areas", "SKIP", "--areas",
                            "4:PGM", "--read-file", original, "RFW"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    std::vector<std::uint8_t> image = readBytes(original);
    ASSERT_EQ(image.size(), 0x20000U); // area 4 alone, 128 KiB
    image[0x1234] ^= 0x0F;
    image[0x1FFFF] = 0x00;
    std::vector<std::uint8_t> full(0x200000, 0xFF);
    std::copy(image.begin(), image.end(), full.begin() + 0x20000);
    writeBytes(changed, full);

    auto write = corvexctl({"--port", "sim", "--sim-dir", simDir, "--areas", "SKIP", "--areas",
                            "4:PGM", "--write-file", changed, "--verbose", "WFW"});
    ASSERT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_TRUE(write.hasLine("AREA  4 Programmed - OK")) << write.out;

    auto second = corvexctl({"--port", "sim", "--sim-dir", simDir, "--areas", "SKIP", "--areas",
                             "4:PGM", "--read-file", readBack, "RFW"});
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_TRUE(readBytes(readBack) == image) << "the second run did not read back the write";
}

TEST(CorvexctlSimDir, TheEepromKeepsWhatARunWroteForTheNextRunByBothReadMethods) {
    TempDir dir;
    const std::string simDir = dir.file("receiver");
    const std::string image = dir.file("image.bin");
    const std::string readBack = dir.file("read-back.bin");
    std::vector<std::uint8_t> bytes(2048);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    writeBytes(image, bytes);
    for (const char* hardware : {"0", "1"}) {
        const auto write = corvexctl({"--port", "sim", "--sim-dir", simDir, "--hardware", hardware,
                                      "--eeprom-load", image, "EEWRITE"});
        ASSERT_EQ(write.status, 0) << write.out << write.err;
        EXPECT_TRUE(write.hasLine(" - EELOADFILENAME " + image)) << write.out;
        const auto read = corvexctl({"--port", "sim", "--sim-dir", simDir, "--hardware", hardware,
                                     "--eeprom-save", readBack, "EEVIEW"});
        ASSERT_EQ(read.status, 0) << read.out << read.err;
        EXPECT_TRUE(read.hasLine("MESSAGE 12 " + readBack)) << read.out;
        EXPECT_TRUE(readBytes(readBack) == bytes) << "hardware " << hardware;
        std::filesystem::remove(readBack);
    }
}

TEST(CorvexctlLogFile, AppendsTheLinesItPrinted) {
    TempDir dir;
    const std::string path = dir.file("corvex.LOG");
    writeBytes(path, {'e', 'a', 'r', 'l', 'y', '\n'});
    const auto run = corvexctl({"--port", "sim", "--log-file", path, "VERSION"});
    ASSERT_EQ(run.status, 0);
    const auto bytes = readBytes(path);
    const std::string content(bytes.begin(), bytes.end());
    EXPECT_EQ(content.rfind("early\n", 0), 0U);
    EXPECT_NE(content.find(" - 3.00 BUILD 020411 / DEBUG EXTENSION 020416\n"), std::string::npos);
}

TEST(CorvexctlFailures, AFatalGuardErrorIsReportedAndTheRunFails) {
    ThrowingPort port;
    std::string error;
    auto options = cli::parseOptions({"RST", "VERSION"}, error);
    ASSERT_TRUE(options) << error;
    std::ostringstream out;
    std::ostringstream err;
    int status = 0;
    {
        cli::CtlSession session(*options, port, "PORT: TEST", out, err);
        status = session.run();
    }
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.str().find("*** FATAL CORVEX GUARD EXCEPTION - "), std::string::npos)
        << out.str();
    EXPECT_EQ(out.str().find("3.00 BUILD"), std::string::npos) << "ran after the fatal error";
}

TEST(CorvexctlChannels, PrintsTheChannelListOfAnImageWithoutAPort) {
    TempDir dir;
    const std::string image = dir.file("receiver.bin");
    writeBytes(image, sim::defaultFirmwareImage(0x200000, "TEST FIRMWARE"));
    const auto run = corvexctl({"--channels", image, "--csv", dir.file("list.csv")});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<std::string> printed;
    for (std::string line; std::getline(lines, line);) {
        printed.push_back(line);
    }
    const std::size_t channels = sim::defaultChannels().size();
    const std::size_t transponders = sim::defaultTransponders().size();
    ASSERT_EQ(printed.size(), channels + transponders + 1) << run.out;
    for (std::size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(printed[i].size(), i < channels ? 65U : 59U) << printed[i];
    }
    EXPECT_EQ(printed.front().substr(0, 17), "Aurora 1        ;");
    EXPECT_EQ(printed.back(), " 255;Empty Channel;    0;    0;     0;     0;     0;     0;");
    EXPECT_FALSE(readBytes(dir.file("list.csv")).empty());

    sim::ImageBuilder damaged(0x40000);
    damaged.putTransponderTable(sim::kTransponderBlock, sim::defaultTransponders())
        .putChannelTable(sim::kChannelBlock, sim::defaultChannels())
        .zeroTransponder(sim::kTransponderBlock, 1);
    writeBytes(image, damaged.bytes());
    const auto warned = corvexctl({"--channels", image});
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.out.rfind("WARNING TPT Interpreter failure detected.\\r\\rTPT last Index = "
                               "0\\rLink needed for TPT Index = 12\\rTID=0\n",
                               0),
              0U)
        << warned.out;

    writeBytes(image, std::vector<std::uint8_t>(0x40000, 0xFF));
    const auto untagged = corvexctl({"--channels", image, "--hex"});
    EXPECT_EQ(untagged.status, 1);
    EXPECT_EQ(untagged.err, "No valid TCS or TPT Tables found !\n");
    EXPECT_TRUE(untagged.out.empty()) << untagged.out;

    const auto device = corvexctl({"--channels", "/dev/zero"});
    EXPECT_EQ(device.status, 1);
    EXPECT_EQ(device.err, "corvexctl: /dev/zero is not a regular file\n");
}

TEST(CorvexctlFind, PrintsTheResultLinesAndTheStatusLineWithoutAPort) {
    TempDir dir;
    const std::string file = dir.file("three.bin");
    writeBytes(file, {0xAA, 0xAA, 0xAA});
    const auto run = corvexctl({"--find", "--hex", "AA", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, " 00000000   00000000   ...\n"
                       " 00000001   00000001   ...\n"
                       " 00000002   00000002   ...\n"
                       "COMPLETED OK - Found 3 matches.\n");

    writeBytes(file, {'n', 'o', 'i', 's', 'e', ' ', 'C', 'V', 'X'});
    const auto text = corvexctl({"--find", "CVX", file, "--base", "10000123"});
    EXPECT_EQ(text.out, " 10000126   00000006   noise CVX\nCOMPLETED OK - Found 1 matches.\n");

    const auto folded = corvexctl({"--find", "--ignore-case", "cvx", file});
    EXPECT_EQ(folded.out, " 00000006   00000006   noise CVX\nCOMPLETED OK - Found 1 matches.\n");

    const auto missing = corvexctl({"--find", "CVX", dir.file("none.bin")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "READ ERROR - Found 0 matches.\n");
    const auto device = corvexctl({"--find", "CVX", "/dev/null"});
    EXPECT_EQ(device.status, 1);
    EXPECT_EQ(device.err, "corvexctl: /dev/null is not a regular file\n");

    for (const auto& args : std::vector<std::vector<std::string_view>>{
             {"--find", "AA"},
             {"--find", "AA", file, "VERSION"},
             {"--find", "AA", file, "--base", "x"},
             {"--find", "--hex", "--ignore-case", "AA", file}}) {
        EXPECT_EQ(corvexctl(args).status, 2) << args.back();
    }
}

} // namespace
} // namespace corvex::test
