#pragma once

#include "TestFiles.h"
#include "core/datafile/DataFileFormat.h"

#include <QByteArray>
#include <QList>

// Crafted data files: the comment block a transfer writes, a header line,
// then the given lines, CR LF ended, and the end marker.
namespace AnalysisFiles {

inline const QByteArray kHeader = "#DABOB_____________________________0123456789ABCDEFLOC2000_____1234";

inline QByteArray Record(const QByteArray &date, char mode)
{
    return date + ",14:05:09," + mode + ",33KHz,D,1.25,17";
}

inline QList<QByteArray> Records(const QByteArray &date, char mode, int count)
{
    return QList<QByteArray>(count, Record(date, mode));
}

inline QByteArray DataFile(const QList<QByteArray> &lines, const QByteArray &header = kHeader)
{
    QByteArray out = DataFileFormat::DefaultCommentBlock() + header + "\r\n";
    for (const QByteArray &line : lines)
        out += line + "\r\n";
    return out + '\x1a';
}

}  // namespace AnalysisFiles
