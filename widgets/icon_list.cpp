#include "widgets/icon_list.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

namespace corvex::widgets {

namespace {

QString iconPath(int number) {
    return QStringLiteral(":/icons/icon-%1.svg").arg(number, 2, 10, QLatin1Char('0'));
}

// Pictures are drawn from SVG on first use at the size asked for, so they stay sharp at any
// size; the cache is the window thread's alone, as is all painting.
QPixmap render(const QString& path, QSize pxSize) {
    static QHash<QString, QPixmap> cache;
    const QString key = path + QLatin1Char('@') + QString::number(pxSize.width()) +
                        QLatin1Char('x') + QString::number(pxSize.height());
    if (const auto found = cache.constFind(key); found != cache.constEnd()) {
        return *found;
    }
    if (!QFile::exists(path)) {
        return {};
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        return {};
    }
    QPixmap pixmap(pxSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    cache.insert(key, pixmap);
    return pixmap;
}

} // namespace

bool hasIcon(int number) {
    return number >= 0 && QFile::exists(iconPath(number));
}

QPixmap iconPixmap(int number, int pxSize) {
    if (!hasIcon(number)) {
        return {};
    }
    return render(iconPath(number), QSize(pxSize, pxSize));
}

QPixmap modeButtonPixmap(int state) {
    return render(QStringLiteral(":/icons/mode-%1.svg").arg(state), QSize(50, 20));
}

QIcon toolbarIcon(const QString& name) {
    const QString path = QStringLiteral(":/icons/tool-%1.svg").arg(name);
    QIcon icon;
    for (const int px : {16, 20, 24, 32}) {
        if (const QPixmap pixmap = render(path, QSize(px, px)); !pixmap.isNull()) {
            icon.addPixmap(pixmap); // the disabled look is derived from it by the style
        }
    }
    return icon;
}

QIcon programIcon() {
    QIcon icon;
    for (const int px : {16, 32, 48, 64, 128}) {
        icon.addPixmap(render(QStringLiteral(":/icons/corvex.svg"), QSize(px, px)));
    }
    return icon;
}

} // namespace corvex::widgets
