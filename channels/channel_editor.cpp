#include "channels/channel_editor.h"

#include "channels/image_writer.h"

#include <algorithm>
#include <cctype>
#include <variant>

namespace corvex::channels {

namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

/// The search text: upper case, and cut before the character in front of the first "(", so
/// that a picked result ("NAME (12)") searches for its name again.
std::string searchKey(std::string_view text) {
    std::string key = upperCase(text);
    const std::size_t paren = key.find('(');
    if (paren != std::string::npos) {
        key.resize(paren == 0 ? 0 : paren - 1);
    }
    return key;
}

} // namespace

std::optional<Notice> warningsNotice(std::span<const std::string> warnings) {
    if (warnings.empty()) {
        return std::nullopt;
    }
    std::string text;
    const std::size_t listed = std::min(warnings.size(), kListedWarnings);
    for (std::size_t i = 0; i < listed; ++i) {
        text += i == 0 ? "" : "\r\r";
        text += warnings[i];
    }
    if (warnings.size() > listed) {
        text += "\r\r... and " + std::to_string(warnings.size() - listed) + " more";
    }
    return Notice{text, std::string(kWarningTitle)};
}

std::optional<Notice> ChannelEditor::openImage(const std::string& fileName,
                                               const WarningCallback& onWarning) {
    m_imageName = fileName;
    m_imageLoaded = false;
    m_keptForRecovery = false;
    m_image.clear();
    std::string error;
    if (std::optional<std::vector<std::uint8_t>> bytes = readImageFile(fileName, &error)) {
        m_image = std::move(*bytes);
        std::optional<Notice> notice = load(fileName, m_image, onWarning);
        m_imageLoaded = !notice;
        return notice;
    }
    (void)load(fileName, std::span<const std::uint8_t>());
    if (fileName.empty()) {
        return std::nullopt;
    }
    return Notice{error, "Error"};
}

bool ChannelEditor::saveIntoImage(const std::string& target, std::string& error) {
    if (!saveListIntoImage(m_image, m_imageName, target, m_channels.lines(), m_mode, error)) {
        return false;
    }
    markSaved();
    return true;
}

bool ChannelEditor::keepForRecovery(const std::string& folder, std::string& error) {
    m_keptForRecovery = true;
    if (!m_imageLoaded || !hasUnsavedWork()) {
        return true;
    }
    return keepArrangedList(folder, m_imageName, m_image, m_channels.lines(), error).has_value();
}

std::optional<ArrangedSnapshot> ChannelEditor::findRecovery(const std::string& folder) const {
    return findArrangedList(folder, m_imageName, m_image, m_mode);
}

std::optional<Notice> ChannelEditor::load(const std::string& fileName,
                                          std::span<const std::uint8_t> image,
                                          const WarningCallback& onWarning) {
    m_caption = "Channel List Editor - [" + fileName + "]";
    m_results.clear();
    LoadResult loaded = loadChannelTables(image, m_mode, onWarning);
    if (auto* failure = std::get_if<LoadFailure>(&loaded)) {
        m_channels.reset({});
        m_transponders.reset({});
        markSaved();
        return Notice{failure->text, failure->title};
    }
    ChannelTables& tables = std::get<ChannelTables>(loaded);
    m_channels.reset(std::move(tables.channels), std::move(tables.transponderKeys));
    m_transponders.reset(std::move(tables.transponders));
    markSaved();
    return std::nullopt;
}

void ChannelEditor::showPage(EditorPage page) {
    m_page = page;
    m_searchText.clear();
    m_results.clear();
}

void ChannelEditor::search() {
    const std::string key = searchKey(m_searchText);
    m_results.clear();
    if (m_page == EditorPage::Channels) {
        m_channels.deselectAll();
        for (std::size_t i = 0; !key.empty() && i < m_channels.size(); ++i) {
            const std::string& text = m_channels.line(i).text;
            if (upperCase(text).find(key) != std::string::npos) {
                m_results.push_back(SearchResult{
                    std::string(splitField(text, 0)) + " (" + std::to_string(i + 1) + ")", i});
            }
        }
    } else {
        m_transponders.setCurrent(std::nullopt);
        for (std::size_t i = 0; !key.empty() && i < m_transponders.size(); ++i) {
            if (upperCase(m_transponders.line(i).text).find(key) != std::string::npos) {
                m_results.push_back(SearchResult{key + " (" + std::to_string(i + 1) + ")", i});
            }
        }
    }
    if (!m_results.empty()) {
        pickSearchResult(0);
        m_searchText = m_results.front().text;
    }
}

void ChannelEditor::pickSearchResult(std::size_t result) {
    if (result >= m_results.size()) {
        return;
    }
    const std::size_t index = m_results[result].index;
    if (m_page == EditorPage::Channels) {
        m_channels.deselectAll();
        m_channels.showLine(index);
    } else if (index < m_transponders.size()) {
        m_transponders.setCurrent(index);
        m_transponders.setTop(index);
    }
}

void ChannelEditor::selectSearchResults() {
    if (m_page != EditorPage::Channels) {
        return;
    }
    m_channels.deselectAll();
    for (const SearchResult& result : m_results) {
        m_channels.setSelected(result.index, true);
    }
}

std::optional<Notice> ChannelEditor::goToTransponder(bool expand) {
    const std::optional<std::size_t> current = m_channels.current();
    if (!current || *current >= m_channels.size()) {
        return Notice{std::string(kInvalidOperation), ""};
    }
    const std::optional<long> number =
        fieldNumber(m_channels.line(*current).text, channel_field::kTransponder);
    const std::optional<std::size_t> line =
        number ? m_transponders.findTransponder(*number) : std::nullopt;
    if (!line) {
        return std::nullopt;
    }
    m_transponders.setCurrent(*line);
    if (expand && !m_transponders.isExpanded(*line)) {
        m_transponders.expand(*line, m_channels.lines());
    }
    showPage(EditorPage::Transponders);
    m_transponders.setTop(*line);
    return std::nullopt;
}

std::optional<Notice> ChannelEditor::jumpToTransponder() {
    return goToTransponder(false);
}

std::optional<Notice> ChannelEditor::viewFamilyChannels() {
    return goToTransponder(true);
}

std::optional<Notice> ChannelEditor::jumpToChannel() {
    const std::optional<std::size_t> current = m_transponders.current();
    if (!current || m_transponders.kind(*current) != TransponderLineKind::ChannelSubLine) {
        return Notice{std::string(kInvalidJump), std::string(kMessageTitle)};
    }
    const std::uint32_t reference = m_transponders.line(*current).reference;
    const std::vector<Line>& lines = m_channels.lines();
    // Empty channels all share reference 0: the last of them is taken.
    const auto found = std::find_if(lines.rbegin(), lines.rend(),
                                    [&](const Line& line) { return line.reference == reference; });
    m_channels.deselectAll();
    if (found != lines.rend()) {
        m_channels.showLine(static_cast<std::size_t>(lines.rend() - found) - 1);
    }
    showPage(EditorPage::Channels);
    return std::nullopt;
}

std::optional<Notice> ChannelEditor::selectTransponderChannels() {
    const std::optional<std::size_t> current = m_transponders.current();
    const std::optional<long> number =
        current ? m_transponders.transponderNumber(*current) : std::nullopt;
    if (!number) {
        return std::nullopt;
    }
    std::optional<Notice> notice = m_channels.selectTransponderChannels(*number);
    if (!notice) {
        showPage(EditorPage::Channels);
    }
    return notice;
}

std::optional<Notice> ChannelEditor::toggleTransponderChannels() {
    return m_transponders.toggleChannels(m_channels.lines());
}

} // namespace corvex::channels
