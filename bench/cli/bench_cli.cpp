// `locator-cli report` on a large data file against `wc -l` on the same file:
// both run as processes with the file in the page cache, and the report has
// to stay within twice the time of the line count (one streaming pass).
//   Usage: bench_cli [records (default 3000000)] [folder for the file]
// Prints the best wall and CPU times of 15 runs each and their ratios. Linux.
#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/usage/UsageByMonth.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Eight hours of logging a day from 1 January 2026, one record a second,
// modes and fields varied as a working day varies them.
bool generate(const QString &path, qint64 records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray out = DataFileFormat::DefaultCommentBlock()
        + "#DABOB_____________________________FW1.23_HWB2_____LOC2000___001234\r\n";
    static const char modes[] = {'A', 'T', 'T', 'R', 'P', 'A', 'T'};
    static const char *freqs[] = {"0", "33KHz", "8KHz", "500Hz"};
    static const char *depths[] = {"1.25", "0", "LO", "12.40"};
    static const int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    char line[96];
    int day = 1, month = 1;
    qint64 second = 0;
    for (qint64 i = 0; i < records; ++i, ++second) {
        if (second == 8 * 3600) {
            second = 0;
            if (++day > daysIn[month - 1]) {
                day = 1;
                month = month % 12 + 1;
            }
        }
        const char mode = modes[(i / 97) % 7];
        const qint64 clock = 8 * 3600 + second;
        const int n = std::snprintf(line, sizeof line, "%02d/%02d/26,%02lld:%02lld:%02lld,%c,%s,%c,%s,%lld\r\n", day,
                                    month, clock / 3600, (clock / 60) % 60, clock % 60, mode,
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

struct Timing
{
    double wallMs = -1;
    double cpuMs = -1;  // user + system time of the process
};

// One run of the program with its output discarded (or kept in *output).
// The CPU time is taken as well: on a busy machine the wall time mostly
// measures the wait for a processor.
Timing runOnce(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QTemporaryFile outFile;
    if (!outFile.open())
        return {};
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString &a : arguments)
        args.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFile.handle(), STDOUT_FILENO);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return {};
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    Timing timing;
    timing.wallMs = double(t.nsecsElapsed()) / 1e6;
    timing.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    if (output) {
        outFile.seek(0);
        *output = outFile.readAll();
    }
    return timing;
}

Timing better(const Timing &a, const Timing &b)
{
    if (a.wallMs < 0)
        return b;
    return {std::min(a.wallMs, b.wallMs), std::min(a.cpuMs, b.cpuMs)};
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 records = args.size() > 1 ? args[1].toLongLong() : 3000000;
    QTemporaryDir scratch(args.size() > 2 ? args[2] + QStringLiteral("/bench_cli-XXXXXX") : QString());
    const QString path = scratch.filePath(QStringLiteral("usage.csv"));
    if (records <= 0 || !generate(path, records)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("file: %lld records, %.1f MB\n", records, double(QFile(path).size()) / 1e6);

    // The report must account for every record: a fast wrong answer is no result.
    DataFileHandle slot;
    QElapsedTimer t;
    t.start();
    const Usage::AllMonthsReading reading = Usage::ReadAllMonths(slot, path);
    const double inProcessMs = double(t.nsecsElapsed()) / 1e6;
    qint64 counted = 0;
    for (const Usage::MonthUsage &m : reading.months)
        counted += m.records.n;
    if (!reading.ok() || counted != records) {
        std::fprintf(stderr, "the reading counted %lld records of %lld\n", counted, records);
        return 1;
    }
    QByteArray json;
    if (runOnce(QStringLiteral(LOCATOR_CLI_PATH),
                {QStringLiteral("report"), path, QStringLiteral("--format"), QStringLiteral("json")}, &json)
                .wallMs
            < 0
        || !json.contains("\"records\": " + QByteArray::number(records))) {
        std::fprintf(stderr, "locator-cli report failed or missed records\n");
        return 1;
    }

    // The two programs take turns, so that both meet the same load on a busy machine.
    constexpr int kRuns = 15;
    const QString cliPath = QStringLiteral(LOCATOR_CLI_PATH);
    const QStringList wcArguments = {QStringLiteral("-l"), path};
    const QStringList cliArguments = {QStringLiteral("report"), path};
    runOnce(QStringLiteral("wc"), wcArguments);  // warm-up: page cache and libraries
    runOnce(cliPath, cliArguments);
    Timing wc;
    Timing cli;
    for (int i = 0; i < kRuns; ++i) {
        const Timing w = runOnce(QStringLiteral("wc"), wcArguments);
        const Timing c = runOnce(cliPath, cliArguments);
        if (w.wallMs < 0 || c.wallMs < 0) {
            std::fprintf(stderr, "a timed run failed\n");
            return 1;
        }
        wc = better(wc, w);
        cli = better(cli, c);
    }
    std::printf("ReadAllMonths in-process:  %.1f ms wall\n", inProcessMs);
    std::printf("                           wall      CPU (best of %d)\n", kRuns);
    std::printf("wc -l:                     %6.1f ms %6.1f ms\n", wc.wallMs, wc.cpuMs);
    std::printf("locator-cli report:        %6.1f ms %6.1f ms\n", cli.wallMs, cli.cpuMs);
    std::printf("ratio report / wc -l:      %6.2f    %6.2f    (target at most 2)\n", cli.wallMs / wc.wallMs,
                cli.cpuMs / wc.cpuMs);
    return 0;
}
