#pragma once

#include "link/jobs/flash_chips.h"
#include "link/port/port.h"
#include "link/protocol/link.h"
#include "sim/receiver_bus.h"
#include "sim/simulator.h"
#include "sim/virtual_port.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvex::sim::test {

// Breaks a wait for an adapter that never answers, as the window's time-out would.
class Watchdog {
public:
    // Hangs, not speed: under the thread checker a whole EEPROM read takes several seconds.
    static constexpr std::chrono::seconds kLimit{60};
    explicit Watchdog(link::LinkFlags& flags)
        : m_thread([this, &flags](const std::stop_token& stop) {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              if (!wake.wait_for(lock, stop, kLimit, [&stop] { return stop.stop_requested(); })) {
                  m_fired = true;
                  flags.breakFlag = true;
              }
          }) {}
    [[nodiscard]] bool fired() const { return m_fired.load(); }

private:
    // Set by the watchdog thread, read by the test.
    std::atomic<bool> m_fired{false};
    std::jthread m_thread;
};

// The real port and link layers on top of a simulated adapter, set up as a job would find them.
struct SimRig {
    explicit SimRig(AdapterOptions options = {})
        : adapter(bus, options), port(adapter), link(port, flags) {
        link.setSleeper([](auto) {});
        port.setup();
    }
    // A step out of turn fails the test unless the test asked for it.
    ~SimRig() {
        EXPECT_FALSE(watchdog.fired()) << "the link waited for an adapter that never answered";
        EXPECT_TRUE(anomaliesExpected || adapter.anomalies().empty()) << adapter.anomalies()[0];
    }
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;
    SimRig(SimRig&&) = delete;
    SimRig& operator=(SimRig&&) = delete;
    [[nodiscard]] bool rxAck() { return (port.readStatus() & link::kStatusRxAck) != 0; }
    [[nodiscard]] bool dataValid() { return (port.readStatus() & link::kStatusDataValid) != 0; }
    RegisterFile bus;
    VirtualPort adapter;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
    Watchdog watchdog{flags};
    bool anomaliesExpected = false;
};

/// A configuration built from simulator options; a bad option fails the test.
[[nodiscard]] inline SimConfig simOptions(std::initializer_list<const char*> options) {
    SimConfig config;
    for (const char* option : options) {
        const std::string problem = applySimOption(config, option);
        EXPECT_EQ(problem, "") << option;
    }
    return config;
}

// The whole simulator behind the real port and link layers, with a flash job's command sequences.
struct ReceiverRig {
    explicit ReceiverRig(SimConfig config = {})
        : sim(std::move(config)), port(sim.port()), link(port, flags) {
        link.setSleeper([](auto) {});
        port.setup();
    }
    ReceiverRig(const ReceiverRig&) = delete;
    ReceiverRig& operator=(const ReceiverRig&) = delete;
    // The receiver refuses what a job gets wrong; that fails the test unless it asked for it.
    ~ReceiverRig() {
        EXPECT_FALSE(watchdog.fired()) << "the link waited for an adapter that never answered";
        for (const auto& refused : {sim.bus().anomalies(), sim.adapter().anomalies()}) {
            EXPECT_TRUE(anomaliesExpected || refused.empty()) << refused[0];
        }
    }
    [[nodiscard]] Receiver& receiver() { return sim.bus(); }
    [[nodiscard]] std::uint32_t hardwareType() const {
        return hardwareTypeOf(sim.config().receiver.model);
    }
    [[nodiscard]] const link::FlashFamily& family() const {
        return *link::flashFamily(hardwareType());
    }
    [[nodiscard]] std::uint32_t base() const { return family().arrayBase; }

    /// Reset and bus set-up, as every job starts.
    void prologue() {
        link.resetPulse();
        link.busInit(hardwareType());
    }
    /// Unlock, unlock, command word at the first unlock address.
    void command(std::uint32_t word) {
        link.writeWord(family().unlockAddress1, family().unlock1);
        link.writeWord(family().unlockAddress2, family().unlock2);
        link.writeWord(family().unlockAddress1, word);
    }
    void flashReset() { command(family().reset); }
    /// Sends the sector erase without polling.
    void startErase(std::uint32_t sectorAddress) {
        command(family().eraseSetup);
        link.writeWord(family().unlockAddress1, family().unlock1);
        link.writeWord(family().unlockAddress2, family().unlock2);
        link.writeWord(sectorAddress, family().sectorErase);
    }
    /// Sends the program command and the word without polling.
    void startProgram(std::uint32_t address, std::uint32_t word) {
        command(family().program);
        link.writeWord(address, word);
    }
    /// Every value read from address until it gave want or the limit ran out.
    std::vector<std::uint32_t> pollUntil(std::uint32_t address, std::uint32_t want,
                                         int limit = 50) {
        std::vector<std::uint32_t> seen;
        for (int i = 0; i < limit; ++i) {
            seen.push_back(link.readWord(address));
            if (seen.back() == want) {
                break;
            }
        }
        return seen;
    }
    /// Erases the sector and polls it as the write job does; true when it read all ones.
    bool erase(std::uint32_t sectorAddress) {
        startErase(sectorAddress);
        return pollUntil(sectorAddress, 0xFFFFFFFF).back() == 0xFFFFFFFF;
    }
    /// Programs the word and polls it as the write job does; true when it read back.
    bool program(std::uint32_t address, std::uint32_t word) {
        startProgram(address, word);
        return pollUntil(address, word).back() == word;
    }
    Simulator sim;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
    Watchdog watchdog{flags};
    bool anomaliesExpected = false;
};

} // namespace corvex::sim::test
