#include "core/link/Pacing.h"

#include <QString>

#include <atomic>

namespace Pacing {

static std::atomic<int> g_shortPause{kDefaultShortPauseMs};

int ShortPauseMs()
{
    return g_shortPause.load();
}

void SetShortPauseMs(int ms)
{
    g_shortPause.store(ms < 0 ? 0 : ms);
}

static bool parseMs(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < 0)
        return false;
    *out = v;
    return true;
}

void Configure(const QStringList &arguments)
{
    int ms;
    if (parseMs(qEnvironmentVariable("LOCATOR_PACE_MS"), &ms))
        SetShortPauseMs(ms);
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--pace-ms") && i + 1 < arguments.size()) {
            if (parseMs(arguments[i + 1], &ms))
                SetShortPauseMs(ms);
        } else if (a.startsWith(QLatin1String("--pace-ms="))) {
            if (parseMs(a.mid(10), &ms))
                SetShortPauseMs(ms);
        }
    }
}

}  // namespace Pacing
