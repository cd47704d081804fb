#pragma once

#include "core/sync/SyncJob.h"
#include "gui/main/MainWindowParts.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

class TransferController;

// "Sync" on the Transfer tab: the sync core brings the connected locator's
// new records into the usage archive, through a data file named and written
// as "Transfer by Date" writes it, which then is the current data file.
// While the core works the working port is its own: the window's transfer
// session hears none of the port's events, and its watchdog and abort retry
// rest until the sync has ended. "Sync on connect" (remembered in
// toolkit.ini beside ports.ini) syncs when a new link's first data arrives.
class SyncController : public QObject
{
    Q_OBJECT
public:
    SyncController(const MainWindowParts &parts, TransferController &transfer);

    // Waits for a command still going out on the working port, so that no
    // character of the sync's mixes with it.
    void sync();
    // The sync's Stop: the abort exchange, what arrived kept and imported.
    void stop();
    bool isActive() const { return m_phase != Phase::Idle; }
    // The link is closing: a sync stops without waiting for the locator;
    // what arrived is imported.
    void endForClosingLink();

    // The tick box as it was left; false where there is no settings folder.
    void loadSyncOnConnect();
    void rememberSyncOnConnect(bool on);
    // A new link (true) syncs at its first data when the box is ticked.
    void armOnConnect(bool connected);

    // <AppData>/korvex/toolkit.ini; empty without an application data folder.
    QString settingsPath() const;

private:
    enum class Phase { Idle, Waiting, Running };

    void begin();
    void onFinished(const Sync::Result &result);
    void syncOnConnect();

    const MainWindowParts &m_parts;
    TransferController &m_transfer;
    Sync::SyncJob m_job;
    Phase m_phase = Phase::Idle;
    QMetaObject::Connection m_waitForWriter;
};

// The status line after a sync: its counts, why it fell short, and each
// note of the core with the window's way to fix it.
QString SyncResultText(const Sync::Result &result);
