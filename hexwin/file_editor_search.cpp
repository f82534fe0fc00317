#include "file_editor.h"
#include "fileeditor/hex_field.h"
#include "hex_grid.h"
#include "hexwin/search_results_model.h"
#include "widgets/qt_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>

// The file editor window's search: the scan behind its progress box, the results list and the
// walks through it.
namespace corvex::hexwin {

using fileeditor::Notice;
using fileeditor::PatternMode;
using widgets::qsLatin1;
using widgets::stdLatin1;

void TForm3::findFromCursor(bool forward) {
    const auto pattern =
        fileeditor::buildPattern(stdLatin1(m_patternBox->currentText()), m_patternMode);
    if (pattern.empty()) {
        m_patternBox->setFocus();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto refusal = m_workspace->findFromCursor(pattern, forward, caseMatch());
    QApplication::restoreOverrideCursor();
    notify(refusal);
    m_pages->setCurrentIndex(0);
    showPage();
    m_grid->setFocus();
}

fileeditor::CaseMatch TForm3::caseMatch() const {
    return m_patternMode == PatternMode::Text && !m_matchCase->isChecked()
               ? fileeditor::CaseMatch::IgnoreAsciiCase
               : fileeditor::CaseMatch::Exact;
}

void TForm3::search() {
    if (m_searching) {
        return;
    }
    if (m_workspace->loading()) {
        notify(Notice{"Info", "The file is still being loaded. Wait for it, or cancel loading."});
        return;
    }
    const std::string text = stdLatin1(m_patternBox->currentText());
    const auto pattern = fileeditor::buildPattern(text, m_patternMode);
    // Edits on the page on screen count: the scan reads the working copy from disk.
    (void)m_workspace->flush();
    m_searching = true;
    m_resultsModel->setHidden(true);

    // The results list is the job's until it has ended.
    fileeditor::SearchJob job(m_workspace->workFileName(), pattern, m_workspace->baseAddress(),
                              m_results, caseMatch());
    m_searchJob = &job;

    QProgressDialog progress(QStringLiteral("Searching ..."), QStringLiteral("Cancel"), 0, 1000,
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    connect(&progress, &QProgressDialog::canceled, this, [&job] { job.cancel(); });
    QEventLoop wait;
    QTimer poll;
    poll.setInterval(15);
    connect(&poll, &QTimer::timeout, &wait, [&] {
        if (job.finished()) {
            wait.quit();
            return;
        }
        if (progress.wasCanceled()) {
            job.cancel(); // however it was cancelled: button, Escape or closing it
        }
        if (const auto permille = job.permille()) {
            progress.setValue(*permille);
        }
    });
    poll.start();
    if (!job.finished()) {
        wait.exec();
    }
    const fileeditor::SearchSummary summary = job.wait();
    m_searchJob = nullptr;
    progress.close();
    m_searching = false;
    m_resultsModel->setHidden(false);

    notify(summary.notice);
    if (summary.matches > 0) {
        fileeditor::rememberPattern(m_patternHistory, text);
        m_patternBox->clear();
        for (const std::string& item : m_patternHistory) {
            m_patternBox->addItem(qsLatin1(item));
        }
        m_patternBox->setCurrentIndex(0);
    }
    resultsChanged();
    if (m_results.currentResult() >= 0) {
        selectResult(m_results.currentResult());
        notify(m_workspace->goToOffset(
            m_results.offset(static_cast<std::size_t>(m_results.currentResult()))));
        showPage();
    }
    if (m_results.size() > 0) {
        m_resultsView->scrollTo(m_resultsModel->index(static_cast<int>(m_results.size()) - 1));
    }
}

void TForm3::resultsChanged() {
    m_resultsModel->reset();
    m_previous->setEnabled(m_results.canGoPrevious());
    m_next->setEnabled(m_results.canGoNext());
}

void TForm3::selectResult(long index) {
    m_resultsView->clearSelection();
    if (index >= 0) {
        const QModelIndex item = m_resultsModel->index(static_cast<int>(index));
        m_resultsView->selectionModel()->select(item, QItemSelectionModel::Select);
        m_resultsView->setCurrentIndex(item);
    }
    m_previous->setEnabled(m_results.canGoPrevious());
    m_next->setEnabled(m_results.canGoNext());
}

void TForm3::previousResult() {
    goToResult(m_results.previousResult());
}

void TForm3::nextResult() {
    goToResult(m_results.nextResult());
}

void TForm3::goToResult(long index) {
    selectResult(index);
    if (index >= 0) {
        notify(m_workspace->goToOffset(m_results.offset(static_cast<std::size_t>(index))));
        showPage();
    }
}

std::vector<std::size_t> TForm3::selectedResults() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : m_resultsView->selectionModel()->selectedRows()) {
        rows.push_back(static_cast<std::size_t>(index.row()));
    }
    return rows;
}

void TForm3::jumpToSelectedResult() {
    const auto choice = m_results.jumpChoice(selectedResults());
    if (choice.refusal) {
        notify(choice.refusal);
        return;
    }
    if (!choice.offset) {
        return;
    }
    m_pages->setCurrentIndex(0);
    m_jumpField->setText(qsLatin1(fileeditor::hexAddress(m_workspace->addressOf(*choice.offset))));
    jump();
}

} // namespace corvex::hexwin
