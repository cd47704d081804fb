#include "gui/viewer/frmViewData.h"
#include "ui_frmViewData.h"

#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"
#include "core/viewer/ViewerColumns.h"
#include "core/viewer/ViewerRecords.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"
#include "gui/viewer/ViewerModel.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

using namespace Viewer;

namespace {

const QColor DarkGrey(64, 64, 64);

// The hourglass pointer for as long as it lives, whatever way the work ends.
struct BusyCursor
{
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

QString latin(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

void colourText(QWidget *widget, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    widget->setPalette(p);
}

// Sizes a box to show `characters` capitals whole: the widest of them, the
// line edit's own text margins, and the frame the style draws around it.
void fitCharacters(QLineEdit *box, int characters)
{
    const QFontMetrics metrics(box->font());
    const int widest = qMax(metrics.horizontalAdvance(u'W'), metrics.horizontalAdvance(u'M'));
    constexpr int kLineEditTextMargin = 2;  // each side, inside the frame
    const QMargins text = box->textMargins();
    const QMargins contents = box->contentsMargins();
    const int inner = widest * characters + 2 * kLineEditTextMargin + text.left() + text.right() + contents.left()
        + contents.right();
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box) : 0;
    const QSize outer
        = box->style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(inner, box->sizeHint().height()), box);
    box->setFixedWidth(outer.width());
}

Usage::ReadOutcome outcomeOf(const LoadResult &loaded)
{
    switch (loaded.status) {
    case LoadResult::Status::Ok:
        break;
    case LoadResult::Status::CannotOpen:
        return {Usage::ReadStatus::CannotOpen, loaded.detail};
    case LoadResult::Status::ReadFailed:
        return {Usage::ReadStatus::ReadFailed, loaded.detail};
    }
    return {};
}

}  // namespace

frmViewData::frmViewData(AppState &state, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::frmViewData)
    , m_state(state)
    , m_model(new ViewerModel(this))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Never smaller than its controls need, so none overlaps another.
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    CloseOnEscape(this);
    styleWindow();
    // The header line holds 32 characters of user name and 8 each of model and serial.
    fitCharacters(ui->txtUser, 32);
    fitCharacters(ui->txtModel, 8);
    fitCharacters(ui->txtSerial, 8);
    ui->layIdentity->addStretch(1);

    QTableView *list = ui->lvwList;
    list->setModel(m_model);
    list->setSortingEnabled(false);
    QHeaderView *header = list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int c = 0; c < ColumnCount; ++c)
        header->resizeSection(c, TwipsToPixels(Columns[std::size_t(c)].widthTwips, logicalDpiX()));
    fitDatesInColumn();
    // Millions of rows: all of one height, never measured one by one.
    QHeaderView *rows = list->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(list->font()).height() + 4);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) { lvwList_ColumnClick(column); });

    Form_Load();
}

frmViewData::~frmViewData()
{
    delete ui;
}

void frmViewData::fitDatesInColumn()
{
    // The columns keep their width; where this platform's font is too wide
    // for a date and time in it, the list's font is made smaller instead.
    QTableView *list = ui->lvwList;
    const int column = list->horizontalHeader()->sectionSize(DateColumn);
    const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1) + 2;
    QFont font = list->font();
    while (font.pointSizeF() > 6.5
           && QFontMetrics(font).horizontalAdvance(QStringLiteral("00/00/00   00:00:00")) + margins > column)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    list->setFont(font);
}

void frmViewData::styleWindow()
{
    QPalette p = palette();
    p.setColor(QPalette::Window, DarkGrey);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
    setAutoFillBackground(true);

    QPalette listPalette = ui->lvwList->palette();
    listPalette.setColor(QPalette::Base, DarkGrey);
    listPalette.setColor(QPalette::AlternateBase, DarkGrey);
    ui->lvwList->setPalette(listPalette);

    // The legend lists the modes bottom up: "P" at the top, "A" at the foot.
    for (const ModeTable::Mode &mode : ModeTable::Modes) {
        const QString letter(QLatin1Char(mode.letter));
        if (auto *key = findChild<QLabel *>(QStringLiteral("lblKey") + letter)) {
            key->setText(letter);
            key->setAutoFillBackground(true);
            QPalette kp = key->palette();
            kp.setColor(QPalette::Window, DarkGrey);
            kp.setColor(QPalette::WindowText, QColor(mode.colour.r, mode.colour.g, mode.colour.b));
            key->setPalette(kp);
        }
        if (auto *name = findChild<QLabel *>(QStringLiteral("lblKeyName") + letter))
            name->setText(latin(mode.name));
    }
    for (QLabel *value : findChildren<QLabel *>()) {
        const QString name = value->objectName();
        if (name.endsWith(QLatin1String("Hours")) || name.endsWith(QLatin1String("Mins"))
            || name.endsWith(QLatin1String("Secs")))
            colourText(value, QColor(192, 192, 192));
    }
}

void frmViewData::Form_Load()
{
    const QString path = m_state.currentDataFilePath();
    LoadResult loaded;
    {
        BusyCursor busy;
        loaded = LoadRecordsFile(ProcessDataFile(), path);
        for (const auto &[box, text] :
             {std::pair{ui->txtUser, loaded.identity.user}, std::pair{ui->txtModel, loaded.identity.model},
              std::pair{ui->txtSerial, loaded.identity.serial}}) {
            box->setText(text);
            box->setCursorPosition(0);  // the start of a long user name, not its end
        }
        m_model->setRecords(std::move(loaded.records));
        showTotals();
    }
    CenterWindow(this);
    // Told, rather than shown as an empty list that looks like an empty file.
    if (!loaded.ok())
        Interaction::current().message(this, Usage::ReadFailureText(outcomeOf(loaded), path));
}

void frmViewData::showTotals()
{
    const RecordStore &records = m_model->records();
    const auto show = [this](const QString &prefix, qint64 seconds) {
        const std::array<QString, 3> pieces = DurationPieces(seconds);
        static const char *const units[] = {"Hours", "Mins", "Secs"};
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (auto *label = findChild<QLabel *>(prefix + QLatin1String(units[i])))
                label->setText(pieces[i]);
        }
    };
    for (std::size_t m = 0; m < ModeTable::Modes.size(); ++m)
        show(QStringLiteral("lbl") + latin(ModeTable::Modes[m].name) + QStringLiteral("Total"),
             records.modeRecords()[m]);
    show(QStringLiteral("lblUsageTime"), records.totalRecords());
}

void frmViewData::lvwList_ColumnClick(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    BusyCursor busy;
    QTableView *list = ui->lvwList;
    list->setUpdatesEnabled(false);
    m_model->columnClick(column);
    list->setUpdatesEnabled(true);
    list->viewport()->update();
}
