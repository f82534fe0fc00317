#pragma once

// The channel list editor window: the control panel, the "Channels" and "Transponders" pages
// with their owner-drawn lists and headers, the edit panel and the context menus, over a
// ChannelEditor that holds the lists and every operation on them.

#include "channels/channel_editor.h"
#include "channels/notice.h"
#include "widgets/unsaved_work.h"

#include <QMessageBox>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QHeaderView;
class QLabel;
class QLineEdit;
class QMenu;
class QTabWidget;
class QToolButton;

namespace corvex::channelwin {

class ChannelListView;
class TransponderListView;

class TForm5 : public QWidget, public widgets::UnsavedWork {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 800;
    static constexpr int kClientHeight = 377;
    static constexpr int kAdvancedWidth = 808;
    static constexpr int kSimpleWidth = 428;

    /// A top-level window owned by `owner` (none in tests), in decimal or hexadecimal mode.
    explicit TForm5(bool hex, QWidget* owner = nullptr);
    ~TForm5() override;
    TForm5(const TForm5&) = delete;
    TForm5& operator=(const TForm5&) = delete;

    // Tests answer the boxes and dialogs instead of a user: a box gets its buttons and returns
    // the one pressed (a box with only OK is only shown).
    using BoxHandler = std::function<QMessageBox::StandardButton(
        const channels::Notice&, QMessageBox::Icon, QMessageBox::StandardButtons)>;
    using FileHandler = std::function<std::optional<std::string>(const QString& title, bool save)>;
    void setBoxHandler(BoxHandler handler) { m_boxHandler = std::move(handler); }
    void setFileHandler(FileHandler handler) { m_fileHandler = std::move(handler); }
    /// The screen's free area for alignment; the window's screen by default.
    void setScreenSize(std::optional<QSize> size) { m_screenSize = size; }

    /// Loads the tables of `image` (empty: nothing to load, two empty lists).
    void loadImage(const std::string& image);

    [[nodiscard]] channels::ChannelEditor& editor() { return m_editor; }
    [[nodiscard]] ChannelListView& channelList() { return *m_channelList; }
    [[nodiscard]] TransponderListView& transponderList() { return *m_transponderList; }
    [[nodiscard]] QTabWidget& pages() { return *m_pages; }
    [[nodiscard]] QComboBox& searchBox() { return *m_search; }
    [[nodiscard]] QWidget& controlPanel() { return *m_controlPanel; }
    [[nodiscard]] QWidget& editPanel() { return *m_editPanel; }
    [[nodiscard]] QHeaderView& channelHeader() { return *m_channelHeader; }
    /// A context menu entry, Undo/Redo, or a control panel button by its caption or hint.
    [[nodiscard]] QAction* action(const QString& caption) const;
    [[nodiscard]] QAbstractButton* button(const QString& hint) const;
    /// An edit panel field by its label ("Channel name:", "SID:", ...).
    [[nodiscard]] QLineEdit* field(const QString& label) const;
    [[nodiscard]] QCheckBox* checkBox(const QString& caption) const;
    [[nodiscard]] bool advancedMode() const { return m_advanced; }
    /// The image the lists were loaded from, as read then.
    [[nodiscard]] const std::string& imageName() const { return m_editor.imageName(); }

    /// The drop of a drag on the channels list, on `target` (nullopt: below the last line).
    void dropOn(std::optional<std::size_t> target);
    /// "Save list into image as ..." to `target`; false (and a message) when nothing was saved.
    bool saveIntoImage(const std::string& target);

    /// An arranged list that was not saved goes to a recovery snapshot in the user's data
    /// folder, offered at the next open of its image; the next close passes without a question.
    void keepForRecovery() override;

protected:
    void changeEvent(QEvent* event) override;
    /// A list arranged since it was loaded or saved asks before it is dropped.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControlPanel();
    void buildPages();
    void buildEditPanel(QWidget* page);
    void buildMenus();
    void bindKeys();

    /// Shows the notice, if any, with OK.
    void showNotice(const std::optional<channels::Notice>& notice,
                    QMessageBox::Icon icon = QMessageBox::Information);
    /// Asks with the buttons given; the one pressed.
    QMessageBox::StandardButton ask(const channels::Notice& notice,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::Icon icon = QMessageBox::Question);
    /// Before the list is dropped by a close (or else a load): Save, Discard or Cancel when it
    /// holds unsaved work. True when the list may go.
    bool settleUnsavedWork(bool closing);
    /// Offers a recovery snapshot of the image just loaded.
    void offerRecovery();
    /// Everything the editor state decides: caption, page, lists, search box, actions.
    void refresh();
    void refreshEditPanel();
    void refreshMenus();
    void setAdvanced(bool on);
    void align(bool widthToo);
    void toggleControlPanel();
    void toggleEditPanel();
    void pageShown(int index);

    void loadFromDisk();
    void runSearch();
    void exportCsv();
    bool saveIntoImageAs();
    void sortBySection(int section);

    channels::ChannelEditor m_editor;
    bool m_advanced = true;
    bool m_refreshing = false;
    std::string m_syncedSearch;
    std::vector<channels::SearchResult> m_syncedResults;
    std::optional<QSize> m_screenSize;
    BoxHandler m_boxHandler;
    FileHandler m_fileHandler;

    QWidget* m_controlPanel = nullptr;
    QComboBox* m_search = nullptr;
    QToolButton* m_expandButton = nullptr;
    QToolButton* m_collapseButton = nullptr;
    QToolButton* m_advancedButton = nullptr;
    QTabWidget* m_pages = nullptr;
    QHeaderView* m_channelHeader = nullptr;
    QHeaderView* m_transponderHeader = nullptr;
    ChannelListView* m_channelList = nullptr;
    TransponderListView* m_transponderList = nullptr;
    QWidget* m_editPanel = nullptr;
    QWidget* m_notePanel = nullptr;
    std::vector<QLabel*> m_advancedLabels;
    std::vector<QLineEdit*> m_fields; // name, TP, SID, VPID, APID, VECM, AECM, PCR
    QCheckBox* m_favourite = nullptr;
    QCheckBox* m_parental = nullptr;
    QCheckBox* m_active = nullptr;
    std::vector<QWidget*> m_enterOrder; // where Enter moves the focus in the edit panel

    QMenu* m_channelMenu = nullptr;
    QMenu* m_transponderMenu = nullptr;
    QAction* m_advancedDragDrop = nullptr;
    QAction* m_jumpToTransponder = nullptr;
    QAction* m_familyChannels = nullptr;
    QAction* m_selectTpChannels = nullptr;
    QAction* m_viewTpChannels = nullptr;
    QAction* m_jumpToChannel = nullptr;
    std::vector<QAction*> m_controlPanelToggles;
    std::vector<QAction*> m_editPanelToggles;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_saveIntoImage = nullptr;
    QAction* m_exportCsv = nullptr;
};

} // namespace corvex::channelwin
