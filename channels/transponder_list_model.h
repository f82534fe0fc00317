#pragma once

// The transponders list of the channel list editor without its widget: the transponder lines
// and, under each expanded transponder, a spacer, a column header, one sub-line per channel of
// that transponder (the channel line followed by its number, "%5d;") and a footer with their
// count. The kind of a line is in bits 24 to 26 of its reference. One line at most is selected:
// the current one.

#include "channels/channel_tables.h"
#include "channels/notice.h"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace corvex::channels {

enum class TransponderLineKind { Transponder, Spacer, Header, Footer, ChannelSubLine };

[[nodiscard]] TransponderLineKind transponderLineKind(std::uint32_t reference);

inline constexpr std::string_view kNoChannelsConnected =
    "This transponder did not have any (active) channels connected.";

class TransponderListModel {
public:
    /// A freshly loaded list: all collapsed, no current line, top at the first line.
    void reset(std::vector<Line> lines);

    [[nodiscard]] std::size_t size() const { return m_lines.size(); }
    [[nodiscard]] const std::vector<Line>& lines() const { return m_lines; }
    [[nodiscard]] const Line& line(std::size_t index) const { return m_lines.at(index); }
    [[nodiscard]] TransponderLineKind kind(std::size_t index) const {
        return transponderLineKind(m_lines.at(index).reference);
    }
    [[nodiscard]] std::optional<std::size_t> current() const { return m_current; }
    [[nodiscard]] std::size_t top() const { return m_top; }
    /// Indices past the end are ignored.
    void setCurrent(std::optional<std::size_t> index);
    void setTop(std::size_t index);

    /// The number of a transponder line (its text before the first ";"); nullopt for other
    /// lines and numbers that do not read as one.
    [[nodiscard]] std::optional<long> transponderNumber(std::size_t index) const;
    /// The first transponder line numbered `number`.
    [[nodiscard]] std::optional<std::size_t> findTransponder(long number) const;
    /// Whether expansion lines follow the transponder line at `index`.
    [[nodiscard]] bool isExpanded(std::size_t index) const;

    /// "View TP channels" / "Hide TP channels" on the current line: collapses an expanded
    /// transponder, else lists its channels under it. A notice when it has none.
    std::optional<Notice> toggleChannels(std::span<const Line> channels);
    /// Lists under `index` the channels of its transponder; false when there are none.
    bool expand(std::size_t index, std::span<const Line> channels);
    /// Every transponder with channels expanded, every other collapsed.
    void expandAll(std::span<const Line> channels);
    /// Only the transponder lines stay.
    void collapseAll();

private:
    /// Rebuilds the list, keeping the current and top lines on their transponders.
    template <typename Build> void rebuild(Build&& build);
    void appendBlock(std::vector<Line>& out, std::span<const Line> channels,
                     std::span<const std::size_t> members) const;

    std::vector<Line> m_lines;
    std::optional<std::size_t> m_current;
    std::size_t m_top = 0;
};

} // namespace corvex::channels
