#include "channels/drag_scroll.h"

namespace corvex::channels {

DragScroll::Action DragScroll::tick(bool windowActive, const Pointer& pointer) {
    if (!windowActive || !m_dragging) {
        return Action::StopTimer;
    }
    if (m_countdown > 0 && --m_countdown > 0) {
        return Action::None;
    }
    if (pointer.pxX < 0 || pointer.pxX >= pointer.pxWidth) {
        return Action::None;
    }
    if (pointer.pxY >= 0 && pointer.pxY < kPxTopBand) {
        return pointer.atTop ? Action::None : Action::ScrollUp;
    }
    if (pointer.pxY >= pointer.pxHeight - kPxBottomBand && pointer.pxY <= pointer.pxHeight) {
        return pointer.linesBelow ? Action::ScrollDown : Action::None;
    }
    return Action::None;
}

} // namespace corvex::channels
