#include "link/port/port.h"
#include "link/protocol/link.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"

#include <benchmark/benchmark.h>
#include <cstdint>

namespace {

using namespace corvex;

// Every input reads 0xFF, so both handshake lines are always up and no wait ever spins: what is
// left is the cost of the port and link layers themselves.
class NullIo final : public link::PortIo {
public:
    std::uint8_t in(std::uint16_t /*address*/) override {
        ++m_accesses;
        return 0xFF;
    }
    void out(std::uint16_t /*address*/, std::uint8_t /*value*/) override { ++m_accesses; }
    [[nodiscard]] std::uint64_t accesses() const { return m_accesses; }

private:
    std::uint64_t m_accesses = 0;
};

// Counts the accesses of one transaction through another backend, outside the timed loop.
class CountingIo final : public link::PortIo {
public:
    explicit CountingIo(link::PortIo& inner) : m_inner(inner) {}
    std::uint8_t in(std::uint16_t address) override {
        ++m_accesses;
        return m_inner.in(address);
    }
    void out(std::uint16_t address, std::uint8_t value) override {
        ++m_accesses;
        m_inner.out(address, value);
    }
    [[nodiscard]] std::uint64_t accesses() const { return m_accesses; }

private:
    link::PortIo& m_inner;
    std::uint64_t m_accesses = 0;
};

// A receiver that costs nothing, so the figures are the adapter's and the link's.
class FixedBus final : public sim::ReceiverBus {
public:
    std::uint32_t read(std::uint32_t address) override { return address ^ 0x5A5A5A5AU; }
    void write(std::uint32_t /*address*/, std::uint32_t /*data*/) override {}
};

void reportAccesses(benchmark::State& state, double accessesPerWord) {
    state.counters["words"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["per_access"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * accessesPerWord,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["accesses/word"] = accessesPerWord;
}

void BM_ReadWordNullPort(benchmark::State& state) {
    NullIo io;
    link::Port port(io);
    link::LinkFlags flags;
    link::Link link(port, flags);
    std::uint32_t address = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(link.readWord(address += 4));
    }
    reportAccesses(state,
                   static_cast<double>(io.accesses()) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ReadWordNullPort);

void BM_WriteWordNullPort(benchmark::State& state) {
    NullIo io;
    link::Port port(io);
    link::LinkFlags flags;
    link::Link link(port, flags);
    std::uint32_t address = 0;
    for (auto _ : state) {
        address += 4;
        link.writeWord(address, address);
    }
    reportAccesses(state,
                   static_cast<double>(io.accesses()) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_WriteWordNullPort);

// The whole stack on the simulated adapter. Argument: 1 records every byte taken, 0 does not.
struct SimStack {
    explicit SimStack(bool recording) : adapter(bus), port(adapter), link(port, flags) {
        adapter.setRecording(recording);
        port.setup();
    }

    FixedBus bus;
    sim::VirtualPort adapter;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
};

template <typename Transaction> double accessesOfOne(SimStack& stack, Transaction transaction) {
    CountingIo counting(stack.adapter);
    link::Port port(counting);
    link::Link link(port, stack.flags);
    transaction(link);
    return static_cast<double>(counting.accesses());
}

void BM_ReadWordSim(benchmark::State& state) {
    SimStack stack(state.range(0) != 0);
    if (stack.link.readWord(0x1234) != (0x1234 ^ 0x5A5A5A5AU)) {
        state.SkipWithError("the simulated adapter returned a wrong word");
        return;
    }
    const double accesses = accessesOfOne(stack, [](link::Link& l) { (void)l.readWord(0); });
    std::uint32_t address = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(stack.link.readWord(address += 4));
    }
    reportAccesses(state, accesses);
}
BENCHMARK(BM_ReadWordSim)->ArgName("recording")->Arg(0)->Arg(1);

void BM_WriteWordSim(benchmark::State& state) {
    SimStack stack(state.range(0) != 0);
    const double accesses = accessesOfOne(stack, [](link::Link& l) { l.writeWord(0, 0); });
    std::uint32_t address = 0;
    for (auto _ : state) {
        address += 4;
        stack.link.writeWord(address, address);
    }
    if (!stack.adapter.anomalies().empty()) {
        state.SkipWithError("the simulated adapter saw a handshake anomaly");
    }
    reportAccesses(state, accesses);
}
BENCHMARK(BM_WriteWordSim)->ArgName("recording")->Arg(0)->Arg(1);

} // namespace
