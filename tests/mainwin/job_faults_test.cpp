#include "mainwin/diagnostics_model.h"
#include "mainwin/guard_links.h"
#include "mainwin/job_dispatch.h"
#include "sim/simulator.h"
#include "tests/link/fault_rows.h"
#include "tests/link/guard_harness.h"
#include "tests/mainwin/model_rig.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace corvex::test {
namespace {

using mainwin::Job;

sim::SimConfig configWith(std::string_view option) {
    sim::SimConfig config;
    EXPECT_EQ(sim::applySimOption(config, option), "");
    return config;
}

// The window's models over a Guard on the simulated receiver; the Guard's calls are queued to
// the test's thread and run there with the 100 ms tick, as the window's event loop runs them.
struct WindowRig {
    explicit WindowRig(std::string_view option) : simulator(configWith(option)) {
        guard->link().setMicroDelay([](std::uint64_t) {});
        guard->setAreaTable(&table);
        guard->bindEvents(&events);
        feedback.bindGuard(&guardLink);
        dispatch.bindGuard(&jobs);
        diagnostics.bindGuard(&jobs);
        writeBytes(image, std::vector<std::uint8_t>(0x200000, 0x5A));
        host.yes = false;
    }
    ~WindowRig() {
        guard->stop();
        owner.runCalls();
    }
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    /// Runs the window's side until the job's box has shown and the Guard is idle again; the
    /// box, and how long it took.
    std::pair<mainwin::MessageBox, std::chrono::steady_clock::duration> awaitBox() {
        const std::size_t before = host.shown.size();
        const auto started = std::chrono::steady_clock::now();
        auto nextTick = started;
        while (std::chrono::steady_clock::now() - started < std::chrono::seconds(60)) {
            owner.runCalls();
            if (std::chrono::steady_clock::now() >= nextTick) {
                feedback.tick();
                nextTick += std::chrono::milliseconds(100);
            }
            if (host.shown.size() > before && guard->isIdle()) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto took = std::chrono::steady_clock::now() - started;
        // Whatever else the Guard has to say about the job comes within a pass or two.
        for (int i = 0; i < 100; ++i) {
            owner.runCalls();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return {host.shown.size() > before ? host.shown.back() : mainwin::MessageBox{}, took};
    }

    TempDir dir;
    std::string image = dir.file("image.bin");
    std::string output = dir.file("out.bin");
    sim::Simulator simulator;
    mainwin::Settings settings;
    link::AreaTable table;
    mainwin::AreaModel areas{table};
    FakeHost host; // refuses every question
    mainwin::GuardFeedback feedback{areas, host, "Corvex V4.00C", dir.file("corvex.LOG")};
    mainwin::JobDispatch dispatch{settings, areas, feedback, host};
    mainwin::DiagnosticsModel diagnostics{settings, areas, feedback, host};
    mainwin::FeedbackEvents events{feedback};
    PostingOwner owner;
    std::unique_ptr<link::TCorvexThread> guard = std::make_unique<link::TCorvexThread>(
        simulator.port(), owner.synchroniser(), dir.file("corvex.LRF"));
    mainwin::GuardThreadLink guardLink{*guard};
    mainwin::GuardJobsLink jobs{*guard, feedback};
};

// The firmware rows as the window runs them: a flash job comes after a signature read, which
// leaves the flash menus off; on an empty port the job, were it dispatched all the same, ends
// as a broken link. No box claims success and no file is left.
TEST(WindowFaults, FirmwareJobsEndInTimeWithTheirFailureAndNoFile) {
    for (const FaultRow& row : kFaultRows) {
        if (row.windowBox.empty()) {
            continue;
        }
        SCOPED_TRACE(std::string(row.option) + " " + std::string(row.command));
        WindowRig rig(row.option);
        const bool block = row.command.starts_with("RBB");
        if (block) {
            rig.host.answer = rig.output;
            ASSERT_EQ(rig.diagnostics.blockRead("7FE00000", "1000"),
                      mainwin::DiagnosticsModel::Result::Submitted);
        } else {
            ASSERT_EQ(rig.dispatch.dispatch(Job::ReadSignature),
                      mainwin::DispatchResult::Submitted);
            const auto [box, took] = rig.awaitBox();
            EXPECT_EQ(box.text, row.windowBox);
            EXPECT_LT(took, kFaultBound);
            EXPECT_FALSE(rig.feedback.flashGroupEnabled());
            if (row.windowBox != kBrokenLinkBox) {
                continue; // the window offers no flash job
            }
            const bool read = row.command == "RFW";
            rig.host.answer = read ? rig.output : rig.image;
            ASSERT_EQ(rig.dispatch.dispatch(read ? Job::ReadFirmware : Job::PreviewWriteFirmware),
                      mainwin::DispatchResult::Submitted);
        }
        const auto [box, took] = rig.awaitBox();
        EXPECT_EQ(box.text, row.windowBox);
        EXPECT_LT(took, kFaultBound);
        for (const mainwin::MessageBox& shown : rig.host.shown) {
            EXPECT_EQ(shown.text.find("succe"), std::string::npos) << shown.text;
        }
        EXPECT_TRUE(rig.host.boxes.empty());
        EXPECT_FALSE(std::filesystem::exists(rig.output));
        EXPECT_FALSE(rig.feedback.mapBusy());
    }
}

} // namespace
} // namespace corvex::test
