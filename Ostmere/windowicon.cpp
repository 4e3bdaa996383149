#include "windowicon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon ostmereIcon() {
    // The resource lives in a static library, whose registration the linker may drop.
    Q_INIT_RESOURCE(icons);
    QSvgRenderer renderer(QStringLiteral(":/icons/ostmere.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
