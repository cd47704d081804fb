#pragma once

#include "core/usage/UsageCounting.h"
#include "gui/analysis/AnalysisHooks.h"

#include <QWidget>

#include <memory>

namespace Ui {
class frmPieByDayMode;
}
struct AppState;
class PieWindowSupport;
class UsagePie;

// The usage per mode of the one day clicked in the Analyse Data calendar
// (the process-wide chosen date). Reads its day once, as it is made, and
// keeps showing it while later clicks only bring it forward. Deletes itself
// when closed.
class frmPieByDayMode : public QWidget
{
    Q_OBJECT
public:
    explicit frmPieByDayMode(AppState &state, AnalysisHooks hooks = {}, QWidget *parent = nullptr);
    ~frmPieByDayMode() override;

    Ui::frmPieByDayMode *form() const { return ui; }
    const UsagePie &pie() const;
    // The day the chart shows, as the window holds it: "07", 3, "11".
    QString dayText() const { return m_dayText; }
    int month() const { return m_month; }
    QString yearText() const { return m_yearText; }

    void Form_Load();
    // day as text ("7"), year in four digits ("2011").
    void ShowDay(const QString &day, int month, const QString &year);
    void Close_Click();
    void cmdSaveAsImage_Click();
    void cmdOpenImageFolder_Click();

private:
    Ui::frmPieByDayMode *ui;
    AppState &m_state;
    std::unique_ptr<PieWindowSupport> m_support;
    Usage::PeriodReading m_records;  // the day's records, gone with the window
    QString m_dayText;
    int m_month = 0;
    QString m_yearText;
};
