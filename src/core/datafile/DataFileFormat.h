#pragma once

#include "core/datafile/LocatorIdentity.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The fixed head of every data file, and the names given to data files,
// troubleshooting logs and chart images.
namespace DataFileFormat {

inline constexpr char ColumnsLine[] = "Date,Time,Mode,Frequency,Measurement,Depth,Signal Strength";

QStringList ColumnLegends();

// Eight "//" lines, CR LF ended, that head every data file.
QByteArray BuildCommentBlock(const QString &columnsLine, const QStringList &legends);
QByteArray DefaultCommentBlock();

// Locator text can hold anything; a file name built from it must stay in its folder.
QString SafeNamePart(const QString &text);

// Extra values some kinds need: the by-date range ("dd-MM-yy" texts) and the chosen day.
struct NameParts
{
    QString rangeStart;
    QString rangeEnd;
    int day = 0;
    int month = 0;
    int year = 0;
};

// "DA", "DD", "TShoot" or "DAY"; any other kind gives "__". The caller appends the extension.
QString MakeLogFileName(const QString &kind, const LocatorIdentity &identity, const QDateTime &stamp,
                        const NameParts &parts = {});

// Two-digit day "-" month "-" year, as used in by-date names.
QString RangeDateText(const QDate &date);

}  // namespace DataFileFormat
