#pragma once

#include <QLabel>

#include <functional>

namespace corvex::widgets {

// A caption that acts when clicked, such as "Corvex Command:" handing the Guard page to the log
// book or "Factory hardware check" showing its controls. The pointing hand tells it from a plain
// caption.
class ClickLabel : public QLabel {
public:
    ClickLabel(const QString& text, std::function<void()> clicked, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::function<void()> m_clicked;
};

} // namespace corvex::widgets
