#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QtAlgorithms>

#include <algorithm>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Where the lines of a chunk end: bit i set when character i of the 32
// starting at `chunk` ends a line (only those before `end` are looked at).
// Every CR ends a line; an LF does, unless a CR just before it did
// (`afterCR`: the character before the chunk was a CR). So a CR LF is one
// line end, at its CR. Lines are short, so finding every line end of a chunk
// at once beats a search per line.
inline quint32 LineEndMask(const char *chunk, const char *end, bool afterCR)
{
    quint32 cr = 0;
    quint32 lf = 0;
#if defined(__SSE2__)
    if (end - chunk >= 32) {
        const __m128i lfs = _mm_set1_epi8('\n');
        const __m128i crs = _mm_set1_epi8('\r');
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chunk));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chunk + 16));
        cr = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, crs)))
            | quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, crs))) << 16;
        lf = quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, lfs)))
            | quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, lfs))) << 16;
    } else
#endif
    {
        const qsizetype n = std::min<qsizetype>(32, end - chunk);
        for (qsizetype i = 0; i < n; ++i) {
            cr |= quint32(chunk[i] == '\r') << i;
            lf |= quint32(chunk[i] == '\n') << i;
        }
    }
    return cr | (lf & ~((cr << 1) | quint32(afterCR)));
}

// Streams a data file line by line in large blocks, so a reading costs one
// pass over the file and memory that does not grow with it.
//
// A line ends at CR LF, LF or a lone CR (the locator writes CR LF; any of the
// three is taken as one line end). onLine(QByteArrayView) is called for every
// line without its end and returns false to stop early. A line that spans two
// blocks is handed over cut to its first `keep` bytes: the readers here look
// only at the first few characters of a line. Returns false if reading the
// device failed.
template<class OnLine>
bool ForEachLinePrefix(QIODevice &device, OnLine &&onLine, qsizetype keep = 256)
{
    constexpr qsizetype kBlock = 1 << 20;
    // Not zero-filled: a small file touches only the pages its bytes land in.
    const auto block = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(kBlock));
    std::vector<char> carry;  // start of a line cut by the end of a block
    carry.reserve(std::size_t(keep));
    bool inLine = false;  // carry holds an unfinished line
    bool skipLeadingLF = false;

    for (;;) {
        const qint64 got = device.read(block.get(), kBlock);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        const char *p = block.get();
        const char *const end = p + got;
        if (skipLeadingLF) {
            skipLeadingLF = false;
            if (*p == '\n')
                ++p;
        }
        // p is where the next line starts.
        bool afterCR = false;
        for (const char *chunk = p; chunk < end; chunk += 32) {
            quint32 mask = LineEndMask(chunk, end, afterCR);
            afterCR = end - chunk >= 32 && chunk[31] == '\r';
            for (; mask; mask &= mask - 1) {
                const char *eol = chunk + qCountTrailingZeroBits(mask);
                bool more;
                if (inLine) {
                    const qsizetype room = keep - qsizetype(carry.size());
                    if (room > 0)
                        carry.insert(carry.end(), p, p + std::min(room, qsizetype(eol - p)));
                    more = onLine(QByteArrayView(carry.data(), qsizetype(carry.size())));
                    carry.clear();
                    inLine = false;
                } else {
                    more = onLine(QByteArrayView(p, eol - p));
                }
                if (!more)
                    return true;
                p = eol + 1;
                if (*eol == '\r') {
                    if (p < end) {
                        if (*p == '\n')
                            ++p;
                    } else {
                        skipLeadingLF = true;
                    }
                }
            }
        }
        if (p < end) {
            const qsizetype room = keep - qsizetype(carry.size());
            if (room > 0)
                carry.insert(carry.end(), p, p + std::min(room, qsizetype(end - p)));
            inLine = true;
        }
    }
    if (inLine)
        onLine(QByteArrayView(carry.data(), qsizetype(carry.size())));
    return true;
}
