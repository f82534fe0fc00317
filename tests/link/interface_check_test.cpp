#include "guard_harness.h"
#include "link/port/port.h"
#include "sim/simulator.h"
#include "temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace corvex::test {
namespace {

using link::GuardRecord;

// Counts the status reads that find DataValid and RxAck high together.
class StatusWatch : public link::PortIo {
public:
    explicit StatusWatch(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override {
        const std::uint8_t value = m_inner.in(address);
        constexpr std::uint8_t both = link::kStatusDataValid | link::kStatusRxAck;
        if (address == link::kDefaultPortBase + link::kStatusOffset && (value & both) == both) {
            m_bothHigh.fetch_add(1);
        }
        return value;
    }
    void out(std::uint16_t address, std::uint8_t value) override { m_inner.out(address, value); }
    [[nodiscard]] int bothHigh() const { return m_bothHigh.load(); }

private:
    link::PortIo& m_inner;
    std::atomic<int> m_bothHigh{0}; // the Guard counts, the test reads
};

// An adapter never raises both input lines at once, at any step of any job; an empty port
// always shows both. So the job prologue can tell an empty port before its first transaction:
// every job on it ends as a broken link and none reports work, on every adapter type.
TEST(InterfaceCheck, EveryJobRunsOnEachAdapterTypeAndNoneOnAnEmptyPort) {
    const std::pair<GuardRecord, const char*> jobs[] = {
        // the job, the report or line of success
        {GuardRecord::command("EMI_INIT"), "EMI Initialization OK"},
        {GuardRecord::command("SIGNATURE"), "AMD: AM29LV800BB"},
        {GuardRecord::command("EEREAD"), "Reading configuration EEprom succeeded."},
        {GuardRecord::command("BOOTCODE"), "Uploading MicroCode (bootcode) program succeeded."},
        {GuardRecord::command("RBB", 0, 0x7FE00000, 0x100), "Reading binary block succeeded."}};
    for (const char* type : {"revb", "compatible", "unknown", "absent"}) {
        const bool absent = std::string(type) == "absent";
        sim::SimConfig config;
        ASSERT_EQ(sim::applySimOption(config, std::string("adapter=") + type), "");
        sim::Simulator simulator(config);
        StatusWatch port(simulator.port());
        GuardHarness h(port);
        h.guard->link().setSleeper([](auto) {});
        const TempDir dir;
        h.guard->SetEESaveFileName(dir.file("eeprom.bin"));
        h.guard->SetEELoadFileName(dir.file("program.bin"));
        h.guard->SetWriteFileName(dir.file("block.bin"));
        writeBytes(dir.file("program.bin"), {1, 2, 3, 4});
        for (const auto& [command, success] : jobs) {
            const std::string job = command.Text.str();
            SCOPED_TRACE(std::string(type) + " " + job);
            const std::size_t before = h.events.messages().size();
            h.run(command);
            // On an empty port the Guard's broken-link report follows the job, once idle again.
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            const auto reported = [&] {
                const auto all = h.events.messages();
                return all.size() > before && all.back().Code == link::kMsgBrokenLink;
            };
            while (absent && !reported() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            h.drain();
            const auto replies = h.repliesTo(job);
            std::vector<std::string> said = replies;
            std::vector<std::uint32_t> codes;
            const auto messages = h.events.messages();
            for (std::size_t i = before; i < messages.size(); ++i) {
                said.push_back(messages[i].Text.str());
                codes.push_back(messages[i].Code);
            }
            EXPECT_EQ(std::find(said.begin(), said.end(), success) != said.end(), !absent);
            EXPECT_EQ(std::count(replies.begin(), replies.end(), "NO CORVEX INTERFACE CONNECTED"),
                      absent ? 1 : 0);
            EXPECT_EQ(std::count(codes.begin(), codes.end(), link::kMsgBrokenLink), absent ? 1 : 0);
            EXPECT_EQ(!codes.empty() && codes.back() == link::kMsgBrokenLink, absent);
        }
        EXPECT_EQ(port.bothHigh() == 0, !absent) << port.bothHigh();
        const std::vector<std::string> files =
            absent ? std::vector<std::string>{"program.bin"}
                   : std::vector<std::string>{"block.bin", "eeprom.bin", "program.bin"};
        EXPECT_EQ(dir.names(), files);
    }
}

} // namespace
} // namespace corvex::test
