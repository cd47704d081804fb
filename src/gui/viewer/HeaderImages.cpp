#include "gui/viewer/HeaderImages.h"

#include "core/viewer/RowSort.h"

#include <QPainter>
#include <QPolygonF>

QPixmap DrawHeaderImage(const QString &name)
{
    const bool up = name == Viewer::AscImage;
    if (!up && name != Viewer::DescImage)
        return {};
    QPixmap image(16, 16);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(64, 64, 64), 1.2));
    painter.setBrush(Qt::NoBrush);
    const QPolygonF triangle = up ? QPolygonF({QPointF(8, 3.5), QPointF(13.5, 12.5), QPointF(2.5, 12.5)})
                                  : QPolygonF({QPointF(2.5, 3.5), QPointF(13.5, 3.5), QPointF(8, 12.5)});
    painter.drawPolygon(triangle);
    return image;
}
