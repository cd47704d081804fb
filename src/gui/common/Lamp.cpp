#include "gui/common/Lamp.h"

#include <QPainter>

Lamp::Lamp(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(16, 16);
}

void Lamp::setFillColor(const QColor &color)
{
    if (color == m_fill)
        return;  // set for every received piece: only a change is worth drawing
    m_fill = color;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = qMin(width(), height()) - 2;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_fill);
    p.drawEllipse((width() - d) / 2, (height() - d) / 2, d, d);
}
