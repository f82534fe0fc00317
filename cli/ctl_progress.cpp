#include "ctl_progress.h"

#include <algorithm>
#include <cstdio>

namespace corvex::cli {

namespace {

// After this long without progress the line says the interface keeps it waiting.
constexpr auto kQuietInterface = std::chrono::seconds(1);

} // namespace

void ProgressLine::startPhase(std::string_view name, std::uint64_t total, bool countsSteps) {
    m_phase = Phase{name, total, 0, countsSteps, std::chrono::steady_clock::now()};
}

void ProgressLine::advance(std::uint64_t amount, std::chrono::steady_clock::time_point now) {
    m_phase.done += amount;
    m_lastProgress = now;
}

void ProgressLine::clear() {
    if (m_on) {
        m_err << "\r\x1b[K";
    }
}

void ProgressLine::draw(std::size_t shown, std::size_t count, std::string_view word, bool busy,
                        bool pending, std::chrono::steady_clock::time_point now) {
    if (!m_on) {
        return;
    }
    m_err << "\r\x1b[K[" << shown << '/' << count << "] " << word;
    if (m_phase.total > 0 && busy) {
        // Never 100 % while the job runs: the steps are counted where they start.
        const auto percent = std::min<std::uint64_t>(99, m_phase.done * 100 / m_phase.total);
        m_err << ' ' << m_phase.name << ' ' << percent << '%';
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_phase.started).count();
        if (m_phase.done > 0) {
            const auto left = static_cast<long long>(
                static_cast<double>(elapsed) / 1000.0 *
                static_cast<double>(m_phase.total - std::min(m_phase.done, m_phase.total)) /
                static_cast<double>(m_phase.done));
            char time[32];
            std::snprintf(time, sizeof time, " %lld:%02lld left", left / 60, left % 60);
            m_err << time;
        }
    }
    if (pending && now - m_lastProgress > kQuietInterface) {
        m_err << "  waiting for the interface";
    }
    m_err << std::flush;
}

} // namespace corvex::cli
