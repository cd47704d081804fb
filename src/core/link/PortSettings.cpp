#include "core/link/PortSettings.h"

#include "core/link/SerialPort.h"

int OpenLinkPort(SerialPort &port, int number, const PortSettings &settings)
{
    const bool working = settings.role == PortSettings::Role::Working;
    if (working)
        port.setDTREnable(false);
    port.setRThreshold(working ? 1 : 0);  // the probe's reply is read once, not delivered by events
    port.setSThreshold(1);
    port.setInBufferSize(SerialPort::kDefaultInBuffer);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setCommPort(number);
    int result = working ? port.open() : SerialPort::NoError;
    port.setInputLen(0);
    port.setNullDiscard(true);
    port.setEOFEnable(settings.stopAtEndOfFile);
    if (!working)
        result = port.open();
    if (result == SerialPort::NoError && !settings.writeOnOpen.isEmpty())
        port.output(settings.writeOnOpen);
    if (working)
        port.setDTREnable(true);
    return result;
}
