#pragma once

#include <QDialog>
#include <QSvgRenderer>

namespace corvex::app {

// The borderless box with the program's picture: shown at start-up and from Help > "About ...".
// It closes by itself after its interval, or when the picture is clicked.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int kShowMs = 6000;

    /// `showMs` is shortened by tests only.
    explicit AboutBox(QWidget* parent = nullptr, int showMs = kShowMs);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QSvgRenderer m_picture;
    int m_showMs;
};

/// Shows the about box modally over `parent` and returns when it has closed.
void showAboutModal(QWidget* parent);

} // namespace corvex::app
