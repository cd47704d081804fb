// The locator's answers to "MM", "#X" and "#AE" as the probe and the service
// window read them from whatever arrived, and the file names built from the
// identity they yield: a locator may send anything, and no name made from
// it may leave its folder.
#include "FuzzNames.h"
#include "FuzzSupport.h"

#include "core/datafile/DataFileFormat.h"
#include "core/link/Protocol.h"

namespace {

// Characters from..from+len-1, counted from 1, as the reply layouts give them.
QByteArray chars(const QByteArray &text, int from, int len)
{
    return text.size() < from ? QByteArray() : text.mid(from - 1, len);
}

QString withoutPadding(const QByteArray &field)
{
    return QString::fromLatin1(field).remove(QLatin1Char('_'));
}

void checkIdentity(const LocatorIdentity &id, const QByteArray &reply)
{
    FUZZ_CHECK(id.user == withoutPadding(chars(reply, 3, 32)));
    FUZZ_CHECK(id.model == withoutPadding(chars(reply, 51, 8)));
    FUZZ_CHECK(id.serialNo == withoutPadding(chars(reply, 59, 8)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = fuzz::bytesOf(data, size);

    const Protocol::ProbeResult probe = Protocol::ReadProbeReply(text);
    const qsizetype x = text.indexOf("#X");
    FUZZ_CHECK(probe.found == (x >= 0));
    if (probe.found)
        checkIdentity(probe.identity, text.mid(x));
    else
        FUZZ_CHECK(probe.identity == LocatorIdentity());
    // "Ver" at characters 27-29 names the link's firmware at 31-34.
    if (text.mid(26, 3) == "Ver")
        FUZZ_CHECK(probe.bluetoothVersion == QString::fromLatin1(chars(text, 31, 4)));
    else
        FUZZ_CHECK(probe.bluetoothVersion.isEmpty());
    const qsizetype ver = text.indexOf("Ver");
    FUZZ_CHECK(probe.firmwareText == (ver < 0 ? QString() : QString::fromLatin1(text.mid(ver, 8))));

    const LocatorIdentity direct = Protocol::ReadIdentifyFields(text);
    checkIdentity(direct, text);

    const Protocol::DateTimeReply clock = Protocol::ReadDateTimeReply(text);
    FUZZ_CHECK(clock.valid == text.startsWith("#AE"));
    if (clock.valid) {
        FUZZ_CHECK(clock.date == QString::fromLatin1(chars(text, 5, 8)));
        FUZZ_CHECK(clock.time == QString::fromLatin1(chars(text, 16, 8)));
    }

    // Names from the fixed-width fields, and from texts of any length and content.
    fuzz::checkNamesStayInFolder(probe.identity, clock.date);
    fuzz::checkNamesStayInFolder(direct, clock.time);
    const qsizetype third = text.size() / 3;
    LocatorIdentity raw;
    raw.user = QString::fromLatin1(text.left(third));
    raw.model = QString::fromLatin1(text.mid(third, third));
    raw.serialNo = QString::fromLatin1(text.mid(2 * third));
    fuzz::checkNamesStayInFolder(raw, QString::fromLatin1(text));

    const QString safe = DataFileFormat::SafeNamePart(QString::fromLatin1(text));
    FUZZ_CHECK(safe.size() == text.size());
    FUZZ_CHECK(safe.isEmpty() || fuzz::safeName(safe) || safe == QLatin1String(".") || safe == QLatin1String(".."));
    return 0;
}
