#include "mainwin/area_map_layout.h"

#include <cstdio>

namespace corvex::mainwin::map {

Hit hitTest(int x, int y, int shownAreaCount) {
    if (x < kModeLeft) {
        return {};
    }
    const int column = (x - kModeLeft) / kModePitch;
    if (column >= kModeColumns) {
        return {};
    }
    if (y < kFirstRowTop) {
        return {Hit::Kind::Heading, -1, column};
    }
    const int row = (y - kFirstRowTop) / kRowPitch;
    if (row >= shownAreaCount) {
        return {};
    }
    return {Hit::Kind::ModeButton, row, column};
}

std::uint32_t flashBase(const AreaModel& model) {
    if (model.shownAreaCount() == 19) {
        return 0x7FE00000;
    }
    return model.hardwareType() == 1 ? 0x7FF00000 : 0xC0000000;
}

std::string addressRange(const AreaModel& model, int area) {
    if (area < 0 || area >= model.shownAreaCount() ||
        area + 1 >= static_cast<int>(link::kAreaSlots)) {
        return {};
    }
    const link::AreaTable& table = model.table();
    const std::uint32_t base = flashBase(model);
    const auto index = static_cast<std::size_t>(area);
    char text[32];
    std::snprintf(text, sizeof text, "%08X...%08X", base + table.AreaStart[index].load(),
                  base + table.AreaStart[index + 1].load() - 1);
    return text;
}

RowLook rowLook(const AreaModel& model, int row) {
    const auto index = static_cast<std::size_t>(row);
    const AreaModel::AreaView& view = model.area(index);
    const link::AreaTable& table = model.table();
    RowLook look;
    look.shown = row < model.shownAreaCount();
    look.workIcon = view.active
                        ? kIconActive
                        : static_cast<int>((table.AreaFlags[index].load() & link::kAreaIconMask) >>
                                           link::kAreaIconShift);
    look.statusColour = view.statusColour;
    if (look.shown) {
        look.address = addressRange(model, row);
        look.progress = view.progress;
        look.statusText = view.statusText;
        look.statusIcon = view.statusIcon > 0 ? view.statusIcon : 0;
        look.mode = static_cast<int>(table.mode(index));
    }
    return look;
}

} // namespace corvex::mainwin::map
