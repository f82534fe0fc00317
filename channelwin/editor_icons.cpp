#include "channelwin/editor_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <array>
#include <cmath>
#include <numbers>

namespace corvex::channelwin {

namespace {

constexpr int kPxIcon = 16;
constexpr std::size_t kIconCount = static_cast<std::size_t>(EditorIcon::ClearAll) + 1;

QPolygonF star(QPointF centre, double outer, double inner) {
    QPolygonF points;
    for (int i = 0; i < 10; ++i) {
        const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        const double r = i % 2 == 0 ? outer : inner;
        points << QPointF(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
    }
    return points;
}

void paint(QPainter& p, EditorIcon icon) {
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(40, 40, 40), 1);
    switch (icon) {
    case EditorIcon::Video: // a screen on a foot
        p.setPen(outline);
        p.setBrush(QColor(60, 110, 200));
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 9), 1.5, 1.5);
        p.drawLine(QPointF(8, 11.5), QPointF(8, 14));
        p.drawLine(QPointF(5, 14.5), QPointF(11, 14.5));
        break;
    case EditorIcon::Audio: // a note
        p.setPen(QPen(QColor(20, 120, 40), 1.6));
        p.setBrush(QColor(20, 150, 50));
        p.drawEllipse(QRectF(2.5, 10, 5, 4));
        p.drawLine(QPointF(7.2, 12), QPointF(7.2, 2.5));
        p.drawLine(QPointF(7.2, 2.5), QPointF(12.5, 4.5));
        break;
    case EditorIcon::SidOnly: // a bare service: a hollow square with an S
        p.setPen(QPen(QColor(90, 90, 90), 1.2));
        p.setBrush(QColor(235, 235, 235));
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 5.5));
        p.drawLine(QPointF(5.5, 5.5), QPointF(5.5, 8));
        p.drawLine(QPointF(5.5, 8), QPointF(10.5, 8));
        p.drawLine(QPointF(10.5, 8), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 10.5), QPointF(5.5, 10.5));
        break;
    case EditorIcon::PcrOnly: // a clock: only the timing PID is there
        p.setPen(QPen(QColor(170, 90, 0), 1.2));
        p.setBrush(QColor(255, 200, 110));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
        break;
    case EditorIcon::Favourite:
        p.setPen(QPen(QColor(160, 110, 0), 1));
        p.setBrush(QColor(255, 210, 40));
        p.drawPolygon(star(QPointF(8, 8.5), 7, 3));
        break;
    case EditorIcon::Parental: // a padlock
        p.setPen(QPen(QColor(140, 20, 20), 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4.5, 1.5, 7, 8), 0, 180 * 16);
        p.drawLine(QPointF(4.5, 5.5), QPointF(4.5, 7.5));
        p.drawLine(QPointF(11.5, 5.5), QPointF(11.5, 7.5));
        p.setPen(outline);
        p.setBrush(QColor(210, 40, 40));
        p.drawRect(QRectF(2.5, 7.5, 11, 7));
        break;
    case EditorIcon::Active:
        p.setPen(QPen(QColor(0, 100, 0), 1));
        p.setBrush(QColor(40, 190, 40));
        p.drawEllipse(QRectF(3, 3, 10, 10));
        break;
    case EditorIcon::Inactive:
        p.setPen(QPen(QColor(110, 110, 110), 1));
        p.setBrush(QColor(200, 200, 200));
        p.drawEllipse(QRectF(3, 3, 10, 10));
        break;
    case EditorIcon::Dish: { // a satellite dish
        p.setPen(QPen(QColor(60, 60, 60), 1.3));
        p.setBrush(QColor(200, 200, 210));
        QPainterPath bowl;
        bowl.moveTo(2, 4);
        bowl.quadTo(3, 13, 12, 13);
        bowl.closeSubpath();
        p.drawPath(bowl);
        p.drawLine(QPointF(6, 9), QPointF(12, 3));
        p.drawLine(QPointF(8, 13), QPointF(8, 15));
        break;
    }
    case EditorIcon::Signal: // waves
        p.setPen(QPen(QColor(30, 80, 170), 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(6.5, 10.5, 3, 3));
        p.drawArc(QRectF(3.5, 7, 9, 9), 30 * 16, 120 * 16);
        p.drawArc(QRectF(0.5, 3.5, 15, 15), 30 * 16, 120 * 16);
        break;
    case EditorIcon::Load: // an open folder
        p.setPen(outline);
        p.setBrush(QColor(240, 200, 90));
        p.drawPolygon(QPolygonF({QPointF(1.5, 3.5), QPointF(6, 3.5), QPointF(7.5, 5),
                                 QPointF(14.5, 5), QPointF(14.5, 13.5), QPointF(1.5, 13.5)}));
        break;
    case EditorIcon::Write: // a chip with an arrow into it
        p.setPen(outline);
        p.setBrush(QColor(70, 70, 80));
        p.drawRect(QRectF(3.5, 7.5, 9, 7));
        p.setPen(QPen(QColor(200, 40, 40), 1.8));
        p.drawLine(QPointF(8, 1), QPointF(8, 6));
        p.drawLine(QPointF(5.5, 3.5), QPointF(8, 6));
        p.drawLine(QPointF(10.5, 3.5), QPointF(8, 6));
        break;
    case EditorIcon::Search: // a magnifier
        p.setPen(QPen(QColor(40, 40, 40), 1.6));
        p.setBrush(QColor(210, 235, 255));
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.setPen(QPen(QColor(40, 40, 40), 2.4));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
        break;
    case EditorIcon::Expand:
    case EditorIcon::Collapse: { // a box with plus or minus
        p.setPen(outline);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setPen(QPen(QColor(20, 20, 120), 1.6));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        if (icon == EditorIcon::Expand) {
            p.drawLine(QPointF(8, 5), QPointF(8, 11));
        }
        break;
    }
    case EditorIcon::Advanced: // a wide and a narrow column
        p.setPen(outline);
        p.setBrush(QColor(160, 224, 240));
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setBrush(QColor(0, 0, 128));
        p.drawRect(QRectF(1.5, 2.5, 5, 11));
        break;
    case EditorIcon::Align: // arrows to top and bottom
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.drawLine(QPointF(8, 2), QPointF(8, 14));
        p.drawLine(QPointF(5, 5), QPointF(8, 2));
        p.drawLine(QPointF(11, 5), QPointF(8, 2));
        p.drawLine(QPointF(5, 11), QPointF(8, 14));
        p.drawLine(QPointF(11, 11), QPointF(8, 14));
        break;
    case EditorIcon::ClearAll: // a crossed-out list
        p.setPen(QPen(QColor(60, 60, 60), 1.2));
        for (const double y : {4.0, 8.0, 12.0}) {
            p.drawLine(QPointF(2, y), QPointF(14, y));
        }
        p.setPen(QPen(QColor(210, 30, 30), 2));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(13, 3), QPointF(3, 13));
        break;
    }
}

} // namespace

const QPixmap& editorPixmap(EditorIcon icon) {
    static const std::array<QPixmap, kIconCount> pixmaps = [] {
        std::array<QPixmap, kIconCount> made;
        for (std::size_t i = 0; i < kIconCount; ++i) {
            QPixmap pixmap(kPxIcon, kPxIcon);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            paint(painter, static_cast<EditorIcon>(i));
            made[i] = pixmap;
        }
        return made;
    }();
    return pixmaps[static_cast<std::size_t>(icon)];
}

const QPixmap* categoryPixmap(int category) {
    switch (category) {
    case 1:
        return &editorPixmap(EditorIcon::Video);
    case 2:
        return &editorPixmap(EditorIcon::Audio);
    case 3:
        return &editorPixmap(EditorIcon::SidOnly);
    case 4:
        return &editorPixmap(EditorIcon::PcrOnly);
    default:
        return nullptr;
    }
}

} // namespace corvex::channelwin
