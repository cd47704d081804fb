// ports.ini of any content: both readings against a plain split of the file,
// and what is saved reads back the same.
#include "FuzzSupport.h"

#include "core/link/PortList.h"

namespace {

// Entry lines as the file defines them: line 1 skipped, lines end at LF (a CR
// before it dropped), only lines with a comma are entries.
QList<QByteArray> expectedEntryLines(const QByteArray &text)
{
    QList<QByteArray> out;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray l = lines[i];
        if (l.endsWith('\r'))
            l.chop(1);
        if (l.contains(','))
            out << l;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int maxEntries = data[0] % 8;
    const QByteArray text = fuzz::bytesOf(data + 1, size - 1);
    const QString path = fuzz::writeScratchFile(QStringLiteral("ports.ini"), text);
    const QList<QByteArray> lines = expectedEntryLines(text);

    const QList<PortEntry> loaded = PortList::LoadPortList(path);
    FUZZ_CHECK(loaded.size() == lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> parts = lines[i].split(',');
        FUZZ_CHECK(loaded[i].serialNo == QString::fromLatin1(parts[0]));
        FUZZ_CHECK(loaded[i].port == QString::fromLatin1(parts[1]));
        const int n = PortList::PortNumber(loaded[i].port);
        bool ok = false;
        const int direct = loaded[i].port.trimmed().toInt(&ok);
        FUZZ_CHECK(n == (ok ? direct : 0));
    }

    const QList<PortEntry> scan = PortList::ReadForScan(path, maxEntries);
    FUZZ_CHECK(scan.size() == qMin(qsizetype(maxEntries), lines.size()));
    for (qsizetype i = 0; i < scan.size(); ++i) {
        const qsizetype comma = lines[i].indexOf(',');
        FUZZ_CHECK(scan[i].serialNo == QString::fromLatin1(lines[i].left(comma)));
        FUZZ_CHECK(scan[i].port == QString::fromLatin1(lines[i].mid(comma + 1)));
    }

    // The editor saves what it loaded; reading it back gives the same list.
    const QString saved = fuzz::scratchDir() + QStringLiteral("/saved/ports.ini");
    FUZZ_CHECK(PortList::SavePortList(saved, loaded));
    FUZZ_CHECK(PortList::LoadPortList(saved) == loaded);

    // A scan appends the locator it found; the earlier entries stay as they were.
    if (!loaded.isEmpty()) {
        const PortEntry found = loaded.first();
        FUZZ_CHECK(PortList::AppendPortEntry(path, found));
        const QList<PortEntry> after = PortList::LoadPortList(path);
        FUZZ_CHECK(after.size() == loaded.size() + 1);
        FUZZ_CHECK(after.first(loaded.size()) == loaded);
        FUZZ_CHECK(after.last() == found);
    }
    return 0;
}
