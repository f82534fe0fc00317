#pragma once

// Undo and redo for the channels list.
//
// A step keeps only the run of lines an edit changed: the common head and tail of the list
// before and after the edit are cut off, so dragging one line stores two or three lines and a
// Replace near the end stores the tail it touched. Whole snapshots of a 4,000-line list would
// cost most of a megabyte per step (each 65-character line lives in its own allocation, beside
// the channel's 30-byte record it carries), which a long editing session would pile up for
// nothing. The selection is kept whole, as bitmaps (4,000 lines: 500 bytes), because an edit
// may change it anywhere (Replace deselects every line). The history drops its oldest steps
// when it holds more than kMaxSteps steps or kMaxStoredLines lines.

#include "channels/channel_tables.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace corvex::channels {

/// The current line (none in an empty list or before the user picks one) and the line shown at
/// the top of the list.
struct ListCursor {
    std::optional<std::size_t> current;
    std::size_t top = 0;
    friend bool operator==(const ListCursor&, const ListCursor&) = default;
};

/// Everything an edit of the channels list can change, and an undo must give back.
struct ListState {
    std::vector<Line> lines;
    std::vector<bool> selection; // one entry per line
    ListCursor cursor;
    friend bool operator==(const ListState&, const ListState&) = default;
};

class EditHistory {
public:
    static constexpr std::size_t kMaxSteps = 200;
    /// About 35 MiB of channel lines (some 170 bytes each with text and record); the newest step
    /// is kept even when it alone holds more.
    static constexpr std::size_t kMaxStoredLines = 200'000;

    /// Records the edit that turned `before` into `now` and forgets every step that could be
    /// redone. Returns false, recording nothing, when the lines did not change.
    bool record(ListState before, const ListState& now);

    [[nodiscard]] bool canUndo() const { return m_next > 0; }
    [[nodiscard]] bool canRedo() const { return m_next < m_steps.size(); }
    /// Takes `state` back to what it was before the newest step; false when there is none.
    bool undo(ListState& state);
    /// Applies the step undone last again; false when there is none.
    bool redo(ListState& state);
    void clear();

    [[nodiscard]] std::size_t stepCount() const { return m_steps.size(); }
    /// Lines held by all steps together (before and after runs).
    [[nodiscard]] std::size_t storedLines() const { return m_storedLines; }

private:
    struct Step {
        std::size_t from = 0;     // first changed line
        std::vector<Line> before; // lines [from, from + before.size()) before the edit
        std::vector<Line> after;  // lines [from, from + after.size()) after it
        std::vector<bool> selectionBefore;
        std::vector<bool> selectionAfter;
        ListCursor cursorBefore;
        ListCursor cursorAfter;
        [[nodiscard]] std::size_t lineCount() const { return before.size() + after.size(); }
    };

    void dropOldest();

    std::deque<Step> m_steps;
    std::size_t m_next = 0; // steps before m_next are done, the rest were undone
    std::size_t m_storedLines = 0;
};

} // namespace corvex::channels
