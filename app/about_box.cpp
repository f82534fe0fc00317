#include "about_box.h"

#include <QPainter>
#include <QTimer>

namespace corvex::app {

AboutBox::AboutBox(QWidget* parent, int showMs)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_picture(QStringLiteral(":/app/about.svg")), m_showMs(showMs) {
    setFixedSize(m_picture.defaultSize());
    setCursor(Qt::PointingHandCursor);
}

void AboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // From each showing, so the modal box from the Help menu gets its full time too.
    QTimer::singleShot(m_showMs, this, &QDialog::reject);
}

void AboutBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    m_picture.render(&painter, rect());
}

void AboutBox::mousePressEvent(QMouseEvent*) {
    reject();
}

void showAboutModal(QWidget* parent) {
    AboutBox box(parent);
    box.exec();
}

} // namespace corvex::app
