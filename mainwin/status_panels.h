#pragma once

#include "mainwin/guard_feedback.h"

#include <QStaticText>
#include <QWidget>

#include <array>

namespace corvex::mainwin {

// The three owner-drawn status panels below the pages: icon at 4 pixels, text at 25, as the
// model gives them.
class StatusPanels : public QWidget {
public:
    StatusPanels(GuardFeedback& feedback, QWidget* parent);

    /// Repaints the panels whose content changed since they were last asked for. The window
    /// asks after every Guard message and tick; most change nothing, and text is costly to draw.
    void sync();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    [[nodiscard]] QRect panelRect(int index) const;
    const QStaticText& laidOut(int index, const QString& text);

    GuardFeedback& m_feedback;
    std::array<PanelView, 3> m_drawn;
    std::array<std::array<QStaticText, 2>, 3> m_laidOut;
};

} // namespace corvex::mainwin
