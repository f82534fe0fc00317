#pragma once

// Scrolling the channels list while a drag holds the pointer at its top or bottom edge. The
// window calls dragOver() on every drag-over event (and starts its 50 ms timer), tick() on every
// timer tick, and end() on a drop or when it is deactivated (and stops its timer).

namespace corvex::channels {

class DragScroll {
public:
    static constexpr int kTickMs = 50;
    /// Ticks between the last drag-over event and the first scroll: a quarter second.
    static constexpr int kPauseTicks = 5;
    static constexpr int kPxTopBand = 6;    // pointer rows 0 to 5 scroll up
    static constexpr int kPxBottomBand = 5; // rows height - 5 to height scroll down

    enum class Action { None, ScrollUp, ScrollDown, StopTimer };

    /// Where the pointer stands, in the list's pixel coordinates, and what the list allows.
    struct Pointer {
        int pxX = 0;
        int pxY = 0;
        int pxWidth = 0;
        int pxHeight = 0;
        bool atTop = false;     // the first line is shown at the top
        bool linesBelow = true; // lines remain below the last one shown
    };

    void dragOver() {
        m_dragging = true;
        m_countdown = kPauseTicks;
    }
    void end() { m_dragging = false; }
    [[nodiscard]] bool dragging() const { return m_dragging; }

    /// One timer tick: what the list should do, if anything.
    [[nodiscard]] Action tick(bool windowActive, const Pointer& pointer);

private:
    bool m_dragging = false;
    int m_countdown = 0;
};

} // namespace corvex::channels
