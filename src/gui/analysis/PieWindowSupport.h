#pragma once

#include "core/usage/UsageCounting.h"
#include "gui/analysis/AnalysisHooks.h"

#include <QString>

#include <functional>
#include <memory>

struct AppState;
class QChartView;
class QLabel;
class QWidget;
class UsagePie;

// What the Analyse Data and the day window have in common: their set-up,
// drawing a period's pie with its usage time, showing a failed reading, and
// the two image buttons. Each window keeps its named handlers and calls in
// here; they differ only in what they read and in their texts and names.
class PieWindowSupport
{
public:
    struct Controls
    {
        QChartView *chart = nullptr;
        QLabel *pieStatus = nullptr;  // the no-data text or the failure
        QLabel *usageCaption = nullptr;
        QLabel *usageTime = nullptr;
    };

    // Sets the window up: it deletes itself when closed, is never smaller
    // than its controls need (so none overlaps another), closes on Escape,
    // presses the focused button on Enter, and has the dark grey ground.
    PieWindowSupport(QWidget *window, const Controls &controls, AppState &state, AnalysisHooks hooks);
    ~PieWindowSupport();
    PieWindowSupport(const PieWindowSupport &) = delete;
    PieWindowSupport &operator=(const PieWindowSupport &) = delete;

    const UsagePie &pie() const { return *m_pie; }
    const AnalysisHooks &hooks() const { return m_hooks; }

    // Draws the period's pie and writes its usage time. A period without
    // records hides the chart and shows noDataText; the usage time keeps its
    // text. `caption` is asked for only when there is a chart to draw.
    void draw(const Usage::PeriodRecords &period, const QString &noDataText, const std::function<QString()> &caption);
    // A reading that failed: said beside the chart and in a message; the
    // chart hidden and the usage time empty.
    void showFailure(const Usage::ReadOutcome &outcome);
    // Saves the chart, as displayed, as a JPEG (no chart shown: says
    // noChartText instead). The main window's identity is taken over first,
    // then `imageName` asked, so the proposed name (in the images folder,
    // made if missing) carries it. The file gets the name exactly as the
    // dialog returns it, no extension added; a failed write is reported. An
    // empty dialogTitle leaves the dialog's own.
    void saveImage(const QString &noChartText, const std::function<QString()> &imageName, const QString &dialogTitle);
    // Opens the images folder in the desktop's file browser, making it first if missing.
    void openImagesFolder();

private:
    QWidget *m_window;
    Controls m_controls;
    AppState &m_state;
    AnalysisHooks m_hooks;
    std::unique_ptr<UsagePie> m_pie;
};
