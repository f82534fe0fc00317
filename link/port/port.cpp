#include "link/port/port.h"

namespace corvex::link {

namespace {
// ECR mode 001 (byte-wide bidirectional), error and service interrupts masked.
constexpr std::uint8_t kEcrByteMode = 0x35;
} // namespace

void Port::setup() {
    // The old mode is read and dropped: the write below sets the whole register.
    (void)readPort(base() + kExtendedControlOffset);
    writePort(base() + kExtendedControlOffset, kEcrByteMode);
    m_shadow = readPort(base() + kControlOffset);
    setLines(kDataInput);
    clearLines(kLineRead | kLineTxAck | kLineWrite | kLineReset);
}

} // namespace corvex::link
