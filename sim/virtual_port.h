#pragma once

#include "link/port/port_io.h"
#include "receiver_bus.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex::sim {

enum class AdapterType {
    RevB,       // loopback, detected as type 3
    Compatible, // no loopback, detected as type 2
    Unknown,    // echoes a wrong byte, detected as type 4
    Absent,     // nothing on the port: both input lines float high
};

struct AdapterOptions {
    AdapterType type = AdapterType::RevB;
    // The adapter stops answering once it has taken this many bytes: the byte that reaches the
    // count is taken but never answered, and neither input line rises again. A reset does not
    // revive it; only a new VirtualPort does (a wedged adapter needs a power cycle).
    std::optional<std::uint64_t> hangAfter;
    // The only port base the adapter hangs on; every other base reads as an empty port.
    std::uint16_t base = 0x378;
};

// One byte the adapter took from the data lines on a Write pulse.
struct TakenByte {
    std::uint8_t value = 0;
    // TxAck was high during the pulse: an acknowledge, or a loopback ACK probe.
    bool txAck = false;

    friend bool operator==(const TakenByte&, const TakenByte&) = default;
};

// The simulated Corvex interface as a port backend. It sees only what a real adapter sees --
// pin levels derived from the register values through the port's own inversions -- and answers
// the byte handshake, decoding word transactions into reads and writes on a ReceiverBus.
// out() and data reads belong to one driving thread; status reads are safe from any thread, and
// so are the record and line accessors below.
//
// Register map at the attached base: data (+0), status (+1), control (+2) and extended control
// (+0x402) read back as a port would; every other address reads 0xFF and ignores writes. The
// status register carries DataValid (0x08) and RxAck (0x10); of the other bits, 0x07 read as 1
// (unused on most ports), 0x40 reads 1 and 0x80 reads 0 (pins 10 and 11 idle high), 0x20 reads
// 0 (pin 12 held low by the adapter). With no adapter plugged in all five pins float high: 0x7F.
//
// The adapter takes a byte when pin 16 (Write) falls, using the data and TxAck levels that held
// during the pulse; a Read pulse (pin 1) counts when it ends, so the byte it reads stays on the
// lines while Read is high. A RxAck the PC leaves unanswered is dropped by the next Write pulse.
class VirtualPort : public link::PortIo {
public:
    VirtualPort(ReceiverBus& bus, AdapterOptions options = {});
    ~VirtualPort() override;
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;
    VirtualPort(VirtualPort&&) = delete;
    VirtualPort& operator=(VirtualPort&&) = delete;

    std::uint8_t in(std::uint16_t address) override;
    void out(std::uint16_t address, std::uint8_t value) override;

    /// Every byte the adapter took from the data lines on a Write pulse, in order.
    [[nodiscard]] std::vector<std::uint8_t> takenBytes() const;
    /// The same bytes with the TxAck level each was taken with.
    [[nodiscard]] std::vector<TakenByte> takenLog() const;
    /// Every microcode program taken whole (a command byte n of 2 or more, then n bytes, each
    /// answered with RxAck), oldest first. Kept whether recording is on or not.
    [[nodiscard]] std::vector<std::vector<std::uint8_t>> microcodeUploads() const;
    /// Handshake steps the adapter could not make sense of, one line each.
    [[nodiscard]] std::vector<std::string> anomalies() const;
    [[nodiscard]] bool loopbackOn() const;
    /// True once hangAfter has struck.
    [[nodiscard]] bool hung() const;
    void clearRecords();
    /// Recording is on by default; long runs (benchmarks, whole-flash jobs) may switch it off.
    void setRecording(bool on);

    /// The last value written to the control register (what the port hardware holds).
    [[nodiscard]] std::uint8_t controlRegister() const;
    /// The last value written to the extended control register.
    [[nodiscard]] std::uint8_t extendedControlRegister() const;
    /// Pin 17 is low: the adapter and the receiver are held in reset.
    [[nodiscard]] bool resetAsserted() const;
    [[nodiscard]] const AdapterOptions& options() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace corvex::sim
