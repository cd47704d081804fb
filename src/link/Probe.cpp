#include "Probe.h"

#include "Pacing.h"
#include "Protocol.h"
#include "SerialPort.h"

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

QByteArray Exchange(SerialPort &port, bool extraPause)
{
    if (!port.isOpen())
        return {};
    Pacing::sendPaced(port, Protocol::Preamble, Pacing::outputPauseMs());
    Pacing::sendPaced(port, Protocol::Identify, Pacing::outputPauseMs());
    if (extraPause)
        Pacing::pause(Pacing::outputPauseMs());
    return port.isOpen() ? port.input() : QByteArray();
}

} // namespace Probe
