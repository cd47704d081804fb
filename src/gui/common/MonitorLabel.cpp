#include "gui/common/MonitorLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextLayout>

namespace {
constexpr int kLines = 3;
}

MonitorLabel::MonitorLabel(QWidget *parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize MonitorLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    return {200,
            fontMetrics().lineSpacing() * (kLines - 1) + fontMetrics().height() + 2 * margin() + m.top() + m.bottom()};
}

QSize MonitorLabel::minimumSizeHint() const
{
    return {50, sizeHint().height()};
}

QString MonitorLabel::displayText(const QString &received)
{
    QString out;
    out.reserve(received.size());
    for (qsizetype i = 0; i < received.size(); ++i) {
        const QChar c = received[i];
        if (c == QLatin1Char('\r')) {
            // CR LF is one break, and so is a CR alone.
            if (i + 1 >= received.size() || received[i + 1] != QLatin1Char('\n'))
                out += QLatin1Char('\n');
        } else if (c == QLatin1Char('\n')) {
            out += c;
        } else if (c == QLatin1Char('\t')) {
            out += QLatin1Char(' ');
        } else if (c.category() != QChar::Other_Control) {
            out += c;
        }
    }
    return out;
}

QList<MonitorLabel::Line> MonitorLabel::layoutLines() const
{
    QList<Line> lines;
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    if (area.width() <= 0 || area.height() <= 0)
        return lines;
    const QFontMetrics fm = fontMetrics();
    QTextOption option;
    option.setWrapMode(wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    int y = 0;
    const QStringList paragraphs = displayText(text()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &paragraph : paragraphs) {
        QTextLayout layout(paragraph, font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(area.width());
            if (y + fm.height() > area.height()) {
                layout.endLayout();
                return lines;
            }
            lines.append({paragraph.mid(line.textStart(), line.textLength()), y});
            y += fm.lineSpacing();
        }
        layout.endLayout();
    }
    return lines;
}

QStringList MonitorLabel::shownLines() const
{
    QStringList out;
    for (const Line &line : layoutLines())
        out << line.text;
    return out;
}

void MonitorLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    drawFrame(&p);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int lineHeight = fontMetrics().height();
    for (const Line &line : layoutLines()) {
        const QRect row(area.left(), area.top() + line.y, area.width(), lineHeight);
        style()->drawItemText(&p, row, int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine), palette(), isEnabled(),
                              line.text, foregroundRole());
    }
}
