#include "gui/analysis/frmPieByDayMode.h"
#include "ui_frmPieByDayMode.h"

#include "core/clock/Clock.h"
#include "core/usage/ChosenDate.h"
#include "core/usage/UsageTexts.h"
#include "gui/analysis/ChartImage.h"
#include "gui/analysis/UsagePie.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"

frmPieByDayMode::frmPieByDayMode(AppState &state, AnalysisHooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmPieByDayMode)
    , m_state(state)
    , m_hooks(std::move(hooks))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Never smaller than its controls need, so none overlaps another.
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    CloseOnEscape(this);
    EnterPressesFocusedButton(this);
    m_pie = std::make_unique<UsagePie>(ui->pieD);
    StyleAnalysisWindow(this, ui->lblPieStatus, ui->lblUsageCaption, ui->lblUsageTime);

    connect(ui->Close, &QPushButton::clicked, this, [this] { Close_Click(); });
    connect(ui->cmdSaveAsImage, &QPushButton::clicked, this, [this] { cmdSaveAsImage_Click(); });
    connect(ui->cmdOpenImageFolder, &QPushButton::clicked, this, [this] { cmdOpenImageFolder_Click(); });

    Form_Load();
}

frmPieByDayMode::~frmPieByDayMode()
{
    delete ui;
}

void frmPieByDayMode::Form_Load()
{
    adjustSize();
    CenterWindow(this);
    const ChosenDate &chosen = Chosen();
    ShowDay(chosen.ChosenDay, chosen.ChosenMonth, chosen.ChosenYear);
}

void frmPieByDayMode::ShowDay(const QString &day, int month, const QString &year)
{
    ChosenDate held{day, month, year};
    held.RewriteForDay();
    Chosen().ChosenDay = held.ChosenDay;
    Chosen().ChosenYear = held.ChosenYear;
    // The window's own copy names its image: later clicks change the
    // process-wide values but not the day this chart shows.
    m_dayText = held.ChosenDay;
    m_month = month;
    m_yearText = held.ChosenYear;

    m_records = Usage::ReadDayRecords(ProcessDataFile(), m_state.currentDataFilePath(),
                                      int(Usage::ReadNumber(m_dayText)), month, int(Usage::ReadNumber(m_yearText)));
    if (!m_records.ok()) {
        showFailure(m_records);
        return;
    }
    const Usage::PeriodRecords &set = m_records.records;
    if (set.n == 0) {
        ui->lblPieStatus->setText(Usage::NoDataForDayText());
        m_pie->setShown(false);
        return;
    }
    m_pie->setShown(true);
    ui->lblPieStatus->clear();
    const Usage::ModeCounts counts = Usage::CountModes(set);
    ui->lblUsageTime->setText(Usage::PieDurationText(counts.total));
    m_pie->draw(Usage::DayCaption(m_state.Identity, set), counts);
}

void frmPieByDayMode::showFailure(const Usage::ReadOutcome &outcome)
{
    const QString text = Usage::ReadFailureText(outcome, m_state.currentDataFilePath());
    ui->lblPieStatus->setText(text);
    m_pie->setShown(false);
    Interaction::current().message(this, text);
    if (m_hooks.setStatus)
        m_hooks.setStatus(QString());
}

void frmPieByDayMode::Close_Click()
{
    close();
}

void frmPieByDayMode::cmdSaveAsImage_Click()
{
    if (!m_pie->shown()) {
        Interaction::current().message(this, QStringLiteral("There is no chart to save for this day."));
        return;
    }
    if (m_hooks.refreshIdentity)
        m_hooks.refreshIdentity();
    ChartImage::SaveChart(this, ui->pieD, m_state.ImagesFolder,
                          Usage::DayImageName(m_state.Identity, Clock::now(), m_dayText, m_month, m_yearText),
                          QString());
}

void frmPieByDayMode::cmdOpenImageFolder_Click()
{
    ChartImage::OpenImagesFolder(this, m_state.ImagesFolder);
}
