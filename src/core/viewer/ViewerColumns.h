#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cmath>
#include <string_view>

// The record viewer's six columns. Each header carries a type tag that
// decides how the column sorts.
namespace Viewer {

enum class ColumnType { Date, Number, Text };
enum class Align { Left, Centre };

struct Column
{
    std::string_view header;
    Align align;
    std::string_view typeTag;
    int widthTwips;
};

inline constexpr int ColumnCount = 6;
inline constexpr int DateColumn = 0;
inline constexpr int ModeColumn = 1;
inline constexpr int SignalColumn = 5;

inline constexpr std::array<Column, ColumnCount> Columns = {{
    {"Date", Align::Left, "DATE", 1700},
    {"Mode", Align::Centre, "STRING", 1700},
    {"Frequency", Align::Centre, "NUMBER", 1700},
    {"Measurement", Align::Centre, "NUMBER", 1700},
    {"Depth", Align::Centre, "NUMBER", 1700},
    {"Signal Strength", Align::Centre, "NUMBER", 1700},
}};

// Tags compare in upper case; any tag other than "DATE" and "NUMBER" sorts as text.
inline ColumnType TypeOfTag(QStringView tag)
{
    const QString upper = tag.toString().toUpper();
    if (upper == QLatin1String("DATE"))
        return ColumnType::Date;
    if (upper == QLatin1String("NUMBER"))
        return ColumnType::Number;
    return ColumnType::Text;
}

inline ColumnType TypeOfColumn(int column)
{
    const std::string_view tag = Columns[std::size_t(column)].typeTag;
    return TypeOfTag(QString::fromLatin1(tag.data(), qsizetype(tag.size())));
}

// 1440 twips to the inch.
inline int TwipsToPixels(int twips, double dotsPerInch)
{
    return int(std::lround(twips * dotsPerInch / 1440.0));
}

}  // namespace Viewer
