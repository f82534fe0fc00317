#pragma once

#include "link/jobs/flash_chips.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvex::sim {

/// The high chip's data lines as the bus sees them: chip bit k travels on bus bit wire(k) of the
/// high half. HardwareType 0 reverses the bits within each byte; HardwareType 1 puts bit k of the
/// low byte on bit 2k and bit k of the high byte on bit 2k + 1.
[[nodiscard]] std::uint16_t wireHighHalf(std::uint32_t hardwareType, std::uint16_t chipValue);
/// The inverse of wireHighHalf: what the high chip sees of a bus half.
[[nodiscard]] std::uint16_t unwireHighHalf(std::uint32_t hardwareType, std::uint16_t busValue);

// Reads that show status bits before an operation's result reads back. The link waits 200 us
// before each erase poll and 25 us before each program poll, so few polls keep jobs fast while
// a job that forgets to poll still sees the wrong value.
inline constexpr int kEraseBusyReads = 4;
inline constexpr int kProgramBusyReads = 1;

// Status bits of a busy chip, in the chip's own bit order.
inline constexpr std::uint16_t kStatusDataPolling = 0x80; // DQ7: complement of the data's bit 7
inline constexpr std::uint16_t kStatusToggle = 0x40;      // DQ6: flips on every read
inline constexpr std::uint16_t kStatusTimeLimit = 0x20;   // DQ5: the operation gave up
inline constexpr std::uint16_t kStatusEraseTimer = 0x08;  // DQ3: the erase has started

struct FlashFaults {
    std::vector<std::size_t> protectedSectors;
    // Byte offsets of words whose cells keep their charge whatever is programmed or erased.
    std::vector<std::uint32_t> stuckOffsets;
    // Sectors whose erase exceeds the time limit: DQ5 rises and the cells stay as they were.
    std::vector<std::size_t> eraseFailSectors;
};

// Two x16 JEDEC chips side by side on the 32-bit bus: the low half is chip L, the high half
// chip H through the family's wiring. Each chip runs its own command state machine; a command
// word whose halves say different things is refused as a whole. Reads cost one array lookup
// while both chips are in read-array mode. Not thread-safe: the Receiver serialises access.
class FlashBank {
public:
    /// words: the array contents, word i at byte offset 4i; sectorStarts: byte offsets, ascending,
    /// the first 0.
    FlashBank(std::uint32_t hardwareType, const link::FlashChip& chip,
              std::vector<std::uint32_t> words, std::vector<std::uint32_t> sectorStarts,
              const FlashFaults& faults);

    /// One bus read at this byte offset from the array base.
    [[nodiscard]] std::uint32_t read(std::uint32_t offset);
    /// One bus write; address is the bus address (commands must hit the family's unlock
    /// addresses exactly), offset its place in the array. Returns why the chips refused the
    /// write, or null when they took it.
    [[nodiscard]] const char* write(std::uint32_t address, std::uint32_t offset,
                                    std::uint32_t data);
    /// Hardware reset: both chips back to read-array, any operation abandoned.
    void reset();

    [[nodiscard]] std::uint32_t size() const {
        return static_cast<std::uint32_t>(m_words.size() * 4);
    }
    [[nodiscard]] const std::vector<std::uint32_t>& words() const { return m_words; }
    /// Counts the program and erase operations that changed a cell.
    [[nodiscard]] std::uint64_t generation() const { return m_generation; }
    [[nodiscard]] std::size_t sectorOf(std::uint32_t offset) const;
    [[nodiscard]] std::uint32_t sectorStart(std::size_t sector) const {
        return m_sectorStarts[sector];
    }
    [[nodiscard]] std::uint32_t sectorEnd(std::size_t sector) const;
    [[nodiscard]] std::size_t sectorCount() const { return m_sectorStarts.size(); }

private:
    enum class Cycle : std::uint8_t {
        None,
        Unlocked1,
        Unlocked2,
        EraseSetup,
        EraseUnlocked1,
        EraseUnlocked2,
        ProgramArmed,
    };
    enum class Operation : std::uint8_t { None, Program, Erase, EraseHalted };

    // One chip's state; its words are in the chip's own bit order.
    struct Chip {
        bool autoselect = false;
        Cycle cycle = Cycle::None;
        Operation operation = Operation::None;
        int busyReads = 0;
        bool eraseWillFail = false;
        std::uint16_t dataPolling = 0;
        bool toggle = false;
    };

    // What a chip answers in autoselect mode, in its own bit order.
    struct ChipIds {
        std::uint16_t maker = 0;
        std::uint16_t device = 0;
        std::uint16_t protectedStatus = 0;
    };

    // The command bytes of the family, as either chip sees them.
    struct Commands {
        std::uint16_t unlock1, unlock2, reset, autoselect, eraseSetup, sectorErase, program;
    };

    enum class Step : std::uint8_t { Taken, Erase };

    [[nodiscard]] const char* command(Chip& chip, std::uint32_t address, std::uint16_t value,
                                      Step& step) const;
    void program(std::uint32_t offset, std::uint32_t data);
    void erase(std::size_t sector);
    [[nodiscard]] std::uint16_t chipRead(std::size_t half, std::uint32_t offset);
    [[nodiscard]] std::uint16_t toBus(std::size_t half, std::uint16_t chipValue) const;
    [[nodiscard]] bool stuck(std::uint32_t offset) const;
    void toReadArray();

    std::uint32_t m_hardwareType;
    std::uint32_t m_unlockAddress1;
    std::uint32_t m_unlockAddress2;
    Commands m_commands{};
    std::vector<std::uint32_t> m_words;
    std::vector<std::uint32_t> m_sectorStarts;
    std::vector<bool> m_protected;
    std::vector<bool> m_eraseFails;
    std::vector<std::uint32_t> m_stuck;
    std::array<Chip, 2> m_chips{};
    std::array<ChipIds, 2> m_ids{};
    std::uint64_t m_generation = 0;
};

} // namespace corvex::sim
