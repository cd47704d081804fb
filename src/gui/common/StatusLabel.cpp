#include "gui/common/StatusLabel.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

StatusLabel::StatusLabel(QWidget *parent)
    : QLabel(parent)
{
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

int StatusLabel::lineHeight() const
{
    const QMargins m = contentsMargins();
    return fontMetrics().height() + 2 * margin() + m.top() + m.bottom();
}

QSize StatusLabel::sizeHint() const
{
    return {QLabel::sizeHint().width(), lineHeight()};
}

QSize StatusLabel::minimumSizeHint() const
{
    return {0, lineHeight()};
}

QString StatusLabel::shownText() const
{
    const int width = contentsRect().width() - 2 * margin() - qMax(0, indent());
    return fontMetrics().elidedText(text(), Qt::ElideRight, qMax(0, width));
}

bool StatusLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        // Only a shortened status needs its tooltip.
        const auto *help = static_cast<QHelpEvent *>(event);
        if (shownText() != text())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void StatusLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    drawFrame(&p);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&p, area, int(alignment() | Qt::TextSingleLine), palette(), isEnabled(), shownText(),
                          foregroundRole());
}
