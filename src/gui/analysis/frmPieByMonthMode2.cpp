#include "gui/analysis/frmPieByMonthMode2.h"
#include "ui_frmPieByMonthMode2.h"

#include "core/clock/Clock.h"
#include "core/usage/ChosenDate.h"
#include "core/usage/UsageTexts.h"
#include "gui/analysis/PieWindowSupport.h"
#include "gui/analysis/frmPieByDayMode.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/WindowHelpers.h"

#include <QPointer>
#include <QSignalBlocker>
#include <QTextCharFormat>

namespace {
QPointer<frmPieByDayMode> s_dayWindow;  // one day window for the whole process
}  // namespace

frmPieByMonthMode2::frmPieByMonthMode2(AppState &state, AnalysisHooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmPieByMonthMode2)
    , m_state(state)
{
    ui->setupUi(this);
    m_support = std::make_unique<PieWindowSupport>(
        this, PieWindowSupport::Controls{ui->pie, ui->lblPieStatus, ui->lblUsageCaption, ui->lblUsageTime}, state,
        std::move(hooks));

    // Years are 2000 plus two digits; a page outside that century would show
    // another century's records.
    ui->MonthView1->setMinimumDate(QDate(2000, 1, 1));
    ui->MonthView1->setMaximumDate(QDate(2099, 12, 31));

    connect(ui->MonthView1, &QCalendarWidget::currentPageChanged, this, [this] { MonthView1_Click(); });
    connect(ui->MonthView1, &QCalendarWidget::clicked, this, [this](QDate date) {
        MonthView1_DateClick(date);
        MonthView1_Click();
    });
    connect(ui->Close, &QPushButton::clicked, this, [this] { Close_Click(); });
    connect(ui->cmdSaveAsImage, &QPushButton::clicked, this, [this] { cmdSaveAsImage_Click(); });
    connect(ui->cmdOpenImageFolder, &QPushButton::clicked, this, [this] { cmdOpenImageFolder_Click(); });

    Form_Load();
}

frmPieByMonthMode2::~frmPieByMonthMode2()
{
    delete ui;
}

const UsagePie &frmPieByMonthMode2::pie() const
{
    return m_support->pie();
}

frmPieByDayMode *frmPieByMonthMode2::dayWindow()
{
    return s_dayWindow.data();
}

void frmPieByMonthMode2::Form_Load()
{
    adjustSize();
    CenterWindow(this);

    const Usage::FirstRecordMonth first = Usage::ReadFirstRecordMonth(ProcessDataFile(), m_state.currentDataFilePath());
    if (!first.ok()) {
        // Open on today's month, so the calendar is there to try again.
        const QDate today = Clock::now().date();
        setPage(today.month(), today.year() % 100);
        m_support->showFailure(first);
        return;
    }
    int month = first.month;
    int year = first.year;
    if (!first.found) {
        const QDate today = Clock::now().date();
        month = today.month();
        year = today.year() % 100;
    }
    setPage(month, year);
    ShowMonth(month, year);
    DrawMonthPie(month, year);
}

// Opens the calendar on a month without the page change reading the file a second time.
void frmPieByMonthMode2::setPage(int month, int year)
{
    const QSignalBlocker quiet(ui->MonthView1);
    ui->MonthView1->setSelectedDate(QDate(2000 + year, month, 1));
    ui->MonthView1->setCurrentPage(2000 + year, month);
    m_month = month;
    m_year = year;
}

void frmPieByMonthMode2::ShowMonth(int month, int year)
{
    m_month = month;
    m_year = year;
    m_records = Usage::ReadMonthRecords(ProcessDataFile(), m_state.currentDataFilePath(), month, year);
    if (!m_records.ok())
        return;
    // Marks of months shown earlier stay; they name days that do have records.
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (int day : m_records.records.days()) {
        const QDate date(2000 + year, month, day);
        if (date.isValid())
            ui->MonthView1->setDateTextFormat(date, bold);
    }
}

void frmPieByMonthMode2::DrawMonthPie(int month, int year)
{
    if (!m_records.ok()) {
        m_support->showFailure(m_records);
        return;
    }
    m_support->draw(m_records.records, Usage::NoDataForMonthText(month, year),
                    [&] { return Usage::MonthCaption(m_state.Identity, m_records.records, month, year); });
}

void frmPieByMonthMode2::MonthView1_Click()
{
    ui->lblUsageTime->clear();
    const int month = ui->MonthView1->monthShown();
    const int year = ui->MonthView1->yearShown() % 100;
    ShowMonth(month, year);
    DrawMonthPie(month, year);
}

void frmPieByMonthMode2::MonthView1_DateClick(const QDate &date)
{
    ChosenDate &chosen = Chosen();
    chosen.ChosenDay = QString::number(date.day());
    chosen.ChosenMonth = date.month();
    chosen.ChosenYear = QString::number(date.year());

    if (!s_dayWindow) {
        // Parented like this window, so it outlives it when this one closes first.
        QWidget *owner = parentWidget() ? parentWidget() : this;
        s_dayWindow = new frmPieByDayMode(m_state, m_support->hooks(), owner);
    }
    s_dayWindow->show();
    s_dayWindow->raise();
    s_dayWindow->activateWindow();
}

void frmPieByMonthMode2::Close_Click()
{
    close();
}

void frmPieByMonthMode2::cmdSaveAsImage_Click()
{
    m_support->saveImage(
        QStringLiteral("There is no chart to save for this month."),
        [this] { return Usage::MonthImageName(m_state.Identity, Clock::now()); },
        QStringLiteral("Save Graph as an Image"));
}

void frmPieByMonthMode2::cmdOpenImageFolder_Click()
{
    m_support->openImagesFolder();
}
