#pragma once

#include "AppState.h"
#include "ReceiveHandler.h"
#include "SerialPort.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace Ui { class frmMain; }
class QLabel;
class frmAbout;
class frmTools;
class frmPieByMonthMode2;
class frmViewData;

// The program's main window: connection, transfers, analysis entry points and setup.
class frmMain : public QWidget, private ReceiveView
{
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    AppState &state() { return m_state; }
    Ui::frmMain *form() const { return ui; }

    // Serial ports: MSComm1 carries the link, MSComm2 probes ports while connecting.
    SerialPort MSComm1;
    SerialPort MSComm2;
    QTimer tmrAbort;          // repeats the abort request until acknowledged
    QTimer tmrCommsWatchdog;  // declares the link lost when the locator falls silent
    int KeySum = 0;

    // Start-up and shared routines.
    void Form_Load();
    void SetConnectedState(bool state);
    QString MakeLogFileName(const QString &kind);
    // The identity boxes, trimmed, into AppState::Identity (every file naming does this first).
    void refreshIdentity();
    void OpenWorkingPort(int port);
    void output_string1(const QByteArray &text);
    void output_string2(const QByteArray &text);
    void output_string3(const QByteArray &text);
    static void OutputPause();

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
    int openProbePort(int port);
    QByteArray readProbePort(bool extraPause);
    void showAcceptedIdentity(const LocatorIdentity &identity);
    bool openWorkingPortOrReport(int port);
    class frmPortManage *m_portEditor = nullptr;  // created on first use, owned as a child window
    bool m_connecting = false;                     // a scan or known-port test is running
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

private:
    // ReceiveView
    void onPowerDown(const QString &keptFile) override;
    void onLinkAlive(bool transferActive) override;
    void onTransferStart() override;
    void onLiveLine(const QByteArray &piece, bool fileReady) override;
    void onProgress(qint64 value) override;
    void onTransferEnd(bool aborted) override;
    void onTransferText(const QByteArray &shown) override;
    void onDataFileError(const QString &path, const QString &reason) override;
    QString newDataFileName() override;
    void restartWatchdog() override;

    void setupConnecting();  // wires the connecting handlers (frmMainConnect.cpp)
    void linkLost();
    void showTransferProgress(const QString *monitor, const qint64 *progress);
    void applyTransferProgress();
    void dropTransferProgress();
    bool startTransferFile(const QString &kind);
    void endOfCutShortTransfer(const QString &keptFile);
    void setTransferControlsIdle();
    void setStatus(const QString &text, const QColor &color);
    void setStatus(const QString &text);
    static void setTextColor(QLabel *label, const QColor &color);
    static void DoEvents();

    Ui::frmMain *ui;
    AppState m_state;
    QPointer<frmAbout> m_about;
    // Transfer text and progress reach the screen at most every so often.
    QTimer m_progressRefresh;
    QString m_pendingMonitor;
    qint64 m_pendingProgress = -1;
    bool m_monitorPending = false;
    QPointer<frmTools> m_tools;
    QPointer<frmPieByMonthMode2> m_analyse;
    QPointer<frmViewData> m_viewer;
    ReceiveHandler m_receive;
};
