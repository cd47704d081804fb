#include "core/viewer/ViewerRecords.h"

#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageTexts.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>

namespace Viewer {

namespace {

constexpr char EndOfText = '\x1a';

// Characters first..first+length-1 of a line, counted from 1; those past its
// end are simply absent.
QString latinField(QByteArrayView line, qsizetype first, qsizetype length)
{
    const qsizetype from = first - 1;
    if (from >= line.size())
        return {};
    return QString::fromLatin1(line.sliced(from, std::min(length, line.size() - from)));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// The fields of the line, splitting no further than field `upTo` (the
// count then is at most upTo + 1).
RecordStore::Fields split(const char *line, const char *textEnd, int upTo = FieldCount - 1)
{
    RecordStore::Fields f;
    f.line = line;
    const char *const limit = line + std::min<qsizetype>(textEnd - line, RecordStore::MaxLineLength);
    const char *p = line;
    int n = 0;
    for (; p < limit && !isLineEnd(*p); ++p) {
        if (*p == ',') {
            f.end[std::size_t(n++)] = quint16(p - line);
            if (n > upTo) {
                f.count = n;
                return f;
            }
        }
    }
    f.end[std::size_t(n++)] = quint16(p - line);
    f.count = n;
    return f;
}

}  // namespace

ViewerIdentity IdentityForViewer(QByteArrayView headerLine)
{
    ViewerIdentity id;
    id.user = latinField(headerLine, 4, 32);
    id.model = latinField(headerLine, 52, 8).replace(QLatin1Char('_'), QLatin1Char(' '));
    id.serial = latinField(headerLine, 60, 8).replace(QLatin1Char('_'), QLatin1Char(' '));
    return id;
}

void RecordStore::addLine(QByteArrayView line)
{
    const qsizetype offset = qsizetype(m_text.size());
    m_text.insert(m_text.end(), line.begin(), line.end());
    m_text.push_back('\n');
    addRow(offset);
}

void RecordStore::addRow(qsizetype offset)
{
    // Row numbers are ints to the view and 32-bit in the sort order.
    if (m_rows.size() >= std::size_t(std::numeric_limits<int>::max()))
        return;
    const Fields f = split(m_text.data() + offset, m_text.data() + m_text.size(), 2);
    const QByteArrayView mode = f.field(2);
    if (mode.size() == 1) {
        const int index = ModeTable::IndexOf(mode[0]);
        if (index >= 0) {
            m_colour = quint64(index + 1);
            ++m_modeRecords[std::size_t(index)];
        }
    }
    m_rows.push_back(quint64(offset) | (m_colour << ColourShift));
}

RecordStore::Fields RecordStore::fields(qsizetype row, int upTo) const
{
    const quint64 offset = m_rows[std::size_t(row)] & OffsetMask;
    return split(m_text.data() + offset, m_text.data() + m_text.size(), std::clamp(upTo, 0, FieldCount - 1));
}

QByteArrayView CellBytes(const RecordStore::Fields &fields, int column, std::string &scratch)
{
    if (column != 0)
        return fields.field(column + 1);
    const QByteArrayView date = fields.field(0);
    if (fields.count < 2)
        return date;
    const QByteArrayView time = fields.field(1);
    scratch.assign(date.data(), std::size_t(date.size()));
    scratch.append("   ");
    scratch.append(time.data(), std::size_t(time.size()));
    return QByteArrayView(scratch.data(), qsizetype(scratch.size()));
}

QString RecordStore::cellText(qsizetype row, int column) const
{
    std::string scratch;
    return QString::fromLatin1(CellBytes(fields(row), column, scratch));
}

qint64 RecordStore::totalRecords() const
{
    qint64 total = 0;
    for (const qint64 n : m_modeRecords)
        total += n;
    return total;
}

namespace {

// Everything the device holds from its position on, read straight into the
// block the rows will point into; false if a read failed (what was read
// before is kept).
bool readAll(QIODevice &device, RecordStore::Text &text)
{
    constexpr std::size_t Step = 4 << 20;
    const qint64 expected = device.isSequential() ? 0 : device.size() - device.pos();
    // One byte more than expected, so the end shows without growing the block.
    text.resize(expected > 0 ? std::size_t(expected) + 1 : Step);
    std::size_t got = 0;
    bool ok = true;
    for (;;) {
        if (got == text.size())
            text.resize(got + std::max(Step, got / 4));
        const qint64 n = device.read(text.data() + got, qint64(text.size() - got));
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        got += std::size_t(n);
    }
    text.resize(got);
    return ok;
}

}  // namespace

LoadResult LoadRecords(QIODevice &device)
{
    LoadResult out;
    RecordStore::Text text;
    if (!readAll(device, text)) {
        out.status = LoadResult::Status::ReadFailed;
        out.detail = device.errorString();
    }
    if (const void *eot = std::memchr(text.data(), EndOfText, text.size()))
        text.resize(std::size_t(static_cast<const char *>(eot) - text.data()));

    RecordStore &records = out.records;
    // A record takes some 35 bytes; room reserved and never touched costs no memory.
    records.reserveRows(qsizetype(text.size() / 16 + 1));
    const char *const begin = text.data();
    const char *const end = begin + text.size();
    records.setText(std::move(text));  // the block moves, the pointers stay good
    bool inHead = true;
    const char *p = begin;
    while (p < end) {
        const char *eol = p;
        while (eol < end && !isLineEnd(*eol))
            ++eol;
        if (inHead) {
            const QByteArrayView line(p, eol - p);
            if (!line.startsWith("//")) {
                inHead = false;
                out.headerFound = true;
                out.identity = IdentityForViewer(line);
            }
        } else if (std::any_of(p, eol, [](char c) { return !isBlank(c); })) {
            records.addRow(p - begin);
        }
        p = eol;
        if (p < end)
            p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    }
    return out;
}

LoadResult LoadRecordsFile(DataFileHandle &slot, const QString &path)
{
    if (!slot.isWriting() && FileLocked(slot, path))
        slot.close();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LoadResult out;
        out.status = LoadResult::Status::CannotOpen;
        out.detail = file.errorString();
        return out;
    }
    return LoadRecords(file);
}

std::array<QString, 3> DurationPieces(qint64 seconds)
{
    const QStringList pieces = Usage::FormatDuration(seconds).split(QLatin1Char(','));
    std::array<QString, 3> out;
    for (std::size_t i = 0; i < out.size() && qsizetype(i) < pieces.size(); ++i)
        out[i] = pieces[qsizetype(i)];
    return out;
}

}  // namespace Viewer
