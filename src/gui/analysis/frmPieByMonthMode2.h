#pragma once

#include "core/usage/UsageCounting.h"
#include "gui/analysis/AnalysisHooks.h"

#include <QWidget>

#include <memory>

namespace Ui {
class frmPieByMonthMode2;
}
struct AppState;
class PieWindowSupport;
class QDate;
class UsagePie;
class frmPieByDayMode;

// "Analyse Data": the current data file month by month. The calendar bolds
// the days with records, the pie shows the month's usage per mode, and a
// clicked date opens the day window.
//
// A top-level window that deletes itself when closed; it reads the file once
// as it is made (so show it afterwards) and again for every month shown.
class frmPieByMonthMode2 : public QWidget
{
    Q_OBJECT
public:
    explicit frmPieByMonthMode2(AppState &state, AnalysisHooks hooks = {}, QWidget *parent = nullptr);
    ~frmPieByMonthMode2() override;

    Ui::frmPieByMonthMode2 *form() const { return ui; }
    const UsagePie &pie() const;
    int shownMonth() const { return m_month; }
    int shownYear() const { return m_year; }  // two digits
    // The day window opened from a calendar click, while it is open.
    static frmPieByDayMode *dayWindow();

    void Form_Load();
    void ShowMonth(int month, int year);
    void DrawMonthPie(int month, int year);
    void MonthView1_Click();
    void MonthView1_DateClick(const QDate &date);
    void Close_Click();
    void cmdSaveAsImage_Click();
    void cmdOpenImageFolder_Click();

private:
    void setPage(int month, int year);

    Ui::frmPieByMonthMode2 *ui;
    AppState &m_state;
    std::unique_ptr<PieWindowSupport> m_support;
    Usage::PeriodReading m_records;  // the month last read
    int m_month = 0;
    int m_year = 0;
};
