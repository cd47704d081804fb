#include "cli/LinkSupport.h"

#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/PortNaming.h"
#include "core/link/PortSettings.h"
#include "core/link/Probe.h"
#include "core/link/SerialPort.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>

namespace Cli {

namespace {

QString noSuchPort(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("%1 does not exist (no COM%2 on this computer)").arg(PortName(port)).arg(port);
#else
    const QFileInfo entry(QDir(PortNaming::PortsFolder()).filePath(QStringLiteral("COM%1").arg(port)));
    if (entry.isSymLink()) {
        return QStringLiteral("%1 does not exist (COM%2 in %3 points to %4, which is not there)")
            .arg(PortName(port))
            .arg(port)
            .arg(Native(PortNaming::PortsFolder()), Native(entry.symLinkTarget()));
    }
    if (PortNaming::TableDeviceName(port).isEmpty()) {
        return QStringLiteral("%1 does not exist (no COM%2 in %3)")
            .arg(PortName(port))
            .arg(port)
            .arg(Native(PortNaming::PortsFolder()));
    }
    return QStringLiteral("%1 does not exist (no COM%2 in %3, no %4)")
        .arg(PortName(port))
        .arg(port)
        .arg(Native(PortNaming::PortsFolder()), Native(PortNaming::DeviceShownFor(port)));
#endif
}

QString noIdentifyReply(int port, const QByteArray &reply)
{
    if (reply.isEmpty())
        return QStringLiteral("no answer on %1: no locator is switched on there").arg(PortName(port));
    return QStringLiteral("%1 answered, but with no identify reply (\"#X\")").arg(PortName(port));
}

}  // namespace

QString PortName(int port)
{
    return QStringLiteral("port %1").arg(port);
}

QString CannotOpenText(int port, const SerialPort &serial)
{
    if (serial.accessRefused()) {
        QString advice = PortNaming::RefusalAdvice(serial.devicePath());
        advice[0] = advice[0].toLower();
        return QStringLiteral("%1 could not be opened: %2").arg(PortName(port), advice);
    }
    return QStringLiteral("%1 could not be opened: %2").arg(PortName(port), serial.lastErrorText());
}

// A command line program has no window to keep alive: it waits for its
// paced commands in its own event loop, which ends when they are done.
bool SendPaced(SerialPort &port, const QByteArray &text, int pauseMs)
{
    PacedWriter writer;
    QEventLoop loop;
    bool sent = false;
    writer.send(port, text, pauseMs, [&](bool ok) {
        sent = ok;
        loop.quit();
    });
    loop.exec();
    return sent;
}

bool StartIdentify(SerialPort &probePort, PacedWriter &writer, int port, bool extraPause, IdentifyDone done,
                   QString *failure)
{
    const int opened = Probe::OpenProbePort(probePort, port);
    if (opened != SerialPort::NoError) {
        *failure = opened == SerialPort::InvalidPortNumber ? noSuchPort(port) : CannotOpenText(port, probePort);
        return false;
    }
    QPointer<SerialPort> guard(&probePort);
    Probe::Exchange(writer, probePort, extraPause, [guard, port, done = std::move(done)](const QByteArray &reply) {
        if (guard)
            guard->close();
        const Protocol::ProbeResult probe = Protocol::ReadProbeReply(reply);
        done(probe, probe.found ? QString() : noIdentifyReply(port, reply));
    });
    return true;
}

std::optional<Protocol::ProbeResult> IdentifyLocator(Context &ctx, int port, bool extraPause)
{
    SerialPort probePort;
    PacedWriter writer;
    QEventLoop loop;
    QString failure;
    Protocol::ProbeResult probe;
    if (!StartIdentify(
            probePort, writer, port, extraPause,
            [&](const Protocol::ProbeResult &answer, const QString &why) {
                probe = answer;
                failure = why;
                loop.quit();
            },
            &failure)) {
        ctx.fail(failure);
        return std::nullopt;
    }
    loop.exec();
    if (!probe.found) {
        ctx.fail(failure);
        return std::nullopt;
    }
    return probe;
}

bool OpenWorkingPort(Context &ctx, SerialPort &working, int port)
{
    const int opened = OpenLinkPort(working, port);
    if (opened == SerialPort::NoError)
        return true;
    ctx.fail(opened == SerialPort::InvalidPortNumber ? noSuchPort(port) : CannotOpenText(port, working));
    return false;
}

bool SendShortPaced(Context &ctx, SerialPort &working, int port, const QByteArray &command)
{
    // A command that did not reach the port must not be reported as sent.
    if (SendPaced(working, command, Pacing::ShortPauseMs()) && working.isOpen())
        return true;
    ctx.fail(QStringLiteral("%1 failed while sending %2").arg(PortName(port), QString::fromLatin1(command.left(3))));
    return false;
}

QString FirmwareText(const Protocol::ProbeResult &probe)
{
    if (!probe.bluetoothVersion.isEmpty())
        return Printable(probe.bluetoothVersion);
    if (!probe.firmwareText.isEmpty())
        return Printable(probe.firmwareText);
    return QStringLiteral("(not reported)");
}

}  // namespace Cli
