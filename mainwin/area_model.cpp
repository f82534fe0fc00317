#include "area_model.h"

namespace corvex::mainwin {

namespace {

constexpr int kCells = 11;

std::uint32_t sizeKiB(const link::AreaTable& table, std::size_t area) {
    if (area + 1 >= link::kAreaSlots) {
        return 0;
    }
    return (table.AreaStart[area + 1].load() - table.AreaStart[area].load()) >> 10;
}

} // namespace

AreaModel::AreaModel(link::AreaTable& table) : m_table(table) {}

void AreaModel::changed(std::size_t area) {
    if (m_rowChanged) {
        m_rowChanged(area);
    }
}

void AreaModel::setIcon(std::size_t area, std::uint32_t icon) {
    std::uint32_t old = m_table.AreaFlags[area].load();
    while (!m_table.AreaFlags[area].compare_exchange_weak(
        old,
        (old & ~link::kAreaIconMask) | ((icon << link::kAreaIconShift) & link::kAreaIconMask))) {
    }
}

void AreaModel::resetAreaStatus() {
    for (std::size_t i = 0; i < link::kAreaSlots; ++i) {
        m_areas[i] = AreaView{};
        m_table.clearBits(i, link::kAreaIconMask);
        changed(i);
    }
}

void AreaModel::setAll(std::uint32_t mode) {
    for (std::size_t i = 0; i < link::kAreaSlots; ++i) {
        m_table.setMode(i, mode);
        changed(i);
    }
}

void AreaModel::applyPreset(AreaPreset preset) {
    using link::kAreaModePgm;
    using link::kAreaModeSkip;
    constexpr std::size_t kPresetAreas = 19;
    auto range = [&](std::size_t from, std::size_t to, std::uint32_t mode) {
        for (std::size_t i = from; i < to && i < kPresetAreas; ++i) {
            m_table.setMode(i, mode);
        }
    };
    const bool channelListType = m_hardwareType == 2;
    const bool fullFlash = m_shownAreaCount == 19;
    switch (preset) {
    case AreaPreset::DataAreas:
        if (channelListType) {
            range(0, static_cast<std::size_t>(m_shownAreaCount), kAreaModePgm);
        } else if (fullFlash) {
            range(0, 7, kAreaModePgm);
            range(7, kPresetAreas, kAreaModeSkip);
        } else {
            range(0, kPresetAreas, kAreaModeSkip);
        }
        break;
    case AreaPreset::ChannelListAreas:
        if (channelListType) {
            range(0, static_cast<std::size_t>(m_shownAreaCount), kAreaModePgm);
        } else if (fullFlash) {
            range(0, kPresetAreas, kAreaModeSkip);
            range(3, 5, kAreaModePgm);
        } else {
            range(0, kPresetAreas, kAreaModeSkip);
        }
        break;
    case AreaPreset::FirmwareAreas:
        if (fullFlash) {
            range(0, 7, kAreaModeSkip);
            range(7, kPresetAreas, kAreaModePgm);
        } else {
            range(0, kPresetAreas, kAreaModePgm);
        }
        break;
    }
    for (std::size_t i = 0; i < link::kAreaSlots; ++i) {
        changed(i);
    }
}

int AreaModel::selectHardwareType(int type, bool accepted) {
    if (!accepted || type < 0 || type > 2) {
        return m_hardwareType;
    }
    m_shownAreaCount = type == 0 ? 19 : 11;
    m_hardwareType = type;
    resetAreaStatus();
    return m_hardwareType;
}

int AreaModel::submitHardwareType(int type,
                                  const std::function<int(const link::GuardRecord&)>& submit) {
    const auto command =
        link::GuardRecord::command("SETHARDWARE", static_cast<std::uint32_t>(type));
    return selectHardwareType(type, submit(command) >= 0);
}

void AreaModel::setStatus(std::size_t area, std::string text, int icon, Rgb colour) {
    if (text.size() > kStatusTextLimit) {
        text.resize(kStatusTextLimit);
    }
    AreaView& view = m_areas.at(area);
    view.statusText = std::move(text);
    view.statusIcon = icon;
    view.statusColour = colour;
    changed(area);
}

std::uint32_t AreaModel::progressStep(std::uint32_t progress) {
    if (progress >= kProgressFull) {
        return progress;
    }
    for (int cell = 0; cell < kCells; ++cell) {
        const std::uint32_t shift = 2U * static_cast<std::uint32_t>(cell);
        if (((progress >> shift) & 3U) != 3U) {
            return progress + (1U << shift);
        }
    }
    return progress;
}

void AreaModel::applyAreaEvent(link::AreaEvent event, std::size_t area) {
    if (area >= link::kAreaSlots) {
        return;
    }
    using link::AreaEvent;
    AreaView& view = m_areas[area];
    const std::string kib = std::to_string(sizeKiB(m_table, area));
    auto status = [&](bool active, int icon, std::string text, Rgb colour) {
        view.active = active;
        setStatus(area, std::move(text), icon, colour);
    };
    switch (event) {
    case AreaEvent::Progress:
        view.progress = progressStep(view.progress);
        changed(area);
        break;
    case AreaEvent::Reset:
        view.progress = 0;
        view.drawnProgress = -1;
        changed(area);
        break;
    case AreaEvent::Reading:
        status(true, kIconWorking, "Reading " + kib + "K Data ...", kLightGrey);
        break;
    case AreaEvent::ReadOK:
        status(false, kIconDone, "Reading " + kib + "K - OK", kLightGrey);
        break;
    case AreaEvent::ReadError:
        status(false, kIconError, "Read Error", kLightRed);
        break;
    case AreaEvent::Erasing:
        status(true, kIconWorking, "Erasing Data ...", kLightGrey);
        break;
    case AreaEvent::Erased:
        status(false, kIconErased, "Erased", kLightGrey);
        break;
    case AreaEvent::EraseFailed:
        status(false, kIconError, "Erase failure", kLightRed);
        break;
    case AreaEvent::Programming:
        status(true, kIconWorking, "Programming ...", kLightGrey);
        break;
    case AreaEvent::Programmed:
        status(false, kIconDone, "Programmed - OK", kLightGreen);
        break;
    case AreaEvent::ProgramFailed:
        status(false, kIconError, "Failed Programming", kLightRed);
        break;
    case AreaEvent::Skipped:
        status(false, kIconSkipped, "Skipped", kLightGrey);
        break;
    case AreaEvent::UpToDate:
        status(false, kIconDone, "Up-to-Date - OK", kLightGreen);
        break;
    case AreaEvent::NeedsUpdate:
        status(false, kIconError, "Need update !", kLightYellow);
        break;
    }
}

void AreaModel::applyMessage(const link::GuardRecord& message, std::size_t currentArea) {
    switch (message.Code) {
    case link::kMsgWriteProtected:
        if (currentArea >= link::kAreaSlots) {
            return;
        }
        setIcon(currentArea, kIconWriteProtected);
        m_areas[currentArea].active = false;
        if (message.Data == 0) {
            setStatus(currentArea, "Write Protected", kIconError, kOrange);
        } else {
            changed(currentArea);
        }
        break;
    case link::kMsgFinalReport:
        if (message.Flag != 0 && currentArea < link::kAreaSlots) {
            setStatus(currentArea, "Operation stopped", kIconError, kLightGrey);
        }
        break;
    case link::kMsgAreaColour:
        if (message.Address < link::kAreaSlots) {
            // Colour words carry red in the low byte, blue in the third.
            const std::uint32_t colour = message.Param;
            setStatus(message.Address, message.Text.str(), static_cast<int>(message.Data),
                      Rgb{static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 8),
                          static_cast<std::uint8_t>(colour >> 16)});
        }
        break;
    default:
        break;
    }
}

bool AreaModel::readSavesNothing() const {
    for (std::size_t area = 0; area < static_cast<std::size_t>(m_shownAreaCount); ++area) {
        if (m_table.mode(area) == link::kAreaModePgm) {
            return false;
        }
    }
    return true;
}

} // namespace corvex::mainwin
