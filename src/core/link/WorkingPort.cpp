#include "core/link/WorkingPort.h"

#include "core/link/SerialPort.h"

namespace WorkingPort {

int Open(SerialPort &port, int number, const Options &options)
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
    port.setEOFEnable(options.stopAtEndOfFile);
    if (result == 0 && !options.writeOnOpen.isEmpty())
        port.output(options.writeOnOpen);
    port.setDTREnable(true);
    return result;
}

}  // namespace WorkingPort
