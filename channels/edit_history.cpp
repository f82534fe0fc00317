#include "channels/edit_history.h"

#include <algorithm>
#include <iterator>

namespace corvex::channels {

namespace {

/// Replaces the `count` lines at `from` with `with`, moving the tail once.
void splice(std::vector<Line>& lines, std::size_t from, std::size_t count,
            const std::vector<Line>& with) {
    const auto at = lines.begin() + static_cast<std::ptrdiff_t>(from);
    const std::size_t common = std::min(count, with.size());
    std::copy_n(with.begin(), common, at);
    if (count > with.size()) {
        lines.erase(at + static_cast<std::ptrdiff_t>(common),
                    at + static_cast<std::ptrdiff_t>(count));
    } else {
        lines.insert(at + static_cast<std::ptrdiff_t>(common),
                     with.begin() + static_cast<std::ptrdiff_t>(common), with.end());
    }
}

} // namespace

bool EditHistory::record(ListState before, const ListState& now) {
    const std::vector<Line>& old = before.lines;
    const std::vector<Line>& lines = now.lines;
    const std::size_t shorter = std::min(old.size(), lines.size());
    const std::size_t head = static_cast<std::size_t>(
        std::mismatch(old.begin(), old.begin() + shorter, lines.begin()).first - old.begin());
    if (head == old.size() && head == lines.size()) {
        return false;
    }
    std::size_t tail = 0;
    while (tail < shorter - head && old[old.size() - 1 - tail] == lines[lines.size() - 1 - tail]) {
        ++tail;
    }

    while (m_steps.size() > m_next) {
        m_storedLines -= m_steps.back().lineCount();
        m_steps.pop_back();
    }
    Step step;
    step.from = head;
    step.before.assign(std::make_move_iterator(before.lines.begin() + head),
                       std::make_move_iterator(before.lines.end() - tail));
    step.after.assign(lines.begin() + head, lines.end() - tail);
    step.selectionBefore = std::move(before.selection);
    step.selectionAfter = now.selection;
    step.cursorBefore = before.cursor;
    step.cursorAfter = now.cursor;
    m_storedLines += step.lineCount();
    m_steps.push_back(std::move(step));
    m_next = m_steps.size();
    dropOldest();
    return true;
}

bool EditHistory::undo(ListState& state) {
    if (!canUndo()) {
        return false;
    }
    const Step& step = m_steps[--m_next];
    splice(state.lines, step.from, step.after.size(), step.before);
    state.selection = step.selectionBefore;
    state.cursor = step.cursorBefore;
    return true;
}

bool EditHistory::redo(ListState& state) {
    if (!canRedo()) {
        return false;
    }
    const Step& step = m_steps[m_next++];
    splice(state.lines, step.from, step.before.size(), step.after);
    state.selection = step.selectionAfter;
    state.cursor = step.cursorAfter;
    return true;
}

void EditHistory::clear() {
    m_steps.clear();
    m_next = 0;
    m_storedLines = 0;
}

void EditHistory::dropOldest() {
    while (m_steps.size() > kMaxSteps || (m_steps.size() > 1 && m_storedLines > kMaxStoredLines)) {
        m_storedLines -= m_steps.front().lineCount();
        m_steps.pop_front();
        --m_next;
    }
}

} // namespace corvex::channels
