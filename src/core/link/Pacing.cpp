#include "core/link/Pacing.h"

#include <QString>

#include <atomic>

namespace Pacing {

static std::atomic<int> g_shortPause{kDefaultShortPauseMs};

int shortPauseMs()
{
    return g_shortPause.load();
}

void setShortPauseMs(int ms)
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

void configure(const QStringList &arguments)
{
    int ms;
    if (parseMs(qEnvironmentVariable("LOCATOR_PACE_MS"), &ms))
        setShortPauseMs(ms);
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--pace-ms") && i + 1 < arguments.size()) {
            if (parseMs(arguments[i + 1], &ms))
                setShortPauseMs(ms);
        } else if (a.startsWith(QLatin1String("--pace-ms="))) {
            if (parseMs(a.mid(10), &ms))
                setShortPauseMs(ms);
        }
    }
}

}  // namespace Pacing
