#pragma once

// Shared by the fuzz targets: a check that stops the run with the failing
// condition named, a scratch folder for the readers that need a real file,
// and a device that hands its bytes out in pieces of chosen sizes.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QList>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Unlike assert(), active in every build: a broken invariant is the finding.
#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);                          \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace fuzz {

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// One folder per process, in memory when the system has a tmpfs for it:
// file readers run thousands of times a second.
inline QString scratchDir()
{
    static QTemporaryDir dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/locator-fuzz-XXXXXX")
                                                       : QDir::tempPath() + QStringLiteral("/locator-fuzz-XXXXXX"));
    return dir.path();
}

inline QString writeScratchFile(const QString &name, const QByteArray &bytes)
{
    const QString path = scratchDir() + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        std::abort();  // the rig itself failed; nothing to learn from this input
    return path;
}

// Reads the bytes of a text in pieces whose sizes cycle through `pieces`
// (0 taken as 1), as a serial line or a slow disk may deliver them.
class ChunkedDevice : public QIODevice
{
public:
    ChunkedDevice(QByteArray text, QList<int> pieces)
        : m_text(std::move(text))
        , m_pieces(std::move(pieces))
    {
        if (m_pieces.isEmpty())
            m_pieces << 1 << 20;
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 want = qMax(1, m_pieces[m_next++ % m_pieces.size()]);
        const qint64 n = qMin(qMin(want, maxSize), qint64(m_text.size()) - m_pos);
        if (n <= 0)
            return 0;
        memcpy(data, m_text.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_text;
    QList<int> m_pieces;
    qsizetype m_next = 0;
    qint64 m_pos = 0;
};

// Lines as the data file readers define them: ended by CR LF, LF or a lone
// CR; a last line without an end still counts, nothing follows a final end.
inline QList<QByteArray> SplitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

}  // namespace fuzz
