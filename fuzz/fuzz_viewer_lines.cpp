// The record viewer's reading of a data file of any content against a plain
// reading: lines end at CR LF, LF or a lone CR, the text ends at 0x1A, "//"
// lines lead, the first other line is the header, every later non-blank line
// is a row split at its first six commas. Input: the file.
#include "FuzzSupport.h"

#include "core/viewer/ViewerRecords.h"

#include <QBuffer>

namespace {

bool blank(const QByteArray &line)
{
    for (const char c : line) {
        if (c != ' ' && c != '\t')
            return false;
    }
    return true;
}

void checkRows(const Viewer::LoadResult &got, const QByteArray &text)
{
    FUZZ_CHECK(got.ok());
    QByteArray data = text;
    if (const qsizetype eot = data.indexOf('\x1a'); eot >= 0)
        data.truncate(eot);
    const QList<QByteArray> lines = fuzz::SplitLines(data);

    qsizetype i = 0;
    while (i < lines.size() && lines[i].startsWith("//"))
        ++i;
    FUZZ_CHECK(got.headerFound == (i < lines.size()));
    if (i == lines.size()) {
        FUZZ_CHECK(got.records.rowCount() == 0);
        return;
    }
    const Viewer::ViewerIdentity id = Viewer::IdentityForViewer(lines[i]);
    FUZZ_CHECK(got.identity.user == id.user && got.identity.model == id.model && got.identity.serial == id.serial);
    FUZZ_CHECK(id.user.size() <= 32 && id.model.size() <= 8 && id.serial.size() <= 8);

    const Viewer::RecordStore &rows = got.records;
    std::array<qint64, ModeTable::Count> modes{};
    int colour = Viewer::RecordStore::NoMode;
    qsizetype row = 0;
    for (++i; i < lines.size(); ++i) {
        if (blank(lines[i]))
            continue;
        FUZZ_CHECK(row < rows.rowCount());
        const QList<QByteArray> parts = lines[i].left(Viewer::RecordStore::MaxLineLength).split(',');
        const int count = int(qMin<qsizetype>(parts.size(), Viewer::FieldCount));
        FUZZ_CHECK(rows.fieldCount(row) == count);
        for (int f = 0; f < Viewer::FieldCount; ++f)
            FUZZ_CHECK(rows.field(row, f) == (f < count ? parts[f] : QByteArray()));
        if (parts.size() >= 3 && parts[2].size() == 1 && ModeTable::IndexOf(parts[2][0]) >= 0) {
            colour = ModeTable::IndexOf(parts[2][0]);
            ++modes[std::size_t(colour)];
        }
        FUZZ_CHECK(rows.colourMode(row) == colour);
        const QByteArray first = count >= 2 ? parts[0] + "   " + parts[1] : parts[0];
        FUZZ_CHECK(rows.cellText(row, 0) == QString::fromLatin1(first));
        for (int column = 1; column < 6; ++column)
            FUZZ_CHECK(rows.cellText(row, column) == QString::fromLatin1(column + 1 < count ? parts[column + 1] : ""));
        ++row;
    }
    FUZZ_CHECK(row == rows.rowCount());
    FUZZ_CHECK(rows.modeRecords() == modes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The reader takes the whole file before it splits it, so how the device
    // hands the bytes over does not matter here; a buffer of known size keeps
    // the run fast (a device of unknown size starts with a block of 4 MB).
    QBuffer buffer;
    buffer.setData(fuzz::bytesOf(data, size));
    buffer.open(QIODevice::ReadOnly);
    checkRows(Viewer::LoadRecords(buffer), buffer.data());
    return 0;
}
