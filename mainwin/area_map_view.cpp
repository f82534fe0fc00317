#include "mainwin/area_map_view.h"

#include "widgets/icon_list.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace corvex::mainwin {

namespace {

using map::Box;
using map::Column;

QRect toRect(const Box& box) {
    return {box.left, box.top, box.width, box.height};
}

QColor colour(Rgb rgb) {
    return {rgb.red, rgb.green, rgb.blue};
}

void drawIcon(QPainter& painter, const Box& cell, int number) {
    if (number > 0) {
        painter.drawPixmap(cell.left + map::kIconInsetX, cell.top + map::kIconInsetY,
                           widgets::iconPixmap(number, map::kIconSize));
    }
}

// Texts are placed by their top edge, as the cell layout measures them.
void drawText(QPainter& painter, int x, int top, const QString& text) {
    painter.drawText(x, top + painter.fontMetrics().ascent(), text);
}

} // namespace

AreaMapView::AreaMapView(AreaModel& model, QWidget* parent) : QWidget(parent), m_model(model) {
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setFixedSize(sizeHint());
    for (int row = 0; row < map::kRows; ++row) {
        m_drawn[static_cast<std::size_t>(row)] = map::rowLook(m_model, row);
    }
    m_model.setRowChanged([this](std::size_t area) { rowChanged(area); });
}

AreaMapView::~AreaMapView() {
    m_model.setRowChanged({});
}

QSize AreaMapView::sizeHint() const {
    return {map::kWidth, map::kHeight};
}

void AreaMapView::updateBox(const Box& box) {
    update(toRect(box));
}

void AreaMapView::refresh() {
    for (int row = 0; row < map::kRows; ++row) {
        m_drawn[static_cast<std::size_t>(row)] = map::rowLook(m_model, row);
        m_model.setDrawnProgress(static_cast<std::size_t>(row),
                                 m_drawn[static_cast<std::size_t>(row)].progress);
    }
    update();
}

void AreaMapView::rowChanged(std::size_t area) {
    if (area >= static_cast<std::size_t>(map::kRows)) {
        return; // the twentieth entry only closes the last range; it has no row
    }
    const int row = static_cast<int>(area);
    const map::RowLook now = map::rowLook(m_model, row);
    map::RowLook& was = m_drawn[area];
    if (now.shown != was.shown || now.address != was.address) {
        // Hardware type change: every cell of the row looks different.
        was = now;
        m_model.setDrawnProgress(area, now.progress);
        updateBox(map::wholeRow(row));
        return;
    }
    if (now.progress != was.progress || m_model.area(area).drawnProgress < 0) {
        redrawProgress(row);
    }
    if (now.statusText != was.statusText || now.statusIcon != was.statusIcon ||
        now.statusColour != was.statusColour) {
        redrawStatus(row);
    }
    if (now.workIcon != was.workIcon) {
        redrawWorkArea(row);
    }
    if (now.mode != was.mode) {
        redrawModes(row);
    }
}

void AreaMapView::redrawProgress(int area) {
    const auto index = static_cast<std::size_t>(area);
    const std::uint32_t now = map::rowLook(m_model, area).progress;
    // A drawn word of -1 (after a progress reset) differs from any word in every cell.
    const bool all = m_model.area(index).drawnProgress < 0;
    const std::uint32_t was = m_drawn[index].progress;
    for (int cell = 0; cell < map::kProgressCells; ++cell) {
        if (all || map::progressValue(was, cell) != map::progressValue(now, cell)) {
            updateBox(map::progressCell(area, cell));
        }
    }
    m_drawn[index].progress = now;
    m_model.setDrawnProgress(index, now);
}

void AreaMapView::redrawStatus(int area) {
    const map::RowLook now = map::rowLook(m_model, area);
    map::RowLook& was = m_drawn[static_cast<std::size_t>(area)];
    was.statusText = now.statusText;
    was.statusIcon = now.statusIcon;
    was.statusColour = now.statusColour;
    updateBox(map::cell(Column::Status, area));
}

void AreaMapView::redrawWorkArea(int area) {
    m_drawn[static_cast<std::size_t>(area)].workIcon = map::rowLook(m_model, area).workIcon;
    updateBox(map::cell(Column::WorkArea, area));
}

void AreaMapView::redrawModes(int area) {
    m_drawn[static_cast<std::size_t>(area)].mode = map::rowLook(m_model, area).mode;
    updateBox(map::modeButtons(area));
}

void AreaMapView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    if (event->rect().top() < map::kFirstRowTop) {
        paintHeading(painter);
    }
    for (int row = 0; row < map::kRows; ++row) {
        if (event->region().intersects(toRect(map::wholeRow(row)))) {
            paintRow(painter, row);
        }
    }
}

void AreaMapView::paintHeading(QPainter& painter) {
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(Qt::white);
    static const std::array<const char*, 8> kHeadings{
        "Area", nullptr, "Address Range", "Progress Indicator", "Process", "PGM", "CLR", "SKIP"};
    for (std::size_t i = 0; i < kHeadings.size(); ++i) {
        const Box cell = map::headingCell(static_cast<Column>(i));
        painter.fillRect(toRect(cell), colour(map::kTeal));
        if (kHeadings[i] == nullptr) {
            drawIcon(painter, cell, kIconWriteProtected);
            continue;
        }
        const QString text = QString::fromLatin1(kHeadings[i]);
        const int width = painter.fontMetrics().horizontalAdvance(text);
        drawText(painter, cell.left + (cell.width - width) / 2, cell.top + map::kTextInset, text);
    }
    painter.setFont(font());
}

void AreaMapView::paintRow(QPainter& painter, int row) {
    const map::RowLook look = map::rowLook(m_model, row);
    const QColor grey = colour(kLightGrey);
    painter.setPen(Qt::black);

    const Box area = map::cell(Column::Area, row);
    painter.fillRect(toRect(area), grey);
    if (look.shown) {
        const QString number = QString::number(row);
        drawText(painter,
                 area.left + map::kAreaNumberRight -
                     painter.fontMetrics().horizontalAdvance(number),
                 area.top + map::kTextInset, number);
    }

    const Box work = map::cell(Column::WorkArea, row);
    painter.fillRect(toRect(work), grey);
    drawIcon(painter, work, look.workIcon);

    const Box address = map::cell(Column::Address, row);
    painter.fillRect(toRect(address), grey);
    drawText(painter, address.left + map::kAddressInset, address.top + map::kTextInset,
             QString::fromStdString(look.address));

    painter.fillRect(toRect(map::cell(Column::Progress, row)), grey);
    if (look.shown) {
        for (int cell = 0; cell < map::kProgressCells; ++cell) {
            const Box box = map::progressCell(row, cell);
            painter.drawPixmap(box.left, box.top,
                               widgets::iconPixmap(
                                   map::progressIcon(cell, map::progressValue(look.progress, cell)),
                                   map::kIconSize));
        }
    }

    const Box status = map::cell(Column::Status, row);
    painter.fillRect(toRect(status), colour(look.statusColour));
    if (look.shown) {
        painter.save();
        painter.setClipRect(toRect(status), Qt::IntersectClip);
        drawText(painter, status.left + map::kStatusTextInset, status.top + map::kTextInset,
                 QString::fromStdString(look.statusText));
        painter.restore();
        drawIcon(painter, status, look.statusIcon);
    }

    for (int column = 0; column < map::kModeColumns; ++column) {
        const Box button =
            map::cell(static_cast<Column>(static_cast<int>(Column::Pgm) + column), row);
        painter.fillRect(toRect(button), grey);
        if (!look.shown) {
            continue;
        }
        int image = 0;
        if (row == m_heldRow) {
            image = column == m_heldColumn ? 3 : 0;
        } else if (column == look.mode) {
            image = 2;
        }
        painter.drawPixmap(button.left, button.top, widgets::modeButtonPixmap(image));
    }
}

void AreaMapView::mousePressEvent(QMouseEvent* event) {
    if (m_heldRow >= 0 || (m_busy && m_busy())) {
        return;
    }
    const QPoint at = event->position().toPoint();
    const map::Hit hit = map::hitTest(at.x(), at.y(), m_model.shownAreaCount());
    switch (hit.kind) {
    case map::Hit::Kind::ModeButton:
        m_heldRow = hit.row;
        m_heldColumn = hit.column;
        m_model.table().setMode(static_cast<std::size_t>(hit.row),
                                static_cast<std::uint32_t>(hit.column));
        redrawModes(hit.row);
        break;
    case map::Hit::Kind::Heading:
        m_model.setAll(static_cast<std::uint32_t>(hit.column));
        break;
    case map::Hit::Kind::Nothing:
        break;
    }
}

void AreaMapView::mouseReleaseEvent(QMouseEvent*) {
    // A release always ends the hold, even if a job started meanwhile: a button left held
    // would refuse every later press.
    if (m_heldRow < 0) {
        return;
    }
    const int row = m_heldRow;
    m_heldRow = -1;
    redrawModes(row);
}

} // namespace corvex::mainwin
