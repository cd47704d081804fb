#include "WorkingPort.h"

#include "SerialPort.h"

namespace WorkingPort {

int Open(SerialPort &port, int number)
{
    port.setDTREnable(false);
    port.setRThreshold(1);  // an event for every arrival
    port.setSThreshold(1);
    port.setOutBufferSize(50);
    port.setInBufferSize(30000);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setCommPort(number);
    const int result = port.open();
    port.setHandshakingNone();
    port.setInputLen(0);
    port.setNullDiscard(true);
    port.setEOFEnable(false);
    port.setDTREnable(true);
    return result;
}

} // namespace WorkingPort
