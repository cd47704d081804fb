// Usage accounting on a month of continuous logging.
//   1. Reading one month and counting its modes, against `wc -l` on the same
//      file and against a short pandas script doing the same count (Debian's
//      python3-pandas; skipped when missing). Each timed warm, best of 5.
//   2. Peak memory of a reading, for the full file and for a tenth of it.
//   3. The Analyse Data window opened on the file: calendar marked, pie drawn.
// Usage: bench_analysis [records] [folder for the generated files]
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageCounting.h"
#include "gui/analysis/UsagePie.h"
#include "gui/analysis/frmPieByMonthMode2.h"
#include "gui/common/AppState.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// One record per second from 1 March 2011 00:00:00, modes and fields varied
// the way a working day varies them.
bool generate(const QString &path, qint64 records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray out = DataFileFormat::DefaultCommentBlock()
        + "#DABOB_____________________________0123456789ABCDEFLOC2000_____1234\r\n";
    static const char modes[] = {'A', 'T', 'T', 'R', 'P', 'A', 'T'};
    static const char *freqs[] = {"0", "33KHz", "8KHz", "500Hz"};
    static const char *depths[] = {"1.25", "0", "LO", "12.40"};
    static const int daysIn[] = {31, 30, 31, 30, 31};
    char line[96];
    int day = 1, month = 3;
    qint64 second = 0;
    for (qint64 i = 0; i < records; ++i, ++second) {
        if (second == 86400) {
            second = 0;
            if (++day > daysIn[month - 3]) {
                day = 1;
                ++month;
            }
        }
        const char mode = modes[(i / 97) % 7];
        const int n = std::snprintf(line, sizeof line, "%02d/%02d/11,%02lld:%02lld:%02lld,%c,%s,%c,%s,%lld\r\n", day,
                                    month, second / 3600, (second / 60) % 60, second % 60, mode,
                                    mode == 'T' ? freqs[1 + (i / 1013) % 3] : freqs[0], "SDC0"[(i / 331) % 4],
                                    depths[(i / 53) % 4], i % 31);
        out.append(line, n);
        if (out.size() > (4 << 20)) {
            if (f.write(out) != out.size())
                return false;
            out.clear();
        }
    }
    out += '\x1a';
    return f.write(out) == out.size();
}

double bestOf(int runs, const std::function<void()> &work)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
    }
    return best;
}

// Peak resident memory since the last reset (Linux: VmHWM, reset through clear_refs).
long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

QString pandasPython()
{
    // Debian's interpreter, where python3-pandas installs.
    for (const char *p : {"/usr/bin/python3", "python3"}) {
        QProcess probe;
        probe.start(QString::fromLatin1(p), {QStringLiteral("-c"), QStringLiteral("import pandas")});
        if (probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return QString::fromLatin1(p);
    }
    return {};
}

// Same count as ReadMonthRecords + CountModes: skip the "//" block and the
// header line, keep lines whose month and year fields read as 3 and 11.
const char *kPandasScript = R"(
import sys, time
import pandas as pd
path = sys.argv[1]
t0 = time.perf_counter()
with open(path, 'rb') as f:
    skip = 0
    for line in f:
        skip += 1
        if not line.startswith(b'//'):
            break
df = pd.read_csv(path, skiprows=skip, header=None, usecols=[0, 2], names=['date', 'mode'],
                 dtype=str, encoding='latin-1', on_bad_lines='skip')
df = df[~df['date'].str.startswith('FF', na=True)]
m = pd.to_numeric(df['date'].str[3:5], errors='coerce')
y = pd.to_numeric(df['date'].str[6:8], errors='coerce')
month = df[(m == 3) & (y == 11)]
counts = month['mode'].value_counts()
total = sum(int(counts.get(k, 0)) for k in 'ATRP')
print(f"{time.perf_counter() - t0:.4f} {len(month)} {total}")
)";

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 records = argc > 1 ? QByteArray(argv[1]).toLongLong() : 3000000;
    QTemporaryDir tmp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/bench-analysis-XXXXXX"));
    const QString big = tmp.filePath(QStringLiteral("month.csv"));
    const QString small = tmp.filePath(QStringLiteral("tenth.csv"));
    if (!generate(big, records) || !generate(small, records / 10)) {
        std::fprintf(stderr, "cannot write the data files in %s\n", qPrintable(tmp.path()));
        return 1;
    }
    const double mb = double(QFileInfo(big).size()) / 1e6;
    std::printf("data file: %lld records, %.1f MB\n", records, mb);

    DataFileHandle slot;
    // A reading of the whole file and one of a tenth of it should raise the
    // peak by the same small amount.
    resetPeakRss();
    const long rss0 = peakRssKb();
    Usage::ReadMonthRecords(slot, small, 3, 11);
    const long rssSmall = peakRssKb() - rss0;
    resetPeakRss();
    const long rss1 = peakRssKb();
    Usage::PeriodReading month = Usage::ReadMonthRecords(slot, big, 3, 11);
    const long rssBig = peakRssKb() - rss1;
    if (!month.ok()) {
        std::fprintf(stderr, "reading failed\n");
        return 1;
    }

    Usage::ModeCounts counts;
    const double ours = bestOf(5, [&] {
        month = Usage::ReadMonthRecords(slot, big, 3, 11);
        counts = Usage::CountModes(month.records);
    });
    const double wc = bestOf(5, [&] {
        QProcess p;
        p.start(QStringLiteral("wc"), {QStringLiteral("-l"), big});
        p.waitForFinished(-1);
    });
    std::printf("month March 2011: %lld records, %lld seconds counted\n", month.records.n, counts.total);
    std::printf("read + count one month: %.3f s (%.0f MB/s)\n", ours, mb / ours);
    std::printf("wc -l on the same file:  %.3f s -> ratio %.2f x\n", wc, ours / wc);
    std::printf("peak RSS growth of one reading: tenth of the file %ld KB, whole file %ld KB\n", rssSmall, rssBig);

    const QString python = pandasPython();
    if (python.isEmpty()) {
        std::printf("pandas: not installed (apt-get install python3-pandas), skipped\n");
    } else {
        double best = 1e9;
        QByteArray answer;
        for (int i = 0; i < 3; ++i) {
            QProcess p;
            p.start(python, {QStringLiteral("-c"), QString::fromLatin1(kPandasScript), big});
            p.waitForFinished(-1);
            answer = p.readAllStandardOutput().trimmed();
            best = std::min(best, answer.split(' ').value(0).toDouble());
        }
        std::printf("pandas (in-script time, best of 3): %.3f s -> ours is %.1f x faster; pandas counted %s\n", best,
                    best / ours, answer.split(' ').mid(1).join(' ').constData());
    }

    AppState state;
    state.DataFolder = QFileInfo(big).absolutePath() + '/';
    state.ImagesFolder = tmp.filePath(QStringLiteral("images/"));
    state.CurrentDataFile = QFileInfo(big).fileName();
    state.Identity = {QStringLiteral("LOC2000"), QStringLiteral("1234"), QStringLiteral("BOB")};
    QElapsedTimer t;
    t.start();
    auto *w = new frmPieByMonthMode2(state);
    w->show();
    const bool exposed = QTest::qWaitForWindowExposed(w);
    QCoreApplication::processEvents();
    const double open = double(t.nsecsElapsed()) / 1e9;
    std::printf("Analyse Data window open, calendar marked and pie drawn: %.3f s (%s, %lld slices)\n", open,
                exposed ? "exposed" : "not exposed", qint64(w->pie().slices().size()));
    delete w;
    return 0;
}
