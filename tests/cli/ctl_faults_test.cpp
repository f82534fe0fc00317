#include "ctl_run.h"
#include "tests/link/fault_rows.h"
#include "tests/link/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvex::test {
namespace {

// The files a row may need, and the one it must not leave behind.
struct RowFiles {
    RowFiles() {
        writeBytes(image, std::vector<std::uint8_t>(2048, 0x5A));
        writeBytes(firmware, std::vector<std::uint8_t>(0x200000, 0x5A));
        writeBytes(program, {1, 2, 3, 4});
    }
    std::vector<std::string> args(const FaultRow& row) const {
        // The job's own failure is the point here, not the backup's refusal in front of it.
        std::vector<std::string> all = {"--port", "sim", "--sim-option", std::string(row.option),
                                        "--no-backup"};
        if (row.hardware >= 0) {
            all.insert(all.end(), {"--hardware", std::to_string(row.hardware)});
        }
        const bool block = row.command.starts_with("RBB");
        all.insert(all.end(), {"--read-file", output, "--write-file", block ? output : firmware,
                               "--eeprom-load", row.command == "BOOTCODE" ? program : image,
                               "--eeprom-save", output});
        all.emplace_back(row.command);
        return all;
    }
    TempDir dir;
    std::string image = dir.file("image.bin");
    std::string firmware = dir.file("firmware.bin");
    std::string program = dir.file("program.bin");
    std::string output = dir.file("out.bin");
};

bool claimsSuccess(const CtlRun& run) {
    for (const char* text :
         {"successful", "succeeded", "READ - OK\n", "WRITE - OK\n", "ERASE - OK\n"}) {
        if (run.out.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Every job on a fault ends in time with its failure: exit status 1, no success text, no file.
// The signature check refuses the flash jobs on an unknown chip or an empty port.
TEST(CorvexctlFaults, EveryJobEndsInTimeWithItsFailureAndNoFile) {
    for (const FaultRow& row : kFaultRows) {
        SCOPED_TRACE(std::string(row.option) + " " + std::string(row.command) +
                     (row.hardware >= 0 ? " --hardware " + std::to_string(row.hardware) : ""));
        const RowFiles files;
        const CtlRun run = corvexctl(files.args(row));
        EXPECT_LT(run.took, kFaultBound);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(run.lastMessage(), row.report) << run.out;
        EXPECT_FALSE(claimsSuccess(run)) << run.out;
        EXPECT_FALSE(std::filesystem::exists(files.output));
        if (row.windowBox.empty() || row.command.starts_with("RBB")) {
            continue;
        }
        EXPECT_NE(run.err.find("corvexctl: " + std::string(row.command) + " not run: "),
                  std::string::npos)
            << run.err;
        if (row.option == "no-power") {
            EXPECT_NE(run.err.find("the signature reads \"Unknown FFFFFFFF: Unknown FFFFFFFF\", "
                                   "not a known flash chip (--force runs it anyway)"),
                      std::string::npos)
                << run.err;
        }
    }
}

// On a known chip the check costs one signature read per run, and none after SIGNATURE or
// with --force; SETHARDWARE asks for a new one.
TEST(CorvexctlFaults, TheSignatureIsReadOnceBeforeTheFirstFlashJob) {
    const TempDir dir;
    const std::string out = dir.file("read.bin");
    const std::vector<std::string> base = {"--port",       "sim",   "--areas",     "SKIP",
                                           "--areas",      "0:PGM", "--read-file", out,
                                           "--write-file", out};
    const struct {
        std::vector<std::string> commands;
        int signatures;
    } cases[] = {
        {{"RFW", "PFW", "RFW"}, 1},
        {{"SIGNATURE", "RFW"}, 1},
        {{"--force", "RFW"}, 0},
        {{"RFW", "SETHARDWARE:param=0", "RFW"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), c.commands.begin(), c.commands.end());
        const CtlRun run = corvexctl(args);
        SCOPED_TRACE(run.out);
        EXPECT_EQ(run.status, 0) << run.err;
        const auto lines = run.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const auto& line) { return line.ends_with(" - SIGNATURE"); }),
                  c.signatures);
        EXPECT_EQ(run.lastMessage().rfind("MESSAGE 5 ", 0), 0U);
    }
}

} // namespace
} // namespace corvex::test
