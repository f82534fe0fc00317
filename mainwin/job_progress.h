#pragma once

#include "link/jobs/area_table.h"
#include "link/jobs/job_context.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::mainwin {

// How far a firmware job has come as a whole, from the area table and the Guard's progress
// steps: each step is 1/32 of the area it belongs to. A write counts the areas it reads for its
// compare and then those it programs; until the compare has found which differ, every PGM area
// is counted as one to program, so the figure only ever moves forward.
class JobProgress {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    enum class Kind { None, Read, Write, Preview };

    /// The job kind a command word starts ("RFW", "WRITE FIRMWARE", ...); None for the others.
    [[nodiscard]] static Kind kindOf(std::string_view command);

    /// A job of `kind` was handed over; `areaCount` areas are in use.
    void start(Kind kind, const link::AreaTable& table, std::size_t areaCount, TimePoint now);
    void stop() { m_kind = Kind::None; }
    /// An area event of the running job.
    void onAreaEvent(link::AreaEvent event, std::size_t area, const link::AreaTable& table);

    /// The whole job's percentage (at most 99 while it runs); nullopt when no firmware job runs
    /// or it has nothing to count.
    [[nodiscard]] std::optional<int> percent() const;
    /// "43 %, 1:05 left"; the time left only once a step has been taken. Empty when no percent.
    [[nodiscard]] std::string text(TimePoint now) const;

private:
    [[nodiscard]] std::uint64_t areaBytes(const link::AreaTable& table,
                                          bool (*counts)(std::uint32_t)) const;

    Kind m_kind = Kind::None;
    std::size_t m_areaCount = 0;
    bool m_programming = false;
    std::uint64_t m_compared = 0; // what a write reads for its compare
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    TimePoint m_started;
};

} // namespace corvex::mainwin
