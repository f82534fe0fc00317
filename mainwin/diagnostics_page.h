#pragma once

#include "mainwin/diagnostics_model.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvex::mainwin {

// The "Diagnostics" page: the widgets over DiagnosticsModel. Every control hands the model one
// request; the Guard's answers come back through showResult() and refresh().
class DiagnosticsPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRepeatMs = 250;

    // What the page needs from the window around it.
    struct Hooks {
        std::function<std::uint8_t()> readStatus; // the status register, from this thread
        std::function<void()> resetInterface;     // as Corvex > "Reset Interface"
        std::function<void()> breakJob;
        std::function<void(bool)> loopbackChanged; // the menu item follows the check box
    };

    DiagnosticsPage(DiagnosticsModel& model, GuardFeedback& feedback, Hooks hooks,
                    QWidget* parent = nullptr);

    /// A code 6 or 7 result for `target`; false when the target is none of this page's.
    bool showResult(const void* target, const std::string& text);
    /// Applies the feedback's gauge, block mode and loopback enable states.
    void refresh();
    /// One 100 ms tick while the page is showing: the input line watch.
    void pollLines();
    /// The page came to the front (true) or left it: leaving stops the repeat and the watch.
    void setShowing(bool showing);
    /// The "Loopback enabled" menu item was chosen: the check box follows and submits.
    void setLoopbackChecked(bool on);
    /// A "Loopback test" menu entry.
    void runLoopbackTest(LoopbackTest test, bool fromPage);

    [[nodiscard]] bool repeating() const;
    [[nodiscard]] bool watching() const { return m_watching; }

private:
    struct OutputLine {
        QLabel* box;
        DiagControl high;
        DiagControl low;
        const char* initial;
    };

    QWidget* buildWordGroup();
    QWidget* buildByteGroup();
    QWidget* buildOptionsGroup();
    QWidget* buildPortGroup();
    QWidget* buildDataPortGroup();
    QWidget* buildOutputGroup();
    QWidget* buildInputGroup();
    QLineEdit* hexField(const QString& name, const QString& text, int width);
    QPushButton* button(const QString& name, const QString& caption, std::function<void()> run);
    QLabel* stateBox(const QString& name, const QString& text);
    void read();
    void write();
    void repeatTick();
    void paintBox(QLabel* box, Rgb colour);

    DiagnosticsModel& m_model;
    GuardFeedback& m_feedback;
    Hooks m_hooks;
    LineWatch m_watch;
    bool m_watching = false;
    QTimer m_repeatTimer;

    QLineEdit* m_readAddress = nullptr;
    QLineEdit* m_readData = nullptr;
    QLineEdit* m_writeAddress = nullptr;
    QLineEdit* m_writeData = nullptr;
    QPushButton* m_repeat = nullptr;
    QCheckBox* m_swap = nullptr;
    QLabel* m_blockMode = nullptr;
    QLineEdit* m_byteRead = nullptr;
    QLineEdit* m_byteWrite = nullptr;
    QCheckBox* m_loopback = nullptr;
    QProgressBar* m_gauge = nullptr;
    QLineEdit* m_exchangeValue = nullptr;
    std::vector<QWidget*> m_factoryControls;
    QLineEdit* m_factoryAddress = nullptr;
    QLineEdit* m_factoryValue = nullptr;
    QComboBox* m_portList = nullptr;
    QLineEdit* m_dataPortRead = nullptr;
    QLineEdit* m_dataPortWrite = nullptr;
    std::vector<OutputLine> m_outputs;
    QLabel* m_dataValidBox = nullptr;
    QLabel* m_rxAckBox = nullptr;
    std::vector<QLineEdit*> m_resultFields;
};

} // namespace corvex::mainwin
