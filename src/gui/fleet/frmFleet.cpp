#include "gui/fleet/frmFleet.h"

#include "core/archive/FleetQueries.h"
#include "core/archive/UsageReport.h"
#include "core/clock/Clock.h"
#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"
#include "gui/common/Interaction.h"
#include "gui/common/WindowHelpers.h"
#include "gui/fleet/ArchiveSettingsDialog.h"
#include "gui/fleet/ArchiveThread.h"
#include "gui/fleet/FleetSettings.h"
#include "gui/fleet/ImportDialog.h"
#include "gui/fleet/PasswordStore.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>

struct frmFleet::UsageData
{
    QString error;
    QDate from, to;
    Archive::GroupBy by = Archive::GroupBy::Locator;
    QList<Archive::UsageDay> days;
    QList<Archive::UsageGroup> groups;
    Archive::UsageGroup whole;
    QList<Archive::UsageGroup> months;
};

namespace {

constexpr int kReloadMs = 300;  // date and grouping edits settle before a query

QColor modeColour(int mode)
{
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(mode)].colour;
    return QColor(c.r, c.g, c.b);
}

QTableView *makeTable(QAbstractItemModel *model, QWidget *parent)
{
    auto *proxy = new QSortFilterProxyModel(parent);
    proxy->setSourceModel(model);
    proxy->setSortRole(Fleet::SortRole);
    auto *view = new QTableView(parent);
    view->setModel(proxy);
    view->setSortingEnabled(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return view;
}

// The archive's usage store, opened for reading on the archive thread.
bool openForReading(Archive::Store &store, const Archive::Location &location, QString *error)
{
    if (store.open(location, error, Archive::Store::ExistingOnly))
        return true;
    *error = FleetSettings::WithFix(*error, location);
    return false;
}

QPointer<frmFleet> &ownedWindow()
{
    static QPointer<frmFleet> window;
    return window;
}

}  // namespace

frmFleet::frmFleet(const QString &database, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_thread(std::make_unique<ArchiveThread>())
{
    setObjectName(QStringLiteral("frmFleet"));
    setWindowTitle(QStringLiteral("Fleet Usage"));
    setAcceptDrops(true);
    buildWindow();
    m_reload.setSingleShot(true);
    m_reload.setInterval(kReloadMs);
    connect(&m_reload, &QTimer::timeout, this, &frmFleet::loadUsage);

    Archive::Location location;
    if (FleetSettings::ChooseArchive(database, &location, &m_locationError)) {
        setArchive(location);
    } else {
        m_archiveLabel->setText(QStringLiteral("(none)"));
        showStatus(m_locationError, true);
    }
}

frmFleet::~frmFleet()
{
    // A running import stops at its next line, rolling its file back; the
    // thread then ends before anything its answers would touch.
    if (m_import)
        m_import->cancelImport();
    m_thread.reset();
}

frmFleet *frmFleet::showFor(QWidget *owner)
{
    QPointer<frmFleet> &window = ownedWindow();
    if (!window) {
        window = new frmFleet(QString(), owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        CenterWindow(window);
    }
    BringForward(window);
    return window;
}

void frmFleet::buildWindow()
{
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buildHeader());
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs, 1);
    m_tabs->addTab(buildLocatorsTab(), QStringLiteral("Locators"));
    m_tabs->addTab(buildUsageTab(), QStringLiteral("Usage"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);
    resize(960, 680);
    CloseOnEscape(this);
}

// The archive shown, and the buttons that work on it.
QHBoxLayout *frmFleet::buildHeader()
{
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Archive:"), this));
    m_archiveLabel = new QLabel(this);
    m_archiveLabel->setObjectName(QStringLiteral("lblArchive"));
    m_archiveLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(m_archiveLabel, 1);
    auto *settings = new QPushButton(QStringLiteral("Settings..."), this);
    settings->setObjectName(QStringLiteral("cmdSettings"));
    auto *import = new QPushButton(QStringLiteral("Import..."), this);
    import->setObjectName(QStringLiteral("cmdImport"));
    auto *refresh = new QPushButton(QStringLiteral("Refresh"), this);
    refresh->setObjectName(QStringLiteral("cmdRefresh"));
    top->addWidget(settings);
    top->addWidget(import);
    top->addWidget(refresh);
    connect(settings, &QPushButton::clicked, this, &frmFleet::openSettings);
    connect(import, &QPushButton::clicked, this, [this] { openImport(); });
    connect(refresh, &QPushButton::clicked, this, &frmFleet::refresh);
    return top;
}

QWidget *frmFleet::buildLocatorsTab()
{
    auto *locatorsTab = new QWidget(this);
    auto *locatorsLayout = new QVBoxLayout(locatorsTab);
    m_locatorView = makeTable(&m_locators, locatorsTab);
    m_locatorView->setObjectName(QStringLiteral("lvwLocators"));
    m_locatorView->sortByColumn(Fleet::LocatorModel::Serial, Qt::AscendingOrder);
    locatorsLayout->addWidget(m_locatorView, 1);
    auto *overdueRow = new QHBoxLayout;
    overdueRow->addWidget(new QLabel(QStringLiteral("Mark locators not synced for more than"), locatorsTab));
    m_overdue = new QSpinBox(locatorsTab);
    m_overdue->setObjectName(QStringLiteral("spnOverdueDays"));
    m_overdue->setRange(1, 3650);
    m_overdue->setValue(FleetSettings::overdueDays());
    overdueRow->addWidget(m_overdue);
    overdueRow->addWidget(new QLabel(QStringLiteral("days"), locatorsTab));
    overdueRow->addStretch();
    locatorsLayout->addLayout(overdueRow);
    m_locators.setOverdue(m_overdue->value(), Clock::nowUtc());
    connect(m_overdue, &QSpinBox::valueChanged, this, [this](int days) {
        FleetSettings::setOverdueDays(days);
        m_locators.setOverdue(days, Clock::nowUtc());
    });
    return locatorsTab;
}

QWidget *frmFleet::buildUsageTab()
{
    auto *usageTab = m_usageTab = new QWidget(this);
    auto *usageLayout = new QVBoxLayout(usageTab);
    auto *range = new QHBoxLayout;
    const QDate today = Clock::today();
    m_fromEdit = new QDateEdit(QDate(today.year(), today.month(), 1).addMonths(-11), usageTab);
    m_toEdit = new QDateEdit(today, usageTab);
    for (QDateEdit *e : {m_fromEdit, m_toEdit}) {
        e->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        e->setCalendarPopup(true);
        e->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
        connect(e, &QDateEdit::dateChanged, this, [this] { m_reload.start(); });
    }
    m_fromEdit->setObjectName(QStringLiteral("dtpFrom"));
    m_toEdit->setObjectName(QStringLiteral("dtpTo"));
    m_groupBy = new QComboBox(usageTab);
    m_groupBy->setObjectName(QStringLiteral("cboGroupBy"));
    m_groupBy->addItem(QStringLiteral("Locator"), int(Archive::GroupBy::Locator));
    m_groupBy->addItem(QStringLiteral("User"), int(Archive::GroupBy::User));
    m_groupBy->addItem(QStringLiteral("Month"), int(Archive::GroupBy::Month));
    m_groupBy->addItem(QStringLiteral("Day"), int(Archive::GroupBy::Day));
    connect(m_groupBy, &QComboBox::currentIndexChanged, this, [this] { m_reload.start(); });
    range->addWidget(new QLabel(QStringLiteral("From"), usageTab));
    range->addWidget(m_fromEdit);
    range->addWidget(new QLabel(QStringLiteral("To"), usageTab));
    range->addWidget(m_toEdit);
    range->addSpacing(16);
    range->addWidget(new QLabel(QStringLiteral("Group by"), usageTab));
    range->addWidget(m_groupBy);
    range->addStretch();
    usageLayout->addLayout(range);

    auto *split = new QSplitter(Qt::Vertical, usageTab);
    m_usageView = makeTable(&m_usage, split);
    m_usageView->setObjectName(QStringLiteral("lvwUsage"));
    m_usageView->sortByColumn(0, Qt::AscendingOrder);
    connect(m_usageView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &frmFleet::showPie);
    split->addWidget(m_usageView);
    m_charts = new QWidget(split);
    m_charts->setObjectName(QStringLiteral("charts"));
    auto *chartsLayout = new QHBoxLayout(m_charts);
    chartsLayout->setContentsMargins(0, 0, 0, 0);
    m_bars = new QChartView(m_charts);
    m_pie = new QChartView(m_charts);
    for (QChartView *v : {m_bars, m_pie}) {
        v->setRenderHint(QPainter::Antialiasing);
        v->setMinimumHeight(220);
    }
    chartsLayout->addWidget(m_bars, 3);
    chartsLayout->addWidget(m_pie, 2);
    split->addWidget(m_charts);
    usageLayout->addWidget(split, 1);
    m_total = new QLabel(usageTab);
    m_total->setObjectName(QStringLiteral("lblTotal"));
    usageLayout->addWidget(m_total);
    usageLayout->addLayout(buildExports(usageTab));
    return usageTab;
}

QHBoxLayout *frmFleet::buildExports(QWidget *usageTab)
{
    auto *exports = new QHBoxLayout;
    auto *csv = new QPushButton(QStringLiteral("Export CSV..."), usageTab);
    csv->setObjectName(QStringLiteral("cmdExportCsv"));
    auto *html = new QPushButton(QStringLiteral("Export HTML..."), usageTab);
    html->setObjectName(QStringLiteral("cmdExportHtml"));
    auto *chart = new QPushButton(QStringLiteral("Save Chart..."), usageTab);
    chart->setObjectName(QStringLiteral("cmdSaveChart"));
    exports->addStretch();
    exports->addWidget(csv);
    exports->addWidget(html);
    exports->addWidget(chart);
    connect(csv, &QPushButton::clicked, this, &frmFleet::exportCsv);
    connect(html, &QPushButton::clicked, this, &frmFleet::exportHtml);
    connect(chart, &QPushButton::clicked, this, &frmFleet::saveChart);
    return exports;
}

QChart *frmFleet::barChart() const
{
    return m_bars->chart();
}

QChart *frmFleet::pieChart() const
{
    return m_pie->chart();
}

void frmFleet::showStatus(const QString &text, bool failure)
{
    m_status->setText(text);
    m_status->setStyleSheet(failure ? QStringLiteral("color: rgb(192, 0, 0)") : QString());
}

Archive::GroupBy frmFleet::chosenGroupBy() const
{
    return Archive::GroupBy(m_groupBy->currentData().toInt());
}

void frmFleet::setArchive(const Archive::Location &location)
{
    m_location = location;
    m_locationError.clear();
    m_archiveLabel->setText(location.kind == Archive::Location::Sqlite ? QDir::toNativeSeparators(location.path)
                                                                       : location.display());
    if (location.kind == Archive::Location::Postgres && location.password.isEmpty())
        readPasswordThenRefresh();
    else
        refresh();
}

void frmFleet::readPasswordThenRefresh()
{
    ++m_pending;
    showStatus(QStringLiteral("Reading the archive's password from the desktop's keyring..."));
    const QString display = m_location.display();
    QPointer<frmFleet> self(this);
    PasswordStore::current().read(PasswordStore::keyFor(display), this,
                                  [self, display](const PasswordStore::Answer &a) {
                                      if (!self)
                                          return;
                                      --self->m_pending;
                                      if (self->m_location.display() != display)
                                          return;  // another archive was chosen meanwhile
                                      if (a.found)
                                          self->m_location.password = a.password;
                                      self->refresh();
                                      // Without the keyring, libpq may still find it (~/.pgpass).
                                      if (!a.ok)
                                          self->showStatus(PasswordStore::failureText(a.error), true);
                                  });
}

void frmFleet::refresh()
{
    if (!m_locationError.isEmpty())
        return;
    loadLocators();
    loadUsage();
}

void frmFleet::loadLocators()
{
    const int ticket = ++m_locatorTicket;
    ++m_pending;
    const Archive::Location location = m_location;
    QPointer<frmFleet> self(this);
    using Answer = std::pair<QString, QList<Archive::LocatorSummary>>;
    m_thread->run(
        [location]() -> Answer {
            Answer a;
            Archive::Store store;
            if (openForReading(store, location, &a.first)
                && !Archive::ReadLocatorSummaries(store.database(), &a.second, &a.first))
                a.first = QStringLiteral("cannot read the archive %1: %2").arg(location.display(), a.first);
            return a;
        },
        [self, ticket](const Answer &a) {
            if (!self)
                return;
            --self->m_pending;
            if (ticket != self->m_locatorTicket)
                return;
            self->m_locators.setOverdue(self->m_overdue->value(), Clock::nowUtc());
            self->m_locators.setLocators(a.second);
            if (!a.first.isEmpty())
                self->showStatus(a.first, true);
            emit self->locatorsShown();
        });
}

void frmFleet::showUsage(const QDate &from, const QDate &to, Archive::GroupBy by)
{
    const QSignalBlocker b1(m_fromEdit), b2(m_toEdit), b3(m_groupBy);
    m_fromEdit->setDate(from);
    m_toEdit->setDate(to);
    m_groupBy->setCurrentIndex(m_groupBy->findData(int(by)));
    m_reload.stop();
    loadUsage();
}

void frmFleet::loadUsage()
{
    if (!m_locationError.isEmpty())
        return;
    const int ticket = ++m_usageTicket;
    ++m_pending;
    const Archive::Location location = m_location;
    QDate from = m_fromEdit->date(), to = m_toEdit->date();
    if (to < from)
        std::swap(from, to);
    const Archive::GroupBy by = chosenGroupBy();
    QPointer<frmFleet> self(this);
    m_thread->run(
        [location, from, to, by]() -> UsageData {
            UsageData d;
            d.from = from;
            d.to = to;
            d.by = by;
            Archive::Store store;
            if (!openForReading(store, location, &d.error))
                return d;
            if (!store.usage(from, to, &d.days, &d.error)) {
                d.error = QStringLiteral("cannot read the archive %1: %2").arg(location.display(), d.error);
                return d;
            }
            d.groups = Archive::GroupUsage(d.days, {by});
            d.whole = Archive::GroupUsage(d.days, {}).value(0);
            d.months = Archive::GroupUsage(d.days, {Archive::GroupBy::Month});
            return d;
        },
        [self, ticket](const UsageData &d) {
            if (!self)
                return;
            --self->m_pending;
            if (ticket == self->m_usageTicket)
                self->usageRead(d);
        });
}

void frmFleet::usageRead(const UsageData &d)
{
    m_from = d.from;
    m_to = d.to;
    m_days = d.days;
    m_whole = d.whole;
    m_usage.setGroups(d.by, d.groups);
    m_total->setText(
        QStringLiteral("%1: %2 in all").arg(Archive::PeriodText(d.from, d.to), Usage::PieDurationText(d.whole.total)));
    showBars(d.months);
    showPie();
    if (!d.error.isEmpty())
        showStatus(d.error, true);
    else if (m_status->styleSheet().isEmpty() || m_status->text().isEmpty())
        showStatus(QString());
    emit usageShown();
}

void frmFleet::showBars(const QList<Archive::UsageGroup> &months)
{
    auto *chart = new QChart;
    chart->setTitle(QStringLiteral("Usage per month (hours)"));
    auto *series = new QStackedBarSeries;
    QStringList categories;
    for (const Archive::UsageGroup &m : months)
        categories << m.month.toString(QStringLiteral("MM/yyyy"));
    for (int i = 0; i < ModeTable::Count; ++i) {
        auto *set = new QBarSet(Archive::ModeNameText(i));
        set->setColor(modeColour(i));
        for (const Archive::UsageGroup &m : months)
            *set << double(m.seconds[std::size_t(i)]) / 3600.0;
        series->append(set);
    }
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->append(categories);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto *y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    chart->legend()->setAlignment(Qt::AlignBottom);
    QChart *old = m_bars->chart();
    m_bars->setChart(chart);
    delete old;
}

void frmFleet::showPie()
{
    // The chosen rows, or every row when none is chosen.
    Archive::UsageGroup sum;
    const QModelIndexList rows = m_usageView->selectionModel()->selectedRows();
    const auto *proxy = static_cast<const QSortFilterProxyModel *>(m_usageView->model());
    for (const QModelIndex &r : rows) {
        const Archive::UsageGroup &g = m_usage.groups().at(proxy->mapToSource(r).row());
        for (std::size_t i = 0; i < sum.seconds.size(); ++i)
            sum.seconds[i] += g.seconds[i];
        sum.total += g.total;
    }
    if (rows.isEmpty())
        sum = m_whole;
    auto *chart = new QChart;
    chart->setTitle(rows.isEmpty()
                        ? QStringLiteral("All rows: %1").arg(Usage::PieDurationText(sum.total))
                        : QStringLiteral("%1 chosen rows: %2").arg(rows.size()).arg(Usage::PieDurationText(sum.total)));
    auto *series = new QPieSeries;
    for (int i = 0; i < ModeTable::Count; ++i) {
        const qint64 s = sum.seconds[std::size_t(i)];
        if (s <= 0)
            continue;
        QPieSlice *slice = series->append(Archive::ModeNameText(i), double(s));
        slice->setColor(modeColour(i));
        slice->setBorderColor(Qt::white);
    }
    chart->addSeries(series);
    chart->legend()->setAlignment(Qt::AlignRight);
    QChart *old = m_pie->chart();
    m_pie->setChart(chart);
    delete old;
}

void frmFleet::openImport(const QStringList &paths)
{
    if (!m_import) {
        m_import = new ImportDialog(*m_thread, this);
        connect(m_import, &ImportDialog::importEnded, this, &frmFleet::refresh);
    }
    if (!m_import->isImporting())
        m_import->setArchive(m_location);
    m_import->addPaths(paths);
    BringForward(m_import);
}

void frmFleet::openSettings()
{
    if (!m_settings) {
        m_settings = new ArchiveSettingsDialog(*m_thread, m_location, this);
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_settings, &ArchiveSettingsDialog::archiveChosen, this, &frmFleet::setArchive);
    }
    BringForward(m_settings);
}

void frmFleet::writeExport(const QString &caption, const QString &suffix, const QString &filter, bool html)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name
        = QStringLiteral("fleet-usage-%1-%2.%3")
              .arg(m_from.toString(QStringLiteral("yyyyMMdd")), m_to.toString(QStringLiteral("yyyyMMdd")), suffix);
    const QString path = Interaction::current().saveFileName(this, caption, QDir(folder).filePath(name), filter);
    if (path.isEmpty())
        return;
    // The texts of `locator-cli archive report --by … --format csv|html`,
    // made and written on the archive thread.
    const QList<Archive::GroupBy> by{m_usage.groupBy()};
    const QList<Archive::UsageGroup> groups = m_usage.groups();
    const Archive::UsageGroup whole = m_whole;
    const QList<Archive::UsageDay> days = m_days;
    const QString period = Archive::PeriodText(m_from, m_to);
    QPointer<frmFleet> self(this);
    m_thread->run(
        [=]() -> QString {
            const QString text
                = html ? Archive::UsageHtmlPage(period, by, groups, days) : Archive::UsageCsv(by, groups, whole);
            QSaveFile file(path);
            const QByteArray bytes = text.toUtf8();
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
                return QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return {};
        },
        [self, path](const QString &error) {
            if (!self)
                return;
            if (!error.isEmpty()) {
                self->showStatus(error, true);
                return;
            }
            self->showStatus(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
            emit self->exported(path);
        });
}

void frmFleet::exportCsv()
{
    writeExport(QStringLiteral("Export Usage as CSV"), QStringLiteral("csv"), QStringLiteral("CSV Files (*.csv)"),
                false);
}

void frmFleet::exportHtml()
{
    writeExport(QStringLiteral("Export Usage as HTML"), QStringLiteral("html"),
                QStringLiteral("HTML Pages (*.html *.htm)"), true);
}

void frmFleet::saveChart()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QString path = Interaction::current().saveFileName(this, QStringLiteral("Save Chart"),
                                                       QDir(folder).filePath(QStringLiteral("fleet-usage.png")),
                                                       QStringLiteral("PNG Image (*.png);;JPEG Image (*.jpg *.jpeg)"));
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool jpeg = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
    if (!jpeg && suffix != QLatin1String("png"))
        path += QStringLiteral(".png");
    // The charts as shown on their tab (laid out once it is shown).
    m_tabs->setCurrentWidget(m_usageTab);
    const QPixmap picture = m_charts->grab();
    if (picture.isNull() || !picture.save(path, jpeg ? "JPG" : "PNG", jpeg ? 90 : -1)) {
        showStatus(QStringLiteral("Could not write the chart to %1.").arg(QDir::toNativeSeparators(path)), true);
        return;
    }
    showStatus(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
    emit exported(path);
}

void frmFleet::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void frmFleet::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    if (!paths.isEmpty())
        openImport(paths);
    event->acceptProposedAction();
}

void frmFleet::closeEvent(QCloseEvent *event)
{
    // An import under way is cancelled (its file rolled back), not left
    // running behind a closed window.
    if (m_import && m_import->isImporting()) {
        m_import->cancelImport();
        BringForward(m_import);
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
