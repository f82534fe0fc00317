#include "widgets/click_label.h"

namespace corvex::widgets {

ClickLabel::ClickLabel(const QString& text, std::function<void()> clicked, QWidget* parent)
    : QLabel(text, parent), m_clicked(std::move(clicked)) {
    setCursor(Qt::PointingHandCursor);
}

void ClickLabel::mousePressEvent(QMouseEvent* /*event*/) {
    m_clicked();
}

} // namespace corvex::widgets
