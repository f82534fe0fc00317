#pragma once

// The two owner-drawn lists of the channel list editor. Each paints only the rows in sight, from
// the line models of channels/, and turns clicks, keys and drags into calls on them; the window
// around them shows what the calls report.

#include "channels/channel_list_model.h"
#include "channels/drag_scroll.h"
#include "channels/transponder_list_model.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <optional>

namespace corvex::channelwin {

/// Row height of both lists, in pixels.
inline constexpr int kPxItemHeight = 18;

/// The common part: rows of kPxItemHeight under a vertical scroll bar kept on the model's top
/// line.
class LineView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit LineView(QWidget* parent);

    /// The line under a point of the viewport; nullopt below the last line.
    [[nodiscard]] std::optional<std::size_t> lineAt(QPoint pxViewport) const;
    /// Rows that fit whole into the viewport (at least one).
    [[nodiscard]] int visibleRows() const;
    /// Scroll bar and picture after the model changed.
    void refresh();

signals:
    /// A click or key changed the current line.
    void clicked();

protected:
    [[nodiscard]] virtual std::size_t lineCount() const = 0;
    [[nodiscard]] virtual std::size_t topLine() const = 0;
    virtual void setTopLine(std::size_t line) = 0;
    virtual void paintLine(QPainter& painter, std::size_t index, const QRect& pxRow) = 0;
    /// Up, Down, Page Up/Down, Home and End moved the current line to `line`; with Shift held
    /// (`extend`) the selection grows to it where the list has more than one.
    virtual void moveCurrent(std::size_t line, bool extend) = 0;
    [[nodiscard]] virtual std::optional<std::size_t> currentLine() const = 0;

    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    /// Where a navigation key takes the current line; nullopt for other keys and no lines.
    [[nodiscard]] std::optional<std::size_t> navigationTarget(int key) const;
    /// Brings `line` into sight.
    void ensureVisible(std::size_t line);
};

/// The "Channels" list: multi-selection, drag and drop with edge scrolling.
class ChannelListView final : public LineView {
    Q_OBJECT

public:
    ChannelListView(channels::ChannelListModel& model, QWidget* parent);

    /// What the drop needs from the window; called with the line under the drop point.
    std::function<void(std::optional<std::size_t> target)> onDrop;
    /// Where the pointer stands and whether the window is active; the screen's by default, tests
    /// stand in for them.
    std::function<QPoint()> pointerPos;
    std::function<bool()> windowActive;

    /// A drag-over event: the drag is in progress and the edge timer runs.
    void dragMoved();
    /// One tick of the 50 ms edge timer.
    void scrollTick();
    /// The drag is over (dropped or the window deactivated).
    void endDrag();
    [[nodiscard]] bool edgeTimerActive() const { return m_edgeTimer.isActive(); }
    [[nodiscard]] bool dragging() const { return m_dragScroll.dragging(); }

protected:
    std::size_t lineCount() const override { return m_model.size(); }
    std::size_t topLine() const override { return m_model.top(); }
    void setTopLine(std::size_t line) override { m_model.setTop(line); }
    void paintLine(QPainter& painter, std::size_t index, const QRect& pxRow) override;
    void moveCurrent(std::size_t line, bool extend) override;
    std::optional<std::size_t> currentLine() const override { return m_model.current(); }

    /// Beside the navigation keys, Ctrl+Up and Ctrl+Down move the selected channels.
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    channels::ChannelListModel& m_model;
    channels::DragScroll m_dragScroll;
    QTimer m_edgeTimer;
    std::optional<QPoint> m_pressAt;          // where a drag may start
    std::optional<std::size_t> m_pendingOnly; // a press on a selected line selects it alone on
                                              // release, unless a drag started
};

/// The "Transponders" list: single selection, expansion lines.
class TransponderListView final : public LineView {
    Q_OBJECT

public:
    TransponderListView(channels::TransponderListModel& model, QWidget* parent);

signals:
    void doubleClicked();

protected:
    std::size_t lineCount() const override { return m_model.size(); }
    std::size_t topLine() const override { return m_model.top(); }
    void setTopLine(std::size_t line) override { m_model.setTop(line); }
    void paintLine(QPainter& painter, std::size_t index, const QRect& pxRow) override;
    void moveCurrent(std::size_t line, bool extend) override;
    std::optional<std::size_t> currentLine() const override { return m_model.current(); }

    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    channels::TransponderListModel& m_model;
};

} // namespace corvex::channelwin
