#pragma once

#include "core/link/PacedWriter.h"
#include "core/link/SerialPort.h"
#include "gui/common/AppState.h"
#include "gui/main/ConnectController.h"
#include "gui/main/MainWindowParts.h"
#include "gui/main/SyncController.h"
#include "gui/main/TransferController.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmMain;
}
class frmAbout;
class frmTools;
class frmPieByMonthMode2;
class frmViewData;

// The program's main window: connection, transfers, analysis entry points and setup.
//
// The handlers keep the names the behaviour is known by and hand the link's
// work to three controllers: connecting (ConnectController), transferring
// (TransferController) and syncing with the usage archive (SyncController),
// which drive the widget-free cores.
class frmMain : public QWidget
{
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    AppState &state() { return m_state; }
    Ui::frmMain *form() const { return m_ui.get(); }
    // MSComm1 carries the link, MSComm2 probes ports while connecting.
    SerialPort &MSComm1() { return m_working; }
    SerialPort &MSComm2() { return m_probe; }
    QTimer &tmrAbort() { return m_transfer.abortTimer(); }  // repeats the abort request until acknowledged
    QTimer &tmrCommsWatchdog() { return m_transfer.watchdog(); }  // declares a silent link lost
    int KeySum() const { return m_keySum; }  // the hidden shortcuts' running sum
    // A scan, a known-port test or a command is under way.
    bool linkBusy() const { return m_connect.isScanning() || m_writer.isBusy(); }

    // Start-up and shared routines.
    void Form_Load();
    void SetConnectedState(bool state);
    QString MakeLogFileName(const QString &kind) { return m_transfer.logFileName(kind); }
    void refreshIdentity() { m_parts.refreshIdentity(); }
    void OpenWorkingPort(int port) { m_connect.openWorkingPort(port); }
    // Paced sends: the working port with the long pause, the probe port with
    // the long pause, the working port with the short pause. `sent` runs
    // after the last character's pause.
    void output_string1(const QByteArray &text, PacedWriter::Done sent = {});
    void output_string2(const QByteArray &text, PacedWriter::Done sent = {});
    void output_string3(const QByteArray &text, PacedWriter::Done sent = {});

    // Connect tab.
    void cboLocators_Click() { m_connect.pickLocator(); }
    void cmdrescan_Click() { m_connect.rescan(); }
    void cmdDisconnect_Click() { m_connect.disconnectLocator(); }
    void cmdManagePorts_Click() { m_connect.managePorts(); }
    void ConnectToKnownPort(int port) { m_connect.testKnownPort(port); }
    void SearchAndConnect() { m_connect.searchAndConnect(); }

    // The working port and the Transfer tab. While a sync runs, the port's
    // events are the sync core's.
    void MSComm1_OnComm() { m_transfer.onComm(); }
    void cmdDownloadAll_Click() { m_transfer.transferAll(); }
    void cmdDownloadByDate_Click() { m_transfer.transferByDate(); }
    void cmdSync_Click() { m_sync.sync(); }
    void chkSyncOnConnect_Click();
    void cmdStop_Click();
    // From Sync until its result is shown.
    bool syncActive() const { return m_sync.isActive(); }
    void tmrAbort_Timer() { m_transfer.abortRetryTick(); }
    void tmrCommsWatchdog_Timer() { m_transfer.watchdogExpired(); }
    void dtpEnd_Change();

    // Setup tab, the hidden shortcuts and Exit.
    void chkAdvanced_Click();
    void cmdSetDate_Click();
    void cmdSetTime_Click();
    void cmdSetUser_Click();
    void txtUser_Change();
    void Form_KeyDown(int keyCode);
    void cmdExit_Click();

    // Opening data files.
    void cmdOpenExistingFile_Click();
    void cmdOpenFile_Click();
    void ReadLogFileHeader();

    // Windows this one opens (created on first use, brought forward after).
    void showAbout();
    QWidget *aboutWindow() const;
    void showTools();
    QWidget *toolsWindow() const;
    void cmdAnalyse_Click();
    void cmdFleet_Click();
    void showDataViewer();
    QWidget *dataViewer() const;

signals:
    // Windows built elsewhere are opened through these.
    void toolsWindowRequested();
    void aboutWindowRequested();
    void dataViewerRequested();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    void connectHandlers();
    void setUpControls();
    void loadStartState();
    void hideAdvancedControls();
    void showLinkClosed();
    void setConnectionControlsEnabled(bool on);
    void handLinkToTools();
    bool haveCurrentDataFile();
    void showOpenedFile(const QString &chosen);

    // Declared before the controllers, which are built over them.
    const std::unique_ptr<Ui::frmMain> m_ui;
    AppState m_state;
    PacedWriter m_writer;
    SerialPort m_working;
    SerialPort m_probe;
    MainWindowParts m_parts;
    TransferController m_transfer;
    ConnectController m_connect;
    SyncController m_sync;

    int m_keySum = 0;
    QPointer<frmAbout> m_about;
    QPointer<frmTools> m_tools;
    QPointer<frmPieByMonthMode2> m_analyse;
    QPointer<frmViewData> m_viewer;
    bool m_askedForMinimumSize = false;
};
