#include "gui/analysis/frmPieByDayMode.h"
#include "ui_frmPieByDayMode.h"

#include "core/clock/Clock.h"
#include "core/usage/ChosenDate.h"
#include "core/usage/UsageTexts.h"
#include "gui/analysis/PieWindowSupport.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/WindowHelpers.h"

frmPieByDayMode::frmPieByDayMode(AppState &state, AnalysisHooks hooks, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmPieByDayMode)
    , m_state(state)
{
    ui->setupUi(this);
    m_support = std::make_unique<PieWindowSupport>(
        this, PieWindowSupport::Controls{ui->pieD, ui->lblPieStatus, ui->lblUsageCaption, ui->lblUsageTime}, state,
        std::move(hooks));

    connect(ui->Close, &QPushButton::clicked, this, [this] { Close_Click(); });
    connect(ui->cmdSaveAsImage, &QPushButton::clicked, this, [this] { cmdSaveAsImage_Click(); });
    connect(ui->cmdOpenImageFolder, &QPushButton::clicked, this, [this] { cmdOpenImageFolder_Click(); });

    Form_Load();
}

frmPieByDayMode::~frmPieByDayMode()
{
    delete ui;
}

const UsagePie &frmPieByDayMode::pie() const
{
    return m_support->pie();
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
    held.rewriteForDay();
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
        m_support->showFailure(m_records);
        if (m_support->hooks().setStatus)
            m_support->hooks().setStatus(QString());
        return;
    }
    m_support->draw(m_records.records, Usage::NoDataForDayText(),
                    [this] { return Usage::DayCaption(m_state.Identity, m_records.records); });
}

void frmPieByDayMode::Close_Click()
{
    close();
}

void frmPieByDayMode::cmdSaveAsImage_Click()
{
    m_support->saveImage(
        QStringLiteral("There is no chart to save for this day."),
        [this] { return Usage::DayImageName(m_state.Identity, Clock::now(), m_dayText, m_month, m_yearText); },
        QString());
}

void frmPieByDayMode::cmdOpenImageFolder_Click()
{
    m_support->openImagesFolder();
}
