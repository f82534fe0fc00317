#pragma once

// The channel list editor's logic behind its window: both lists, the page shown, the search box
// and its results, and the walks between the lists (jumps, family channels, search, selecting a
// transponder's channels). The window binds its controls to these calls and shows the notices
// they return.

#include "channels/channel_list_model.h"
#include "channels/channel_recovery.h"
#include "channels/channel_tables.h"
#include "channels/notice.h"
#include "channels/transponder_list_model.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvex::channels {

enum class EditorPage { Channels, Transponders };

/// One entry of the search box's drop-down: its text and the line it stands for.
struct SearchResult {
    std::string text;
    std::size_t index = 0;
    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

inline constexpr std::string_view kInvalidJump = "Invalid jump, you can only jump to channels !";
inline constexpr std::string_view kInvalidOperation = "Invalid operation";

/// The most interpreter warnings one box lists; the rest are counted.
inline constexpr std::size_t kListedWarnings = 20;

/// All warnings of one load as one box (title kWarningTitle): the first kListedWarnings texts,
/// a blank line between two, then "... and N more"; nothing without warnings.
[[nodiscard]] std::optional<Notice> warningsNotice(std::span<const std::string> warnings);

class ChannelEditor {
public:
    explicit ChannelEditor(DisplayMode mode) : m_mode(mode) {}

    [[nodiscard]] DisplayMode mode() const { return m_mode; }
    [[nodiscard]] ChannelListModel& channels() { return m_channels; }
    [[nodiscard]] const ChannelListModel& channels() const { return m_channels; }
    [[nodiscard]] TransponderListModel& transponders() { return m_transponders; }
    [[nodiscard]] const TransponderListModel& transponders() const { return m_transponders; }

    /// Reads an image file and loads its tables into both lists (emptied first), keeping the
    /// image's bytes: the lines refer to its records, and a save or a recovery snapshot starts
    /// from them. A file that cannot be read leaves both lists empty under its name and gives the
    /// reason (nothing for an empty name: before any firmware was read there is nothing to
    /// load); an image without both tables gives the failure.
    std::optional<Notice> openImage(const std::string& fileName,
                                    const WarningCallback& onWarning = {});
    /// Loads the tables of an image already in memory, shown under `fileName`; the bytes are
    /// not kept.
    std::optional<Notice> load(const std::string& fileName, std::span<const std::uint8_t> image,
                               const WarningCallback& onWarning = {});
    /// An image with both tables was opened: there is a list to save or keep.
    [[nodiscard]] bool imageLoaded() const { return m_imageLoaded; }
    /// The image the lists were opened from, as named then.
    [[nodiscard]] const std::string& imageName() const { return m_imageName; }
    /// "Channel List Editor - [name]" after a load, "Channellist Editor" before.
    [[nodiscard]] const std::string& caption() const { return m_caption; }

    /// The channels list differs from the one loaded or saved last: work a load or a close
    /// would lose.
    [[nodiscard]] bool hasUnsavedWork() const { return m_channels.lines() != m_savedLines; }
    /// The list as it stands is in an image now.
    void markSaved() { m_savedLines = m_channels.lines(); }
    /// A close asks about the list: it holds unsaved work not kept for recovery.
    [[nodiscard]] bool closeAsks() const { return !m_keptForRecovery && hasUnsavedWork(); }

    /// Writes the list into a copy of the opened image at `target` and marks it saved; false
    /// with `error` set when nothing was saved.
    [[nodiscard]] bool saveIntoImage(const std::string& target, std::string& error);
    /// Keeps unsaved work on an opened image as a recovery snapshot in `folder`, and lets the
    /// next close pass without a question; false with `error` set when it could not be kept.
    [[nodiscard]] bool keepForRecovery(const std::string& folder, std::string& error);
    /// The snapshot in `folder` kept for the opened image while it held these very bytes.
    [[nodiscard]] std::optional<ArrangedSnapshot> findRecovery(const std::string& folder) const;
    /// A click on a column heading of the channels list.
    void sortChannels(SortColumn column) { m_channels.sortBy(column, m_mode); }

    [[nodiscard]] EditorPage page() const { return m_page; }
    /// Shows a page; the search box and its results are emptied.
    void showPage(EditorPage page);

    [[nodiscard]] const std::string& searchText() const { return m_searchText; }
    void setSearchText(std::string text) { m_searchText = std::move(text); }
    [[nodiscard]] const std::vector<SearchResult>& searchResults() const { return m_results; }
    /// Searches the list of the page shown; the first hit is selected, scrolled to the top and
    /// its result text put in the search box.
    void search();
    /// A drop-down entry picked: its line alone is selected and scrolled to the top.
    void pickSearchResult(std::size_t result);
    /// Only the channels found by the last search are selected.
    void selectSearchResults();

    /// "Jump to transponder" and "View family channels" need exactly one selected channel.
    [[nodiscard]] bool canJumpToTransponder() const { return m_channels.selectedCount() == 1; }
    std::optional<Notice> jumpToTransponder();
    std::optional<Notice> viewFamilyChannels();
    /// From a channel sub-line of the transponders list to its channel line.
    std::optional<Notice> jumpToChannel();
    /// Selects the channels of the current transponder line and shows them.
    std::optional<Notice> selectTransponderChannels();
    /// View or hide the channels of the current transponder line.
    std::optional<Notice> toggleTransponderChannels();
    void expandAll() { m_transponders.expandAll(m_channels.lines()); }
    void collapseAll() { m_transponders.collapseAll(); }

private:
    std::optional<Notice> goToTransponder(bool expand);

    DisplayMode m_mode;
    std::string m_caption = "Channellist Editor";
    ChannelListModel m_channels;
    std::vector<Line> m_savedLines;    // the list as loaded or saved last
    std::vector<std::uint8_t> m_image; // the image as opened: the records the lines refer to
    std::string m_imageName;
    bool m_imageLoaded = false;
    bool m_keptForRecovery = false; // the work is in a snapshot: the close does not ask
    TransponderListModel m_transponders;
    EditorPage m_page = EditorPage::Channels;
    std::string m_searchText;
    std::vector<SearchResult> m_results;
};

} // namespace corvex::channels
