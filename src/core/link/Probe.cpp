#include "core/link/Probe.h"

#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"

#include <QPointer>

namespace Probe {

int OpenProbePort(SerialPort &port, int number)
{
    if (port.isOpen())
        port.close();  // left open by an earlier test: start from a closed port
    port.setRThreshold(0);  // polled: the reply is read once, not delivered by events
    port.setSThreshold(1);
    port.setOutBufferSize(50);
    port.setInBufferSize(30000);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setCommPort(number);
    port.setHandshakingNone();
    port.setInputLen(0);
    port.setNullDiscard(true);
    port.setEOFEnable(false);
    return port.open();
}

void Exchange(PacedWriter &writer, SerialPort &port, bool extraPause, std::function<void(const QByteArray &reply)> done)
{
    QPointer<SerialPort> probe(&port);
    auto readOnce = [probe, done](bool) { done(probe && probe->isOpen() ? probe->input() : QByteArray()); };
    writer.send(port, Protocol::Preamble, Pacing::outputPauseMs());
    writer.send(port, Protocol::Identify, Pacing::outputPauseMs(), [&writer, probe, extraPause, readOnce](bool) {
        if (extraPause && probe && probe->isOpen())
            writer.wait(Pacing::outputPauseMs(), readOnce);
        else
            readOnce(true);
    });
}

}  // namespace Probe
