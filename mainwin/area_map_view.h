#pragma once

#include "mainwin/area_map_layout.h"
#include "mainwin/area_model.h"

#include <QWidget>

#include <array>
#include <functional>

namespace corvex::mainwin {

// The "Flashroms" page: the flash area table drawn as a grid of painted cells. It listens to
// the model's row changes and repaints only the cells of a row that changed (indicator cells,
// status cell, work-area cell, mode buttons), so a running job costs a few small rectangles
// per event rather than the whole grid.
class AreaMapView : public QWidget {
    Q_OBJECT

public:
    /// Takes over the model's row-changed callback for as long as the view lives.
    explicit AreaMapView(AreaModel& model, QWidget* parent = nullptr);
    ~AreaMapView() override;
    AreaMapView(const AreaMapView&) = delete;
    AreaMapView& operator=(const AreaMapView&) = delete;

    /// Asked before each press: while it answers true (a firmware job runs) clicks do nothing.
    void setBusyMark(std::function<bool()> busy) { m_busy = std::move(busy); }

    [[nodiscard]] QSize sizeHint() const override;

    /// Repaints the whole grid, after the table changed behind the model's back (settings).
    void refresh();
    /// Repaints what changed in one row since it was last drawn.
    void rowChanged(std::size_t area);

    void redrawProgress(int area); // only the indicator cells whose value changed
    void redrawStatus(int area);
    void redrawWorkArea(int area); // active marker or area icon
    void redrawModes(int area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void paintHeading(QPainter& painter);
    void paintRow(QPainter& painter, int row);
    void updateBox(const map::Box& box);

    AreaModel& m_model;
    std::function<bool()> m_busy;
    std::array<map::RowLook, map::kRows> m_drawn{}; // what each row shows on screen
    int m_heldRow = -1;                             // mode button pressed and not released yet
    int m_heldColumn = 0;
};

} // namespace corvex::mainwin
