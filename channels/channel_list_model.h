#pragma once

// The channels list of the channel list editor without its widget: the channel lines with their
// record references, the multi-selection, the current line and the top line, the editor's
// private clipboard, and every editing and selecting operation on them, with undo and redo.
// A channel's number is its position + 1, so every move renumbers the channels in between.

#include "channels/channel_tables.h"
#include "channels/edit_history.h"
#include "channels/notice.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvex::channels {

/// The three check boxes of the edit panel.
struct ChannelFlags {
    bool favourite = false;
    bool parental = false;
    bool active = false;
    friend bool operator==(const ChannelFlags&, const ChannelFlags&) = default;
};

/// What the edit panel shows: the current channel's fields with leading spaces removed, or all
/// empty when not exactly one channel is selected.
struct EditPanelValues {
    std::string name;
    ChannelFlags flags;
    std::string transponder;
    std::string sid;
    std::string vpid;
    std::string apid;
    std::string vecm;
    std::string aecm;
    std::string pcr;
    friend bool operator==(const EditPanelValues&, const EditPanelValues&) = default;
};

/// What a drop asks of the window beside the list's new contents.
struct DropResult {
    std::optional<Notice> notice;
    /// The line moved up under a pointer dropped below its source: move the pointer up one line
    /// height so that it stays on the dropped line.
    bool pointerUpOneLine = false;
};

/// The columns a click on the channels list's heading sorts by.
enum class SortColumn { Name, Transponder, Sid, Vpid, Apid, Pcr };

inline constexpr std::string_view kFoundSuffix = " channel object(s) found.";
inline constexpr std::string_view kNoChannelsFound = "No channels found.";
inline constexpr std::string_view kMovedByReplacement =
    "Due to replacement, some channels are moved starting at channel ";

/// True for a line without a transponder (index 255), cleared channels included.
[[nodiscard]] bool isEmptyChannelLine(std::string_view line);
/// The favourite (bit 0), parental (bit 1) and active (bit 2) flags of a channel line.
[[nodiscard]] unsigned channelFlagMask(std::string_view line);
[[nodiscard]] unsigned channelFlagMask(const ChannelFlags& flags);

class ChannelListModel {
public:
    /// A freshly loaded list: nothing selected, no current line, top at the first line, no
    /// history; `transponders` holds the key of each transponder of its image (number n at
    /// n - 1). The clipboard lives as long as the model, across loads: what it holds from an
    /// earlier image is pasted by those keys.
    void reset(std::vector<Line> lines, std::vector<TransponderKey> transponders = {});

    [[nodiscard]] std::size_t size() const { return m_state.lines.size(); }
    [[nodiscard]] const std::vector<Line>& lines() const { return m_state.lines; }
    [[nodiscard]] const Line& line(std::size_t index) const { return m_state.lines.at(index); }
    [[nodiscard]] bool isSelected(std::size_t index) const { return m_state.selection.at(index); }
    [[nodiscard]] std::size_t selectedCount() const;
    [[nodiscard]] std::vector<std::size_t> selectedLines() const;
    [[nodiscard]] std::optional<std::size_t> current() const { return m_state.cursor.current; }
    [[nodiscard]] std::size_t top() const { return m_state.cursor.top; }
    [[nodiscard]] const ListState& state() const { return m_state; }

    // What the window does to the list directly (clicks, scrolling). Indices past the end are
    // ignored.
    void setSelected(std::size_t index, bool selected);
    void setCurrent(std::optional<std::size_t> index);
    void setTop(std::size_t index);
    /// A plain click: only this line selected, and current.
    void selectOnly(std::size_t index);
    void deselectAll();
    /// Shift with a click or an arrow key: exactly the lines from the anchor (the line last made
    /// current by a click, setCurrent or selectOnly) to `index` are selected, `index` current.
    void extendSelection(std::size_t index);

    /// nullopt until Copy or Cut filled it once.
    [[nodiscard]] const std::optional<std::vector<Line>>& clipboard() const { return m_clipboard; }
    /// The "Advanced Drag && Drop" check item; on at start.
    [[nodiscard]] bool advancedDragDrop() const { return m_advancedDragDrop; }
    void setAdvancedDragDrop(bool on) { m_advancedDragDrop = on; }

    // ---- Editing; each call that changes lines is one undo step ----

    /// The selected lines, in list order, become the clipboard.
    void copy();
    /// The selected lines go to the clipboard and leave the list; when the current line went with
    /// them, the line now standing at the first of them becomes current.
    void cut();
    // Paste, Paste after and Replace take channels copied from another image onto the
    // transponders of this one with the same key, and refuse (changing nothing) when one has
    // no such transponder here: its record could never be saved into this image.

    /// Inserts the clipboard before the current line (at the end without one) and selects the
    /// inserted lines.
    std::optional<Notice> paste();
    /// Inserts the clipboard after the current line (after the last one without one).
    std::optional<Notice> pasteAfter();
    /// Every selected line becomes a cleared channel and is deselected.
    void clear();
    /// "Clear all channels in table": every line becomes a cleared channel.
    void clearAll();
    /// Deletes the selected lines; the line then standing at the first of them is selected and
    /// current.
    void deleteSelected();
    /// Overwrites the lines from the current one with the clipboard; overwritten channels that
    /// are not empty move to the end. Names the first moved channel when there are any.
    std::optional<Notice> replace();
    /// A drop of the current line (or of the selected lines, when two or more are selected)
    /// on line `target`, or below the last line when target is nullopt.
    DropResult drop(std::optional<std::size_t> target);
    /// Ctrl+Up (-1) or Ctrl+Down (+1): each selected line moves one place past the unselected
    /// line beside it, with the selection; a run of selected lines at the list's edge stays.
    void moveSelected(int direction);
    /// A click on a column heading: the whole list sorted by `column`, ascending, or descending
    /// when it already is in ascending order. Equal keys keep their order; channels without a
    /// name, and fields that do not read as numbers in `mode`, stay last either way.
    void sortBy(SortColumn column, DisplayMode mode);
    /// The whole list replaced (a recovered arrangement), as one step.
    void replaceAll(std::vector<Line> lines);

    // ---- Selecting ----

    void inverseSelection();
    /// Selects every line; when every line already was, selects the lines whose flags equal
    /// `boxes` and reports their count.
    std::optional<Notice> selectAll(const ChannelFlags& boxes);
    /// Selects the channels of transponder `number`, deselecting all others, and scrolls the
    /// first to the top; "No channels found." when there are none.
    std::optional<Notice> selectTransponderChannels(long number);
    /// Selects the channels of the current line's category; the first becomes current and top.
    void selectCategory();
    /// Selects only line `index`, makes it current and scrolls it to the top.
    void showLine(std::size_t index);

    [[nodiscard]] EditPanelValues editPanel() const;

    // ---- Undo ----

    [[nodiscard]] bool canUndo() const { return m_history.canUndo(); }
    [[nodiscard]] bool canRedo() const { return m_history.canRedo(); }
    void undo();
    void redo();
    [[nodiscard]] const EditHistory& history() const { return m_history; }

    /// Grows with every change of lines, selection, current or top line.
    [[nodiscard]] std::uint64_t revision() const { return m_revision; }
    /// Called after every change (the window repaints and updates its undo actions).
    void setChanged(std::function<void()> changed) { m_changed = std::move(changed); }

private:
    /// Runs `edit` as one undo step.
    template <typename Edit> void edit(Edit&& edit);
    void changed();

    // The parts of the operations, without undo steps or notifications.
    void removeSelected();
    void insertLines(std::size_t at, const std::vector<Line>& entries, bool select);
    void clearSelected();
    std::optional<Notice> replaceFrom(std::size_t from, const std::vector<Line>& entries);
    [[nodiscard]] std::vector<Line> selectedCopy() const;
    /// The clipboard's lines as lines of this image; nullopt with the reason when one of them
    /// has no transponder here.
    [[nodiscard]] std::optional<std::vector<Line>> clipboardHere(std::optional<Notice>& refusal);

    ListState m_state;
    std::optional<std::vector<Line>> m_clipboard;
    std::uint64_t m_image = 0;          // counts the loads: which list the lines belong to
    std::uint64_t m_clipboardImage = 0; // the load the clipboard was filled from
    std::vector<TransponderKey> m_transponders;
    std::uint32_t m_nextPastedReference = kFirstPastedReference;
    std::optional<std::size_t> m_anchor; // where a Shift extension starts
    bool m_advancedDragDrop = true;
    EditHistory m_history;
    std::uint64_t m_revision = 0;
    std::function<void()> m_changed;
};

} // namespace corvex::channels
