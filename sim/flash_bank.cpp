#include "flash_bank.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace corvex::sim {

namespace {

using BitMap = std::array<std::uint8_t, 16>;

constexpr BitMap makeWiring(std::uint32_t hardwareType) {
    BitMap map{};
    for (std::uint8_t k = 0; k < 16; ++k) {
        if (hardwareType == 0) {
            map[k] = static_cast<std::uint8_t>(k < 8 ? 7 - k : 23 - k);
        } else {
            map[k] = static_cast<std::uint8_t>(k < 8 ? 2 * k : 2 * (k - 8) + 1);
        }
    }
    return map;
}

constexpr BitMap kWiring0 = makeWiring(0);
constexpr BitMap kWiring1 = makeWiring(1);

const BitMap& wiringOf(std::uint32_t hardwareType) {
    return hardwareType == 0 ? kWiring0 : kWiring1;
}

constexpr std::uint16_t low16(std::uint32_t word) {
    return static_cast<std::uint16_t>(word);
}

constexpr std::uint16_t high16(std::uint32_t word) {
    return static_cast<std::uint16_t>(word >> 16);
}

constexpr std::uint32_t halves(std::uint16_t low, std::uint16_t high) {
    return static_cast<std::uint32_t>(high) << 16 | low;
}

} // namespace

std::uint16_t wireHighHalf(std::uint32_t hardwareType, std::uint16_t chipValue) {
    const BitMap& map = wiringOf(hardwareType);
    std::uint16_t bus = 0;
    for (std::size_t k = 0; k < 16; ++k) {
        if ((chipValue >> k & 1U) != 0) {
            bus = static_cast<std::uint16_t>(bus | 1U << map[k]);
        }
    }
    return bus;
}

std::uint16_t unwireHighHalf(std::uint32_t hardwareType, std::uint16_t busValue) {
    const BitMap& map = wiringOf(hardwareType);
    std::uint16_t chip = 0;
    for (std::size_t k = 0; k < 16; ++k) {
        if ((busValue >> map[k] & 1U) != 0) {
            chip = static_cast<std::uint16_t>(chip | 1U << k);
        }
    }
    return chip;
}

FlashBank::FlashBank(std::uint32_t hardwareType, const link::FlashChip& chip,
                     std::vector<std::uint32_t> words, std::vector<std::uint32_t> sectorStarts,
                     const FlashFaults& faults)
    : m_hardwareType(hardwareType), m_words(std::move(words)),
      m_sectorStarts(std::move(sectorStarts)) {
    const link::FlashFamily* family = link::flashFamily(hardwareType);
    if (family == nullptr) {
        throw std::invalid_argument("no flash commands for this hardware type");
    }
    if (m_sectorStarts.empty() || m_sectorStarts.front() != 0 ||
        !std::is_sorted(m_sectorStarts.begin(), m_sectorStarts.end()) ||
        m_sectorStarts.back() >= size()) {
        throw std::invalid_argument("sectors must start at 0 and lie inside the flash");
    }
    m_unlockAddress1 = family->unlockAddress1;
    m_unlockAddress2 = family->unlockAddress2;
    // The low half carries each command byte plainly; the chip table's words give them.
    m_commands = {low16(family->unlock1),    low16(family->unlock2),    low16(family->reset),
                  low16(family->autoselect), low16(family->eraseSetup), low16(family->sectorErase),
                  low16(family->program)};

    // A row compared on the low half only names the device code both chips give; the high chip
    // shows it through the wiring like everything else it says.
    const bool lowHalfDevice = chip.deviceMask == 0xFFFF;
    m_ids[0] = {low16(chip.makerWord), low16(chip.deviceWord), low16(family->protectedStatus)};
    m_ids[1] = {unwireHighHalf(hardwareType, high16(chip.makerWord)),
                lowHalfDevice ? low16(chip.deviceWord)
                              : unwireHighHalf(hardwareType, high16(chip.deviceWord)),
                unwireHighHalf(hardwareType, high16(family->protectedStatus))};

    m_protected.assign(m_sectorStarts.size(), false);
    m_eraseFails.assign(m_sectorStarts.size(), false);
    for (const std::size_t sector : faults.protectedSectors) {
        m_protected.at(sector) = true;
    }
    for (const std::size_t sector : faults.eraseFailSectors) {
        m_eraseFails.at(sector) = true;
    }
    for (const std::uint32_t offset : faults.stuckOffsets) {
        if (offset % 4 != 0 || offset >= size()) {
            throw std::invalid_argument("stuck word outside the flash");
        }
        m_stuck.push_back(offset);
    }
}

std::uint32_t FlashBank::read(std::uint32_t offset) {
    const Chip& low = m_chips[0];
    const Chip& high = m_chips[1];
    if (!low.autoselect && !high.autoselect && low.operation == Operation::None &&
        high.operation == Operation::None) {
        return m_words[offset >> 2];
    }
    const std::uint16_t lowHalf = chipRead(0, offset);
    return halves(lowHalf, chipRead(1, offset));
}

std::uint16_t FlashBank::chipRead(std::size_t half, std::uint32_t offset) {
    Chip& chip = m_chips[half];
    if (chip.operation != Operation::None) {
        std::uint16_t status = chip.toggle ? kStatusToggle : 0;
        chip.toggle = !chip.toggle;
        if (chip.operation == Operation::Program) {
            status |= chip.dataPolling;
        } else {
            status |= kStatusEraseTimer;
            if (chip.operation == Operation::EraseHalted) {
                status |= kStatusTimeLimit;
            }
        }
        if (chip.operation != Operation::EraseHalted && --chip.busyReads == 0) {
            chip.operation = chip.eraseWillFail ? Operation::EraseHalted : Operation::None;
        }
        return toBus(half, status);
    }
    if (chip.autoselect) {
        // Only the low address lines select the identification word, so it repeats in every
        // sector; the protection status is the addressed sector's own.
        const ChipIds& ids = m_ids[half];
        std::uint16_t id = 0;
        switch (offset >> 2 & 3) {
        case 0:
            id = ids.maker;
            break;
        case 1:
            id = ids.device;
            break;
        case 2:
            id = m_protected[sectorOf(offset)] ? ids.protectedStatus : 0;
            break;
        default:
            break;
        }
        return toBus(half, id);
    }
    const std::uint32_t word = m_words[offset >> 2];
    return half == 0 ? low16(word) : high16(word);
}

std::uint16_t FlashBank::toBus(std::size_t half, std::uint16_t chipValue) const {
    return half == 0 ? chipValue : wireHighHalf(m_hardwareType, chipValue);
}

const char* FlashBank::write(std::uint32_t address, std::uint32_t offset, std::uint32_t data) {
    const std::array<std::uint16_t, 2> views{low16(data),
                                             unwireHighHalf(m_hardwareType, high16(data))};

    if (m_chips[0].operation != Operation::None || m_chips[1].operation != Operation::None) {
        // A chip that gave up on an erase waits for the reset command and ignores the rest, as
        // the job's retries expect; a chip still at work ignores everything, which is a fault
        // of whoever did not poll.
        bool halted = true;
        for (std::size_t half = 0; half < 2; ++half) {
            Chip& chip = m_chips[half];
            if (chip.operation == Operation::EraseHalted) {
                if (views[half] == m_commands.reset) {
                    chip = Chip{};
                }
            } else if (chip.operation != Operation::None) {
                halted = false;
            }
        }
        return halted ? nullptr : "flash write while the chips are busy";
    }

    if (m_chips[0].cycle == Cycle::ProgramArmed && m_chips[1].cycle == Cycle::ProgramArmed) {
        program(offset, data);
        return nullptr;
    }

    if (views[0] != views[1]) {
        toReadArray();
        return "flash command halves disagree";
    }
    std::array<Step, 2> steps{Step::Taken, Step::Taken};
    const char* refusal = nullptr;
    for (std::size_t half = 0; half < 2; ++half) {
        if (const char* why = command(m_chips[half], address, views[half], steps[half])) {
            refusal = why;
        }
    }
    if (refusal != nullptr) {
        toReadArray();
        return refusal;
    }
    if (steps[0] == Step::Erase) {
        erase(sectorOf(offset));
    }
    return nullptr;
}

const char* FlashBank::command(Chip& chip, std::uint32_t address, std::uint16_t value,
                               Step& step) const {
    const Commands& c = m_commands;
    step = Step::Taken;
    // The single-cycle reset is taken at any address and in any cycle, which also makes the
    // third write of the unlocked reset sequence work.
    if (value == c.reset) {
        chip.autoselect = false;
        chip.cycle = Cycle::None;
        return nullptr;
    }
    const bool atUnlock1 = address == m_unlockAddress1;
    const bool atUnlock2 = address == m_unlockAddress2;
    switch (chip.cycle) {
    case Cycle::None:
        if (atUnlock1 && value == c.unlock1) {
            chip.cycle = Cycle::Unlocked1;
            return nullptr;
        }
        return "flash write that is no command";
    case Cycle::Unlocked1:
        if (atUnlock2 && value == c.unlock2) {
            chip.cycle = Cycle::Unlocked2;
            return nullptr;
        }
        return "flash command sequence broken after the first unlock";
    case Cycle::Unlocked2:
        if (!atUnlock1) {
            return "flash command away from the unlock address";
        }
        if (value == c.autoselect) {
            chip.autoselect = true;
            chip.cycle = Cycle::None;
            return nullptr;
        }
        if (chip.autoselect) {
            // Leaving autoselect takes the reset command; the chip does not program or erase
            // from it.
            return "flash command in autoselect mode";
        }
        if (value == c.program) {
            chip.cycle = Cycle::ProgramArmed;
            return nullptr;
        }
        if (value == c.eraseSetup) {
            chip.cycle = Cycle::EraseSetup;
            return nullptr;
        }
        return "unknown flash command";
    case Cycle::EraseSetup:
        if (atUnlock1 && value == c.unlock1) {
            chip.cycle = Cycle::EraseUnlocked1;
            return nullptr;
        }
        return "erase setup not followed by the first unlock";
    case Cycle::EraseUnlocked1:
        if (atUnlock2 && value == c.unlock2) {
            chip.cycle = Cycle::EraseUnlocked2;
            return nullptr;
        }
        return "erase setup not followed by the second unlock";
    case Cycle::EraseUnlocked2:
        if (value == c.sectorErase) {
            chip.cycle = Cycle::None;
            step = Step::Erase;
            return nullptr;
        }
        return "erase setup not followed by the sector erase command";
    case Cycle::ProgramArmed:
        break;
    }
    return "flash write that is no command";
}

void FlashBank::program(std::uint32_t offset, std::uint32_t data) {
    const std::uint32_t index = offset >> 2;
    if (!m_protected[sectorOf(offset)] && !stuck(offset)) {
        // A program pulse can only take charge away: bits go from 1 to 0, never back.
        const std::uint32_t result = m_words[index] & data;
        if (result != m_words[index]) {
            m_words[index] = result;
            ++m_generation;
        }
    }
    const std::array<std::uint16_t, 2> chipData{low16(data),
                                                unwireHighHalf(m_hardwareType, high16(data))};
    for (std::size_t half = 0; half < 2; ++half) {
        Chip& chip = m_chips[half];
        chip.cycle = Cycle::None;
        chip.operation = Operation::Program;
        chip.busyReads = kProgramBusyReads;
        chip.eraseWillFail = false;
        chip.dataPolling = (chipData[half] & kStatusDataPolling) ^ kStatusDataPolling;
    }
}

void FlashBank::erase(std::size_t sector) {
    const bool fails = m_eraseFails[sector];
    if (!fails && !m_protected[sector]) {
        bool changed = false;
        for (std::uint32_t offset = sectorStart(sector); offset < sectorEnd(sector); offset += 4) {
            std::uint32_t& word = m_words[offset >> 2];
            if (word != 0xFFFFFFFF && !stuck(offset)) {
                word = 0xFFFFFFFF;
                changed = true;
            }
        }
        if (changed) {
            ++m_generation;
        }
    }
    for (Chip& chip : m_chips) {
        chip.operation = Operation::Erase;
        chip.busyReads = kEraseBusyReads;
        chip.eraseWillFail = fails;
        chip.dataPolling = 0;
    }
}

bool FlashBank::stuck(std::uint32_t offset) const {
    return std::find(m_stuck.begin(), m_stuck.end(), offset) != m_stuck.end();
}

void FlashBank::toReadArray() {
    for (Chip& chip : m_chips) {
        chip.autoselect = false;
        chip.cycle = Cycle::None;
    }
}

void FlashBank::reset() {
    m_chips = {};
}

std::size_t FlashBank::sectorOf(std::uint32_t offset) const {
    const auto after = std::upper_bound(m_sectorStarts.begin(), m_sectorStarts.end(), offset);
    return static_cast<std::size_t>(after - m_sectorStarts.begin()) - 1;
}

std::uint32_t FlashBank::sectorEnd(std::size_t sector) const {
    return sector + 1 < m_sectorStarts.size() ? m_sectorStarts[sector + 1] : size();
}

} // namespace corvex::sim
