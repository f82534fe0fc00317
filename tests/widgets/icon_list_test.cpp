#include "widgets/icon_list.h"

#include <QImage>
#include <QTest>

#include <set>

namespace {

// Whether anything was drawn: a picture that failed to load comes out fully transparent.
bool drawsSomething(const QPixmap& pixmap) {
    QImage blank(pixmap.size(), QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) != blank;
}

} // namespace

class IconList : public QObject {
    Q_OBJECT

private slots:
    // The numbers the map, the status bar and the block jobs name; any other draws nothing.
    void everyPictureInUseIsDrawnAndNoOther() {
        const std::set<int> inUse{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                  13, 14, 15, 16, 17, 18, 19, 21, 28, 32, 34, 38};
        for (int number = -1; number <= 40; ++number) {
            const bool expected = inUse.count(number) != 0;
            QCOMPARE(corvex::widgets::hasIcon(number), expected);
            const QPixmap pixmap = corvex::widgets::iconPixmap(number, 16);
            QCOMPARE(pixmap.isNull(), !expected);
            if (expected) {
                QCOMPARE(pixmap.size(), QSize(16, 16));
                QVERIFY2(drawsSomething(pixmap), qPrintable(QString::number(number)));
            }
        }
        // The map's mode buttons (1 is no mode) and the program's icon.
        for (const int state : {0, 2, 3}) {
            const QPixmap button = corvex::widgets::modeButtonPixmap(state);
            QCOMPARE(button.size(), QSize(50, 20));
            QVERIFY(drawsSomething(button));
        }
        QVERIFY(corvex::widgets::modeButtonPixmap(1).isNull());
        QVERIFY(drawsSomething(corvex::widgets::programIcon().pixmap(48, 48)));
    }
};

QTEST_MAIN(IconList)
#include "icon_list_test.moc"
