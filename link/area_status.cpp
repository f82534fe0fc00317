#include "area_status.h"

namespace corvex::link {

std::string areaStatusText(AreaEvent event, std::uint32_t area) {
    const std::uint32_t kib = area + 1 < kDefaultAreaStart.size()
                                  ? (kDefaultAreaStart[area + 1] - kDefaultAreaStart[area]) >> 10
                                  : 0;
    switch (event) {
    case AreaEvent::Progress:
    case AreaEvent::Reset:
        return {};
    case AreaEvent::Reading:
        return "Reading " + std::to_string(kib) + "K Data ...";
    case AreaEvent::ReadOK:
        return "Reading " + std::to_string(kib) + "K - OK";
    case AreaEvent::ReadError:
        return "Read Error";
    case AreaEvent::Erasing:
        return "Erasing Data ...";
    case AreaEvent::Erased:
        return "Erased";
    case AreaEvent::EraseFailed:
        return "Erase failure";
    case AreaEvent::Programming:
        return "Programming ...";
    case AreaEvent::Programmed:
        return "Programmed - OK";
    case AreaEvent::ProgramFailed:
        return "Failed Programming";
    case AreaEvent::Skipped:
        return "Skipped";
    case AreaEvent::UpToDate:
        return "Up-to-Date - OK";
    case AreaEvent::NeedsUpdate:
        return "Need update !";
    }
    return {};
}

} // namespace corvex::link
