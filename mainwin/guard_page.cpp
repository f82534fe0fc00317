#include "mainwin/guard_page.h"

#include "widgets/click_label.h"
#include "widgets/qt_text.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvex::mainwin {

namespace {

constexpr int kCommandLimit = 100;

} // namespace

using widgets::qs;

GuardPage::GuardPage(GuardFeedback& feedback, Hooks hooks, QWidget* parent)
    : QWidget(parent), m_feedback(feedback), m_hooks(std::move(hooks)) {
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    // A click on the caption hands the page's lines to the log book.
    row->addWidget(new widgets::ClickLabel(
        QStringLiteral("Corvex Command:"),
        [this] {
            if (m_feedback.appendViewToLogBook().empty()) {
                m_logView->clear();
                m_linesShown = m_feedback.linesAdded();
            }
            m_hooks.changed();
        },
        this));
    m_command = new QLineEdit(qs(kDefaultCommand), this);
    m_command->setMaxLength(kCommandLimit);
    connect(m_command, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int cursor = m_command->cursorPosition();
        m_command->setText(text.toUpper());
        m_command->setCursorPosition(cursor);
    });
    connect(m_command, &QLineEdit::returnPressed, this, [this] {
        sendCommand();
        m_command->clear();
    });
    row->addWidget(m_command, 1);
    m_restart = new QPushButton(QStringLiteral("Restart"), this);
    connect(m_restart, &QPushButton::clicked, this, [this] { m_hooks.restartGuard(); });
    row->addWidget(m_restart);
    auto* send = new QPushButton(QStringLiteral("Send"), this);
    connect(send, &QPushButton::clicked, this, &GuardPage::sendCommand);
    row->addWidget(send);
    layout->addLayout(row);
    m_logView = new QPlainTextEdit(this);
    m_logView->setReadOnly(true);
    m_logView->setMaximumBlockCount(static_cast<int>(kLogViewLimit));
    m_logView->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #E0E0E0; }"));
    layout->addWidget(m_logView, 1);
}

void GuardPage::sendCommand() {
    m_feedback.sendCommand(widgets::std8(m_command->text()));
    m_hooks.changed();
}

void GuardPage::refresh() {
    m_restart->setEnabled(m_feedback.restartEnabled());
    // Only the lines the page has not shown yet, in one piece: the page may hold 100,000.
    const std::deque<std::string>& lines = m_feedback.logLines();
    const std::uint64_t fresh =
        std::min<std::uint64_t>(m_feedback.linesAdded() - m_linesShown, lines.size());
    if (fresh > 0) {
        QString text;
        for (auto line = lines.end() - static_cast<std::ptrdiff_t>(fresh); line != lines.end();
             ++line) {
            if (!text.isEmpty()) {
                text += QLatin1Char('\n');
            }
            text += qs(*line);
        }
        m_logView->appendPlainText(text);
    }
    m_linesShown = m_feedback.linesAdded();
}

} // namespace corvex::mainwin
