#pragma once

#include "fileeditor/workspace.h"

#include <QRawFont>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string_view>

namespace corvex::hexwin {

// The 51 x 17 grid that shows the workspace's page: the address column, the hexadecimal pane
// (two cells per byte), the character pane, their bands, change marks, the cursor and the
// selection. It paints every cell itself from the workspace and turns keys, clicks and drags
// into workspace calls (Shift extends the selection; Ctrl+A, Ctrl+C and Ctrl+V select, copy and
// paste through the clipboard); the window around it keeps the scroll bar and the fields in
// step through changed().
class HexGrid : public QWidget {
    Q_OBJECT

public:
    static constexpr int kColumns = 51;
    static constexpr int kGridRows = 17; // the header and 16 rows of bytes
    static constexpr int pxRowHeight = 18;

    explicit HexGrid(fileeditor::Workspace& workspace, QWidget* parent = nullptr);

    /// The window is refreshing the page: paging keys are ignored meanwhile.
    void setRefreshBusy(std::function<bool()> busy) { m_busy = std::move(busy); }
    /// Shows what a copy or paste refused.
    void setNotify(std::function<void(const std::optional<fileeditor::Notice>&)> notify) {
        m_notify = std::move(notify);
    }

    /// Left edge and width of a column in pixels.
    [[nodiscard]] static int pxColumnLeft(int column);
    [[nodiscard]] static int pxColumnWidth(int column);
    /// The cell under a point, or column -1 outside the grid.
    [[nodiscard]] static QPoint cellAt(QPoint pxPoint);

    [[nodiscard]] QSize sizeHint() const override;

signals:
    /// The page, the cursor or a byte changed; `edited` when a keystroke changed a byte.
    void changed(bool edited);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Ink;
    void paintCell(QPainter& painter, std::array<Ink, 2>& inks, int column, int row);
    void addText(Ink& ink, QPoint pxAt, std::string_view text) const;
    void followMouse(QPoint pxPoint);
    /// Ctrl+A, Ctrl+C, Ctrl+V; false for any other key.
    bool clipboardKey(const QKeyEvent& event);
    void autoScrollTick();

    fileeditor::Workspace& m_workspace;
    std::function<bool()> m_busy;
    std::function<void(const std::optional<fileeditor::Notice>&)> m_notify;
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphs{}; // the font's glyph of each Latin-1 character
    int m_pxGlyph = 0;                   // every character of the fixed-pitch font is this wide
    int m_pxBaseline = 0;                // from a row's top, for text centred in it
    // While the mouse holds past the top or bottom edge the page follows it a line at a time.
    QTimer m_autoScroll;
    int m_autoScrollDirection = 0;
};

} // namespace corvex::hexwin
