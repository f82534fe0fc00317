#pragma once

#include "fileeditor/search.h"
#include "fileeditor/workspace.h"
#include "link/guard/program_files.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QToolButton;

namespace corvex::hexwin {

class HexGrid;
class ResultsModel;
class TOpenFavDialog;

// The file editor window ("File Editor"): a thin window over the workspace core. It shows the
// page in its grid with a scroll bar over the whole file, and holds the search, jump, base
// address and fill controls, the "Search Results" and "History workspace" pages, and undo and
// redo (Ctrl+Z, Ctrl+Y). Every refusal the core reports becomes a message box.
class TForm3 : public QWidget {
    Q_OBJECT

public:
    enum class SaveAnswer { Save, Discard, Cancel };

    /// A top-level window owned by `owner`; its working copy is named after `programPath` and
    /// removed when the window goes. Deletes itself when closed.
    TForm3(QWidget* owner, const std::string& programPath);
    ~TForm3() override;

    /// Loads a file into a new workspace; false (after its message) when it is refused.
    bool openByName(const std::string& name);

    [[nodiscard]] fileeditor::Workspace& workspace() { return *m_workspace; }
    [[nodiscard]] fileeditor::SearchResults& results() { return m_results; }
    /// Edits, fills or inserts made since the file was opened or last saved.
    [[nodiscard]] bool modified() const { return m_modified; }

    // The user's actions, as the buttons and keys run them.
    void openWithDialog();
    bool saveWithDialog();
    void search();
    void previousResult();
    void nextResult();
    void jumpToSelectedResult();
    void jump();
    void setBaseAddress();
    void showFillPanel();
    void fill(fileeditor::FillAction action);
    void checkIntegrity();
    void undo();
    void redo();
    void setViewMode(int mode);
    void setPatternMode(fileeditor::PatternMode mode);

    // Seams for tests and pictures: how message boxes, the close question and the range
    // dialogs are shown. By default modal boxes and dialogs.
    std::function<void(const fileeditor::Notice&)> showNotice;
    std::function<SaveAnswer()> askSave;
    std::function<bool(TOpenFavDialog&)> runDialog;

signals:
    /// Sent while the page is being shown again, before the refresh ends.
    void pageShown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildControls();
    QWidget* buildFillPanel();
    QWidget* buildEditorPage();
    QWidget* buildResultsPage();
    QWidget* buildHistoryPage();
    QLineEdit* hexField(const QString& name, int digits, std::function<void()> onEnter);
    /// Shows the workspace's page, scroll position, fields and lists as they are now.
    void showPage();
    void refreshPage();
    void onScroll(int line);
    void onGridChanged(bool edited);
    void autoScrollTick();
    void notify(const std::optional<fileeditor::Notice>& notice);
    void prepareDialog(TOpenFavDialog& dialog);
    void resultsChanged();
    void selectResult(long index);
    [[nodiscard]] std::vector<std::size_t> selectedResults() const;
    void removeWorkFile();

    std::optional<link::WorkFile> m_workLock;
    std::unique_ptr<fileeditor::Workspace> m_workspace;
    fileeditor::SearchResults m_results;
    std::vector<std::string> m_patternHistory;
    fileeditor::PatternMode m_patternMode = fileeditor::PatternMode::Text;
    bool m_modified = false;
    bool m_searching = false;
    int m_refreshing = 0; // non-zero while the page is shown again: paging keys wait

    HexGrid* m_grid = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QTabWidget* m_pages = nullptr;
    QLabel* m_patternLabel = nullptr;
    QComboBox* m_patternBox = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QLineEdit* m_jumpField = nullptr;
    QLineEdit* m_baseField = nullptr;
    QLineEdit* m_offsetField = nullptr;
    QToolButton* m_autoScrollButton = nullptr;
    QButtonGroup* m_viewModes = nullptr;
    QFrame* m_fillPanel = nullptr;
    QLineEdit* m_fillStart = nullptr;
    QLineEdit* m_fillEnd = nullptr;
    QLineEdit* m_fillValue = nullptr;
    QListView* m_resultsView = nullptr;
    ResultsModel* m_resultsModel = nullptr;
    QListWidget* m_history = nullptr;
    QTimer m_autoScroll;
};

} // namespace corvex::hexwin
