// Record viewer on a month of continuous logging: how long until the window
// shows its first rows, how long each column's sort takes, and the memory it
// holds; GNU sort on the same file as the reference.
//
//   bench_viewer [records] [--no-gnu]   default 3,000,000 (34.7 days at one a second)
//
// Each figure is wall time and, in brackets, the CPU time of this thread: on
// a busy machine the second is the fairer one.

#include "core/viewer/RowSort.h"
#include "core/viewer/ViewerColumns.h"
#include "core/viewer/ViewerRecords.h"
#include "gui/common/AppState.h"
#include "gui/common/Folders.h"
#include "gui/viewer/ViewerModel.h"
#include "gui/viewer/frmViewData.h"
#include "ui_frmViewData.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <numeric>
#include <string>

namespace {

QByteArray twoDigits(int v)
{
    return QByteArray::number(v).rightJustified(2, '0');
}

// One record a second from 1 January 2012, in runs of one mode as a user
// switches between them, with the values each mode logs.
bool writeMonth(const QString &path, qint64 records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("//     Date(DD/MM/YY)\r\n//     Time(HH:MM:SS)\r\n"
            "// Date,Time,Mode,Frequency,Measurement,Depth,Signal Strength\r\n");
    f.write("#DA" + QByteArray("BENCH").leftJustified(32, '_') + QByteArray(16, '-') + "LOC_2000__001234\r\n");
    QRandomGenerator rng(2012);
    const char *const modes = "ATRP";
    const char *const frequencies[] = {"33KHz", "8KHz", "500Hz"};
    const char *const measurements = "SDC0";
    QDateTime t(QDate(2012, 1, 1), QTime(0, 0, 0), Qt::UTC);
    QByteArray block;
    char mode = 'A';
    int runLeft = 0;
    for (qint64 i = 0; i < records; ++i) {
        if (runLeft-- <= 0) {
            mode = modes[rng.bounded(4)];
            runLeft = rng.bounded(1, 900);
        }
        const QDate d = t.date();
        const QTime tm = t.time();
        block += twoDigits(d.day()) + '/' + twoDigits(d.month()) + '/' + twoDigits(d.year() % 100) + ',';
        block += twoDigits(tm.hour()) + ':' + twoDigits(tm.minute()) + ':' + twoDigits(tm.second()) + ',';
        block += mode;
        block += ',';
        block += mode == 'T' ? frequencies[rng.bounded(3)] : "0";
        block += ',';
        block += measurements[rng.bounded(4)];
        block += ',';
        const int depth = rng.bounded(-1, 500);
        block += depth < 0 ? QByteArray("LO")
            : depth == 0   ? QByteArray("0")
                           : QByteArray::number(depth / 100.0, 'f', 2);
        block += ',';
        block += QByteArray::number(rng.bounded(31));
        block += "\r\n";
        t = t.addSecs(1);
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    block += "\x1a";
    f.write(block);
    return true;
}

// Resident and peak resident memory of this process, in MB.
QPair<double, double> memoryMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    double rss = 0, hwm = 0;
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : f.readAll().split('\n')) {
            const auto kb = [&](const char *tag) {
                return line.mid(qsizetype(qstrlen(tag))).trimmed().split(' ')[0].toDouble() / 1024.0;
            };
            if (line.startsWith("VmRSS:"))
                rss = kb("VmRSS:");
            else if (line.startsWith("VmHWM:"))
                hwm = kb("VmHWM:");
        }
    }
    return {rss, hwm};
}

// Wall and thread CPU time since start(), in ms.
class Stopwatch
{
public:
    Stopwatch() { start(); }
    void start()
    {
        m_wall.start();
        m_cpu = cpuNs();
    }
    double wallMs() const { return double(m_wall.nsecsElapsed()) / 1e6; }
    double cpuMs() const { return double(cpuNs() - m_cpu) / 1e6; }

private:
    static qint64 cpuNs()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    QElapsedTimer m_wall;
    qint64 m_cpu = 0;
};

double gnuSortMs(const QString &path, const QStringList &keys)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(QStringLiteral("sort"), QStringList{"-s", "-t,"} + keys + QStringList{"-o", "/dev/null", path});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qint64 records = 3000000;
    bool gnu = true;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--no-gnu") == 0)
            gnu = false;
        else
            records = QByteArray(argv[i]).toLongLong();
    }

    QTemporaryDir dir;
    AppState state;
    state.DataFolder = dir.path() + '/';
    state.CurrentDataFile = QStringLiteral("month.csv");
    const QString path = state.currentDataFilePath();
    std::printf("writing %lld records...\n", records);
    if (!writeMonth(path, records)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("file: %.1f MB\n", double(QFile(path).size()) / 1e6);
    const auto base = memoryMb();
    std::printf("memory before loading: %.0f MB resident\n\n", base.first);

    // The reading alone, without a window (warms the file cache, too).
    {
        Stopwatch watch;
        const Viewer::LoadResult loaded = Viewer::LoadRecordsFile(ProcessDataFile(), path);
        std::printf("core reading: %lld rows in %.0f ms (cpu %.0f)\n", qint64(loaded.records.rowCount()),
                    watch.wallMs(), watch.cpuMs());
    }

    Stopwatch watch;
    auto *window = new frmViewData(state);
    window->show();
    QCoreApplication::processEvents();
    const QPixmap firstRows = window->form()->lvwList->viewport()->grab();
    std::printf("window shows its first rows: %.0f ms (cpu %.0f) (%d rows%s; limit 1500 ms)\n", watch.wallMs(),
                watch.cpuMs(), window->model().rowCount(), firstRows.isNull() ? ", NOT DRAWN" : "");
    const auto loadedMem = memoryMb();
    std::printf("memory after loading: %.0f MB resident (%.0f MB over the start)\n\n", loadedMem.first,
                loadedMem.first - base.first);

    const QList<QStringList> gnuKeys = {
        {"-k1.7,1.8r", "-k1.4,1.5r", "-k1.1,1.2r", "-k2,2r"},  // first click on Date: descending
        {"-f", "-k3,3"},
        {"-k4,4g"},
        {"-k5,5g"},
        {"-k6,6g"},
        {"-k7,7n"},
    };
    std::printf("%-16s %18s %12s\n", "column", "window ms (cpu)", "GNU sort ms");
    double worst = 0, worstCpu = 0;
    const auto click = [&](int c, const char *name, bool withGnu) {
        Stopwatch t;
        window->lvwList_ColumnClick(c);
        QCoreApplication::processEvents();
        window->form()->lvwList->viewport()->grab();
        const double ms = t.wallMs(), cpu = t.cpuMs();
        worst = std::max(worst, ms);
        worstCpu = std::max(worstCpu, cpu);
        std::printf("%-16s %10.0f (%5.0f)", name, ms, cpu);
        if (gnu && withGnu)
            std::printf(" %12.0f", gnuSortMs(path, gnuKeys[c]));
        std::printf("\n");
    };
    const auto headerOf = [](int c) {
        const std::string_view h = Viewer::Columns[std::size_t(c)].header;
        return std::string(h);
    };
    for (int c = 0; c < Viewer::ColumnCount; ++c)
        click(c, headerOf(c).c_str(), true);
    click(Viewer::SignalColumn, "Signal, again", false);
    click(Viewer::DateColumn, "Date, again", false);
    const auto end = memoryMb();
    std::printf("\nslowest sort: %.0f ms, cpu %.0f ms (limit 750 ms)\n", worst, worstCpu);
    std::printf("memory after sorting: %.0f MB resident, peak %.0f MB (limit 500 MB)\n\n", end.first, end.second);

    // The ordering alone, without the view, on rows in file order.
    std::printf("%-16s %18s\n", "column", "order only (cpu)");
    Viewer::SortScratch scratch;
    for (int c = 0; c < Viewer::ColumnCount; ++c) {
        Viewer::RowOrder order(std::size_t(window->model().rowCount()));
        std::iota(order.begin(), order.end(), quint32(0));
        Stopwatch core;
        Viewer::SortRows(window->model().records(), c, Viewer::TypeOfColumn(c), false, order, scratch);
        std::printf("%-16s %10.0f (%5.0f)\n", headerOf(c).c_str(), core.wallMs(), core.cpuMs());
    }
    delete window;
    return 0;
}
