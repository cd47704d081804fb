#pragma once

#include "core/archive/Archive.h"
#include "core/archive/ArchiveUsage.h"
#include "gui/fleet/ArchiveSettingsDialog.h"
#include "gui/fleet/FleetModels.h"
#include "gui/fleet/ImportDialog.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class ArchiveThread;
class QChart;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;

// The fleet's usage from the archive: its locators (those overdue for a sync
// marked), usage grouped by locator, user, month or day over a date range
// with bars per month and a pie of the chosen rows, import of data files,
// and export as `locator-cli archive report` writes it. Every archive query
// runs on the archive thread; the window only shows what comes back.
class QHBoxLayout;

class frmFleet : public QWidget
{
    Q_OBJECT
public:
    // `database` as --database takes it; empty: the one chosen in Settings,
    // else LOCATOR_ARCHIVE or the default SQLite file.
    explicit frmFleet(const QString &database = {}, QWidget *parent = nullptr);
    ~frmFleet() override;

    // Opens the owner's Fleet window, or brings it forward when it is open.
    static frmFleet *showFor(QWidget *owner);

    const Archive::Location &archive() const { return m_location; }
    void setArchive(const Archive::Location &location);
    void refresh();  // re-reads the locators and the usage

    // Usage over [from, to] grouped by `by`; shown once read.
    void showUsage(const QDate &from, const QDate &to, Archive::GroupBy by);
    void openImport(const QStringList &paths = {});
    void openSettings();
    void exportCsv();
    void exportHtml();
    void saveChart();

    // For tests and the start-up picture.
    Fleet::LocatorModel &locatorModel() { return m_locators; }
    Fleet::UsageModel &usageModel() { return m_usage; }
    QTableView *usageView() const { return m_usageView; }
    QTableView *locatorView() const { return m_locatorView; }
    QSpinBox *overdueDays() const { return m_overdue; }
    QLabel *statusLabel() const { return m_status; }
    QLabel *totalLabel() const { return m_total; }
    QChart *barChart() const;
    QChart *pieChart() const;
    ImportDialog *importDialog() const { return m_import; }
    ArchiveSettingsDialog *settingsDialog() const { return m_settings; }
    const QList<Archive::UsageDay> &usageDays() const { return m_days; }
    bool busy() const { return m_pending > 0; }

signals:
    void locatorsShown();
    void usageShown();
    void exported(const QString &path);  // a file written by Export or Save Chart

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct UsageData;
    void buildWindow();
    QHBoxLayout *buildHeader();
    QWidget *buildLocatorsTab();
    QWidget *buildUsageTab();
    QHBoxLayout *buildExports(QWidget *usageTab);
    void readPasswordThenRefresh();
    void loadLocators();
    void loadUsage();
    void usageRead(const UsageData &data);
    void showBars(const QList<Archive::UsageGroup> &months);
    void showPie();
    void showStatus(const QString &text, bool failure = false);
    void writeExport(const QString &caption, const QString &suffix, const QString &filter, bool html);
    Archive::GroupBy chosenGroupBy() const;

    Archive::Location m_location;
    QString m_locationError;
    Fleet::LocatorModel m_locators;
    Fleet::UsageModel m_usage;
    QList<Archive::UsageDay> m_days;
    Archive::UsageGroup m_whole;
    QDate m_from, m_to;
    int m_locatorTicket = 0;
    int m_usageTicket = 0;
    int m_pending = 0;
    QTimer m_reload;

    QLabel *m_archiveLabel = nullptr;
    QLabel *m_status = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTableView *m_locatorView = nullptr;
    QSpinBox *m_overdue = nullptr;
    QDateEdit *m_fromEdit = nullptr;
    QDateEdit *m_toEdit = nullptr;
    QComboBox *m_groupBy = nullptr;
    QTableView *m_usageView = nullptr;
    QLabel *m_total = nullptr;
    QWidget *m_usageTab = nullptr;
    QWidget *m_charts = nullptr;
    QChartView *m_bars = nullptr;
    QChartView *m_pie = nullptr;
    QPointer<ImportDialog> m_import;
    QPointer<ArchiveSettingsDialog> m_settings;
    // Last: ended first, so no job's answer reaches a member already gone.
    std::unique_ptr<ArchiveThread> m_thread;
};
