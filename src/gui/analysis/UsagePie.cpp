#include "gui/analysis/UsagePie.h"

#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsSimpleTextItem>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtMath>

namespace {
const QColor kText(64, 64, 64);
// Qt Charts has no legend title: a first slice of value 0, invisible in the
// pie and with a blank legend marker, carries it.
const QString kLegendTitle = QStringLiteral("Mode");
const QString kLineBreak = QStringLiteral("\r\n");
const QString kUserLabel = QStringLiteral("User: ");
constexpr qreal kCaptionGap = 6;  // between the caption and the legend and pie below it

QColor toColor(ModeTable::Rgb c)
{
    return QColor(c.r, c.g, c.b);
}
}  // namespace

UsagePie::UsagePie(QChartView *view)
    : m_view(view)
    , m_chart(view->chart())  // the view's own: a chart given to setChart would orphan it
    , m_series(new QPieSeries)
{
    // A chart grabbed for an image must be the finished drawing, not a frame of an animation.
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundBrush(background());
    m_chart->setBackgroundPen(Qt::NoPen);
    m_chart->setBackgroundRoundness(0);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    // The caption is drawn here rather than as the chart's title: a title too
    // wide for the chart is cut as a whole, losing the second line with it.
    QFont captionFont = m_chart->titleFont();
    captionFont.setBold(true);
    for (QGraphicsSimpleTextItem *&line : m_captionLines) {
        line = new QGraphicsSimpleTextItem(m_chart);
        line->setFont(captionFont);
        line->setBrush(kText);
    }
    QMargins margins = m_chart->margins();
    margins.setTop(margins.top() + qCeil(2 * QFontMetricsF(captionFont).lineSpacing() + kCaptionGap));
    m_chart->setMargins(margins);
    m_resized = QObject::connect(m_chart, &QGraphicsWidget::geometryChanged, m_chart, [this] { layoutCaption(); });
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_chart->legend()->setLabelColor(kText);
    m_chart->addSeries(m_series);
    m_series->setPieSize(0.8);

    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setBackgroundBrush(background());
    m_view->setFrameShape(QFrame::NoFrame);
    // The chart takes no keys: as a tab stop it would only be an invisible one.
    m_view->setFocusPolicy(Qt::NoFocus);
    // The window's layout keeps the chart's place while the no-data text shows.
    QSizePolicy policy = m_view->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_view->setSizePolicy(policy);
}

UsagePie::~UsagePie()
{
    // The chart outlives this in the windows and the command line tool alike.
    QObject::disconnect(m_resized);
}

void UsagePie::draw(const QString &caption, const Usage::ModeCounts &counts)
{
    m_caption = caption;
    layoutCaption();

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

QStringList UsagePie::fitCaption(const QString &caption, const QFont &font, qreal width)
{
    const QFontMetricsF metrics(font);
    QStringList lines = caption.split(kLineBreak);
    if (lines.isEmpty())
        return lines;
    QString &who = lines.first();
    const qsizetype user = who.indexOf(kUserLabel);
    if (user >= 0 && metrics.horizontalAdvance(who) > width) {
        const QString head = who.left(user + kUserLabel.size());
        const QString name = who.mid(head.size());
        const qreal room = width - metrics.horizontalAdvance(head);
        const QString shortName = metrics.elidedText(name, Qt::ElideRight, room);
        // Where not even "…" fits after "User: ", the line is cut at its end below.
        if (!shortName.isEmpty())
            who = head + shortName;
    }
    for (QString &line : lines)
        line = metrics.elidedText(line, Qt::ElideRight, width);
    return lines;
}

void UsagePie::layoutCaption()
{
    const QMargins margins = m_chart->margins();
    const qreal width = m_chart->size().width() - margins.left() - margins.right();
    const QStringList lines = fitCaption(m_caption, m_captionLines[0]->font(), width);
    qreal y = margins.top() - kCaptionGap;
    for (std::size_t i = m_captionLines.size(); i-- > 0;) {
        QGraphicsSimpleTextItem *item = m_captionLines[i];
        item->setText(qsizetype(i) < lines.size() ? lines[qsizetype(i)] : QString());
        y -= QFontMetricsF(item->font()).lineSpacing();
        // Centred over the whole chart, as a title is.
        item->setPos(qRound((m_chart->size().width() - item->boundingRect().width()) / 2), qRound(y));
    }
}

QStringList UsagePie::shownCaption() const
{
    QStringList out;
    for (const QGraphicsSimpleTextItem *line : m_captionLines)
        out << line->text();
    return out;
}

QRectF UsagePie::captionRect() const
{
    QRectF out;
    for (const QGraphicsSimpleTextItem *line : m_captionLines)
        out |= line->mapRectToParent(line->boundingRect());
    return out;
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
