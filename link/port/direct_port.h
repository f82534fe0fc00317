#pragma once

#include "link/port/port_io.h"
#include "link/port/sys_calls.h"

#include <cstdint>
#include <vector>

namespace corvex::link {

// A real parallel port through the port instructions (x86 only), for machines where the
// kernel's port device is not available. Opening needs root or CAP_SYS_RAWIO; the process
// gives up both right after access is granted: a setuid-root program returns to the real
// user for all its threads, and the opening thread clears CAP_SYS_RAWIO from its effective
// and permitted sets.
//
// Access is granted to the registers (base .. base + 2 and base + 0x402) of the starting base
// and of the standard bases 0x378, 0x278 and 0x3BC, because the port layer may move PortBase
// at run time and the privilege to ask again is gone by then. Any other address reads 0xFF and
// takes no writes, never reaching a port instruction.
//
// Threads: port permissions and capabilities belong to the thread that opens the port and are
// inherited only by threads it creates afterwards. Open the port on the main thread before the
// Guard thread (or any other) is started, or the Guard faults on its first port access.
class DirectPort final : public PortIo {
public:
    /// Gains access to the port registers and drops privileges. Throws PortOpenError.
    DirectPort(SysCalls& sys, std::uint16_t base);

    std::uint8_t in(std::uint16_t address) override;
    void out(std::uint16_t address, std::uint8_t value) override;

    /// Whether the port instructions are allowed on address.
    [[nodiscard]] bool granted(std::uint16_t address) const;

private:
    struct Range {
        std::uint16_t from;
        std::uint16_t count;
    };

    SysCalls& m_sys;
    std::vector<Range> m_ranges; // fixed after construction
};

} // namespace corvex::link
