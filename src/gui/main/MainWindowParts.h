#pragma once

#include "gui/main/frmMainLook.h"

#include <QColor>
#include <QString>

#include <functional>

namespace Ui {
class frmMain;
}
class PacedWriter;
class QLabel;
class QWidget;
class SerialPort;
struct AppState;
struct LocatorIdentity;

// What the main window lends its controllers: the form, the state and the
// ports it owns, and the steps on the form that more than one of them
// takes. The window owns all of it and outlives the controllers.
struct MainWindowParts
{
    QWidget &window;  // parent of every message; holds the focus
    Ui::frmMain &ui;
    AppState &state;
    SerialPort &working;  // MSComm1: carries the link
    SerialPort &probe;  // MSComm2: tests ports while connecting
    PacedWriter &writer;
    // The window's switch between connected and not connected.
    std::function<void(bool state)> setConnectedState;

    // Red belongs to searching and port errors only; every other text is
    // dark grey, whatever the text before it was.
    void setStatus(const QString &text, const QColor &color = frmMainLook::kDarkGrey) const;
    // The status text painted at once, before the next step of a scan or test.
    void showStatusNow(const QString &text, const QColor &color) const;
    void setLamp(const QColor &color) const;
    // The identity boxes and the user name's counter. The user name is the
    // locator's or the file's, shown whole: the refused characters are a
    // rule for typing.
    void showIdentity(const LocatorIdentity &identity) const;
    // The identity boxes, trimmed, into AppState::Identity (every file naming does this first).
    void refreshIdentity() const;
    // "Open Current Log File" with its label.
    void offerOpenCurrent(bool on) const;
    // "Transfer by Date", and "Sync", which is offered exactly when it is.
    void offerTransferByDate(bool on) const;
    // Analyse and Open Current read the current data file; with its name
    // gone they have nothing to read.
    void forgetCurrentDataFile() const;

    static void setTextColor(QLabel *label, const QColor &color);
    // "- 20 -" for a 12-character user name.
    static QString userCharsCaption(int length);
};
