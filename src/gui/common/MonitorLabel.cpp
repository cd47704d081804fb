#include "gui/common/MonitorLabel.h"

MonitorLabel::MonitorLabel(QWidget *parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize MonitorLabel::sizeHint() const
{
    return {200, fontMetrics().lineSpacing() * 3 + 2 * frameWidth()};
}

QSize MonitorLabel::minimumSizeHint() const
{
    return {50, sizeHint().height()};
}
