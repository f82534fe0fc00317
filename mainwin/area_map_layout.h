#pragma once

#include "mainwin/area_model.h"

#include <array>
#include <cstdint>
#include <string>

// Where everything on the flash area map sits, and what a press at a point means. Free of
// widgets so that the hit tests and the rectangles of the partial redraws can be checked
// without painting.
namespace corvex::mainwin::map {

struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

enum class Column { Area, WorkArea, Address, Progress, Status, Pgm, Clr, Skip };

struct ColumnSpan {
    int left;
    int width;
};

// Each cell is followed by a 1-pixel gap; the three mode columns are 50 pixels apart.
inline constexpr std::array<ColumnSpan, 8> kColumns{
    {{5, 40}, {46, 25}, {72, 130}, {203, 184}, {388, 150}, {539, 49}, {589, 49}, {639, 49}}};
inline constexpr int kHeadingTop = 5;
inline constexpr int kCellHeight = 20;
inline constexpr int kFirstRowTop = 27;
inline constexpr int kRowPitch = 21;
inline constexpr int kRows = 19; // always drawn, whatever the hardware shows
inline constexpr int kModeLeft = 539;
inline constexpr int kModePitch = 50;
inline constexpr int kModeColumns = 3;
inline constexpr int kProgressCells = 11;
inline constexpr int kProgressLeft = 213; // progress cell left + 10
inline constexpr int kProgressPitch = 15;
inline constexpr int kIconSize = 16;
inline constexpr int kButtonWidth = 50;
inline constexpr int kTextInset = 3; // text top below the cell top
inline constexpr int kIconInsetX = 4;
inline constexpr int kIconInsetY = 2;
inline constexpr int kStatusTextInset = 24;
inline constexpr int kAreaNumberRight = 30;
inline constexpr int kAddressInset = 10;
inline constexpr int kWidth = 693;  // end of the SKIP buttons plus the left margin
inline constexpr int kHeight = 431; // bottom of row 18 plus the top margin

inline constexpr Rgb kTeal{0x00, 0x80, 0x80};

[[nodiscard]] constexpr int rowTop(int row) {
    return kFirstRowTop + kRowPitch * row;
}

[[nodiscard]] constexpr Box headingCell(Column column) {
    const ColumnSpan span = kColumns[static_cast<std::size_t>(column)];
    return {span.left, kHeadingTop, span.width, kCellHeight};
}

[[nodiscard]] constexpr Box cell(Column column, int row) {
    const ColumnSpan span = kColumns[static_cast<std::size_t>(column)];
    return {span.left, rowTop(row), span.width, kCellHeight};
}

/// Where indicator cell `index` (0 to 10) of `row` is drawn.
[[nodiscard]] constexpr Box progressCell(int row, int index) {
    return {kProgressLeft + kProgressPitch * index, rowTop(row) + 1, kIconSize, kIconSize};
}

/// The three mode buttons of a row; 50 pixels wide each, they cover the gaps between cells.
[[nodiscard]] constexpr Box modeButtons(int row) {
    return {kModeLeft, rowTop(row), kModePitch * (kModeColumns - 1) + kButtonWidth, kCellHeight};
}

/// A whole row, from the area cell to the end of the SKIP button.
[[nodiscard]] constexpr Box wholeRow(int row) {
    return {kColumns[0].left, rowTop(row), kModeLeft + kModePitch * kModeColumns - kColumns[0].left,
            kCellHeight};
}

/// Value 0 to 3 of indicator cell `index` in a progress word.
[[nodiscard]] constexpr int progressValue(std::uint32_t progress, int index) {
    return static_cast<int>((progress >> (2U * static_cast<unsigned>(index))) & 3U);
}

/// Icon number of indicator cell `index` showing `value`: the first, middle and last cells
/// have pictures of their own.
[[nodiscard]] constexpr int progressIcon(int index, int value) {
    if (index == 0) {
        return value;
    }
    return index < kProgressCells - 1 ? 4 + value : 8 + value;
}

/// What a press at (x, y) means for a map showing `shownAreaCount` areas.
struct Hit {
    enum class Kind { Nothing, ModeButton, Heading };
    Kind kind = Kind::Nothing;
    int row = -1;   // ModeButton only
    int column = 0; // 0 PGM, 1 CLR, 2 SKIP
    friend bool operator==(const Hit&, const Hit&) = default;
};
[[nodiscard]] Hit hitTest(int x, int y, int shownAreaCount);

/// Flash base address in the receiver's address space that the ranges are shown in.
[[nodiscard]] std::uint32_t flashBase(const AreaModel& model);
/// "7FE20000...7FE3FFFF" for a shown area; empty for one beyond the shown count.
[[nodiscard]] std::string addressRange(const AreaModel& model, int area);

/// What one row shows, to tell which of its cells an area change touched.
struct RowLook {
    bool shown = false;
    std::string address;
    int workIcon = 0; // active marker or the area icon; 0 none
    std::uint32_t progress = 0;
    std::string statusText;
    int statusIcon = 0;
    Rgb statusColour = kLightGrey;
    int mode = -1; // -1 when the row is not shown
    friend bool operator==(const RowLook&, const RowLook&) = default;
};
[[nodiscard]] RowLook rowLook(const AreaModel& model, int row);

} // namespace corvex::mainwin::map
