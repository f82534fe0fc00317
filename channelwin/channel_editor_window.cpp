#include "channelwin/channel_editor_window.h"

#include "channels/channel_csv.h"
#include "channels/channel_recovery.h"
#include "channelwin/line_views.h"
#include "channelwin/long_notice.h"
#include "link/guard/program_files.h"
#include "widgets/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <utility>

namespace corvex::channelwin {

using widgets::qs;
using widgets::std8;

using channels::EditorPage;
using channels::Notice;

TForm5::TForm5(bool hex, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_editor(hex ? channels::DisplayMode::Hexadecimal : channels::DisplayMode::Decimal) {
    setWindowTitle(qs(m_editor.caption()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildControlPanel();
    layout->addWidget(m_controlPanel);
    buildPages();
    layout->addWidget(m_pages, 1);
    buildMenus();
    bindKeys();
    m_editor.channels().setChanged([this] {
        m_channelList->refresh();
        m_undo->setEnabled(m_editor.channels().canUndo());
        m_redo->setEnabled(m_editor.channels().canRedo());
    });
    setFixedSize(kClientWidth, kClientHeight);
    // Centred on the screen; the platform places a window without a position.
    if (const QScreen* shown = screen()) {
        move(shown->geometry().center() - rect().center());
    }
    refresh();
    refreshEditPanel();
}

TForm5::~TForm5() {
    m_editor.channels().setChanged({});
    // The lists paint from the editor, which goes before QWidget deletes its children.
    delete m_pages;
}

// ---- State to widgets ----

QMessageBox::StandardButton TForm5::ask(const Notice& notice, QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon) {
    if (m_boxHandler) {
        return m_boxHandler(notice, icon, buttons);
    }
    QString text = qs(notice.text);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QString title =
        notice.title.empty() ? QApplication::applicationDisplayName() : qs(notice.title);
    if (buttons == QMessageBox::Ok && text.count(QLatin1Char('\n')) >= kMaxBoxLines) {
        longNotice(this, icon, title, text);
        return QMessageBox::Ok;
    }
    QMessageBox box(icon, title, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TForm5::showNotice(const std::optional<Notice>& notice, QMessageBox::Icon icon) {
    if (notice) {
        (void)ask(*notice, QMessageBox::Ok, icon);
    }
}

bool TForm5::settleUnsavedWork(bool closing) {
    if (!m_editor.hasUnsavedWork()) {
        return true;
    }
    const std::string text = "The arranged channel list has not been saved into an image. Save it "
                             "before the editor " +
                             std::string(closing ? "closes" : "loads another image") + "?";
    switch (ask(Notice{text, "Warning"},
                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                QMessageBox::Warning)) {
    case QMessageBox::Save:
        return saveIntoImageAs();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void TForm5::refresh() {
    m_refreshing = true;
    setWindowTitle(qs(m_editor.caption()));
    const int page = m_editor.page() == EditorPage::Channels ? 0 : 1;
    if (m_pages->currentIndex() != page) {
        m_pages->setCurrentIndex(page);
    }
    m_expandButton->setEnabled(page == 1);
    m_collapseButton->setEnabled(page == 1);
    m_channelList->refresh();
    m_transponderList->refresh();
    if (m_editor.searchText() != m_syncedSearch || m_editor.searchResults() != m_syncedResults) {
        m_syncedSearch = m_editor.searchText();
        m_syncedResults = m_editor.searchResults();
        m_search->clear();
        for (const channels::SearchResult& result : m_syncedResults) {
            m_search->addItem(qs(result.text));
        }
        m_search->setCurrentIndex(m_syncedResults.empty() ? -1 : 0);
        m_search->setEditText(qs(m_syncedSearch));
    }
    m_undo->setEnabled(m_editor.channels().canUndo());
    m_redo->setEnabled(m_editor.channels().canRedo());
    m_saveIntoImage->setEnabled(m_editor.imageLoaded() && m_editor.channels().size() > 0);
    refreshMenus();
    m_refreshing = false;
}

void TForm5::refreshEditPanel() {
    if (m_editPanel->isHidden()) {
        return;
    }
    for (QLabel* label : m_advancedLabels) {
        label->setVisible(m_advanced);
    }
    for (std::size_t i = 1; i < m_fields.size(); ++i) {
        m_fields[i]->setVisible(m_advanced);
    }
    const channels::EditPanelValues values = m_editor.channels().editPanel();
    const std::string* texts[] = {&values.name, &values.transponder, &values.sid,  &values.vpid,
                                  &values.apid, &values.vecm,        &values.aecm, &values.pcr};
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i]->setText(qs(*texts[i]));
    }
    m_favourite->setChecked(values.flags.favourite);
    m_parental->setChecked(values.flags.parental);
    m_active->setChecked(values.flags.active);
}

void TForm5::refreshMenus() {
    const bool one = m_editor.canJumpToTransponder();
    m_jumpToTransponder->setEnabled(one);
    m_familyChannels->setEnabled(one);
    const auto& tps = m_editor.transponders();
    const std::optional<std::size_t> current = tps.current();
    const bool onTransponder =
        current && tps.kind(*current) == channels::TransponderLineKind::Transponder;
    m_selectTpChannels->setEnabled(onTransponder);
    m_viewTpChannels->setEnabled(onTransponder);
    m_viewTpChannels->setText(onTransponder && tps.isExpanded(*current)
                                  ? QStringLiteral("Hide TP channels")
                                  : QStringLiteral("View TP channels"));
    m_jumpToChannel->setEnabled(current && tps.kind(*current) ==
                                               channels::TransponderLineKind::ChannelSubLine);
    for (QAction* toggle : m_controlPanelToggles) {
        toggle->setText(m_controlPanel->isHidden() ? QStringLiteral("View control panel")
                                                   : QStringLiteral("Hide control panel"));
    }
    for (QAction* toggle : m_editPanelToggles) {
        toggle->setText(m_editPanel->isHidden() ? QStringLiteral("View edit panel")
                                                : QStringLiteral("Hide edit panel"));
    }
}

void TForm5::setAdvanced(bool on) {
    m_advanced = on;
    m_advancedButton->setChecked(on);
    align(true);
    refreshEditPanel();
}

void TForm5::align(bool widthToo) {
    if (isMaximized()) {
        return;
    }
    QSize screenSize = m_screenSize.value_or(QSize());
    if (!m_screenSize) {
        if (const QScreen* shown = screen()) {
            screenSize = shown->geometry().size();
        }
    }
    const QRect frame = frameGeometry();
    const QSize pxFrame = frame.size() - size(); // borders and title bar
    int width = frame.width();
    int left = frame.x();
    int top = 0;
    int height = screenSize.height();
    if (widthToo) {
        width = m_advanced ? kAdvancedWidth : kSimpleWidth;
        left = (screenSize.width() - width) / 2;
        if (left < 50) {
            left = -4;
            top = -4;
            width = screenSize.width() + 8;
            height = screenSize.height() + 8;
        }
    }
    setFixedSize(width - pxFrame.width(), height - pxFrame.height());
    move(left, top);
}

void TForm5::toggleControlPanel() {
    m_controlPanel->setVisible(m_controlPanel->isHidden());
    refreshMenus();
}

void TForm5::toggleEditPanel() {
    const bool show = m_editPanel->isHidden();
    m_editPanel->setVisible(show);
    m_notePanel->setVisible(show);
    if (show) {
        refreshEditPanel();
    }
    refreshMenus();
}

void TForm5::pageShown(int index) {
    if (m_refreshing) {
        return;
    }
    m_editor.showPage(index == 0 ? EditorPage::Channels : EditorPage::Transponders);
    refresh();
    if (index == 0) {
        refreshEditPanel();
    }
}

// ---- Commands ----

void TForm5::loadImage(const std::string& image) {
    // The caption names the file before the load, as any message of the load stands over it.
    setWindowTitle(qs("Channel List Editor - [" + image + "]"));
    repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A damaged table warns once per record: they are gathered into one box.
    std::vector<std::string> warnings;
    const auto onWarning = [&warnings](const std::string& text) { warnings.push_back(text); };
    const std::optional<Notice> notice = m_editor.openImage(image, onWarning);
    QApplication::restoreOverrideCursor();
    refresh();
    refreshEditPanel();
    showNotice(channels::warningsNotice(warnings), QMessageBox::Warning);
    showNotice(notice, QMessageBox::Warning);
    if (m_editor.imageLoaded()) {
        offerRecovery();
    }
}

void TForm5::offerRecovery() {
    std::optional<channels::ArrangedSnapshot> snapshot =
        m_editor.findRecovery(link::userDataFolder("recovery"));
    if (!snapshot) {
        return;
    }
    const QMessageBox::StandardButton answer =
        ask(Notice{"A channel list arranged on this image was not saved when the program had to "
                   "close, and was kept. Restore it?",
                   std::string(channels::kMessageTitle)},
            QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        // One step: Undo gives back the list as the image holds it.
        m_editor.channels().replaceAll(std::move(snapshot->lines));
        refresh();
        refreshEditPanel();
    }
    // Offered once: restored, it is unsaved work in this window again; refused, it is gone.
    std::error_code ignored;
    std::filesystem::remove(snapshot->file, ignored);
}

void TForm5::loadFromDisk() {
    if (!settleUnsavedWork(false)) {
        return;
    }
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Open"), false);
    } else {
        const QString name =
            QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QDir::homePath(),
                                         QStringLiteral("Binary firmware files (*.BIN *.bin)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    if (chosen) {
        loadImage(*chosen);
    }
}

void TForm5::sortBySection(int section) {
    using channels::SortColumn;
    // Sections: Item, Channel Name, Favorite, Parental, Active, TP, SID, VPID, APID, VECM,
    // AECM, PCR.
    static constexpr std::array<std::optional<SortColumn>, 12> kSortBy{
        std::nullopt,    SortColumn::Name, std::nullopt,
        std::nullopt,    std::nullopt,     SortColumn::Transponder,
        SortColumn::Sid, SortColumn::Vpid, SortColumn::Apid,
        std::nullopt,    std::nullopt,     SortColumn::Pcr};
    if (section == 0) {
        toggleControlPanel();
        return;
    }
    if (section < 0 || static_cast<std::size_t>(section) >= kSortBy.size() || !kSortBy[section]) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_editor.sortChannels(*kSortBy[section]);
    QApplication::restoreOverrideCursor();
    refresh();
    refreshEditPanel();
}

void TForm5::runSearch() {
    m_editor.setSearchText(std8(m_search->currentText()));
    m_editor.search();
    m_syncedSearch.clear();
    m_syncedResults.clear();
    refresh();
    // The box always shows what the search left, even when that equals the text typed.
    m_search->setEditText(qs(m_editor.searchText()));
    if (m_editor.page() == EditorPage::Channels) {
        refreshEditPanel();
    }
}

void TForm5::dropOn(std::optional<std::size_t> target) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const channels::DropResult result = m_editor.channels().drop(target);
    if (result.pointerUpOneLine) {
        QCursor::setPos(QCursor::pos() - QPoint(0, kPxItemHeight));
    }
    QApplication::restoreOverrideCursor();
    m_channelList->endDrag();
    refresh();
    refreshEditPanel();
    showNotice(result.notice);
}

void TForm5::exportCsv() {
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Export list as CSV"), true);
    } else {
        const QString name =
            QFileDialog::getSaveFileName(this, QStringLiteral("Export list as CSV"),
                                         QDir::homePath(), QStringLiteral("CSV files (*.csv)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    if (!chosen) {
        return;
    }
    std::string error;
    if (!channels::writeChannelListCsv(*chosen, m_editor.channels().lines(),
                                       m_editor.transponders().lines(), error)) {
        showNotice(Notice{error, "Error"}, QMessageBox::Critical);
    }
}

bool TForm5::saveIntoImageAs() {
    std::optional<std::string> chosen;
    if (m_fileHandler) {
        chosen = m_fileHandler(QStringLiteral("Save list into image as"), true);
    } else {
        const QString name = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save list into image as"), QDir::homePath(),
            QStringLiteral("Binary firmware files (*.BIN *.bin)"));
        if (!name.isEmpty()) {
            chosen = std8(name);
        }
    }
    return chosen && saveIntoImage(*chosen);
}

bool TForm5::saveIntoImage(const std::string& target) {
    if (!m_editor.imageLoaded()) {
        showNotice(Notice{"There is no loaded channel list to save.", "Error"},
                   QMessageBox::Warning);
        return false;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::string error;
    const bool saved = m_editor.saveIntoImage(target, error);
    QApplication::restoreOverrideCursor();
    if (!saved) {
        showNotice(Notice{error, "Error"}, QMessageBox::Critical);
        return false;
    }
    showNotice(Notice{"The channel list was saved into " + target + ".", "Information"});
    return true;
}

void TForm5::keepForRecovery() {
    std::string error;
    if (!m_editor.keepForRecovery(link::userDataFolder("recovery"), error)) {
        // No box: nobody is there to answer it. The terminal is the last place left to say it.
        std::cerr << "corvex: the arranged channel list could not be kept: " << error << '\n';
    }
}

// ---- Events ----

void TForm5::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_channelList->endDrag();
    }
    QWidget::changeEvent(event);
}

void TForm5::closeEvent(QCloseEvent* event) {
    if (m_editor.closeAsks() && !settleUnsavedWork(true)) {
        event->ignore();
        return;
    }
    m_channelList->endDrag();
    QWidget::closeEvent(event);
}

bool TForm5::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const auto at = std::find(m_enterOrder.begin(), m_enterOrder.end(), watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && at != m_enterOrder.end()) {
            // The next control shown; after the last one (PCR, or Active in simple mode, where
            // the PID fields are hidden) the name again.
            auto next = std::find_if(at + 1, m_enterOrder.end(),
                                     [this](QWidget* w) { return w->isVisibleTo(this); });
            (next == m_enterOrder.end() ? m_enterOrder.front() : *next)->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Lookups for tests ----

QAction* TForm5::action(const QString& caption) const {
    for (const QMenu* menu : {m_channelMenu, m_transponderMenu}) {
        for (QAction* entry : menu->actions()) {
            if (entry->text() == caption) {
                return entry;
            }
        }
    }
    return nullptr;
}

QAbstractButton* TForm5::button(const QString& hint) const {
    for (QAbstractButton* found : findChildren<QAbstractButton*>()) {
        if (found->text() == hint) {
            return found;
        }
    }
    return nullptr;
}

QLineEdit* TForm5::field(const QString& label) const {
    if (label == QStringLiteral("Channel name:")) {
        return m_fields.front();
    }
    for (std::size_t i = 0; i < m_advancedLabels.size(); ++i) {
        if (m_advancedLabels[i]->text() == label) {
            return m_fields[i + 1];
        }
    }
    return nullptr;
}

QCheckBox* TForm5::checkBox(const QString& caption) const {
    for (QCheckBox* box : {m_favourite, m_parental, m_active}) {
        if (box->text() == caption) {
            return box;
        }
    }
    return nullptr;
}

} // namespace corvex::channelwin
