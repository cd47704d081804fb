#pragma once

#include "core/usage/UsageCounting.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QMetaObject>
#include <QRectF>
#include <QString>

#include <array>

class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QPieSeries;

// The usage pie both analysis windows (and locator-cli chart) draw into their
// chart view: the two-line caption, a legend titled "Mode", one slice per
// mode that has records, in the mode table's order and colours, the first
// set apart.
//
// Both caption lines always show, whatever the chart's width: where the
// first is too wide, only the user name after its "User: " is shortened
// (ending in "…"), so the locator, and the period on the second line, stay
// readable on screen and in a saved image.
class UsagePie
{
public:
    // Draws into the view's own chart.
    explicit UsagePie(QChartView *view);
    ~UsagePie();
    UsagePie(const UsagePie &) = delete;
    UsagePie &operator=(const UsagePie &) = delete;

    void draw(const QString &caption, const Usage::ModeCounts &counts);
    void setShown(bool shown);

    // Read back from the chart itself, for whoever needs to know what it shows.
    struct Slice
    {
        QString label;
        double value = 0;
        QColor colour;
        bool exploded = false;
    };
    QList<Slice> slices() const;  // mode slices only, in drawing order
    QString caption() const { return m_caption; }  // lines joined by CR LF
    QStringList shownCaption() const;  // the lines as drawn at the chart's present width
    QRectF captionRect() const;  // where they are drawn, in the chart's coordinates
    QString legendTitle() const;
    bool shown() const;
    QChart *chart() const { return m_chart; }

    static QColor background() { return QColor(255, 239, 213); }

    // The caption's lines as they fit a width in a font: the user name
    // shortened first, any line still too wide cut at its end.
    static QStringList fitCaption(const QString &caption, const QFont &font, qreal width);

private:
    void markLegendTitle();
    void layoutCaption();

    QChartView *m_view;
    QChart *m_chart;
    QPieSeries *m_series;
    QString m_caption;
    std::array<QGraphicsSimpleTextItem *, 2> m_captionLines{};  // owned by the chart
    QMetaObject::Connection m_resized;
};
