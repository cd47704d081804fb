#pragma once

#include "AnalysisFiles.h"
#include "core/archive/Archive.h"
#include "core/datafile/DataFileFormat.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QRegularExpression>

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

// The whole record lines of a data file (date first, line end after), as
// the archive counts them: a line the file ends part-way through is none.
inline qint64 RecordLines(const QByteArray &file)
{
    static const QRegularExpression record(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d,"));
    QList<QByteArray> lines = file.split('\n');
    lines.removeLast();
    qint64 n = 0;
    for (const QByteArray &line : lines)
        n += record.match(QString::fromLatin1(line)).hasMatch() ? 1 : 0;
    return n;
}

// The records an SQLite archive holds; -1 when it cannot be opened.
inline qint64 ArchivedRecords(const QString &path)
{
    Archive::Store store;
    Archive::Location location;
    location.path = path;
    QString error;
    if (!store.open(location, &error, Archive::Store::ExistingOnly))
        return -1;
    return store.recordCount();
}

}  // namespace ArchiveFiles
