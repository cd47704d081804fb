// A data file's header line: found past the "//" block of a file of any
// content, and the identity read from its fixed positions. The first bytes of
// the input are the file; the identity is also read from the input as one line.
#include "FuzzNames.h"
#include "FuzzSupport.h"

#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"

namespace {

QString chars(const QByteArray &line, int from, int len)
{
    return line.size() < from ? QString() : QString::fromLatin1(line.mid(from - 1, len));
}

QString dropTrailingBlanks(QString s)
{
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

QString dropLeadingBlanks(QString s)
{
    while (s.startsWith(QLatin1Char(' ')))
        s.remove(0, 1);
    return s;
}

void checkIdentity(const QByteArray &line)
{
    const LocatorIdentity id = DataFileHeader::IdentityFromHeaderLine(line);
    FUZZ_CHECK(id.user == dropTrailingBlanks(chars(line, 4, 32)).remove(QLatin1Char('_')));
    FUZZ_CHECK(id.model == dropTrailingBlanks(chars(line, 52, 8)).remove(QLatin1Char('_')));
    FUZZ_CHECK(id.serialNo == dropLeadingBlanks(chars(line, 60, 8)).remove(QLatin1Char('_')));
    fuzz::checkNamesStayInFolder(id, id.user);
}

// The header line as the reader defines it: lines end at CR, LF or CR LF,
// "//" lines are skipped, the first other line is it, cut to the kept length,
// without its line end.
bool expectedHeader(const QByteArray &text, QByteArray *line)
{
    for (const QByteArray &l : fuzz::SplitLines(text)) {
        if (l.startsWith("//"))
            continue;
        *line = l.left(DataFileHeader::MaxHeaderLineLength);
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = fuzz::bytesOf(data, size);
    checkIdentity(text);

    const QString path = fuzz::writeScratchFile(QStringLiteral("header.csv"), text);
    DataFileHandle handle;
    QByteArray line = "untouched";
    const bool found = DataFileHeader::ReadHeaderLine(handle, path, &line);
    FUZZ_CHECK(!handle.isOpen());
    QByteArray expected;
    FUZZ_CHECK(found == expectedHeader(text, &expected));
    if (found) {
        FUZZ_CHECK(line == expected);
        checkIdentity(line);
    } else {
        FUZZ_CHECK(line == "untouched");
    }
    return 0;
}
