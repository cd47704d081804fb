#include "gui/main/SyncController.h"
#include "ui_frmMain.h"

#include "core/link/PacedWriter.h"
#include "core/link/SerialPort.h"
#include "gui/common/AppState.h"
#include "gui/main/TransferController.h"

#include <QLocale>
#include <QSettings>
#include <QTimer>

using namespace frmMainLook;

namespace {

const QString kSyncOnConnectKey = QStringLiteral("Transfer/SyncOnConnect");

// "1,234" whatever the system's locale: the program's texts are English.
QString number(qint64 n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString capitalised(const QString &text)
{
    return text.isEmpty() ? text : text.at(0).toUpper() + text.mid(1);
}

QString countsText(const Archive::ImportCounts &c)
{
    QString text = number(c.added) + (c.added == 1 ? QStringLiteral(" new record") : QStringLiteral(" new records"));
    if (c.duplicates > 0)
        text += QStringLiteral(", %1 already archived").arg(number(c.duplicates));
    if (c.conflicts > 0)
        text += QStringLiteral(", %1 differing from the archived ones (the archived stay)").arg(number(c.conflicts));
    return text;
}

bool linkLost(Sync::TransferJob::Outcome outcome)
{
    using Outcome = Sync::TransferJob::Outcome;
    return outcome == Outcome::PoweredDown || outcome == Outcome::PortLost || outcome == Outcome::Silent;
}

}  // namespace

QString SyncResultText(const Sync::Result &result)
{
    QString text;
    if (result.ok)
        text = QStringLiteral("Synced: ") + countsText(result.counts) + QLatin1Char('.');
    else if (result.imported)
        text = QStringLiteral("Partly synced: ") + countsText(result.counts) + QStringLiteral(". ")
            + capitalised(result.failure) + QLatin1Char('.');
    else
        text = QStringLiteral("Sync failed: ") + result.failure + QLatin1Char('.');
    for (const Sync::Note &note : result.notes) {
        text += QLatin1Char(' ') + capitalised(note.text);
        if (note.setClockFixes)
            text += QStringLiteral("; set its clock with \"Set Date\" and \"Set Time\" on the Setup tab");
        text += QLatin1Char('.');
    }
    return text;
}

SyncController::SyncController(const MainWindowParts &parts, TransferController &transfer)
    : m_parts(parts)
    , m_transfer(transfer)
{
    connect(&m_job, &Sync::SyncJob::message, this, [this](const QString &text) { m_parts.setStatus(text); });
    connect(&m_job, &Sync::SyncJob::progress, this,
            [this](qint64, qint64 barValue) { m_transfer.showSyncProgress(barValue); });
    connect(&m_job, &Sync::SyncJob::finished, this, &SyncController::onFinished);
}

// ---- Sync and Stop -----------------------------------------------------------

void SyncController::sync()
{
    if (m_phase != Phase::Idle || !m_parts.working.isOpen())
        return;
    // The window's own transfer has the port (its reply may still be on the way).
    if (m_transfer.isBusy()) {
        m_parts.setStatus(QStringLiteral("A transfer is under way: Sync can start once it has ended."));
        return;
    }
    m_transfer.showSyncStart();
    m_phase = Phase::Waiting;
    if (!m_parts.writer.isBusy())
        return begin();
    m_waitForWriter = connect(&m_parts.writer, &PacedWriter::idle, this, [this] {
        QObject::disconnect(m_waitForWriter);
        begin();
    });
}

void SyncController::begin()
{
    Archive::Location archive;
    QString error;
    if (!Archive::ChooseLocation(QString(), &archive, &error)) {
        Sync::Result failed;
        failed.failure = error;
        return onFinished(failed);
    }
    Sync::Options options;
    options.archive = archive;
    options.folder = m_parts.state.DataFolder;
    // As long a silence as the window's watchdog allows.
    options.idleSeconds = qMax(1, m_transfer.watchdog().interval() / 1000);
    m_parts.refreshIdentity();  // the file is named from the boxes, as every transfer's
    m_phase = Phase::Running;
    m_transfer.lendPort(true);
    if (!m_job.start(m_parts.working, m_parts.working.commPort(), m_parts.state.Identity, options)) {
        Sync::Result failed;
        failed.failure = QStringLiteral("a sync is running already");
        onFinished(failed);
    }
}

void SyncController::stop()
{
    if (m_phase == Phase::Running)
        return m_job.stop();
    if (m_phase == Phase::Waiting) {
        Sync::Result stopped;
        stopped.stopped = true;
        stopped.failure = QStringLiteral("stopped before it started");
        onFinished(stopped);
    }
}

void SyncController::endForClosingLink()
{
    if (m_phase == Phase::Running) {
        // Not waiting for an abort that can no longer arrive.
        m_job.stop();
        m_job.stop();
    } else if (m_phase == Phase::Waiting) {
        stop();
    }
}

void SyncController::onFinished(const Sync::Result &result)
{
    QObject::disconnect(m_waitForWriter);
    m_phase = Phase::Idle;
    m_transfer.lendPort(false);
    const bool lost = linkLost(result.transfer);
    if (lost)
        m_parts.setConnectedState(false);
    m_transfer.showSyncEnd(result.file, result.transfer == Sync::TransferJob::Outcome::Complete);
    const bool poweredDown = result.transfer == Sync::TransferJob::Outcome::PoweredDown;
    m_parts.setStatus(SyncResultText(result), poweredDown ? kRed : kDarkGrey);
}

// ---- Sync on connect ---------------------------------------------------------

QString SyncController::settingsPath() const
{
    const QString folder = m_parts.state.AppDataFolder;
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/korvex/toolkit.ini");
}

void SyncController::loadSyncOnConnect()
{
    const QString path = settingsPath();
    m_parts.ui.chkSyncOnConnect->setChecked(
        !path.isEmpty() && QSettings(path, QSettings::IniFormat).value(kSyncOnConnectKey, false).toBool());
}

void SyncController::rememberSyncOnConnect(bool on)
{
    const QString path = settingsPath();
    if (path.isEmpty())
        return;
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kSyncOnConnectKey, on);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        m_parts.setStatus(QStringLiteral("\"Sync on connect\" could not be remembered in %1.").arg(path));
}

void SyncController::armOnConnect(bool connected)
{
    if (!connected)
        return m_transfer.callOnFirstData({});
    // From the event loop: the first piece is still being handled when the hook runs.
    m_transfer.callOnFirstData([this] { QTimer::singleShot(0, this, &SyncController::syncOnConnect); });
}

void SyncController::syncOnConnect()
{
    if (m_parts.ui.chkSyncOnConnect->isChecked() && m_parts.state.Connected)
        sync();
}
