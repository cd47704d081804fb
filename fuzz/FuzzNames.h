#pragma once

// Names built from what a locator or a file says (data files, day images,
// troubleshooting logs) must stay plain names inside their folder.

#include "FuzzSupport.h"

#include "core/datafile/DataFileFormat.h"

#include <QDateTime>
#include <QFileInfo>

namespace fuzz {

inline bool safeName(const QString &name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || u == '/' || u == '\\' || u == ':' || u == '*' || u == '?' || u == '"' || u == '<'
            || u == '>' || u == '|')
            return false;
    }
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

inline void checkNamesStayInFolder(const LocatorIdentity &id, const QString &rangeText)
{
    const QString folder = QStringLiteral("/home/u/Documents/korvex/data");
    DataFileFormat::NameParts parts;
    parts.rangeStart = rangeText;
    parts.rangeEnd = rangeText;
    parts.day = 7;
    parts.month = 3;
    parts.year = 26;
    const QDateTime stamp(QDate(2026, 3, 7), QTime(9, 8, 7), Qt::UTC);  // no time zone look-ups
    for (const char *kind : {"DA", "DD", "DAY", "TShoot"}) {
        const QString name = DataFileFormat::MakeLogFileName(QString::fromLatin1(kind), id, stamp, parts);
        FUZZ_CHECK(safeName(name));
        const QFileInfo where(QDir(folder).filePath(name + QStringLiteral(".csv")));
        FUZZ_CHECK(where.absolutePath() == folder);
    }
}

}  // namespace fuzz
