#pragma once

#include "core/datafile/LocatorIdentity.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>

// The locator's text commands and the replies we read. Commands carry no
// terminator; replies are unframed and tested as whatever has arrived.
namespace Protocol {

inline constexpr char Preamble[] = "MM";
inline constexpr char Identify[] = "#X";
inline constexpr char StartLive[] = "#FV";
inline constexpr char TransferAll[] = "#DA";
inline constexpr char TransferByDate[] = "#DD";
inline constexpr char Abort[] = "A";
inline constexpr char ToolsAbort[] = "#A";
inline constexpr char ReadDateTime[] = "#AE";
inline constexpr char ClearMemory[] = "#CA";
inline constexpr char ResetMemoryPointer[] = "#FW0000";
inline constexpr char PowerDownNotice[] = "#PD";
inline constexpr char AbortReply[] = "ABORT";
inline constexpr char EndMarker = '\x1a';

QByteArray SetDateCommand(const QDate &date);  // #DSdd/MM/yy
QByteArray SetTimeCommand(const QTime &time);  // #TSHH:mm:ss
QByteArray SetUserCommand(const QString &user);  // #FT + name blank-padded to 32
QByteArray SetSerialModelCommand(const QString &serialNo, const QString &model);  // #SS model(8) serial(8)
// Range dates as "dd-MM-yy"; the wire form uses "/".
QByteArray TransferByDateCommand(const QString &rangeStart, const QString &rangeEnd);

QString PadRight(const QString &text, int width);

bool HasTransferStart(const QByteArray &piece);
bool HasEndMarker(const QByteArray &piece);
bool IsLiveLine(const QByteArray &piece);

// Fields of an identify reply that starts with "#X".
LocatorIdentity ReadIdentifyFields(const QByteArray &reply);

// What one read of the probe port tells (the answer to "MM" and "#X" together).
struct ProbeResult
{
    bool found = false;  // an identify reply was present
    LocatorIdentity identity;
    QString bluetoothVersion;  // characters 31-34 when 27-29 read "Ver"; empty otherwise
    QString firmwareText;  // 8 characters from the first "Ver", if any
};
ProbeResult ReadProbeReply(const QByteArray &text);

// "#AE" reply of the service window: date and time, 8 characters each.
struct DateTimeReply
{
    bool valid = false;
    QString date;
    QString time;
};
DateTimeReply ReadDateTimeReply(const QByteArray &text);

}  // namespace Protocol
