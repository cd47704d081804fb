#pragma once

class SerialPort;

// The working port: once a locator has answered, every command and all of
// its traffic go through this port, whose arrivals are delivered as events.
namespace WorkingPort {

// Configures the port with the working settings in their order (DTR lowered
// first, raised last) and opens it on `number`. Returns 0 or the serial
// layer's open error (8002: no such port).
int Open(SerialPort &port, int number);

} // namespace WorkingPort
