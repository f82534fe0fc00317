#include "flash_rig.h"

#include "link/guard/timeout_watch.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace corvex::test {

std::vector<link::AreaEvent> FlashEvents::of(std::uint32_t area) const {
    std::vector<link::AreaEvent> out;
    for (const AreaEventRecord& record : areaEvents()) {
        if (record.area == area) {
            out.push_back(record.event);
        }
    }
    return out;
}

int FlashEvents::count(link::AreaEvent event, std::uint32_t area) const {
    const auto all = of(area);
    return static_cast<int>(std::count(all.begin(), all.end(), event));
}

void FlashEvents::record(link::TCorvexThread& sender, link::AreaEvent event) {
    Hook hook;
    const std::uint32_t area = sender.CurrentArea();
    {
        const std::lock_guard lock(m_mutex);
        m_events.push_back({event, area});
        hook = m_hook;
    }
    if (hook) {
        hook(sender, event, area);
    }
}

FlashRig::FlashRig(const std::vector<std::string>& simOptions, const std::string& workName)
    : workFile(dir.file(workName)), readFile(dir.file("read.bin")),
      writeFile(dir.file("write.bin")) {
    sim::SimConfig config;
    for (const std::string& option : simOptions) {
        const std::string problem = sim::applySimOption(config, option);
        EXPECT_TRUE(problem.empty()) << option << ": " << problem;
    }
    sim = std::make_unique<sim::Simulator>(config);
    port = std::make_unique<SilencingPort>(sim->port());
    guard = std::make_unique<link::TCorvexThread>(*port, link::Synchroniser{}, workFile);
    guard->link().setSleeper([](auto) {});
    guard->link().setMicroDelay([](auto) {});
    guard->bindEvents(&events);
    guard->setAreaTable(&table);
    guard->SetReadFileName(readFile);
    guard->SetWriteFileName(writeFile);
}

FlashRig::~FlashRig() {
    guard.reset();
    if (sim) {
        EXPECT_TRUE(sim->bus().anomalies().empty())
            << "the receiver refused: " << sim->bus().anomalies().front();
    }
}

void FlashRig::setModes(std::uint32_t all,
                        const std::vector<std::pair<std::size_t, std::uint32_t>>& some) {
    for (std::size_t i = 0; i < link::kAreaSlots; ++i) {
        table.setMode(i, all);
    }
    for (const auto& [area, mode] : some) {
        table.setMode(area, mode);
    }
}

int FlashRig::runWatched(const link::GuardRecord& command, int ticks) {
    constexpr std::int32_t kTimeoutMark = 1000;
    link::TimeoutWatch watch(ticks);
    submit(command);
    int fired = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!guard->isIdle()) {
        if (std::chrono::steady_clock::now() > end) {
            return -1;
        }
        // A time-out the job has not taken up yet is not counted again.
        const std::int32_t depth = guard->PendingDepth();
        if (sim->adapter().hung() && depth < kTimeoutMark &&
            watch.tick(depth, guard->ExchangesDone())) {
            guard->BreakOnTimeout();
            ++fired;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    drain();
    return fired;
}

std::vector<link::GuardRecord> FlashRig::messages(std::uint32_t code) const {
    std::vector<link::GuardRecord> out;
    for (const auto& message : events.messages()) {
        if (message.Code == code) {
            out.push_back(message);
        }
    }
    return out;
}

} // namespace corvex::test
