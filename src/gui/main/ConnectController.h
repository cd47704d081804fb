#pragma once

#include "core/link/PortList.h"
#include "core/link/PortScan.h"
#include "gui/main/MainWindowParts.h"

#include <QList>
#include <QObject>
#include <QPointer>

class TransferController;
class frmPortManage;

// Connecting to a locator as the main window does it: the known-port test
// of a chooser pick, the scan, opening the working port on the accepted
// port, Disconnect, closing the ports, and the port editor "Manage" opens.
class ConnectController : public QObject
{
    Q_OBJECT
public:
    ConnectController(const MainWindowParts &parts, TransferController &transfer);

    bool isScanning() const { return m_scan.isRunning(); }

    // The chooser filled from the port list, as start-up shows it.
    void loadChooser();
    void pickLocator();
    void rescan();
    void disconnectLocator();
    void managePorts();
    // Tests one port with the scan's machinery: one port, one more pause
    // for the locator to answer, and the known-port texts.
    void testKnownPort(int port);
    // A scan of every port; it goes on from the event loop.
    void searchAndConnect();

    void openWorkingPort(int port);
    bool anyPortOpen() const;
    // However the working port closes, the link it carried is gone: nothing
    // may watch it any more.
    void closeWorkingPort();
    void closePorts();
    // Nothing more goes out on any port: a scan stops, what is queued is
    // dropped and both ports are closed.
    void shutDown();

private:
    void scanPorts();
    void onScanFinished();
    void onKnownPortTested();
    bool knownPortNotOpened(int port, int error);
    bool acceptKnownPort(int port, const Protocol::ProbeResult &probe);
    bool acceptScannedPort(int port, const Protocol::ProbeResult &probe);
    void recordLocator(const QString &serialNo, int port);
    void evaluateProbeReply(const QByteArray &reply);
    bool openWorkingPortOrReport(int port);

    const MainWindowParts &m_parts;
    TransferController &m_transfer;
    PortScan m_scan;
    QPointer<frmPortManage> m_portEditor;  // created on first use, a child window of the main window
    QList<PortEntry> m_scanPortList;  // the port list as the running scan read it
    qsizetype m_scanListCount = 0;
    bool m_knownPortAnswered = false;
    QList<int> m_refusedPorts;  // ports the last scan was not allowed to open
};
