#pragma once

#include "link/link.h"
#include "link/port.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <stop_token>
#include <thread>

namespace corvex::sim::test {

[[nodiscard]] inline AdapterOptions adapterOfType(AdapterType type) {
    AdapterOptions options;
    options.type = type;
    return options;
}

[[nodiscard]] inline AdapterOptions adapterHangingAfter(std::uint64_t bytes) {
    AdapterOptions options;
    options.hangAfter = bytes;
    return options;
}

// The link waits for the adapter without a time limit; a fault that silences the adapter would
// hang the test. The watchdog breaks such a wait, as the window's time-out would.
class Watchdog {
public:
    static constexpr std::chrono::seconds kLimit{10};

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
    explicit SimRig(AdapterOptions options = {}, std::uint16_t portBase = link::kDefaultPortBase)
        : adapter(bus, options), port(adapter, portBase), link(port, flags) {
        link.setSleeper([](auto) {});
        port.setup();
    }
    ~SimRig() {
        if (watchdog.fired()) {
            ADD_FAILURE() << "the link waited " << Watchdog::kLimit.count()
                          << " s for an adapter that never answered";
        }
    }
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;
    SimRig(SimRig&&) = delete;
    SimRig& operator=(SimRig&&) = delete;

    [[nodiscard]] std::uint8_t status() { return port.readStatus(); }
    [[nodiscard]] bool rxAck() { return (status() & link::kStatusRxAck) != 0; }
    [[nodiscard]] bool dataValid() { return (status() & link::kStatusDataValid) != 0; }

    RegisterFile bus;
    VirtualPort adapter;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
    Watchdog watchdog{flags};
};

} // namespace corvex::sim::test
