#pragma once

#include "core/link/PacedWriter.h"
#include "core/link/PortList.h"
#include "core/link/PortScan.h"
#include "core/link/SerialPort.h"
#include "core/link/TransferSession.h"
#include "gui/common/AppState.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace Ui {
class frmMain;
}
class QLabel;
class frmAbout;
class frmTools;
class frmPieByMonthMode2;
class frmViewData;

// The program's main window: connection, transfers, analysis entry points and setup.
//
// The link itself (paced commands, the transfer session, scans) lives in the
// widget-free core; this window shows it and forwards the user's commands.
class frmMain : public QWidget, private TransferSession::View
{
    Q_OBJECT
private:
    // Declared first: the link core below is built over them.
    Ui::frmMain *ui;
    AppState m_state;
    PacedWriter m_writer;

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    AppState &state() { return m_state; }
    Ui::frmMain *form() const { return ui; }

    // Serial ports: MSComm1 carries the link, MSComm2 probes ports while connecting.
    SerialPort MSComm1;
    SerialPort MSComm2;

private:
    TransferSession m_session;
    PortScan m_scan;

public:
    QTimer &tmrAbort;  // repeats the abort request until acknowledged
    QTimer &tmrCommsWatchdog;  // declares the link lost when the locator falls silent
    int KeySum = 0;

    // A scan, a known-port test or a command is under way.
    bool linkBusy() const;

    // Start-up and shared routines.
    void Form_Load();
    void SetConnectedState(bool state);
    QString MakeLogFileName(const QString &kind);
    // The identity boxes, trimmed, into AppState::Identity (every file naming does this first).
    void refreshIdentity();
    void OpenWorkingPort(int port);
    // Paced sends: the working port with the long pause, the probe port with
    // the long pause, the working port with the short pause. `sent` runs
    // after the last character's pause.
    void output_string1(const QByteArray &text, PacedWriter::Done sent = {});
    void output_string2(const QByteArray &text, PacedWriter::Done sent = {});
    void output_string3(const QByteArray &text, PacedWriter::Done sent = {});

    // Event handlers.
    void MSComm1_OnComm();
    void cmdDownloadAll_Click();
    void cmdDownloadByDate_Click();
    void cmdStop_Click();
    void tmrAbort_Timer();
    void tmrCommsWatchdog_Timer();
    void chkAdvanced_Click();
    void dtpEnd_Change();
    void Form_KeyDown(int keyCode);
    void cmdExit_Click();

    // Setup tab.
    void cmdSetDate_Click();
    void cmdSetTime_Click();
    void cmdSetUser_Click();
    void txtUser_Change();

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
    QWidget *analyseWindow() const;
    void showDataViewer();
    QWidget *dataViewer() const;

    static QString UserCharsCaption(int length);

    // ---- Connecting (frmMainConnect.cpp) ----
    void SearchAndConnect();
    void ScanPorts();
    void ConnectToKnownPort(int port);
    void cboLocators_Click();
    void cmdrescan_Click();
    void cmdDisconnect_Click();
    void cmdManagePorts_Click();

private:
    void onScanFinished();
    void onKnownPortTested(int port);
    bool acceptKnownPort(int port, const Protocol::ProbeResult &probe);
    bool acceptScannedPort(int port, const Protocol::ProbeResult &probe);
    void evaluateProbeReply(const QByteArray &reply);
    void showAcceptedIdentity(const LocatorIdentity &identity);
    bool openWorkingPortOrReport(int port);
    class frmPortManage *m_portEditor = nullptr;  // created on first use, owned as a child window
    QList<PortEntry> m_scanPortList;  // the port list as the running scan read it
    qsizetype m_scanListCount = 0;
    bool m_knownPortAnswered = false;
    QList<int> m_refusedPorts;  // ports the last scan was not allowed to open
public:
    // ---- end of connecting ----

signals:
    // Windows built elsewhere are opened through these.
    void toolsWindowRequested();
    void aboutWindowRequested();
    void dataViewerRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // TransferSession::View
    void onPowerDown(const QString &keptFile) override;
    void onLinkAlive(bool transferActive) override;
    void onTransferStart() override;
    void onLiveLine(const QByteArray &piece, bool fileReady) override;
    void onProgress(qint64 value) override;
    void onTransferEnd(bool aborted) override;
    void onTransferText(const QByteArray &shown) override;
    void onDataFileError(const QString &path, const QString &reason) override;
    QString newDataFileName() override;
    void onCommsError(int event) override;
    void onLinkLost(const QString &keptFile, TransferSession::LinkLoss why) override;
    void onStopping() override;
    void onStopFoundAcknowledged() override;
    void restartWatchdog();

    void setupConnecting();  // wires the connecting handlers (frmMainConnect.cpp)
    void closeWorkingPort();
    void showLinkClosed();
    void handLinkToTools();
    void forgetCurrentDataFile();
    bool haveCurrentDataFile();
    void retireStop();
    void shutDownLink();
    void showTransferProgress(const QString *monitor, const qint64 *progress);
    void applyTransferProgress();
    void dropTransferProgress();
    bool transferCommandMayStart(bool offerStop);
    void startTransfer(const QString &kind, const QByteArray &command, int pauseMs);
    void endOfCutShortTransfer(const QString &keptFile);
    void setTransferControlsIdle();
    void setStatus(const QString &text, const QColor &color);
    void setStatus(const QString &text);  // dark grey
    // The status text painted at once, before the next step of a scan or test.
    void showStatusNow(const QString &text, const QColor &color);
    static void setTextColor(QLabel *label, const QColor &color);

    QPointer<frmAbout> m_about;
    // Transfer text and progress reach the screen at most every so often.
    QTimer m_progressRefresh;
    QString m_pendingMonitor;
    qint64 m_pendingProgress = -1;
    bool m_monitorPending = false;
    QPointer<frmTools> m_tools;
    QPointer<frmPieByMonthMode2> m_analyse;
    QPointer<frmViewData> m_viewer;
    bool m_askedForMinimumSize = false;
};
