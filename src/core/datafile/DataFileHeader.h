#pragma once

#include "core/datafile/LocatorIdentity.h"

#include <QByteArray>
#include <QString>

class DataFileHandle;

// The header line of a data file: its first line that does not begin with
// "//". It carries the locator identity at fixed positions.
namespace DataFileHeader {

// Identity from a header line: user 4-35 (trailing blanks, then "_" removed),
// model 52-59 (same), serial number 60-67 (leading blanks, then "_" removed).
// A short line gives empty or partial fields.
LocatorIdentity IdentityFromHeaderLine(const QByteArray &line);

// The fields end at character 67; a longer header line is kept only this far,
// so a hostile file (one line of a gigabyte, say) cannot exhaust memory.
inline constexpr qsizetype MaxHeaderLineLength = 4096;

// Reads the header line of the file through the handle. False when the file
// cannot be read or holds no such line. The handle is closed afterwards.
// Lines end at LF (a CR before it is dropped); "//" lines of any length are
// passed over without being held in memory.
bool ReadHeaderLine(DataFileHandle &handle, const QString &path, QByteArray *line);

}  // namespace DataFileHeader
