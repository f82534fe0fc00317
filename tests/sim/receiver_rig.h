#pragma once

#include "link/flash_chips.h"
#include "link/link.h"
#include "link/port.h"
#include "sim/simulator.h"
#include "sim_rig.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace corvex::sim::test {

/// A configuration built from simulator options; a bad option fails the test.
[[nodiscard]] inline SimConfig simOptions(std::initializer_list<const char*> options) {
    SimConfig config;
    for (const char* option : options) {
        const std::string problem = applySimOption(config, option);
        EXPECT_EQ(problem, "") << option;
    }
    return config;
}

// The whole simulator behind the real port and link layers, with the flash command sequences a
// flash job sends.
struct ReceiverRig {
    explicit ReceiverRig(SimConfig config = {})
        : sim(std::move(config)), port(sim.port()), link(port, flags) {
        link.setSleeper([](auto) {});
        port.setup();
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
    /// Reads address until it gives want; returns every value read, the last one want unless
    /// the limit ran out.
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
};

} // namespace corvex::sim::test
