#include "job_progress.h"

#include <algorithm>
#include <cstdio>

namespace corvex::mainwin {

namespace {

constexpr std::uint64_t kStepsPerArea = 32;
constexpr int kRunningPercentLimit = 99;

bool isRead(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) != link::kAreaModeSkip;
}

bool readsForCompare(std::uint32_t flags) {
    return isRead(flags) && (flags & link::kAreaReadMark) == 0;
}

bool mayBeProgrammed(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) == link::kAreaModePgm;
}

bool isProgrammed(std::uint32_t flags) {
    return mayBeProgrammed(flags) && (flags & link::kAreaDiffersMark) != 0 &&
           (flags & link::kAreaProtectedMark) == 0;
}

} // namespace

JobProgress::Kind JobProgress::kindOf(std::string_view command) {
    if (command == "RFW" || command == "READ FIRMWARE") {
        return Kind::Read;
    }
    if (command == "WFW" || command == "WRITE FIRMWARE") {
        return Kind::Write;
    }
    if (command == "PFW" || command == "PREVIEW FIRMWARE") {
        return Kind::Preview;
    }
    return Kind::None;
}

std::uint64_t JobProgress::areaBytes(const link::AreaTable& table,
                                     bool (*counts)(std::uint32_t)) const {
    std::uint64_t bytes = 0;
    for (std::size_t area = 0; area < m_areaCount && area + 1 < link::kAreaSlots; ++area) {
        if (counts(table.AreaFlags[area].load())) {
            bytes += table.AreaStart[area + 1].load() - table.AreaStart[area].load();
        }
    }
    return bytes;
}

void JobProgress::start(Kind kind, const link::AreaTable& table, std::size_t areaCount,
                        TimePoint now) {
    m_kind = kind;
    m_areaCount = areaCount;
    m_programming = false;
    m_done = 0;
    m_started = now;
    switch (kind) {
    case Kind::None:
        m_total = 0;
        break;
    case Kind::Read:
        m_total = areaBytes(table, isRead);
        break;
    case Kind::Preview:
        m_total = areaBytes(table, readsForCompare);
        break;
    case Kind::Write:
        m_compared = areaBytes(table, readsForCompare);
        m_total = m_compared + areaBytes(table, mayBeProgrammed);
        break;
    }
}

void JobProgress::onAreaEvent(link::AreaEvent event, std::size_t area,
                              const link::AreaTable& table) {
    if (m_kind == Kind::None || area + 1 >= link::kAreaSlots) {
        return;
    }
    if (event == link::AreaEvent::Erasing && m_kind == Kind::Write && !m_programming) {
        // The compare is over and has marked the areas that differ: the rest is known now.
        m_programming = true;
        m_done = m_compared;
        m_total = m_compared + areaBytes(table, isProgrammed);
    }
    if (event == link::AreaEvent::Progress) {
        m_done += (table.AreaStart[area + 1].load() - table.AreaStart[area].load()) / kStepsPerArea;
    }
}

std::optional<int> JobProgress::percent() const {
    if (m_kind == Kind::None || m_total == 0) {
        return std::nullopt;
    }
    // Never 100 while the job runs: a step is counted as it starts.
    return static_cast<int>(std::min<std::uint64_t>(kRunningPercentLimit, m_done * 100 / m_total));
}

std::string JobProgress::text(TimePoint now) const {
    const std::optional<int> shown = percent();
    if (!shown) {
        return {};
    }
    std::string text = std::to_string(*shown) + " %";
    if (m_done > 0 && m_done < m_total) {
        const double elapsed = std::chrono::duration<double>(now - m_started).count();
        const auto left = static_cast<long long>(elapsed * static_cast<double>(m_total - m_done) /
                                                 static_cast<double>(m_done));
        char time[32];
        std::snprintf(time, sizeof time, ", %lld:%02lld left", left / 60, left % 60);
        text += time;
    }
    return text;
}

} // namespace corvex::mainwin
