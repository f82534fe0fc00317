#include "link/protocol/link.h"

#include <array>
#include <thread>
#include <utility>

namespace corvex::link {

namespace {

struct BusWrite {
    std::uint32_t address;
    std::uint32_t data;
};

// The receiver's EMI set-up; the values are the receiver's own and are written verbatim.
constexpr std::array<BusWrite, 5> kBusInitType0{{
    {0x00002030, 0x000016C9},
    {0x00002034, 0x00003000},
    {0x00002038, 0x00003005},
    {0x0000203C, 0x00000000},
    {0x0000204C, 0x0000000F},
}};

// Five-register groups; the word at 0x20002010 closes each group and must come last.
constexpr std::array<BusWrite, 27> kBusInitType1{{
    {0x20002000, 0xC00FF802}, {0x20002004, 0x41852825}, {0x20002008, 0xCF192A33},
    {0x2000200C, 0x42404040}, {0x20002010, 0x00000040}, {0x20002000, 0xC0000000},
    {0x20002004, 0x62080726}, {0x20002008, 0xCC483B22}, {0x2000200C, 0x60606160},
    {0x20002010, 0x00000044}, {0x20002000, 0x00000000}, {0x20002004, 0x401009A7},
    {0x20002008, 0xDC000822}, {0x2000200C, 0x31000040}, {0x20002010, 0x00000048},
    {0x20002000, 0xC0000000}, {0x20002004, 0x62060625}, {0x20002008, 0xCCB43B22},
    {0x2000200C, 0x60306160}, {0x20002010, 0x0000004C}, {0x20002000, 0x00000000},
    {0x20002004, 0x00000000}, {0x20002008, 0x00000000}, {0x2000200C, 0xAAAA959A},
    {0x20002010, 0x00000050}, {0x20002000, 0x7FFFFFA8}, {0x20002010, 0x00000020},
}};

constexpr std::uint8_t kLoopbackPrefix1 = 0x55;
constexpr std::uint8_t kLoopbackPrefix2 = 0xAA;
constexpr std::uint8_t kLoopbackEnable = 0xB3;
constexpr std::uint8_t kLoopbackDisable = 0x33;

} // namespace

const char* interfaceTypeWord(InterfaceType type) {
    switch (type) {
    case InterfaceType::Absent:
        return "NO";
    case InterfaceType::Compatible:
        return "MUNDRAKE COMPATIBLE";
    case InterfaceType::RevB:
        return "VELMAR (REV B)";
    case InterfaceType::Unknown:
        break;
    }
    return "CAN NOT DETECT WHICH TYPE OF";
}

Link::Link(Port& port, LinkFlags& flags)
    : m_port(port), m_flags(flags),
      m_sleep([](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }),
      m_microDelay(&Link::delayMicroseconds) {}

std::uint8_t Link::readStrobed() {
    m_port.setLines(kLineRead);
    const std::uint8_t byte = m_port.readData();
    m_port.clearLines(kLineRead);
    return byte;
}

void Link::sendByte(std::uint8_t byte) {
    if (!m_laptopDriver) {
        m_port.writeData(byte);
        m_port.clearLines(kDataInput);
        m_port.setLines(kLineWrite);
        m_port.clearLines(kLineWrite);
        m_port.setLines(kDataInput);
        return;
    }
    // Slow ports: the extra writes and reads give the data lines time to settle.
    m_port.writeData(0xFF);
    m_port.clearLines(kDataInput);
    m_port.writeData(byte);
    m_port.clearLines(kDataInput);
    m_port.setLines(kLineWrite);
    m_port.clearLines(kLineWrite);
    m_port.setLines(kDataInput);
    (void)m_port.readData();
    m_port.setLines(kDataInput);
    (void)m_port.readData();
}

void Link::waitRxAck() {
    while (!breakRequested()) {
        if ((m_port.readStatus() & kStatusRxAck) != 0) {
            // The Read pulse answers the acknowledge and lets the adapter drop RxAck.
            (void)readStrobed();
            return;
        }
    }
}

std::uint8_t Link::receiveByte() {
    while (!breakRequested()) {
        if ((m_port.readStatus() & kStatusDataValid) != 0) {
            return readStrobed();
        }
    }
    return 0xFF;
}

void Link::acknowledge() {
    m_port.setLines(kLineTxAck);
    sendByte(0);
    m_port.clearLines(kLineTxAck);
}

void Link::writeWord(std::uint32_t address, std::uint32_t data) {
    const PendingExchange pending(m_flags);
    sendByte(0);
    for (int shift = 0; shift < 32; shift += 8) {
        waitRxAck();
        sendByte(static_cast<std::uint8_t>(address >> shift));
    }
    waitRxAck();
    for (int shift = 0; shift < 32; shift += 8) {
        sendByte(static_cast<std::uint8_t>(data >> shift));
        waitRxAck();
    }
}

std::uint32_t Link::readWord(std::uint32_t address) {
    const PendingExchange pending(m_flags);
    sendByte(1);
    for (int shift = 0; shift < 32; shift += 8) {
        waitRxAck();
        sendByte(static_cast<std::uint8_t>(address >> shift));
    }
    std::uint32_t word = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        word |= static_cast<std::uint32_t>(receiveByte()) << shift;
        acknowledge();
    }
    return breakRequested() ? 0xFFFFFFFFU : word;
}

void Link::resetPulse() {
    m_port.setLines(kLineReset);
    sleepMs(100);
    m_port.clearLines(kLineReset);
}

void Link::loopbackSwitch(std::uint8_t command) {
    // With TxAck held high the adapter takes these three bytes as a command, not as data.
    m_port.setLines(kLineTxAck);
    m_port.clearLines(kDataInput);
    for (const std::uint8_t byte : {kLoopbackPrefix1, kLoopbackPrefix2, command}) {
        m_port.writeData(byte);
        sleepMs(10);
    }
    m_port.setLines(kDataInput);
    m_port.clearLines(kLineTxAck);
}

void Link::loopbackOn() {
    loopbackSwitch(kLoopbackEnable);
}
void Link::loopbackOff() {
    loopbackSwitch(kLoopbackDisable);
}

bool Link::linesFloat() {
    constexpr std::uint8_t bothInputs = kStatusDataValid | kStatusRxAck;
    return (m_port.readStatus() & bothInputs) == bothInputs;
}

InterfaceType Link::detectInterface() {
    resetPulse();
    if (linesFloat()) {
        return InterfaceType::Absent;
    }
    loopbackOn();
    sendByte(1);
    sleepMs(5);
    m_port.writeData(0xFF);
    m_port.clearLines(kDataInput);
    m_port.writeData(0xFF);
    m_port.setLines(kDataInput);
    (void)m_port.readData();
    (void)m_port.readData();

    InterfaceType result = InterfaceType::Compatible;
    const std::uint8_t status = m_port.readStatus();
    if ((status & kStatusDataValid) == 0) {
        if ((status & kStatusRxAck) == 0) {
            // Neither line answered the probe: nothing usable is there, whether the adapter is
            // missing behind a port that reads low or has stopped answering.
            result = InterfaceType::Absent;
        } else {
            // Not echoing: the adapter took the probe byte as the start of a read command.
            // Finish that read of 0x7FFFFFFC so it leaves the handshake idle.
            for (const std::uint8_t byte : {0xFC, 0xFF, 0xFF}) {
                sendByte(byte);
                waitRxAck();
            }
            sendByte(0x7F);
            for (int i = 0; i < 4; ++i) {
                (void)receiveByte();
                acknowledge();
            }
        }
    } else {
        result = readStrobed() == 1 ? InterfaceType::RevB : InterfaceType::Unknown;
    }
    loopbackOff();
    return result;
}

bool Link::busInit(std::uint32_t hardwareType) {
    if (hardwareType == 0) {
        for (const BusWrite& w : kBusInitType0) {
            writeWord(w.address, w.data);
        }
    } else if (hardwareType == 1) {
        for (const BusWrite& w : kBusInitType1) {
            writeWord(w.address, w.data);
        }
    }
    return !breakRequested();
}

void Link::delayMicroseconds(std::uint64_t count) {
    if (count == 0) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto wait = std::chrono::microseconds(count);
    while (Clock::now() - start < wait) {
    }
}

} // namespace corvex::link
