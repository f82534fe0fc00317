#include "hex_grid.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <optional>

namespace corvex::hexwin {

namespace {

using fileeditor::EditorKey;

constexpr int pxAddressWidth = 70;
constexpr int pxNibbleWidth = 12;
constexpr int pxSeparatorWidth = 20;
constexpr int pxCharWidth = 8;
constexpr int pxEndWidth = 12;
constexpr int pxOddDigitIndent = 4;
constexpr int kAutoScrollMs = 200;

const QColor kTeal(0, 128, 128);
const QColor kLightBlue(192, 224, 240);
const QColor kMarkBlue(0, 0, 255);
const QColor kNavy(0, 0, 128);

std::optional<EditorKey> editorKey(int key) {
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return EditorKey::Tab;
    case Qt::Key_Up:
        return EditorKey::Up;
    case Qt::Key_Down:
        return EditorKey::Down;
    case Qt::Key_Left:
        return EditorKey::Left;
    case Qt::Key_Right:
        return EditorKey::Right;
    case Qt::Key_PageUp:
        return EditorKey::PageUp;
    case Qt::Key_PageDown:
        return EditorKey::PageDown;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return EditorKey::Enter;
    default:
        return std::nullopt;
    }
}

} // namespace

HexGrid::HexGrid(fileeditor::Workspace& workspace, QWidget* parent)
    : QWidget(parent), m_workspace(workspace) {
    setObjectName(QStringLiteral("HexGrid"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(sizeHint());
    m_rawFont = QRawFont::fromFont(font);
    for (int c = 0; c < 256; ++c) {
        const auto indexes = m_rawFont.glyphIndexesForString(QString(QChar(c)));
        m_glyphs[static_cast<std::size_t>(c)] = indexes.isEmpty() ? 0 : indexes.first();
    }
    const QFontMetrics metrics(font);
    m_pxGlyph = metrics.horizontalAdvance(QLatin1Char('0'));
    m_pxBaseline = (pxRowHeight + metrics.ascent() - metrics.descent()) / 2;
    m_autoScroll.setInterval(kAutoScrollMs);
    connect(&m_autoScroll, &QTimer::timeout, this, &HexGrid::autoScrollTick);
}

int HexGrid::pxColumnWidth(int column) {
    if (column == 0) {
        return pxAddressWidth;
    }
    if (column <= fileeditor::kLastHexColumn) {
        return pxNibbleWidth;
    }
    if (column < fileeditor::kFirstCharColumn) {
        return pxSeparatorWidth;
    }
    return column <= fileeditor::kLastCharColumn ? pxCharWidth : pxEndWidth;
}

int HexGrid::pxColumnLeft(int column) {
    static const auto lefts = [] {
        std::array<int, kColumns + 1> table{};
        for (int c = 0; c < kColumns; ++c) {
            table[c + 1] = table[c] + pxColumnWidth(c);
        }
        return table;
    }();
    return lefts.at(column);
}

QPoint HexGrid::cellAt(QPoint pxPoint) {
    const int row = pxPoint.y() / pxRowHeight;
    if (pxPoint.x() < 0 || pxPoint.y() < 0 || row >= kGridRows) {
        return {-1, row};
    }
    int left = 0;
    for (int column = 0; column < kColumns; ++column) {
        left += pxColumnWidth(column);
        if (pxPoint.x() < left) {
            return {column, row};
        }
    }
    return {-1, row};
}

QSize HexGrid::sizeHint() const {
    return {pxColumnLeft(kColumns), kGridRows * pxRowHeight};
}

// The glyphs of one colour, drawn as a single run once every background is down.
struct HexGrid::Ink {
    QList<quint32> glyphs;
    QList<QPointF> positions;
};

void HexGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    std::array<Ink, 2> inks; // black, white
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const QRect cell(pxColumnLeft(column), row * pxRowHeight, pxColumnWidth(column),
                             pxRowHeight);
            if (event->rect().intersects(cell)) {
                paintCell(painter, inks, column, row);
            }
        }
    }
    // Shaping text cell by cell would cost more than all the rest of a page move: the glyphs
    // were looked up once, and each colour goes out as one run.
    for (std::size_t i = 0; i < inks.size(); ++i) {
        QGlyphRun run;
        run.setRawFont(m_rawFont);
        run.setGlyphIndexes(inks[i].glyphs);
        run.setPositions(inks[i].positions);
        painter.setPen(i == 0 ? QColor(Qt::black) : QColor(Qt::white));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
}

void HexGrid::addText(Ink& ink, QPoint pxAt, std::string_view text) const {
    for (const char c : text) {
        ink.glyphs.append(m_glyphs[static_cast<unsigned char>(c)]);
        ink.positions.append(QPointF(pxAt));
        pxAt.rx() += m_pxGlyph;
    }
}

void HexGrid::paintCell(QPainter& painter, std::array<Ink, 2>& inks, int column, int row) {
    using namespace fileeditor;
    const QRect cell(pxColumnLeft(column), row * pxRowHeight, pxColumnWidth(column), pxRowHeight);
    const bool hexPane = column >= kFirstHexColumn && column <= kLastHexColumn;
    const bool charPane = column >= kFirstCharColumn && column <= kLastCharColumn;
    const int baseline = cell.top() + m_pxBaseline;
    const auto centred = [&](Ink& ink, std::string_view text) {
        addText(ink,
                {cell.left() + (cell.width() - m_pxGlyph * static_cast<int>(text.size())) / 2,
                 baseline},
                text);
    };
    if (row == 0) {
        painter.fillRect(cell, kTeal);
        static constexpr std::string_view kDigits = "0123456789ABCDEF";
        if (column == 0) {
            centred(inks[1], "Offset");
        } else if (hexPane && column % 2 == 0) {
            centred(inks[1], kDigits.substr((column - kFirstHexColumn) / 2, 1));
        } else if (charPane) {
            centred(inks[1], kDigits.substr(column - kFirstCharColumn, 1));
        }
        return;
    }
    const std::string text = m_workspace.cellText(column, row);
    if (!hexPane && !charPane) {
        painter.fillRect(cell, Qt::white);
        // Addresses past 4 GiB take more digits; they move left rather than into the next cell.
        const int pxText = m_pxGlyph * static_cast<int>(text.size());
        addText(inks[0], {cell.left() + std::max(1, std::min(3, cell.width() - pxText)), baseline},
                text);
        return;
    }
    const bool cursor = column == m_workspace.cursorColumn() && row == m_workspace.cursorRow();
    const bool navy = cursor || m_workspace.cellSelected(column, row);
    const bool highNibble = hexPane && column % 2 == 1;
    painter.fillRect(cell, m_workspace.cellLight(column, row) ? QColor(Qt::white) : kLightBlue);
    std::size_t ink = 0;
    if (navy || m_workspace.cellChanged(column, row)) {
        QRect box = cell;
        if (navy && hexPane) {
            // The two nibbles of a byte read as one block, with a gap between bytes.
            box = highNibble ? cell.adjusted(1, 0, 0, 0) : cell.adjusted(0, 0, -1, 0);
        }
        painter.fillRect(box, navy ? kNavy : kMarkBlue);
        ink = 1;
    }
    if (hexPane) {
        addText(inks[ink], {cell.left() + (highNibble ? pxOddDigitIndent : 1), baseline}, text);
    } else {
        centred(inks[ink], text);
    }
}

bool HexGrid::focusNextPrevChild(bool) {
    return false; // Tab switches panes inside the grid
}

bool HexGrid::clipboardKey(const QKeyEvent& event) {
    const bool characterPane = m_workspace.cursorInCharacterPane();
    std::optional<fileeditor::Notice> refusal;
    if (event.matches(QKeySequence::SelectAll)) {
        m_workspace.selectAll();
    } else if (event.matches(QKeySequence::Copy)) {
        std::string text;
        refusal = m_workspace.copyText(characterPane, text);
        if (!text.empty()) {
            QGuiApplication::clipboard()->setText(
                QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        }
    } else if (event.matches(QKeySequence::Paste)) {
        // Characters beyond Latin-1 have no byte of their own; they go in as "?".
        const QByteArray bytes = QGuiApplication::clipboard()->text().toLatin1();
        refusal = m_workspace.paste(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
            characterPane);
    } else {
        return false;
    }
    if (refusal && m_notify) {
        m_notify(refusal);
    }
    emit changed(false);
    return true;
}

void HexGrid::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (clipboardKey(*event)) {
        return;
    }
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
        QWidget::keyPressEvent(event); // the window's shortcuts
        return;
    }
    const bool extend = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (const auto editor = editorKey(key)) {
        const bool paging = *editor == EditorKey::PageUp || *editor == EditorKey::PageDown;
        if (!(paging && m_busy && m_busy())) {
            m_workspace.pressKey(*editor, extend);
            emit changed(false);
        }
        return;
    }
    if (key == Qt::Key_Home || key == Qt::Key_End) {
        // The grid's own movement: to the first or last cell of the row in the same pane.
        const bool charPane = m_workspace.cursorInCharacterPane();
        const int column =
            key == Qt::Key_Home
                ? (charPane ? fileeditor::kFirstCharColumn : fileeditor::kFirstHexColumn)
                : (charPane ? fileeditor::kLastCharColumn : fileeditor::kLastHexColumn);
        m_workspace.setCursor(column, m_workspace.cursorRow(), extend);
        emit changed(false);
        return;
    }
    // Keys that stand for a byte type it; control keys (Delete comes as 0x7F, Escape as 0x1B)
    // type nothing, in either pane.
    char typed = 0;
    if (key == Qt::Key_Backspace) {
        typed = '\b';
    } else if (const QString text = event->text(); text.size() == 1) {
        const char16_t code = text.at(0).unicode();
        if ((code >= 32 && code < 127) || (code >= 160 && code < 256)) {
            typed = static_cast<char>(code);
        }
    }
    if (typed == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_workspace.typeCharacter(typed);
    emit changed(true);
}

void HexGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint cell = cellAt(event->position().toPoint());
    const bool extend = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (cell.x() >= 0 && m_workspace.setCursor(cell.x(), cell.y(), extend)) {
        emit changed(false);
    }
    setFocus();
}

void HexGrid::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        followMouse(event->position().toPoint());
    }
}

void HexGrid::mouseReleaseEvent(QMouseEvent*) {
    m_autoScroll.stop();
    m_autoScrollDirection = 0;
}

void HexGrid::followMouse(QPoint pxPoint) {
    const int direction = pxPoint.y() < pxRowHeight ? -1 : pxPoint.y() >= height() ? 1 : 0;
    m_autoScrollDirection = direction;
    if (direction == 0) {
        m_autoScroll.stop();
        // A drag selects from where the button went down.
        const QPoint cell = cellAt(pxPoint);
        if (cell.x() >= 0 && m_workspace.setCursor(cell.x(), cell.y(), true)) {
            emit changed(false);
        }
    } else if (!m_autoScroll.isActive()) {
        m_autoScroll.start();
    }
}

void HexGrid::autoScrollTick() {
    if (m_autoScrollDirection == 0) {
        m_autoScroll.stop();
        return;
    }
    m_workspace.setCursor(m_workspace.cursorColumn(),
                          m_autoScrollDirection < 0 ? 1 : fileeditor::kRows, true);
    m_workspace.pressKey(m_autoScrollDirection < 0 ? EditorKey::Up : EditorKey::Down, true);
    emit changed(false);
}

void HexGrid::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 40; // three lines a notch
    if (steps == 0) {
        return;
    }
    const auto now = static_cast<std::int64_t>(m_workspace.scrollPosition());
    const auto max = static_cast<std::int64_t>(m_workspace.scrollMaximum());
    m_workspace.setScrollPosition(
        static_cast<std::uint64_t>(std::clamp<std::int64_t>(now - steps, 0, max)));
    emit changed(false);
}

} // namespace corvex::hexwin
