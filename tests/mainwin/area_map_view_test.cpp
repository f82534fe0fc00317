#include "mainwin/area_map_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include <functional>
#include <memory>

using corvex::link::AreaEvent;
using corvex::link::AreaTable;
using corvex::mainwin::AreaMapView;
using corvex::mainwin::AreaModel;
namespace map = corvex::mainwin::map;

namespace {

QRect rect(const map::Box& box) {
    return {box.left, box.top, box.width, box.height};
}

QString modes(const AreaTable& table) {
    QString out;
    for (std::size_t i = 0; i < corvex::link::kAreaSlots; ++i) {
        out += QLatin1Char("PCS?"[table.mode(i)]);
    }
    return out;
}

// Collects what the view is asked to repaint.
class PaintRecorder : public QObject {
public:
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

struct Fixture {
    explicit Fixture(int hardwareType) {
        model.selectHardwareType(hardwareType, true);
        table.setMode(19, corvex::link::kAreaModeClr);
        view = std::make_unique<AreaMapView>(model);
        view->setBusyMark([this] { return busy; });
    }
    AreaTable table;
    AreaModel model{table};
    std::unique_ptr<AreaMapView> view;
    bool busy = false;
};

// Area 19 starts on CLR so that a PGM heading press shows in the result.
const QString kStart = QString(19, QLatin1Char('P')) + QLatin1Char('C');

QString withMode(int area, char mode) {
    QString out = kStart;
    out[area] = QLatin1Char(mode);
    return out;
}

} // namespace

class AreaMap : public QObject {
    Q_OBJECT

private slots:
    void pressesSetModes_data() {
        QTest::addColumn<int>("hardwareType");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QString>("expected");
        const int row4 = map::rowTop(4) + 5;
        QTest::newRow("row 4 CLR") << 0 << QPoint(600, row4) << withMode(4, 'C');
        QTest::newRow("row 18 SKIP, right edge")
            << 0 << QPoint(688, map::rowTop(18) + 19) << withMode(18, 'S');
        QTest::newRow("gap under row 0 belongs to it") << 0 << QPoint(640, 47) << withMode(0, 'S');
        QTest::newRow("left of the mode columns") << 0 << QPoint(538, row4) << kStart;
        QTest::newRow("right of SKIP") << 0 << QPoint(689, row4) << kStart;
        QTest::newRow("row 10 of 11") << 1 << QPoint(600, map::rowTop(10) + 1) << withMode(10, 'C');
        QTest::newRow("row 11 of 11 is hidden") << 1 << QPoint(600, map::rowTop(11) + 1) << kStart;
        QTest::newRow("below the grid") << 0 << QPoint(600, 430) << kStart;
        QTest::newRow("CLR heading, hidden areas too")
            << 1 << QPoint(600, 10) << QString(20, QLatin1Char('C'));
        QTest::newRow("above the heading still counts")
            << 2 << QPoint(650, 1) << QString(20, QLatin1Char('S'));
        QTest::newRow("PGM heading, gap row under it")
            << 0 << QPoint(540, 26) << QString(20, QLatin1Char('P'));
        QTest::newRow("left of the mode headings") << 0 << QPoint(500, 10) << kStart;
    }
    void pressesSetModes() {
        QFETCH(int, hardwareType);
        QFETCH(QPoint, at);
        QFETCH(QString, expected);
        Fixture f(hardwareType);
        QTest::mousePress(f.view.get(), Qt::LeftButton, {}, at);
        QCOMPARE(modes(f.table), expected); // the press alone changes the mode
        QTest::mouseRelease(f.view.get(), Qt::LeftButton, {}, at);
        QCOMPARE(modes(f.table), expected);
    }

    void refusedPresses() {
        Fixture f(0);
        f.busy = true;
        QTest::mouseClick(f.view.get(), Qt::LeftButton, {}, QPoint(600, map::rowTop(3) + 2));
        QTest::mouseClick(f.view.get(), Qt::LeftButton, {}, QPoint(650, 10));
        QCOMPARE(modes(f.table), kStart);

        // A held press refuses a second one, and a release ends the hold even when a job
        // started in between.
        f.busy = false;
        QTest::mousePress(f.view.get(), Qt::LeftButton, {}, QPoint(600, map::rowTop(3) + 2));
        QTest::mousePress(f.view.get(), Qt::RightButton, {}, QPoint(650, map::rowTop(5) + 2));
        QCOMPARE(modes(f.table), withMode(3, 'C'));
        f.busy = true;
        QTest::mouseRelease(f.view.get(), Qt::LeftButton, {}, QPoint(600, map::rowTop(3) + 2));
        f.busy = false;
        QTest::mouseClick(f.view.get(), Qt::LeftButton, {}, QPoint(650, map::rowTop(5) + 2));
        QCOMPARE(modes(f.table)[5], QLatin1Char('S'));
    }

    void addressRanges_data() {
        QTest::addColumn<int>("hardwareType");
        QTest::addColumn<int>("area");
        QTest::addColumn<QString>("expected");
        QTest::newRow("type 0, area 0") << 0 << 0 << "7FE00000...7FE07FFF";
        QTest::newRow("type 0, area 4") << 0 << 4 << "7FE20000...7FE3FFFF";
        QTest::newRow("type 0, area 18") << 0 << 18 << "7FFE0000...7FFFFFFF";
        QTest::newRow("firmware, area 10") << 1 << 10 << "7FFE0000...7FFFFFFF";
        QTest::newRow("channel list, area 0") << 2 << 0 << "C0000000...C0007FFF";
        QTest::newRow("channel list, area 11 hidden") << 2 << 11 << "";
    }
    void addressRanges() {
        QFETCH(int, hardwareType);
        QFETCH(int, area);
        QFETCH(QString, expected);
        AreaTable table;
        AreaModel model(table);
        model.selectHardwareType(hardwareType, true);
        QCOMPARE(QString::fromStdString(map::addressRange(model, area)), expected);
    }

    // Each change repaints its own cells, and nothing that looks different lies outside them.
    void partialRedrawTouchesOnlyItsCells() {
        const std::size_t area = 4;
        const QRect status = rect(map::cell(map::Column::Status, area));
        const QRect work = rect(map::cell(map::Column::WorkArea, area));
        QRegion wholeIndicator;
        for (int cell = 0; cell < map::kProgressCells; ++cell) {
            wholeIndicator += rect(map::progressCell(area, cell));
        }
        const auto step = [](AreaModel& m) { m.applyAreaEvent(AreaEvent::Progress, area); };
        struct Case {
            const char* name;
            int stepsBefore;
            std::function<void(AreaModel&)> change;
            QRegion expected;
        };
        const Case cases[] = {
            {"first step", 0, step, rect(map::progressCell(area, 0))},
            {"fourth step", 3, step, rect(map::progressCell(area, 1))},
            {"reset", 5, [](AreaModel& m) { m.applyAreaEvent(AreaEvent::Reset, area); },
             wholeIndicator},
            {"reading", 0, [](AreaModel& m) { m.applyAreaEvent(AreaEvent::Reading, area); },
             QRegion(status).united(work)},
            {"status colour", 0,
             [](AreaModel& m) { m.setStatus(area, "Written", 16, corvex::mainwin::kLightGreen); },
             status},
            {"write protected", 0,
             [](AreaModel& m) {
                 corvex::link::GuardRecord message{};
                 message.Code = corvex::link::kMsgWriteProtected;
                 m.applyMessage(message, area);
             },
             QRegion(status).united(work)},
        };
        for (const Case& c : cases) {
            Fixture f(0);
            for (int i = 0; i < c.stepsBefore; ++i) {
                step(f.model);
            }
            f.view->show();
            QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
            QCoreApplication::processEvents();
            QImage before = f.view->grab().toImage();
            PaintRecorder recorder;
            f.view->installEventFilter(&recorder);
            c.change(f.model);
            QTRY_VERIFY(!recorder.painted.isEmpty());
            QCoreApplication::processEvents();
            QVERIFY2(recorder.painted == c.expected, c.name);
            // Outside the repainted cells nothing may look different.
            QImage after = f.view->grab().toImage();
            for (QImage* image : {&before, &after}) {
                QPainter painter(image);
                painter.setClipRegion(c.expected);
                painter.fillRect(image->rect(), Qt::black);
            }
            QVERIFY2(before == after, c.name);
        }
    }
};

QTEST_MAIN(AreaMap)
#include "area_map_view_test.moc"
