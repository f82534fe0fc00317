#include "cli/ctl_options.h"
#include "ctl_run.h"
#include "link/guard/program_files.h"
#include "link/jobs/area_table.h"
#include "sim/image_builder.h"
#include "sim/port_choice.h"
#include "sim/simulator.h"
#include "tests/link/fake_sys_calls.h"
#include "tests/link/guard_harness.h"
#include "tests/link/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvex::test {
namespace {

// corvexctl on the simulated receiver kept in `simDir`, every area skipped but `areas`.
CtlRun onAreas(const std::string& simDir, const std::string& areas,
               const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--port",  "sim",  "--sim-dir", simDir,
                                    "--areas", "SKIP", "--areas",   areas};
    all.insert(all.end(), args.begin(), args.end());
    return corvexctl(all);
}

// corvexctl as a process of its own, its standard output and error in one pipe.
class CtlProcess {
public:
    CtlProcess(const std::string& program, std::vector<std::string> args) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        m_out = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& word : args) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << program;
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
    }
    ~CtlProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            (void)exitStatus();
        }
        ::close(m_out);
    }
    CtlProcess(const CtlProcess&) = delete;
    CtlProcess& operator=(const CtlProcess&) = delete;

    /// Reads output until it holds `text` (empty: until it ends); false on its end or after 60 s.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (text.empty() || output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{m_out, POLLIN, 0};
            char buffer[4096];
            ssize_t got = 0;
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
                (got = ::read(m_out, buffer, sizeof buffer)) <= 0) {
                return false;
            }
            output.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
    void signal(int number) { ::kill(m_pid, number); }
    /// Reads the rest of the output, then the exit status (-1 when not a normal exit).
    int exitStatus() {
        (void)waitFor("");
        int status = 0;
        const pid_t pid = std::exchange(m_pid, -1);
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
            return -1;
        }
        return WEXITSTATUS(status);
    }
    std::string output;

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

// A failed, refused or broken-off job fails the run; the commands after it still run.
TEST(CorvexctlFailures, AFailedJobFailsTheRunAndTheCommandsAfterItStillRun) {
    TempDir dir;
    const std::string image = dir.file("read.bin");
    const char* aborted = "MESSAGE 5 Job aborted and Corvex guard ready to start new job !";
    const struct {
        std::vector<std::string> args;
        const char* line;
        const char* err;
    } cases[] = {
        {{"version"}, " - ERROR - UNKNOWN COMMAND SEND \"version\"", ""},
        // The time-out watch is on unasked: a dead interface never holds a run for ever.
        {{"--sim-option", "hang-after=3", "EMI_INIT"}, " - Communication with Corvex broken.", ""},
        // The loopback test asks first; without --yes the answer is no.
        {{"DIAG:param=19", "DIAG:param=22"}, "ANSWER No", ""},
        {{"--break-after", "100", "DEADLOCK"}, aborted, ""},
        // 0 ms: the break is due before the Guard has even taken the job, and must wait for it.
        {{"--break-after", "0", "DEADLOCK"}, aborted, ""},
        // With no PGM area in use a read would report success and save nothing.
        {{"--areas", "SKIP", "--areas", "3:CLR", "--read-file", image, "RFW"},
         "",
         "RFW refused: no area is set to PGM"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.emplace_back("VERSION");
        const auto run = corvexctl(args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_LT(run.took, std::chrono::seconds(10));
        expectLines(run, {c.line, " - 3.00 BUILD 020411 / DEBUG EXTENSION 020416"});
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("succe"), std::string::npos) << run.out; // -ssful, -eded
        EXPECT_FALSE(std::filesystem::exists(image));
    }
}

TEST(CorvexctlDiag, TheLoopbackQuestionIsAnsweredByYes) {
    const auto accepted = corvexctl({"--port", "sim", "--yes", "DIAG:param=19", "DIAG:param=22"});
    EXPECT_EQ(accepted.status, 0) << accepted.out;
    expectLines(accepted,
                {"ANSWER Yes", "MESSAGE 9 100", "MESSAGE 5 Loopback DATA-test succeeded."});
}

// Each case is one command line up to a ';', split at its spaces ('+': a space in a word).
// Among them: a dsi chip on the dsx; -v and - are no commands; jobs without the file they need;
// --order and --save-into without --channels; backups are listed or restored in runs alone.
TEST(CorvexctlUsage, BadArgumentsSayWhatIsWrongAndSubmitNothing) {
    const std::string lines =
        "--port parallel VERSION;--port sim RBB:address=XYZ;--port sim RBB:colour=1;"
        "--port sim WBB:address=;--port sim WBB:data=1FFFFFFFF;"
        "--port sim SETHARDWARE:param=0x1;--port sim --sim-option adapter=purple VERSION;"
        "--port sim --sim-option volume=11 VERSION;--port sim --break-after soon VERSION;"
        "--port sim --frobnicate VERSION;--port sim --sim-option chip=AM29F400BB VERSION;"
        "--port sim;--port;--channels image.bin VERSION;--port sim --csv list.csv VERSION;"
        "--port sim --ignore-case VERSION;--port sim -v VERSION;--port sim - VERSION;"
        "--port sim --read-file r.bin WFW;--port sim PREVIEW+FIRMWARE;"
        "--port sim --write-file w.bin VERSION RFW;"
        "--port sim --read-file r.bin RBB:address=7FE00000,data=100;"
        "--port sim --write-file w.bin WBB:address=7FE00000,data=100;"
        "--port sim --hardware 3 VERSION;--port sim --order x VERSION;"
        "--port sim --save-into x VERSION;--find AA;--find AA f.bin VERSION;"
        "--find AA f.bin --base x;--find --hex --ignore-case AA f.bin;--list-backups RFW;"
        "--restore x.bin WFW;--restore x.bin --areas PGM;--restore x.bin --write-file y.bin;";
    std::istringstream cases(lines);
    for (std::string line; std::getline(cases, line, ';');) {
        SCOPED_TRACE(line);
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            std::replace(word.begin(), word.end(), '+', ' ');
            args.push_back(word);
        }
        const auto run = corvexctl(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << "something ran: " << run.out;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("corvexctl: ", 0), 0U) << run.err;
    }
    EXPECT_EQ(corvexctl({"WFW"}).err, "corvexctl: WFW needs --write-file FILE\n");
}

TEST(CorvexctlUsage, HelpAndVersionPrintAndRunNothing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"--port", "sim", "VERSION", "--help"}, {"--bogus", "-h"}}) {
        const auto run = corvexctl(args);
        EXPECT_EQ(run.status, 0) << args.back();
        EXPECT_TRUE(run.out.starts_with("usage: corvexctl")) << run.out;
        EXPECT_NE(run.out.find("--no-timeout-control"), std::string::npos);
        EXPECT_FALSE(run.hasLine("Corvex Guard is stopped.")) << "a command ran";
    }
    EXPECT_EQ(corvexctl({"--version"}).out, "corvexctl " CORVEX_VERSION "\n");
}

// Without --port the simulated interface stands in; its first line says why no real port.
TEST(CorvexctlPorts, TheSimulatorStandsInForAnUnusablePortAndSaysWhy) {
    FakeSysCalls sys;
    sys.removeParportSupport();
    const sim::OpenedPort opened = sim::openPort("", sim::SimConfig{}, sys);
    EXPECT_TRUE(opened.simulator);
    EXPECT_EQ(opened.description, "PORT: simulated Corvex interface at 0x378 - no usable parallel "
                                  "port: ppdev at 0x378: not supported on this machine (no "
                                  "/proc/sys/dev/parport)");
}

TEST(CorvexctlUsage, CommandFieldsAreDecimalParamAndHexAddressAndData) {
    std::string error;
    const auto record = cli::parseCommand("RBB:address=7FE00000,data=100,param=12", error);
    ASSERT_TRUE(record) << error;
    EXPECT_EQ(std::tuple(record->Text.view(), record->Address, record->Data, record->Param),
              std::tuple(std::string_view("RBB"), 0x7FE00000U, 0x100U, 12U));
    EXPECT_EQ(cli::parseCommand("READ FIRMWARE", error)->Text.view(), "READ FIRMWARE");
    EXPECT_TRUE(cli::parseOptions({"--timeout-control", "VERSION"}, error)->timeoutControl);
    EXPECT_FALSE(cli::parseOptions({"--no-timeout-control", "VERSION"}, error)->timeoutControl);
}

TEST(CorvexctlUsage, AreasTakeOneModeForAllOrRanges) {
    std::array<std::uint32_t, 20> modes{};
    std::string error;
    ASSERT_TRUE(cli::parseAreas("SKIP", modes, error)) << error;
    EXPECT_EQ(modes[0], link::kAreaModeSkip);
    EXPECT_EQ(modes[19], link::kAreaModeSkip);
    modes.fill(link::kAreaModePgm);
    ASSERT_TRUE(cli::parseAreas("3:CLR,7-18:SKIP", modes, error)) << error;
    const std::uint32_t pgm = link::kAreaModePgm, clr = link::kAreaModeClr;
    const std::uint32_t skip = link::kAreaModeSkip;
    EXPECT_EQ((std::array{modes[2], modes[3], modes[6], modes[7], modes[18], modes[19]}),
              (std::array{pgm, clr, pgm, skip, skip, pgm}));
    for (const char* bad :
         {"", "pgm", "0-6", "6-0:PGM", "0-20:PGM", "1:PGM,", "x:CLR", "1:ERASE"}) {
        EXPECT_FALSE(cli::parseAreas(bad, modes, error)) << bad;
    }
}

// Commands run in order; the Guard's start and the settings' lines come first, in one order
// however the threads are timed.
TEST(CorvexctlCommands, TheLogOrderIsTheSameEveryRun) {
    const std::vector<std::string> expected = {"PORT: simulated Corvex interface at 0x378",
                                               "CORVEX GUARD STARTING ...",
                                               "CORVEX GUARD RUNNING - VERSION 1.00 - BUILD 020407",
                                               "EELOADFILENAME in.bin",
                                               "EESAVEFILENAME out.bin",
                                               "ENABLE STOP ON ERROR",
                                               "VERSION"};
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto run =
            corvexctl({"--port", "sim", "--eeprom-load", "in.bin", "--eeprom-save", "out.bin",
                       "--stop-on-error", "VERSION", "CORVEX", "RST", "EMI_INIT"});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_TRUE(run.err.empty()) << run.err;
        const auto lines = run.lines();
        expectLines(run, {" - EMI Initialization OK", " - Corvex Guard is stopped."});
        EXPECT_LT(run.out.find("3.00 BUILD"), run.out.find("CORVEX INTERFACE CONNECTED"));
        EXPECT_LT(run.out.find("RESET CORVEX INTERFACE"), run.out.find("EMI Initialization OK"));
        ASSERT_GE(lines.size(), expected.size()) << run.out;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_TRUE(lines[i].ends_with(" - " + expected[i])) << "run " << attempt << run.out;
        }
    }
}

// Exit status 3: the job completed, but the flash does not hold the image; the Guard's own
// report stays a success.
TEST(CorvexctlFirmware, ACompletedJobThatLeavesTheFlashUnlikeTheImageEnds3) {
    TempDir dir;
    const std::string simDir = dir.file("receiver");
    const std::string read = dir.file("read.bin");
    const std::string same = dir.file("same.bin");
    const std::string changed = dir.file("changed.bin");
    ASSERT_EQ(onAreas(simDir, "1-3:PGM", {"--read-file", read, "RFW"}).status, 0);
    std::vector<std::uint8_t> image(0x200000, 0xFF);
    const auto flash = readBytes(read); // areas 1 to 3, from 0x8000
    ASSERT_EQ(flash.size(), 0x18000U);
    std::copy(flash.begin(), flash.end(), image.begin() + 0x8000);
    writeBytes(same, image);
    image[0xC123] ^= 0x40; // area 2
    writeBytes(changed, image);
    const auto equal = onAreas(simDir, "1-3:PGM", {"--write-file", same, "PFW"});
    EXPECT_EQ(equal.status, 0) << equal.out;
    EXPECT_TRUE(equal.hasLine("PFW areas differ: none; equal: 1-3; protected: none")) << equal.out;
    const auto preview =
        onAreas(simDir, "1-3:PGM", {"--sim-option", "protect=2,3", "--write-file", changed, "PFW"});
    EXPECT_EQ(preview.status, 3) << preview.out;
    // Two neighbours are a list, three or more a range.
    EXPECT_TRUE(preview.hasLine("PFW areas differ: 2; equal: 1,3; protected: 2,3")) << preview.out;
    const auto write =
        onAreas(simDir, "1-3:PGM", {"--sim-option", "protect=2", "--write-file", changed, "WFW"});
    EXPECT_EQ(write.status, 3) << write.out;
    EXPECT_TRUE(write.hasLine("MESSAGE 5 \"Write Firmware\" function completed successful."))
        << write.out;
    EXPECT_TRUE(write.hasLine("WFW protected areas left as they were: 2")) << write.out;
}

// A session on `port` as corvexctl runs it on a terminal, without the hardware's pauses.
CtlRun onTerminal(const std::vector<std::string_view>& args, link::PortIo& port) {
    TempDir dir;
    std::string error;
    const auto options = cli::parseOptions(args, error);
    std::ostringstream out;
    std::ostringstream err;
    CtlRun run;
    if (options) {
        cli::CtlSession session(*options, port, "PORT: TEST", dir.file("work.LRF"), out, err);
        session.dropHardwarePauses();
        session.setProgressLine(true);
        run.status = session.run();
    }
    run.out = out.str() + error;
    run.err = err.str();
    return run;
}

TEST(CorvexctlProgress, ATerminalSeesPercentAndTimeLeftOnStandardErrorOnly) {
    TempDir dir;
    sim::Simulator simulator(sim::SimConfig{});
    const std::string read = dir.file("read.bin");
    const auto run = onTerminal(
        {"--areas", "SKIP", "--areas", "3-5:PGM", "--read-file", read, "RFW"}, simulator.port());
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.err.find("\r\x1b[K[1/1] RFW reading "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("% 0:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" left"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
}

TEST(CorvexctlFailures, AFatalGuardErrorIsReportedAndTheRunFails) {
    ThrowingPort port;
    const auto run = onTerminal({"RST", "VERSION"}, port);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("*** FATAL CORVEX GUARD EXCEPTION - "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("3.00 BUILD"), std::string::npos) << "ran after the fatal error";
}

// Runs side by side never share the Guard's work file, or one would save the other's flash.
TEST(CorvexctlWorkFile, RunsSideBySideEachSaveTheirOwnFlash) {
    TempDir dir;
    std::vector<CtlRun> runs(2);
    std::vector<std::thread> threads;
    for (std::uint8_t i = 0; i < 2; ++i) {
        const std::string simDir = dir.file("receiver" + std::to_string(i));
        std::filesystem::create_directories(simDir);
        writeBytes(simDir + "/flash.bin", std::vector<std::uint8_t>(0x200000, i));
        threads.emplace_back([&runs, &dir, i, simDir] {
            const std::string read = dir.file("read" + std::to_string(i) + ".bin");
            runs[i] = onAreas(simDir, "4:PGM", {"--read-file", read, "RFW"});
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::uint8_t i = 0; i < 2; ++i) {
        ASSERT_EQ(runs[i].status, 0) << runs[i].out << runs[i].err;
        EXPECT_TRUE(readBytes(dir.file("read" + std::to_string(i) + ".bin")) ==
                    std::vector<std::uint8_t>(0x20000, i))
            << "run " << int{i} << " saved another receiver's flash";
    }
}

TEST(CorvexctlWorkFile, ARunWithoutAWorkFileOfItsOwnSaysSoAndTouchesNothing) {
    TempDir dir;
    // A copy of its own, so its work files are this test's alone.
    const std::string program = dir.file("corvexctl");
    std::filesystem::copy_file(CORVEXCTL_PATH, program);
    std::string error;
    std::vector<link::WorkFile> held;
    for (int slot = 0; slot < link::WorkFile::kSlots; ++slot) {
        auto file = link::lockWorkFile(program, "LRF", error);
        ASSERT_TRUE(file) << error;
        held.push_back(std::move(*file));
    }
    CtlProcess run(program, {"--port", "sim", "--sim-dir", dir.file("receiver"), "VERSION"});
    EXPECT_EQ(run.exitStatus(), 1);
    EXPECT_EQ(run.output, "corvexctl: the work file " + program +
                              ".LRF and its 7 alternatives are in use by other runs\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("receiver"))) << "the receiver was opened";
}

// The first signal breaks the job as Break does; the run then ends as usual, log book and
// simulated receiver saved, with 128 + the signal's number.
TEST(CorvexctlSignals, TheFirstSignalBreaksTheJobAndTheRunEndsInOrder) {
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        CtlProcess run(CORVEXCTL_PATH, {"--port", "sim", "DEADLOCK", "VERSION"});
        ASSERT_TRUE(run.waitFor(" - DEADLOCK TEST\n")) << run.output;
        run.signal(signal);
        EXPECT_EQ(run.exitStatus(), status) << run.output;
        EXPECT_NE(run.output.find(" - ABORT DEADLOCK\n"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(" - Corvex Guard is stopped.\n"), std::string::npos);
        EXPECT_EQ(run.output.find("3.00 BUILD"), std::string::npos) << "VERSION still ran";
    }
    TempDir dir;
    const std::string simDir = dir.file("receiver");
    const std::string image = dir.file("zero.bin");
    const std::string logBook = dir.file("corvexctl.LOG");
    writeBytes(image, std::vector<std::uint8_t>(0x200000, 0x00));
    writeBytes(logBook, {'e', 'a', 'r', 'l', 'y', '\n'}); // the log book is appended to
    CtlProcess run(CORVEXCTL_PATH,
                   {"--port", "sim", "--sim-dir", simDir, "--areas", "SKIP", "--areas", "4:PGM",
                    "--write-file", image, "--log-file", logBook, "WFW"});
    ASSERT_TRUE(run.waitFor(" - PROGRAMMING AREA 4\n")) << run.output;
    run.signal(SIGINT);
    EXPECT_EQ(run.exitStatus(), 130) << run.output;
    EXPECT_NE(run.output.find(" - Operation aborted.\n"), std::string::npos) << run.output;
    EXPECT_EQ(std::filesystem::file_size(simDir + "/flash.bin"), 0x200000U);
    const auto book = readBytes(logBook);
    const std::string lines(book.begin(), book.end());
    EXPECT_TRUE(lines.starts_with("early\n")) << lines;
    EXPECT_NE(lines.find(" - PROGRAMMING AREA 4\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(" - Corvex Guard is stopped.\n"), std::string::npos) << lines;
}

TEST(CorvexctlChannels, PrintsTheListOfAnImageWithoutAPortOrSaysWhyNot) {
    TempDir dir;
    const std::string image = dir.file("receiver.bin");
    sim::ImageBuilder damaged(0x40000);
    damaged.putTransponderTable(sim::kTransponderBlock, sim::defaultTransponders())
        .putChannelTable(sim::kChannelBlock, sim::defaultChannels())
        .zeroTransponder(sim::kTransponderBlock, 1);
    writeBytes(image, damaged.bytes());
    const auto warned = corvexctl({"--channels", image});
    EXPECT_EQ(warned.status, 0);
    EXPECT_TRUE(warned.out.starts_with("WARNING TPT Interpreter failure detected.\\r\\rTPT last "
                                       "Index = 0\\rLink needed for TPT Index = 12\\rTID=0\n"))
        << warned.out;
    writeBytes(image, std::vector<std::uint8_t>(0x40000, 0xFF));
    const auto untagged = corvexctl({"--channels", image, "--hex"});
    EXPECT_EQ(untagged.status, 1);
    EXPECT_EQ(untagged.err, "No valid TCS or TPT Tables found !\n");
    EXPECT_TRUE(untagged.out.empty()) << untagged.out;
}

TEST(CorvexctlChannels, OrderAndSaveIntoWriteTheArrangedListIntoANewImage) {
    TempDir dir;
    const std::string image = dir.file("receiver.bin");
    const std::vector<std::uint8_t> bytes = sim::defaultFirmwareImage(0x200000, "TEST FIRMWARE");
    writeBytes(image, bytes);
    const std::string csv = dir.file("list.csv");
    const std::string copy = dir.file("copy.bin");
    // The export read back as the order changes nothing: the new image is the old one.
    const auto listed = corvexctl({"--channels", image, "--csv", csv});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(listed.out.starts_with("Aurora 1        ;")) << "a stamp or no list";
    const auto same = corvexctl({"--channels", image, "--order", csv, "--save-into", copy});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(readBytes(copy), bytes);
    // The fourth row first and one that matches nothing; an existing file needs --force.
    const std::vector<std::uint8_t> exported = readBytes(csv);
    CtlRun csvRows;
    csvRows.out.assign(exported.begin(), exported.end());
    const auto rows = csvRows.lines();
    const std::string arranged = rows[0] + "\n" + rows[4] + "\n99,Nowhere,0,0,0,0,9,4711,,,,,,,,\n";
    writeBytes(csv, std::vector<std::uint8_t>(arranged.begin(), arranged.end()));
    const auto refused = corvexctl({"--channels", image, "--order", csv, "--save-into", copy});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "corvexctl: " + copy + " exists; --force replaces it with the new image\n");
    EXPECT_TRUE(refused.out.empty());
    const auto moved =
        corvexctl({"--channels", image, "--order", csv, "--save-into", copy, "--force"});
    ASSERT_EQ(moved.status, 0) << moved.err;
    EXPECT_TRUE(moved.out.starts_with("WARNING " + csv +
                                      ": row 3 (transponder \"9\", SID "
                                      "\"4711\") matches no channel left in the list\n"))
        << moved.out;
    const auto after = corvexctl({"--channels", copy}).lines();
    ASSERT_EQ(after.size(), same.lines().size());
    EXPECT_EQ(after[0], same.lines()[3]);
}

TEST(CorvexctlFind, PrintsTheResultLinesAndTheStatusLineWithoutAPort) {
    TempDir dir;
    const std::string marks = dir.file("marks.bin");
    const std::string text = dir.file("text.bin");
    const std::string none = dir.file("none.bin");
    writeBytes(marks, {0xAA, 0xAA, 0xAA});
    writeBytes(text, {'n', 'o', 'i', 's', 'e', ' ', 'C', 'V', 'X'});
    const std::string one = " 00000006   00000006   noise CVX\nCOMPLETED OK - Found 1 matches.\n";
    const std::string failed = "READ ERROR - Found 0 matches.\n";
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {{"--hex", "AA", marks},
         " 00000000   00000000   ...\n 00000001   00000001   ...\n 00000002   00000002   ...\n"
         "COMPLETED OK - Found 3 matches.\n",
         ""},
        {{"CVX", text, "--base", "10000123"},
         " 10000126   00000006   noise CVX\nCOMPLETED OK - Found 1 matches.\n",
         ""},
        {{"--ignore-case", "cvx", text}, one, ""},
        {{"CVX", none}, failed, "corvexctl: cannot open " + none + ": No such file or directory\n"},
        {{"CVX", "/dev/null"}, failed, "corvexctl: /dev/null is not a regular file\n"},
    };
    for (const auto& [args, out, err] : cases) {
        std::vector<std::string> all = {"--find"};
        all.insert(all.end(), args.begin(), args.end());
        const auto run = corvexctl(all);
        EXPECT_EQ(run.status, out == failed ? 1 : 0) << args[1];
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.err, err);
    }
}

} // namespace
} // namespace corvex::test
