#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QtAlgorithms>

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first CR or LF in [p, end), or end. Lines are short, so one pass that
// looks for both beats a library search for each.
inline const char *FindLineEnd(const char *p, const char *end)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        if (hits)
            return p + qCountTrailingZeroBits(quint32(hits));
        p += 16;
    }
#endif
    while (p < end && *p != '\n' && *p != '\r')
        ++p;
    return p;
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
template <class OnLine>
bool ForEachLinePrefix(QIODevice &device, OnLine &&onLine, qsizetype keep = 256)
{
    constexpr qsizetype kBlock = 1 << 20;
    std::vector<char> block(static_cast<std::size_t>(kBlock));
    std::vector<char> carry;  // start of a line cut by the end of a block
    carry.reserve(std::size_t(keep));
    bool inLine = false;      // carry holds an unfinished line
    bool skipLeadingLF = false;

    for (;;) {
        const qint64 got = device.read(block.data(), kBlock);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        const char *p = block.data();
        const char *const end = p + got;
        if (skipLeadingLF) {
            skipLeadingLF = false;
            if (*p == '\n')
                ++p;
        }
        while (p < end) {
            const char *eol = FindLineEnd(p, end);
            if (eol == end) {
                const qsizetype room = keep - qsizetype(carry.size());
                if (room > 0)
                    carry.insert(carry.end(), p, p + std::min(room, qsizetype(end - p)));
                inLine = true;
                break;
            }
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
    if (inLine)
        onLine(QByteArrayView(carry.data(), qsizetype(carry.size())));
    return true;
}
