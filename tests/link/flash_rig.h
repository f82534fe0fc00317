#pragma once

#include "guard_harness.h"
#include "link/guard/guard.h"
#include "link/jobs/area_table.h"
#include "sim/simulator.h"
#include "temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace corvex::test {

struct AreaEventRecord {
    link::AreaEvent event;
    std::uint32_t area;
    friend bool operator==(const AreaEventRecord&, const AreaEventRecord&) = default;
};

// Messages and area events as the window would get them. The hook runs on the Guard's thread
// as each event arrives, so a test can break a job at an exact point.
class FlashEvents : public Recorder {
public:
    using Hook = std::function<void(link::TCorvexThread&, link::AreaEvent, std::uint32_t area)>;

    void setHook(Hook hook) {
        const std::lock_guard lock(m_mutex);
        m_hook = std::move(hook);
    }
    [[nodiscard]] std::vector<AreaEventRecord> areaEvents() const {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }
    [[nodiscard]] std::vector<link::AreaEvent> of(std::uint32_t area) const;
    [[nodiscard]] int count(link::AreaEvent event, std::uint32_t area) const;
    void clear() {
        const std::lock_guard lock(m_mutex);
        m_events.clear();
    }
    /// CurrentArea as each message found it, in message order.
    [[nodiscard]] std::vector<std::uint32_t> messageAreas() const {
        const std::lock_guard lock(m_mutex);
        return m_messageAreas;
    }
    void OnMessage(link::TCorvexThread& sender, const link::GuardRecord& message) override {
        {
            const std::lock_guard lock(m_mutex);
            m_messageAreas.push_back(sender.CurrentArea());
        }
        Recorder::OnMessage(sender, message);
    }

#define CORVEX_AREA_EVENT(name, event)                                                             \
    void name(link::TCorvexThread& sender) override {                                              \
        record(sender, link::AreaEvent::event);                                                    \
    }
    CORVEX_AREA_EVENT(OnProgress, Progress)
    CORVEX_AREA_EVENT(OnAreaReset, Reset)
    CORVEX_AREA_EVENT(OnAreaReading, Reading)
    CORVEX_AREA_EVENT(OnAreaReadOK, ReadOK)
    CORVEX_AREA_EVENT(OnAreaReadError, ReadError)
    CORVEX_AREA_EVENT(OnAreaErasing, Erasing)
    CORVEX_AREA_EVENT(OnAreaErased, Erased)
    CORVEX_AREA_EVENT(OnAreaEraseFailed, EraseFailed)
    CORVEX_AREA_EVENT(OnAreaProgramming, Programming)
    CORVEX_AREA_EVENT(OnAreaProgrammed, Programmed)
    CORVEX_AREA_EVENT(OnAreaProgramFailed, ProgramFailed)
    CORVEX_AREA_EVENT(OnAreaSkipped, Skipped)
    CORVEX_AREA_EVENT(OnAreaUpToDate, UpToDate)
    CORVEX_AREA_EVENT(OnAreaNeedsUpdate, NeedsUpdate)
#undef CORVEX_AREA_EVENT

private:
    void record(link::TCorvexThread& sender, link::AreaEvent event);
    mutable std::mutex m_mutex; // guards the members below
    std::vector<AreaEventRecord> m_events;
    std::vector<std::uint32_t> m_messageAreas;
    Hook m_hook;
};

// A Guard over the simulated receiver with an area table, its files in a fresh folder: the
// work file, "read.bin" (ReadFileName) and "write.bin" (WriteFileName). The waits are dropped:
// the simulator counts polls, not time.
class FlashRig : public GuardDriver {
public:
    explicit FlashRig(const std::vector<std::string>& simOptions = {},
                      const std::string& workName = "work.LRF");
    ~FlashRig();
    FlashRig(const FlashRig&) = delete;
    FlashRig& operator=(const FlashRig&) = delete;

    void setModes(std::uint32_t all,
                  const std::vector<std::pair<std::size_t, std::uint32_t>>& some = {});
    [[nodiscard]] std::vector<link::GuardRecord> messages(std::uint32_t code) const;
    /// The texts of the final reports, oldest first.
    [[nodiscard]] std::vector<std::string> reportTexts() const {
        std::vector<std::string> texts;
        for (const auto& report : messages(link::kMsgFinalReport)) {
            texts.push_back(report.Text.str());
        }
        return texts;
    }
    [[nodiscard]] std::vector<std::uint8_t> flash() { return sim->bus().flashImage(); }
    void recordBus(bool on) { sim->bus().setRecording({.writes = on, .reads = on}); }
    /// Runs the job with an owner's time-out watch ticking every millisecond once the adapter
    /// has hung; returns how often it broke the job, or -1 when the job did not end.
    int runWatched(const link::GuardRecord& command, int ticks = 3);
    TempDir dir;
    std::string workFile;
    std::string readFile;
    std::string writeFile;
    link::AreaTable table;
    FlashEvents events;
    std::unique_ptr<sim::Simulator> sim;
    std::unique_ptr<SilencingPort> port;
};

} // namespace corvex::test
