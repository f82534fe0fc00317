#include "channelwin/line_views.h"

#include "channelwin/editor_icons.h"
#include "link/jobs/plain_text.h"
#include "widgets/qt_text.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace corvex::channelwin {

using widgets::qsLatin1;

namespace {

using channels::splitField;

// The drag carries nothing the drop reads: the lines dragged are the selected ones (or the
// current one) of the same model. The type only tells our own drags from anything else.
const QString kDragType = QStringLiteral("application/x-corvex-channel-lines");

const QColor kNavy(0, 0, 128);
const QColor kOddRow(160, 224, 240);
const QColor kEvenRow(208, 224, 240);
const QColor kBandGrey(224, 224, 224);
const QColor kHeaderBlue(0, 0, 255);
constexpr int kPxBandLeft = 60;
constexpr int kPxBandRight = 730;

using link::trimmed;

// Text one pixel below the row's top, from x on.
void drawAt(QPainter& p, const QRect& row, int x, std::string_view text) {
    p.drawText(QRect(row.left() + x, row.top() + 1, row.right() - x, row.height() - 1),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, qsLatin1(text));
}

void iconAt(QPainter& p, const QRect& row, int x, const QPixmap* pixmap) {
    if (pixmap != nullptr) {
        p.drawPixmap(row.left() + x, row.top() + 1, *pixmap);
    }
}

bool isSet(std::string_view field) {
    return !field.empty() && field != "0";
}

int categoryOf(std::string_view line) {
    const std::string_view digit = splitField(line, 1);
    return digit.size() == 1 ? digit[0] - '0' : 0;
}

const QPixmap* activeMark(std::string_view field) {
    return &editorPixmap(isSet(field) ? EditorIcon::Active : EditorIcon::Inactive);
}

} // namespace

// ---- LineView ----

LineView::LineView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(1);
    setFocusPolicy(Qt::StrongFocus);
}

std::optional<std::size_t> LineView::lineAt(QPoint pxViewport) const {
    if (pxViewport.y() < 0) {
        return std::nullopt;
    }
    const std::size_t line = topLine() + static_cast<std::size_t>(pxViewport.y() / kPxItemHeight);
    return line < lineCount() ? std::optional(line) : std::nullopt;
}

int LineView::visibleRows() const {
    return std::max(1, viewport()->height() / kPxItemHeight);
}

void LineView::refresh() {
    const int count = static_cast<int>(std::min<std::size_t>(lineCount(), INT_MAX));
    QScrollBar* bar = verticalScrollBar();
    const QSignalBlocker quiet(bar);
    bar->setRange(0, std::max(0, count - visibleRows()));
    bar->setPageStep(visibleRows());
    bar->setValue(static_cast<int>(std::min<std::size_t>(topLine(), INT_MAX)));
    viewport()->update();
}

void LineView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    const int rows = viewport()->height() / kPxItemHeight + 1;
    for (int row = 0; row < rows; ++row) {
        const std::size_t index = topLine() + static_cast<std::size_t>(row);
        if (index >= lineCount()) {
            break;
        }
        paintLine(painter, index,
                  QRect(0, row * kPxItemHeight, viewport()->width(), kPxItemHeight));
    }
}

void LineView::scrollContentsBy(int /*dx*/, int /*dy*/) {
    setTopLine(static_cast<std::size_t>(std::max(0, verticalScrollBar()->value())));
    viewport()->update();
}

void LineView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    refresh();
}

std::optional<std::size_t> LineView::navigationTarget(int key) const {
    const std::size_t count = lineCount();
    if (count == 0) {
        return std::nullopt;
    }
    const std::size_t current = currentLine().value_or(0);
    const auto page = static_cast<std::size_t>(visibleRows());
    switch (key) {
    case Qt::Key_Up:
        return current == 0 ? 0 : current - 1;
    case Qt::Key_Down:
        return std::min(count - 1, current + 1);
    case Qt::Key_PageUp:
        return current > page ? current - page : 0;
    case Qt::Key_PageDown:
        return std::min(count - 1, current + page);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return count - 1;
    default:
        return std::nullopt;
    }
}

void LineView::keyPressEvent(QKeyEvent* event) {
    // Typed characters would start an incremental search in a plain list box; here they are
    // dropped, as are all keys that do not move the current line.
    event->accept();
    const std::optional<std::size_t> next = navigationTarget(event->key());
    if (!next) {
        return;
    }
    moveCurrent(*next, (event->modifiers() & Qt::ShiftModifier) != 0);
    ensureVisible(*next);
    emit clicked();
}

void LineView::ensureVisible(std::size_t line) {
    const auto rows = static_cast<std::size_t>(visibleRows());
    if (line < topLine()) {
        setTopLine(line);
    } else if (line >= topLine() + rows) {
        setTopLine(line + 1 - rows);
    }
    refresh();
}

// ---- ChannelListView ----

ChannelListView::ChannelListView(channels::ChannelListModel& model, QWidget* parent)
    : LineView(parent), m_model(model) {
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    m_edgeTimer.setInterval(channels::DragScroll::kTickMs);
    connect(&m_edgeTimer, &QTimer::timeout, this, &ChannelListView::scrollTick);
    pointerPos = [this] { return viewport()->mapFromGlobal(QCursor::pos()); };
    windowActive = [this] { return window()->isActiveWindow(); };
}

void ChannelListView::paintLine(QPainter& p, std::size_t index, const QRect& row) {
    const std::string& text = m_model.line(index).text;
    const bool selected = m_model.isSelected(index);
    // List positions count from 0: the first line (channel 1) is an even position.
    p.fillRect(row, selected ? kNavy : (index % 2 == 1 ? kOddRow : kEvenRow));
    p.setPen(selected ? Qt::white : Qt::black);
    char number[24];
    std::snprintf(number, sizeof number, "%4zu", index + 1);
    drawAt(p, row, 10, number);
    iconAt(p, row, 55, categoryPixmap(categoryOf(text)));
    drawAt(p, row, 80, splitField(text, 0));
    if (isSet(splitField(text, 2))) {
        iconAt(p, row, 230, &editorPixmap(EditorIcon::Favourite));
    }
    if (isSet(splitField(text, 3))) {
        iconAt(p, row, 280, &editorPixmap(EditorIcon::Parental));
    }
    iconAt(p, row, 340, activeMark(splitField(text, 4)));
    static constexpr int kFieldX[] = {385, 435, 490, 545, 600, 655, 710};
    for (std::size_t i = 0; i < std::size(kFieldX); ++i) {
        drawAt(p, row, kFieldX[i], splitField(text, 5 + i));
    }
}

void ChannelListView::moveCurrent(std::size_t line, bool extend) {
    if (extend) {
        m_model.extendSelection(line);
    } else {
        m_model.selectOnly(line);
    }
}

void ChannelListView::keyPressEvent(QKeyEvent* event) {
    const bool up = event->key() == Qt::Key_Up;
    if ((event->modifiers() & Qt::ControlModifier) != 0 && (up || event->key() == Qt::Key_Down)) {
        event->accept();
        m_model.moveSelected(up ? -1 : 1);
        if (const std::optional<std::size_t> current = m_model.current()) {
            ensureVisible(*current);
        }
        emit clicked();
        return;
    }
    LineView::keyPressEvent(event);
}

void ChannelListView::mousePressEvent(QMouseEvent* event) {
    setFocus();
    m_pendingOnly.reset();
    m_pressAt.reset();
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
        return;
    }
    const std::optional<std::size_t> line = lineAt(event->position().toPoint());
    if (!line) {
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods & Qt::ControlModifier) {
        m_model.setSelected(*line, !m_model.isSelected(*line));
        m_model.setCurrent(*line);
    } else if (mods & Qt::ShiftModifier) {
        m_model.extendSelection(*line);
    } else if (m_model.isSelected(*line)) {
        // Keep a multi-selection for a drag or the context menu; a plain click selects the line
        // alone when the button comes up.
        m_model.setCurrent(*line);
        if (event->button() == Qt::LeftButton) {
            m_pendingOnly = *line;
        }
    } else {
        m_model.selectOnly(*line);
    }
    if (event->button() == Qt::LeftButton) {
        m_pressAt = event->position().toPoint();
    }
    emit clicked();
}

void ChannelListView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressAt || !(event->buttons() & Qt::LeftButton) ||
        (event->position().toPoint() - *m_pressAt).manhattanLength() <
            QApplication::startDragDistance()) {
        return;
    }
    m_pressAt.reset();
    m_pendingOnly.reset();
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(kDragType, QByteArray());
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
}

void ChannelListView::mouseReleaseEvent(QMouseEvent* /*event*/) {
    m_pressAt.reset();
    if (m_pendingOnly) {
        m_model.selectOnly(*m_pendingOnly);
        m_pendingOnly.reset();
        emit clicked();
    }
}

void ChannelListView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasFormat(kDragType)) {
        event->acceptProposedAction();
        dragMoved();
    }
}

void ChannelListView::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasFormat(kDragType)) {
        event->acceptProposedAction();
        dragMoved();
    }
}

void ChannelListView::dragLeaveEvent(QDragLeaveEvent* /*event*/) {
    // The timer goes on: a pointer that left over the top edge still scrolls while the window
    // is active and the drag lasts.
}

void ChannelListView::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasFormat(kDragType)) {
        return;
    }
    event->acceptProposedAction();
    if (onDrop) {
        onDrop(lineAt(event->position().toPoint()));
    }
    endDrag();
}

void ChannelListView::dragMoved() {
    m_dragScroll.dragOver();
    if (!m_edgeTimer.isActive()) {
        m_edgeTimer.start();
    }
}

void ChannelListView::scrollTick() {
    channels::DragScroll::Pointer pointer;
    const QPoint at = pointerPos();
    pointer.pxX = at.x();
    pointer.pxY = at.y();
    pointer.pxWidth = viewport()->width();
    pointer.pxHeight = viewport()->height();
    pointer.atTop = m_model.top() == 0;
    pointer.linesBelow = m_model.top() + static_cast<std::size_t>(visibleRows()) < m_model.size();
    switch (m_dragScroll.tick(windowActive(), pointer)) {
    case channels::DragScroll::Action::ScrollUp:
        m_model.setTop(m_model.top() - 1);
        refresh();
        break;
    case channels::DragScroll::Action::ScrollDown:
        m_model.setTop(m_model.top() + 1);
        refresh();
        break;
    case channels::DragScroll::Action::StopTimer:
        m_edgeTimer.stop();
        break;
    case channels::DragScroll::Action::None:
        break;
    }
}

void ChannelListView::endDrag() {
    m_dragScroll.end();
    m_edgeTimer.stop();
}

// ---- TransponderListView ----

TransponderListView::TransponderListView(channels::TransponderListModel& model, QWidget* parent)
    : LineView(parent), m_model(model) {}

void TransponderListView::paintLine(QPainter& p, std::size_t index, const QRect& row) {
    using channels::TransponderLineKind;
    const channels::Line& line = m_model.line(index);
    const std::string_view text = line.text;
    const bool selected = m_model.current() == index;
    const TransponderLineKind kind = m_model.kind(index);
    if (kind == TransponderLineKind::Transponder) {
        p.fillRect(row, selected ? kNavy : (index % 2 == 1 ? kOddRow : kEvenRow));
        p.setPen(selected ? Qt::white : Qt::black);
        drawAt(p, row, 10, splitField(text, 0));
        iconAt(p, row, 60, &editorPixmap(EditorIcon::Dish));
        drawAt(p, row, 80, trimmed(splitField(text, 1)));
        iconAt(p, row, 210, &editorPixmap(EditorIcon::Signal));
        drawAt(p, row, 230, splitField(text, 2));
        drawAt(p, row, 300, splitField(text, 3));
        drawAt(p, row, 360, trimmed(splitField(text, 4)));
        const channels::TransponderColumns columns = channels::decodeTransponderColumns(text);
        drawAt(p, row, 440, columns.symbolRate);
        drawAt(p, row, 500, columns.fec);
        drawAt(p, row, 540, columns.flags);
        return;
    }
    // Expansion lines stand in a band; the margins take the window's face colour.
    p.fillRect(row, palette().window());
    const QRect band(row.left() + kPxBandLeft, row.top(), kPxBandRight - kPxBandLeft, row.height());
    QColor bandColour = kHeaderBlue;
    if (selected) {
        bandColour = kNavy;
    } else if (kind != TransponderLineKind::Header) {
        bandColour = kBandGrey;
    }
    p.fillRect(band, bandColour);
    p.setPen(selected || kind == TransponderLineKind::Header ? Qt::white : Qt::black);
    switch (kind) {
    case TransponderLineKind::Header: {
        QFont bold = p.font();
        bold.setBold(true);
        p.setFont(bold);
        drawAt(p, row, 80, " Item ");
        drawAt(p, row, 130, " Channel Name        ");
        iconAt(p, row, 305, &editorPixmap(EditorIcon::Favourite));
        iconAt(p, row, 325, &editorPixmap(EditorIcon::Parental));
        iconAt(p, row, 345, &editorPixmap(EditorIcon::Active));
        static constexpr std::pair<int, std::string_view> kColumns[] = {
            {366, " SID   "}, {424, " VPID  "}, {482, " APID  "},
            {540, " VECM  "}, {598, " AECM  "}, {656, " PCR   "}};
        for (const auto& [x, caption] : kColumns) {
            drawAt(p, row, x, caption);
        }
        p.setFont(font());
        break;
    }
    case TransponderLineKind::Footer:
        drawAt(p, row, 80, std::string(text) + " channel object(s)");
        break;
    case TransponderLineKind::ChannelSubLine: {
        drawAt(p, row, 80, trimmed(splitField(text, 12)));
        drawAt(p, row, 130, "    " + std::string(splitField(text, 0)));
        iconAt(p, row, 135, categoryPixmap(categoryOf(text)));
        if (isSet(splitField(text, 2))) {
            iconAt(p, row, 305, &editorPixmap(EditorIcon::Favourite));
        }
        if (isSet(splitField(text, 3))) {
            iconAt(p, row, 325, &editorPixmap(EditorIcon::Parental));
        }
        iconAt(p, row, 345, activeMark(splitField(text, 4)));
        static constexpr int kFieldX[] = {366, 424, 482, 540, 598, 656};
        for (std::size_t i = 0; i < std::size(kFieldX); ++i) {
            drawAt(p, row, kFieldX[i], splitField(text, 6 + i));
        }
        break;
    }
    case TransponderLineKind::Spacer:
    case TransponderLineKind::Transponder:
        break;
    }
}

void TransponderListView::moveCurrent(std::size_t line, bool /*extend*/) {
    m_model.setCurrent(line);
}

void TransponderListView::mousePressEvent(QMouseEvent* event) {
    setFocus();
    if (const std::optional<std::size_t> line = lineAt(event->position().toPoint())) {
        m_model.setCurrent(*line);
        viewport()->update();
        emit clicked();
    }
}

void TransponderListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (lineAt(event->position().toPoint())) {
        emit doubleClicked();
    }
}

} // namespace corvex::channelwin
