#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace corvex::cli {

// The one line on a terminal that says how far the run is: "[2/3] RFW reading 41% 0:03 left".
// The session redraws it on its 100 ms tick, so it changes at most 10 times a second.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool on) : m_err(err), m_on(on) {}

    [[nodiscard]] bool on() const { return m_on; }
    void setOn(bool on) { m_on = on; }

    /// What the running job counts: bytes for the firmware jobs, steps for the block jobs.
    void startPhase(std::string_view name, std::uint64_t total, bool countsSteps);
    /// A job that counts nothing the line could show.
    void noPhase() { m_phase = Phase{}; }
    [[nodiscard]] std::string_view phaseName() const { return m_phase.name; }
    [[nodiscard]] bool countsSteps() const { return m_phase.countsSteps; }
    /// A progress event: `amount` more done (for a step counter, 1).
    void advance(std::uint64_t amount, std::chrono::steady_clock::time_point now);
    /// The job has started: the interface has not kept it waiting yet.
    void jobStarted(std::chrono::steady_clock::time_point now) { m_lastProgress = now; }

    /// Erases the line, so that other text can go to the terminal; nothing when off.
    void clear();
    /// Draws "[shown/count] word", the phase while `busy`, and the interface warning while an
    /// exchange is pending and no progress came for a second.
    void draw(std::size_t shown, std::size_t count, std::string_view word, bool busy, bool pending,
              std::chrono::steady_clock::time_point now);

private:
    struct Phase {
        std::string_view name;
        std::uint64_t total = 0;
        std::uint64_t done = 0;
        bool countsSteps = false;
        std::chrono::steady_clock::time_point started;
    };

    std::ostream& m_err;
    bool m_on;
    Phase m_phase;
    std::chrono::steady_clock::time_point m_lastProgress;
};

} // namespace corvex::cli
