#pragma once

#include <QByteArray>

class SerialPort;

// The working port: once a locator has answered, every command and all of
// its traffic go through this port, whose arrivals are delivered as events.
namespace WorkingPort {

// What differs between the users of a working port.
struct Options
{
    bool stopAtEndOfFile = false;  // the service window stops input at 0x1A
    QByteArray writeOnOpen;  // written in one go once open ("MM" in the service window)
};

// Configures the port with the working settings in their order (DTR lowered
// first, raised last) and opens it on `number`. Returns 0 or the serial
// layer's open error (8002: no such port).
int Open(SerialPort &port, int number, const Options &options = {});

}  // namespace WorkingPort
