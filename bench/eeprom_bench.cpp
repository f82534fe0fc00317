// The EEPROM routines on the simulated receiver: the port and link layers, the adapter and the
// I2C controller, pin block and EEPROM model, without the Guard thread around them. Each
// iteration is one whole job body: reset and bus set-up, then the read or the write of all
// 2048 bytes. The counters give the word transactions one job makes.
#include "link/jobs/eeprom_i2c.h"
#include "link/port/port.h"
#include "link/protocol/link.h"
#include "sim/receiver.h"
#include "sim/virtual_port.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

namespace {

using namespace corvex;

// Counts the word transactions that reach the receiver.
class CountingBus final : public sim::ReceiverBus {
public:
    explicit CountingBus(sim::Receiver& inner) : m_inner(inner) {}
    std::uint32_t read(std::uint32_t address) override {
        ++reads;
        return m_inner.read(address);
    }
    void write(std::uint32_t address, std::uint32_t data) override {
        ++writes;
        m_inner.write(address, data);
    }
    void reset() override { m_inner.reset(); }

    std::uint64_t reads = 0;
    std::uint64_t writes = 0;

private:
    sim::Receiver& m_inner;
};

struct EepromStack {
    EepromStack()
        : receiver(sim::ReceiverOptions{},
                   std::vector<std::uint8_t>(sim::flashSizeOf(sim::ReceiverModel::Dsx), 0xFF)),
          bus(receiver), adapter(bus), port(adapter), link(port, flags) {
        adapter.setRecording(false);
        // The simulated EEPROM counts polls, not time: the 100 ms reset pulse and the 1 ms
        // pause of the free-bus wait would only measure the clock.
        link.setSleeper([](auto) {});
        link.setMicroDelay([](auto) {});
        port.setup();
    }
    void prologue() {
        link.resetPulse();
        (void)link.busInit(0);
    }

    sim::Receiver receiver;
    CountingBus bus;
    sim::VirtualPort adapter;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
};

template <typename Job> void runJob(benchmark::State& state, Job job) {
    EepromStack stack;
    std::uint64_t jobs = 0;
    for (auto _ : state) {
        stack.prologue();
        if (!job(stack.link)) {
            state.SkipWithError("the job did not complete");
            return;
        }
        ++jobs;
    }
    const auto perJob = [&](std::uint64_t count) {
        return static_cast<double>(count) / static_cast<double>(jobs);
    };
    state.counters["writes/job"] = perJob(stack.bus.writes);
    state.counters["reads/job"] = perJob(stack.bus.reads);
    state.counters["transactions/job"] = perJob(stack.bus.writes + stack.bus.reads);
}

void BM_EepromReadController(benchmark::State& state) {
    runJob(state, [](link::Link& link) {
        link::EepromImage image{};
        return link::readEepromController(link, image, [](auto) {}).status == link::kEepromComplete;
    });
}
BENCHMARK(BM_EepromReadController)->Unit(benchmark::kMillisecond);

void BM_EepromReadPins(benchmark::State& state) {
    runJob(state, [](link::Link& link) {
        link::EepromImage image{};
        return link::readEepromPins(link, image).status == link::kEepromComplete;
    });
}
BENCHMARK(BM_EepromReadPins)->Unit(benchmark::kMillisecond);

void BM_EepromWrite(benchmark::State& state) {
    runJob(state, [](link::Link& link) {
        link::EepromImage image{};
        for (std::size_t i = 0; i < image.size(); ++i) {
            image[i] = static_cast<std::uint8_t>(i);
        }
        return link::writeEeprom(link, image) == link::kEepromComplete;
    });
}
BENCHMARK(BM_EepromWrite)->Unit(benchmark::kMillisecond);

} // namespace
