// Connecting at the program's own pacing (10 ms short pause, 40 ms after
// each probe character) against simulated locators on pseudo-terminals.
//   1. Scan of COM1-COM16 with the locator on COM16 and no other ports:
//      ports that do not exist cost no pause.
//   2. The same scan with COM1-COM15 present but silent (switched-off units),
//      the slowest scan there is: every port costs its four paced characters.
//   3. Known-port connect to COM16: time until "Use this connection?" is
//      asked; it must come within 0.5 s.
//   4. The window thread's longest stretch without returning to its event
//      loop (to wait for the next event) during a scan, a paced command
//      ("Set" user name, 35 characters) and a transfer at line rate: a user's
//      click waits at most that long.
// Completion is waited for by what the user sees (the port open, the status
// text), so the same program measures any build of the window.
// Usage: bench_connect [runs]
#include "LoopWatch.h"
#include "gui/main/frmMain.h"

#include "LocatorSimulator.h"
#include "core/link/Pacing.h"
#include "core/link/PortList.h"
#include "gui/common/Interaction.h"

#include "ui_frmMain.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kLocatorPort = 16;
constexpr double kKnownPortBudgetS = 0.5;

// Answers Yes to every question and notes when the first "Use this connection?" came.
class TimedYes : public QtInteraction
{
public:
    QElapsedTimer clock;
    double questionAtS = -1;
    bool question(QWidget *, const QString &text) override
    {
        if (questionAtS < 0 && text.endsWith(QLatin1String("Use this connection?")))
            questionAtS = double(clock.nsecsElapsed()) / 1e9;
        return true;
    }
    void message(QWidget *, const QString &text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
};

struct Timing
{
    double toQuestion = -1;
    double total = -1;
    double longestBusyMs = -1;
};

template<class Run>
Timing timed(TimedYes &ui, frmMain &w, LoopWatch &watch, Run run)
{
    w.SetConnectedState(false);
    ui.questionAtS = -1;
    ui.clock.start();
    watch.reset();
    run();
    waitUntil([&] { return ui.questionAtS >= 0 && w.MSComm1().isOpen() && !w.MSComm2().isOpen(); }, 30000);
    Timing t{ui.questionAtS, double(ui.clock.nsecsElapsed()) / 1e9, watch.longestMs()};
    if (!w.MSComm1().isOpen() || w.MSComm1().commPort() != kLocatorPort)
        t.toQuestion = -1;  // did not connect: not a valid measurement
    return t;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

void report(const char *what, const std::vector<Timing> &runs)
{
    std::vector<double> q, t, b;
    for (const Timing &r : runs) {
        q.push_back(r.toQuestion);
        t.push_back(r.total);
        b.push_back(r.longestBusyMs);
    }
    std::printf("%-44s question after %7.3f s (min %7.3f), connected after %7.3f s, longest busy %6.1f ms\n", what,
                median(q), *std::min_element(q.begin(), q.end()), median(t), *std::max_element(b.begin(), b.end()));
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    const QString portsDir = home.path() + QStringLiteral("/ports");
    QDir().mkpath(portsDir);
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("LOCATOR_PORTS_DIR", portsDir.toLocal8Bit());

    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    Pacing::SetShortPauseMs(Pacing::kDefaultShortPauseMs);
    TimedYes ui;
    Interaction::install(&ui);

    const auto link = [&](int n) { return QDir(portsDir).filePath(QStringLiteral("COM%1").arg(n)).toStdString(); };
    sim::LocatorSimulator locator;  // at line rate, as the real unit answers
    std::string error;
    if (!locator.start(link(kLocatorPort), &error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }

    std::printf("pacing: short pause %d ms, output pause %d ms; %d runs each\n", Pacing::ShortPauseMs(),
                Pacing::OutputPauseMs(), runs);
    int failures = 0;
    LoopWatch watch;
    {
        frmMain w;
        std::vector<Timing> scanAlone, scanCrowded, known;
        for (int i = 0; i < runs; ++i)
            scanAlone.push_back(timed(ui, w, watch, [&] { w.SearchAndConnect(); }));

        std::vector<std::unique_ptr<sim::LocatorSimulator>> silent;
        for (int n = 1; n < kLocatorPort; ++n) {
            auto s = std::make_unique<sim::LocatorSimulator>();
            s->setSilent(true);
            if (!s->start(link(n), &error)) {
                std::fprintf(stderr, "simulator COM%d: %s\n", n, error.c_str());
                return 1;
            }
            silent.push_back(std::move(s));
        }
        for (int i = 0; i < runs; ++i)
            scanCrowded.push_back(timed(ui, w, watch, [&] { w.SearchAndConnect(); }));
        silent.clear();

        for (int i = 0; i < runs; ++i)
            known.push_back(timed(ui, w, watch, [&] { w.ConnectToKnownPort(kLocatorPort); }));
        w.SetConnectedState(false);

        report("scan 1-16, locator on COM16 alone:", scanAlone);
        report("scan 1-16, COM1-15 present and silent:", scanCrowded);
        report("known-port connect to COM16:", known);
        for (const auto *set : {&scanAlone, &scanCrowded, &known}) {
            for (const Timing &t : *set)
                failures += t.toQuestion < 0 ? 1 : 0;
        }
        const double worstKnown = std::max_element(known.begin(), known.end(), [](auto &a, auto &b) {
                                      return a.toQuestion < b.toQuestion;
                                  })->toQuestion;
        const bool withinBudget = worstKnown >= 0 && worstKnown <= kKnownPortBudgetS;
        std::printf("known-port question within %.1f s: %s (worst %.3f s)\n", kKnownPortBudgetS,
                    withinBudget ? "yes" : "NO", worstKnown);
        if (!withinBudget)
            ++failures;

        // A paced command and a transfer on the connected link.
        timed(ui, w, watch, [&] { w.ConnectToKnownPort(kLocatorPort); });
        w.form()->txtUser->setText(QStringLiteral("BOB"));
        double commandMs = 0;
        for (int i = 0; i < runs; ++i) {
            w.form()->lblStatus->clear();
            watch.reset();
            w.cmdSetUser_Click();
            if (!waitUntil([&] { return w.form()->lblStatus->text() == QLatin1String("User Set"); }, 30000))
                ++failures;
            commandMs = std::max(commandMs, watch.longestMs());
        }
        std::printf("%-44s longest busy %6.1f ms\n", "paced command (#FT, 35 characters):", commandMs);

        locator.setThrottled(true);
        watch.reset();
        QElapsedTimer transferClock;
        transferClock.start();
        w.cmdDownloadAll_Click();
        const bool complete
            = waitUntil([&] { return w.form()->lblStatus->text() == QLatin1String("File download complete"); }, 120000);
        std::printf("%-44s longest busy %6.1f ms (%.1f s transfer%s)\n", "transfer at line rate:", watch.longestMs(),
                    double(transferClock.nsecsElapsed()) / 1e9, complete ? "" : ", DID NOT COMPLETE");
        if (!complete)
            ++failures;
        w.SetConnectedState(false);
    }
    Interaction::install(nullptr);
    if (failures)
        std::printf("%d run(s) failed to connect or missed the budget\n", failures);
    return failures ? 1 : 0;
}
