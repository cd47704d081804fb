#pragma once

#include "core/link/PacedWriter.h"
#include "core/link/SerialPort.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace Ui {
class frmTools;
}
class QCloseEvent;
class QLineEdit;
struct AppState;

// The service tools window: a maintenance console on a port of its own.
// It asks for the password and the port in Form_Load, shows and logs every
// piece the locator sends, and sends the maintenance commands.
//
// It is a top-level window that deletes itself once closed (closing also
// closes its port); the troubleshooting log it started stays open for the
// rest of the process.
class frmTools : public QWidget
{
    Q_OBJECT
public:
    explicit frmTools(AppState &state, QWidget *parent = nullptr);
    ~frmTools() override;

    Ui::frmTools *form() const { return ui; }
    // Copies the main window's identity boxes into AppState::Identity; run
    // before the log is named, as naming any file does.
    void setIdentityRefresh(std::function<void()> refresh) { m_refreshIdentity = std::move(refresh); }
    QLineEdit *txtMonitor(int index) const;  // 0 (newest) to 5

    SerialPort MSComm1;

    // Start-up: password, show, port, log. False when the password was
    // refused: the program is then ending and this window deletes itself.
    bool Form_Load();
    // Opens MSComm1 on the port typed in txtPort; false (and the reason on
    // the status line) when that is not possible.
    bool OpenToolsPort();

    void MSComm1_OnComm();
    void txtUser_Change();

    void cmdReadDateTime_Click();
    void cmdReadStoredParameters_Click();
    void cmdClearMem_Click();
    void cmdResetMemPointer_Click();
    void cmdSetSerialModel_Click();
    void cmdSetDate_Click();
    void cmdSetTime_Click();
    void cmdSetUser_Click();
    void cmdSend_Click();
    void cmdStop_Click();
    void cmdOpenFile_Click();
    void cmdOpenPort_Click();

    // Output routines: one character at a time, long or short pause after
    // each. False (nothing sent) when the port is not open or another
    // command is still going out; `sent` runs after the last pause (ok false
    // when the port went away before the end; not at all when Stop dropped it).
    bool SendQuery(const QByteArray &text, std::function<void(bool ok)> sent = {});
    bool SendCommand(const QByteArray &text, std::function<void(bool ok)> sent = {});
    bool isSending() const { return m_writer.isBusy(); }

    // "-" + (32 - length) + " left-".
    static QString userCharsCaption(qsizetype length);
    // A whole COM port number 1 to 256, rounded to the nearest whole number.
    static bool parsePortNumber(const QString &text, int *number);

    // Closes every file the program may hold open (the data file slot and
    // the troubleshooting log) so that ending at once loses nothing.
    static void closeOpenFiles();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool readyToSend() const;
    // The command's number, 0 when nothing was sent.
    quint64 sendPaced(const QByteArray &text, int pauseMs, std::function<void(bool)> sent);
    void closePort();
    quint64 runButton(const QString &first, const QByteArray &command, bool query, const QString &second);
    void startLog();
    void logPiece(const QByteArray &piece);
    void setStatus(const QString &text, bool error = false);
    void setPortControls();
    void onPortLost();

    Ui::frmTools *ui;
    AppState &m_state;
    std::function<void()> m_refreshIdentity;
    QPointer<QWidget> m_focusBeforeDisabling;
    QLineEdit *m_monitor[6] = {};
    int m_openPort = 0;  // port MSComm1 was opened on, 0 if none
    PacedWriter m_writer;
    quint64 m_stopCommand = 0;  // the abort going out, 0 if none
    bool m_logErrorShown = false;
};
