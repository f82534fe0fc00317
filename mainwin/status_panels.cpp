#include "mainwin/status_panels.h"

#include "widgets/icon_list.h"
#include "widgets/qt_text.h"

#include <QPaintEvent>
#include <QPainter>

namespace corvex::mainwin {

namespace {

constexpr int kPanelHeight = 19;
constexpr std::array<int, 3> kPanelWidths{250, 350, 50};

} // namespace

StatusPanels::StatusPanels(GuardFeedback& feedback, QWidget* parent)
    : QWidget(parent), m_feedback(feedback) {
    setFixedHeight(kPanelHeight);
    // The bar paints every pixel of what it is asked to, so a changed panel repaints alone
    // instead of the window behind it as well.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StatusPanels::sync() {
    for (int index = 0; index < 3; ++index) {
        PanelView view = m_feedback.panel(index);
        auto& drawn = m_drawn.at(static_cast<std::size_t>(index));
        if (view != drawn) {
            drawn = std::move(view);
            update(panelRect(index));
        }
    }
}

void StatusPanels::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    for (int index = 0; index < 3; ++index) {
        const QRect cell = panelRect(index);
        if (!event->rect().intersects(cell)) {
            continue;
        }
        const QRect box = cell.adjusted(0, 0, -2, 0);
        const PanelView view = m_feedback.panel(index);
        if (view.background) {
            painter.fillRect(
                box, QColor(view.background->red, view.background->green, view.background->blue));
        }
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        if (view.icon > 0) {
            painter.drawPixmap(cell.left() + 4, (height() - 16) / 2,
                               widgets::iconPixmap(view.icon));
        }
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect textBox = box.adjusted(25, 0, -2, 0);
        const QStaticText& text =
            laidOut(index, widgets::qs(view.text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
        painter.save();
        painter.setClipRect(textBox);
        painter.drawStaticText(
            QPointF(textBox.left(), textBox.top() + (textBox.height() - text.size().height()) / 2),
            text);
        painter.restore();
    }
}

QRect StatusPanels::panelRect(int index) const {
    int left = 0;
    for (int before = 0; before < index; ++before) {
        left += kPanelWidths.at(static_cast<std::size_t>(before));
    }
    return {left, 0, kPanelWidths.at(static_cast<std::size_t>(index)), height()};
}

// A panel's text laid out once: a repeated step flips panel 1 between the same two texts, and
// shaping them again on every paint is most of the bar's cost.
const QStaticText& StatusPanels::laidOut(int index, const QString& text) {
    auto& recent = m_laidOut.at(static_cast<std::size_t>(index));
    for (const QStaticText& entry : recent) {
        if (entry.text() == text) {
            return entry;
        }
    }
    std::swap(recent[0], recent[1]);
    recent[0].setTextFormat(Qt::PlainText);
    recent[0].setText(text);
    recent[0].prepare(QTransform(), font());
    return recent[0];
}

} // namespace corvex::mainwin
