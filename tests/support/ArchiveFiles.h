#pragma once

#include "AnalysisFiles.h"
#include "core/datafile/DataFileFormat.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

// Data files for archive tests: the comment block, a header line naming the
// locator, one record per second from a start time, CR LF ended, and the end
// marker.
namespace ArchiveFiles {

inline QByteArray Header(const QByteArray &serial, const QByteArray &user = "BOB")
{
    QByteArray u = user.leftJustified(32, '_', true);
    return "#DA" + u + QByteArray(16, '0') + QByteArray("LOC2000").leftJustified(8, '_')
        + serial.rightJustified(8, '_');
}

inline QByteArray Record(const QDateTime &at, char mode)
{
    return at.toString(QStringLiteral("dd/MM/yy,HH:mm:ss")).toLatin1() + ',' + mode + ",33KHz,D,1.25,17";
}

// `count` seconds from `start`, modes in turn A, T, R, P.
inline QList<QByteArray> Seconds(const QDateTime &start, int count)
{
    QList<QByteArray> lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i)
        lines << Record(start.addSecs(i), "ATRP"[i % 4]);
    return lines;
}

using AnalysisFiles::DataFile;

// The path written, or empty when it could not be.
inline QString Write(const QString &path, const QByteArray &bytes)
{
    return writeFile(path, bytes) ? path : QString();
}

}  // namespace ArchiveFiles
