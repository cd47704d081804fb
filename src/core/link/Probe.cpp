#include "core/link/Probe.h"

#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/PortSettings.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"

#include <QPointer>

namespace Probe {

int OpenProbePort(SerialPort &port, int number)
{
    if (port.isOpen())
        port.close();  // left open by an earlier test: start from a closed port
    PortSettings probe;
    probe.role = PortSettings::Role::Probe;
    return OpenLinkPort(port, number, probe);
}

void Exchange(PacedWriter &writer, SerialPort &port, bool extraPause, std::function<void(const QByteArray &reply)> done)
{
    QPointer<SerialPort> probe(&port);
    auto readOnce = [probe, done](bool) { done(probe && probe->isOpen() ? probe->input() : QByteArray()); };
    writer.send(port, Protocol::Preamble, Pacing::OutputPauseMs());
    writer.send(port, Protocol::Identify, Pacing::OutputPauseMs(), [&writer, probe, extraPause, readOnce](bool) {
        if (extraPause && probe && probe->isOpen())
            writer.wait(Pacing::OutputPauseMs(), readOnce);
        else
            readOnce(true);
    });
}

}  // namespace Probe
