#include "gui/analysis/UsagePie.h"

#include <QGraphicsLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>

namespace {
const QColor kText(64, 64, 64);
// Qt Charts has no legend title: a first slice of value 0, invisible in the
// pie and with a blank legend marker, carries it.
const QString kLegendTitle = QStringLiteral("Mode");

QColor toColor(ModeTable::Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

void colourText(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}
}  // namespace

void StyleAnalysisWindow(QWidget *window, QWidget *pieStatus, QWidget *usageCaption, QWidget *usageTime)
{
    QPalette p = window->palette();
    p.setColor(QPalette::Window, QColor(64, 64, 64));
    window->setPalette(p);
    window->setAutoFillBackground(true);
    colourText(pieStatus, Qt::white);
    colourText(usageCaption, Qt::white);
    colourText(usageTime, QColor(192, 192, 192));
}

UsagePie::UsagePie(QChartView *view)
    : m_view(view)
    , m_chart(view->chart())  // the view's own: a chart given to setChart would orphan it
    , m_series(new QPieSeries)
{
    // A chart grabbed for an image must be the finished drawing, not a frame of an animation.
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundBrush(Background());
    m_chart->setBackgroundPen(Qt::NoPen);
    m_chart->setBackgroundRoundness(0);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    m_chart->setTitleBrush(kText);
    QFont titleFont = m_chart->titleFont();
    titleFont.setBold(true);
    m_chart->setTitleFont(titleFont);
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_chart->legend()->setLabelColor(kText);
    m_chart->addSeries(m_series);
    m_series->setPieSize(0.8);

    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setBackgroundBrush(Background());
    m_view->setFrameShape(QFrame::NoFrame);
    // The window's layout keeps the chart's place while the no-data text shows.
    QSizePolicy policy = m_view->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_view->setSizePolicy(policy);
}

void UsagePie::draw(const QString &caption, const Usage::ModeCounts &counts)
{
    m_caption = caption;
    const QStringList lines = caption.split(QStringLiteral("\r\n"));
    QStringList escaped;
    for (const QString &line : lines)
        escaped << line.toHtmlEscaped();
    m_chart->setTitle(QStringLiteral("<center>") + escaped.join(QStringLiteral("<br>")) + QStringLiteral("</center>"));

    m_series->clear();
    QPieSlice *title = m_series->append(kLegendTitle, 0);
    title->setBrush(Qt::transparent);
    title->setPen(Qt::NoPen);
    title->setLabelVisible(false);

    bool first = true;
    for (int i = 0; i < ModeTable::Count; ++i) {
        const qint64 count = counts.counts[std::size_t(i)];
        if (count <= 0)
            continue;
        const ModeTable::Mode &mode = ModeTable::Modes[std::size_t(i)];
        QPieSlice *slice
            = m_series->append(QString::fromLatin1(mode.name.data(), qsizetype(mode.name.size())), double(count));
        slice->setBrush(toColor(mode.colour));
        slice->setPen(QPen(Qt::white, 1));
        if (first) {
            slice->setExploded(true);
            first = false;
        }
    }
    // A lone slice is the whole circle: its white border would draw a seam
    // from the centre to the top, where it starts and ends.
    if (m_series->count() == 2) {
        QPieSlice *only = m_series->slices().last();
        only->setPen(QPen(only->brush().color(), 1));
    }
    markLegendTitle();
}

void UsagePie::markLegendTitle()
{
    const QList<QLegendMarker *> markers = m_chart->legend()->markers(m_series);
    if (markers.isEmpty())
        return;
    QLegendMarker *marker = markers.first();
    marker->setBrush(Qt::transparent);
    marker->setPen(Qt::NoPen);
    QFont font = marker->font();
    font.setBold(true);
    marker->setFont(font);
}

void UsagePie::setShown(bool shown)
{
    m_view->setVisible(shown);
}

bool UsagePie::shown() const
{
    return !m_view->isHidden();
}

QList<UsagePie::Slice> UsagePie::slices() const
{
    QList<Slice> out;
    const QList<QPieSlice *> all = m_series->slices();
    for (qsizetype i = 1; i < all.size(); ++i) {  // 0 is the legend title
        const QPieSlice *s = all[i];
        out << Slice{s->label(), s->value(), s->brush().color(), s->isExploded()};
    }
    return out;
}

QString UsagePie::legendTitle() const
{
    const QList<QPieSlice *> all = m_series->slices();
    return all.isEmpty() ? QString() : all.first()->label();
}
