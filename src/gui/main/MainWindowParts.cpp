#include "gui/main/MainWindowParts.h"
#include "ui_frmMain.h"

#include "gui/common/AppState.h"
#include "gui/common/Lamp.h"

#include <QSignalBlocker>

void MainWindowParts::setStatus(const QString &text, const QColor &color) const
{
    setTextColor(ui.lblStatus, color);
    ui.lblStatus->setText(text);
}

void MainWindowParts::showStatusNow(const QString &text, const QColor &color) const
{
    setStatus(text, color);
    ui.lblStatus->repaint();
}

void MainWindowParts::setLamp(const QColor &color) const
{
    ui.shpMode->setFillColor(color);
}

void MainWindowParts::showIdentity(const LocatorIdentity &identity) const
{
    ui.txtModel->setText(identity.model);
    ui.txtSerialNo->setText(identity.serialNo);
    {
        const QSignalBlocker quiet(ui.txtUser);
        ui.txtUser->setText(identity.user);
    }
    ui.lblUserChars->setText(userCharsCaption(int(ui.txtUser->text().size())));
}

void MainWindowParts::refreshIdentity() const
{
    state.Identity.model = ui.txtModel->text().trimmed();
    state.Identity.serialNo = ui.txtSerialNo->text().trimmed();
    state.Identity.user = ui.txtUser->text().trimmed();
}

void MainWindowParts::offerOpenCurrent(bool on) const
{
    ui.cmdOpenFile->setEnabled(on);
    ui.lblOpenFile->setEnabled(on);
}

void MainWindowParts::offerTransferByDate(bool on) const
{
    ui.cmdDownloadByDate->setEnabled(on);
    ui.cmdSync->setEnabled(on);
}

void MainWindowParts::forgetCurrentDataFile() const
{
    state.CurrentDataFile.clear();
    ui.cmdAnalyse->setEnabled(false);
    offerOpenCurrent(false);
}

void MainWindowParts::setTextColor(QLabel *label, const QColor &color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

QString MainWindowParts::userCharsCaption(int length)
{
    const int left = 32 - length;
    return QStringLiteral("-") + (left >= 0 ? QStringLiteral(" ") : QString()) + QString::number(left)
        + QStringLiteral(" -");
}
