#pragma once

#include "core/usage/UsageCounting.h"

#include <QColor>
#include <QList>
#include <QString>

class QChart;
class QChartView;
class QPieSeries;
class QWidget;

// The analysis windows' dark grey ground and the colours of their texts on it.
void StyleAnalysisWindow(QWidget *window, QWidget *pieStatus, QWidget *usageCaption, QWidget *usageTime);

// The usage pie both analysis windows draw into their chart view: the
// two-line caption, a legend titled "Mode", one slice per mode that has
// records, in the mode table's order and colours, the first set apart.
class UsagePie
{
public:
    // Draws into the view's own chart.
    explicit UsagePie(QChartView *view);

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
    QString legendTitle() const;
    bool shown() const;
    QChart *chart() const { return m_chart; }

    static QColor Background() { return QColor(255, 239, 213); }

private:
    void markLegendTitle();

    QChartView *m_view;
    QChart *m_chart;
    QPieSeries *m_series;
    QString m_caption;
};
