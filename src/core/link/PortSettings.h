#pragma once

#include <QByteArray>

class SerialPort;

// How a port to the locator is set up each time it opens. Every such port
// gets the same line settings and buffer; the roles differ only in what is
// here.
struct PortSettings
{
    // A working port raises an event for every arrival, has DTR lowered
    // before the settings and raised after them, and opens right after its
    // number is set. The probe is polled, leaves DTR as the device has it and
    // opens after its last setting.
    enum class Role { Working, Probe };

    Role role = Role::Working;
    bool stopAtEndOfFile = false;  // the service window stops input at 0x1A
    QByteArray writeOnOpen;  // written in one go once open ("MM" in the service window)
};

// Applies the settings of the role in their fixed order and opens the port
// on `number`. Returns 0 or the serial layer's open error (8002: no such port).
int OpenLinkPort(SerialPort &port, int number, const PortSettings &settings = {});
