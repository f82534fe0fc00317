#pragma once

#include "eeprom_24c16.h"

#include <cstdint>

namespace corvex::sim {

// The receiver's I2C controller (0x20009000) and its pin block (0x2000D000), both on one
// two-wire bus with the EEPROM. Both lines are open-drain: a line is low when any pin, the
// controller or the EEPROM pulls it low. Pin 0 and pin 1 sit on the data line (pin 1 is the
// one the input register reports as the data level), pin 2 on the clock line.
//
// Pin block: output register (+0x00, set +0x04, clear +0x08), input register (+0x10) and three
// configuration registers (+0x20, +0x30, +0x40, each with set +4 and clear +8) whose bits give
// each pin a mode: 001/011 open-drain output, 010 output, 110/111 handed to the controller,
// anything else input. A receiver reset makes every pin an input.
//
// Controller: prescaler (+0x00), transmit (+0x04), receive (+0x08), control (+0x0C), +0x10,
// status (+0x14: bit 1 ready to transmit, bit 0 frame received). It works only after the
// prescaler was set to 300 and +0x10 written with 0 since the last reset, and then control set
// to 0x318; until then it never reports ready and drops frames. A frame written to transmit is
// shifted out as nine clocks, most significant bit first, and the line level sampled at each
// clock forms the frame read back from receive. The status shows the transfer busy for a few
// polls. The controller reaches the bus only while pins 1 and 2 are handed to it; between
// frames it holds the clock low.
//
// The blocks also watch the order of a transfer and refuse what no correct master does, so a
// job that gets a sequence wrong shows up as an anomaly: a frame sent while no START is open,
// a frame read back before it was received, a receive frame where the device address belongs,
// a byte sent in a read transfer or read after the last (unacknowledged) one, and a STOP with
// no START before it. Not thread-safe: the Receiver serialises access.
class I2cBlocks {
public:
    static constexpr std::uint32_t kControllerBase = 0x20009000;
    static constexpr std::uint32_t kPinBase = 0x2000D000;
    // Status polls a frame takes before it is received.
    static constexpr int kTransferPolls = 2;

    explicit I2cBlocks(Eeprom24c16& eeprom);

    /// The address belongs to one of the two blocks.
    [[nodiscard]] static bool claims(std::uint32_t address);
    /// One bus read; `refusal` is set when the register cannot be read.
    [[nodiscard]] std::uint32_t read(std::uint32_t address, const char*& refusal);
    /// One bus write; why it was refused, or null.
    [[nodiscard]] const char* write(std::uint32_t address, std::uint32_t data);
    /// Receiver reset: both blocks back to their power-on state. The EEPROM is not reset, but
    /// the reset pulse lasts long enough for its write cycle to end.
    void reset();

    /// The levels of the two lines (true = high).
    [[nodiscard]] bool dataLine() const { return m_sda; }
    [[nodiscard]] bool clockLine() const { return m_scl; }

private:
    [[nodiscard]] const char* writeController(std::uint32_t offset, std::uint32_t data);
    [[nodiscard]] const char* writePins(std::uint32_t offset, std::uint32_t data);
    [[nodiscard]] int pinMode(int pin) const;
    [[nodiscard]] bool pinPullsLow(int pin) const;
    [[nodiscard]] bool controllerOwnsBus() const;
    void transfer(std::uint32_t frame);
    /// Why the frame does not fit the transfer so far, or null; moves the transfer on.
    [[nodiscard]] const char* checkFrame(std::uint32_t frame);
    /// Brings the line levels in line with what is driven, telling the EEPROM every START,
    /// STOP and clock edge on the way.
    void settle();

    Eeprom24c16& m_eeprom;

    // Pin block.
    std::uint32_t m_output = 0;
    std::uint32_t m_config[3] = {0, 0, 0};

    // Controller.
    std::uint32_t m_prescaler = 0;
    std::uint32_t m_control = 0;
    bool m_modeWritten = false; // +0x10 written with 0 since the last reset
    bool m_enabled = false;
    int m_busyPolls = 0;
    bool m_received = false;
    std::uint32_t m_receive = 0;
    bool m_ctlDataLow = false;
    bool m_ctlClockLow = true;

    // The lines as the EEPROM last saw them, and the data level at the last rising clock.
    bool m_sda = true;
    bool m_scl = true;
    bool m_sampled = true;

    // Where the transfer on the bus stands, as the controller's frames and the line conditions
    // show it. A receiver reset leaves it: the EEPROM keeps its own state too.
    enum class Transfer : std::uint8_t {
        Idle,     // no START since the last STOP
        Address,  // START seen: the device address comes next
        Writing,  // a device addressed for writing
        Reading,  // a device addressed for reading
        ReadDone, // the last byte read: only START or STOP may follow
    };
    Transfer m_transfer = Transfer::Idle;
    // A line condition that no correct master makes, found while the lines settled.
    const char* m_lineRefusal = nullptr;
};

} // namespace corvex::sim
