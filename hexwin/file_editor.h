#pragma once

#include "fileeditor/search.h"
#include "fileeditor/search_job.h"
#include "fileeditor/workspace.h"
#include "link/guard/program_files.h"
#include "widgets/unsaved_work.h"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QToolButton;

namespace corvex::hexwin {

class HexGrid;
class ResultsModel;
class TOpenFavDialog;

// The file editor window ("File Editor"): a thin window over the workspace core. It shows the
// page in its grid with a scroll bar over the whole file and a status line below, and holds the
// search, jump, base address and fill controls, the "Search Results" and "History workspace"
// pages, and the keys: Ctrl+Z, Ctrl+Y and Ctrl+Shift+Z undo and redo, Ctrl+S saves into the
// file, Ctrl+Shift+S saves a range, F3 and Shift+F3 find from the cursor, Ctrl+F and Ctrl+G
// go to the pattern and "Jump to:" fields. Every refusal the core reports becomes a message box.
// A file over 64 MiB shows its first page at once and its working copy is made with a progress
// bar and Cancel below the grid.
class TForm3 : public QWidget, public widgets::UnsavedWork {
    Q_OBJECT

public:
    enum class SaveAnswer { Save, Discard, Cancel };

    /// A top-level window owned by `owner`; its working copy is named after `programPath` and
    /// removed when the window goes. Deletes itself when closed.
    TForm3(QWidget* owner, const std::string& programPath);
    ~TForm3() override;

    /// Loads a file into a new workspace, offering first to restore its recovery file when
    /// there is one; false (after its message) when it is refused.
    bool openByName(const std::string& name);

    [[nodiscard]] fileeditor::Workspace& workspace() { return *m_workspace; }
    [[nodiscard]] fileeditor::SearchResults& results() { return m_results; }
    /// The working copy holds work not saved into the workspace's file.
    [[nodiscard]] bool modified() const { return m_workspace->modified(); }

    /// Keeps unsaved edits as the opened file's recovery file without a question; the close
    /// that follows asks nothing.
    void keepForRecovery() override;

    // The user's actions, as the buttons and keys run them.
    void openWithDialog();
    bool saveWithDialog();
    /// Ctrl+S: the working copy back into the file it was opened from.
    bool save();
    void search();
    /// F3 and Shift+F3: the pattern's next or previous match from the cursor.
    void findFromCursor(bool forward);
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

    // Seams for tests and pictures: how message boxes, the close question, the Yes/No
    // questions (No the default) and the range dialogs are shown, and where recovery files go.
    // By default modal boxes and dialogs, and the user's data folder.
    std::function<void(const fileeditor::Notice&)> showNotice;
    std::function<SaveAnswer()> askSave;
    std::function<bool(const QString& title, const QString& text)> askYesNo;
    std::function<bool(TOpenFavDialog&)> runDialog;
    std::function<std::string()> recoveryFolder;

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
    QLineEdit* hexField(const QString& name, int digits, std::function<void()> onEnter,
                        int shownDigits = 0);
    /// Shows the workspace's page, scroll position, fields and lists as they are now.
    void showPage();
    void refreshPage();
    void onScroll(int line);
    void onGridChanged(bool edited);
    void autoScrollTick();
    void notify(const std::optional<fileeditor::Notice>& notice);
    void prepareDialog(TOpenFavDialog& dialog);
    /// Opens `name` as the workspace, a recovery file offered first; the copy of a large file
    /// goes on behind the progress bar.
    bool startOpen(const std::string& name);
    void loadTick();
    void cancelLoading();
    /// Asks the question a save raises, if any; false when refused or answered No.
    bool confirmSave(const fileeditor::SaveCheck& check);
    [[nodiscard]] fileeditor::CaseMatch caseMatch() const;
    void resultsChanged();
    void selectResult(long index);
    /// Selects result line `index` and shows its match in the workspace (none for -1).
    void goToResult(long index);
    [[nodiscard]] std::vector<std::size_t> selectedResults() const;
    void removeWorkFile();

    std::optional<link::WorkFile> m_workLock;
    std::unique_ptr<fileeditor::Workspace> m_workspace;
    fileeditor::SearchResults m_results;
    std::vector<std::string> m_patternHistory;
    fileeditor::PatternMode m_patternMode = fileeditor::PatternMode::Text;
    bool m_searching = false;
    fileeditor::SearchJob* m_searchJob = nullptr; // the running search, while it runs
    bool m_keptForRecovery = false;
    int m_refreshing = 0; // non-zero while the page is shown again: paging keys wait

    HexGrid* m_grid = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QTabWidget* m_pages = nullptr;
    QLabel* m_statusLine = nullptr;
    QWidget* m_loadPanel = nullptr;
    QProgressBar* m_loadBar = nullptr;
    QTimer m_loadTimer;
    QLabel* m_patternLabel = nullptr;
    QComboBox* m_patternBox = nullptr;
    QCheckBox* m_matchCase = nullptr;
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
