#pragma once

#include "mainwin/guard_feedback.h"

#include <QWidget>

#include <cstdint>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace corvex::mainwin {

// The "Corvex Guard" page: the command line with Restart and Send over the Guard's log. Its
// lines and commands belong to the model; the page shows the lines and hands it what is typed.
class GuardPage : public QWidget {
public:
    struct Hooks {
        std::function<void()> restartGuard; // the Restart button
        std::function<void()> changed;      // a command went out or the log was handed over
    };

    GuardPage(GuardFeedback& feedback, Hooks hooks, QWidget* parent);

    /// Appends the lines the model added since the last call and follows its Restart state.
    void refresh();

    [[nodiscard]] QPlainTextEdit& logView() { return *m_logView; }
    [[nodiscard]] QLineEdit& commandField() { return *m_command; }

private:
    void sendCommand();

    GuardFeedback& m_feedback;
    Hooks m_hooks;
    std::uint64_t m_linesShown = 0;
    QLineEdit* m_command = nullptr;
    QPushButton* m_restart = nullptr;
    QPlainTextEdit* m_logView = nullptr;
};

} // namespace corvex::mainwin
