#pragma once

#include "core/usage/ModeTable.h"
#include "core/viewer/BigArray.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <string>

class DataFileHandle;
class QIODevice;

// Every record line of a data file as the viewer lists it. The file's bytes
// are kept as read, in one block; a row is only where its line starts and the
// colour it is drawn in, and its fields are found again when asked for. So a
// month of logging (millions of rows) costs little more than the file itself.
namespace Viewer {

inline constexpr int FieldCount = 7;  // date, time, mode, frequency, measurement, depth, signal strength

// The identity as the viewer shows it: the user exactly as stored (blanks and
// "_" kept), model and serial number with each "_" turned into a blank.
struct ViewerIdentity
{
    QString user;
    QString model;
    QString serial;
};

ViewerIdentity IdentityForViewer(QByteArrayView headerLine);

class RecordStore
{
public:
    // No recognised mode yet: the rows are drawn in black.
    static constexpr int NoMode = -1;
    // Only the start of a longer line is split into fields; a record is a few
    // dozen characters.
    static constexpr qsizetype MaxLineLength = 65535;

    using Text = BigVector<char>;

    // The fields of one line, split at "," (up to seven; the rest of the line
    // is not shown).
    struct Fields
    {
        const char *line = nullptr;
        int count = 0;  // 1 to 7
        std::array<quint16, FieldCount> end{};  // end of field i, counted from line
        QByteArrayView field(int i) const
        {
            if (i < 0 || i >= count)
                return {};
            const int start = i == 0 ? 0 : end[std::size_t(i) - 1] + 1;
            return QByteArrayView(line + start, end[std::size_t(i)] - start);
        }
    };

    // Adds a row for a record line (without its line end). The row takes
    // the colour of its mode, or keeps that of the row before when the mode
    // field is not exactly one of the four mode letters (such a row counts
    // towards no mode).
    void addLine(QByteArrayView line);

    // Reading a whole file: the store takes the bytes as read, and rows are
    // added for the lines that start at the given offsets. A line ends at CR,
    // LF or the end of the text.
    void setText(Text text) { m_text = std::move(text); }
    void addRow(qsizetype offset);
    void reserveRows(qsizetype rows) { m_rows.reserve(std::size_t(rows)); }

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    // The row's fields; with `upTo`, only fields 0..upTo are looked for.
    Fields fields(qsizetype row, int upTo = FieldCount - 1) const;
    int fieldCount(qsizetype row) const { return fields(row).count; }
    // Field 0..6 of a row; empty when the line had fewer fields.
    QByteArrayView field(qsizetype row, int field) const { return fields(row).field(field); }
    // The text of column 0..5: the date, three blanks and the time in the
    // first column (just the date when the line has no time field), then
    // fields 3 to 7 as stored.
    QString cellText(qsizetype row, int column) const;
    // Mode table index of the row's colour, or NoMode.
    int colourMode(qsizetype row) const { return int(m_rows[std::size_t(row)] >> ColourShift) - 1; }

    // Records per mode, in mode table order; rows of no mode count nowhere.
    const std::array<qint64, ModeTable::Count> &modeRecords() const { return m_modeRecords; }
    qint64 totalRecords() const;

private:
    // A row: offset of its line in the text, and in the top bits its
    // colour, the mode table index + 1 (0 before any recognised mode).
    static constexpr int ColourShift = 61;
    static constexpr quint64 OffsetMask = (quint64(1) << ColourShift) - 1;

    Text m_text;
    BigVector<quint64> m_rows;
    std::array<qint64, ModeTable::Count> m_modeRecords{};
    quint64 m_colour = 0;
};

// The cell of column 0..5 as bytes; the date column joins two fields in
// `scratch`, the others are views into the line.
QByteArrayView CellBytes(const RecordStore::Fields &fields, int column, std::string &scratch);

struct LoadResult
{
    enum class Status {
        Ok,
        CannotOpen,
        ReadFailed,  // opened, but reading stopped part way; the rows read so far are kept
    };
    Status status = Status::Ok;
    QString detail;  // the system's reason, when there is one
    bool headerFound = false;  // false: the file holds no line that does not begin with "//"
    ViewerIdentity identity;
    RecordStore records;

    bool ok() const { return status == Status::Ok; }
};

// Reads a data file from an open device: lines beginning with "//" are
// passed over, the first other line is the header line, every later line that
// is not empty (or only blanks) is a row. Lines end at CR LF, LF or a lone
// CR. The end-of-text character 0x1A ends the data, as it ends a transfer.
LoadResult LoadRecords(QIODevice &device);

// The viewer's reading of a data file: the exclusive-open test on the
// process's data file slot (releasing whatever it holds), then the file read
// through a handle of the viewer's own. A transfer writing through the slot
// is left alone: the test would close its file.
LoadResult LoadRecordsFile(DataFileHandle &slot, const QString &path);

// The three pieces of a usage total as its labels show them:
// "1 Hrs", "5 Mins", "7 Secs".
std::array<QString, 3> DurationPieces(qint64 seconds);

}  // namespace Viewer
