#pragma once

#include "link/guard/guard.h"
#include "link/port/port_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvex::test {

// A port whose inputs always read `level` and whose writes go nowhere.
template <std::uint8_t level> struct ConstantPort : link::PortIo {
    std::uint8_t in(std::uint16_t /*address*/) override { return level; }
    void out(std::uint16_t /*address*/, std::uint8_t /*value*/) override {}
};
// Nothing on the port: every input reads high, so waits fall through at once.
using FloatingPort = ConstantPort<0xFF>;
// An adapter that never answers: the inputs stay low, so every wait spins until a break.
using SilentPort = ConstantPort<0x00>;

// A port that can go silent at once, as an adapter that stops answering mid-job.
class SilencingPort : public link::PortIo {
public:
    explicit SilencingPort(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override {
        return m_silent.load() ? 0x00 : m_inner.in(address);
    }
    void out(std::uint16_t address, std::uint8_t value) override {
        if (!m_silent.load()) {
            m_inner.out(address, value);
        }
    }
    void silence() { m_silent.store(true); }

private:
    link::PortIo& m_inner;
    std::atomic<bool> m_silent{false}; // set by the test or a hook, read by the Guard
};

// Records what the Guard reports: events arrive on the Guard's thread, the test reads on its own.
class Recorder : public link::GuardEvents {
public:
    void OnMessage(link::TCorvexThread& /*sender*/, const link::GuardRecord& message) override {
        const std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
        m_changed.notify_all();
    }
    void OnTerminate(link::TCorvexThread& /*sender*/) override {
        const std::lock_guard lock(m_mutex);
        m_terminated = true;
        m_changed.notify_all();
    }
    [[nodiscard]] std::vector<link::GuardRecord> messages() const {
        const std::lock_guard lock(m_mutex);
        return m_messages;
    }
    [[nodiscard]] bool terminated() const {
        const std::lock_guard lock(m_mutex);
        return m_terminated;
    }
    bool waitForMessage(std::uint32_t code,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] {
            return std::any_of(m_messages.begin(), m_messages.end(),
                               [&](const link::GuardRecord& m) { return m.Code == code; });
        });
    }
    bool waitForTerminate(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_terminated; });
    }

private:
    mutable std::mutex m_mutex; // guards the members below: the Guard writes, the test reads
    std::condition_variable m_changed;
    std::vector<link::GuardRecord> m_messages;
    bool m_terminated = false;
};

// An owner that queues the calls the Guard hands over and runs them when the test says so.
class PostingOwner {
public:
    link::Synchroniser synchroniser() {
        return [this](const std::function<void()>& call) {
            const std::lock_guard lock(m_mutex);
            m_calls.push_back(call);
            m_arrived.notify_all();
        };
    }
    bool waitForCalls(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_calls.size() >= count; });
    }
    void runCalls() {
        std::vector<std::function<void()>> calls;
        {
            const std::lock_guard lock(m_mutex);
            calls.swap(m_calls);
        }
        for (const auto& call : calls) {
            call();
        }
    }

private:
    std::mutex m_mutex; // guards m_calls: the Guard appends, the test takes
    std::condition_variable m_arrived;
    std::vector<std::function<void()>> m_calls;
};

// A port whose every write fails, as a parallel port that vanished under the Guard.
class ThrowingPort : public link::PortIo {
public:
    std::uint8_t in(std::uint16_t /*address*/) override { return 0xFF; }
    void out(std::uint16_t /*address*/, std::uint8_t /*value*/) override {
        errno = EIO;
        throw std::runtime_error("port write failed");
    }
};

// Drives a Guard from the test's thread: submits, waits, and drains its log into plain lines.
class GuardDriver {
public:
    void drain() {
        link::GuardRecord record;
        while (guard->takeLog(record) >= 0) {
            log.push_back(record.Text.str());
            logRecords.push_back(record);
        }
    }
    bool waitForLine(const std::string& text,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return waitFor([&] { return contains(text); }, limit);
    }
    bool waitIdle(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return waitFor([&] { return guard->isIdle(); }, limit);
    }
    void submit(const link::GuardRecord& command) {
        ASSERT_TRUE(waitIdle());
        ASSERT_GE(guard->Submit(command), 0) << "refused: " << command.Text.str();
    }
    void submit(const std::string& word) { submit(link::GuardRecord::command(word)); }
    /// Submits and waits until the Guard is idle again.
    void run(const link::GuardRecord& command) {
        submit(command);
        ASSERT_TRUE(waitIdle()) << command.Text.str() << " still running";
    }
    void run(const std::string& word) { run(link::GuardRecord::command(word)); }
    [[nodiscard]] bool contains(const std::string& text) const {
        return std::find(log.begin(), log.end(), text) != log.end();
    }
    /// The lines logged after the echo of `command` (the last time it was echoed).
    [[nodiscard]] std::vector<std::string> repliesTo(const std::string& command) const {
        const auto echo = std::find(log.rbegin(), log.rend(), command);
        return {echo.base(), log.end()};
    }
    std::unique_ptr<link::TCorvexThread> guard;
    std::vector<std::string> log;
    std::vector<link::GuardRecord> logRecords;

private:
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            drain();
            if (done()) {
                drain(); // what the Guard logged just before it went idle
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        drain();
        return done();
    }
};

// A Guard over a port, reporting to a Recorder.
class GuardHarness : public GuardDriver {
public:
    explicit GuardHarness(link::PortIo& port) {
        guard = std::make_unique<link::TCorvexThread>(port, link::Synchroniser{}, "test.LRF");
        guard->bindEvents(&events);
    }
    ~GuardHarness() { guard.reset(); } // the Guard reports to `events` until it has joined
    GuardHarness(const GuardHarness&) = delete;
    GuardHarness& operator=(const GuardHarness&) = delete;
    Recorder events;
};

} // namespace corvex::test
