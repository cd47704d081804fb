#include "LaunchOptions.h"

#include "Interaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

// Accepts "--name value" and "--name=value".
static bool takeValue(const QStringList &args, int &i, const QString &name, QString *value, bool *missing)
{
    const QString &a = args[i];
    if (a == name) {
        if (i + 1 >= args.size()) {
            *missing = true;
            return true;
        }
        *value = args[++i];
        return true;
    }
    if (a.startsWith(name + QLatin1Char('='))) {
        *value = a.mid(name.size() + 1);
        return true;
    }
    return false;
}

void LaunchOptions::nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("locator-toolkit"));
}

LaunchOptions LaunchOptions::parse(const QStringList &arguments)
{
    LaunchOptions o;
    for (int i = 1; i < arguments.size(); ++i) {
        QString value;
        bool missing = false;
        if (arguments[i] == QLatin1String("--demo")) {
            o.demo = true;
        } else if (takeValue(arguments, i, QStringLiteral("--screenshot"), &value, &missing)) {
            if (missing || value.isEmpty())
                o.error = QStringLiteral("--screenshot needs a file name");
            else
                o.screenshotPath = value;
        } else if (takeValue(arguments, i, QStringLiteral("--exit-after"), &value, &missing)) {
            bool ok = false;
            const double s = value.toDouble(&ok);
            if (missing || !ok || s < 0)
                o.error = QStringLiteral("--exit-after needs a number of seconds");
            else
                o.exitAfterSeconds = s;
        }
        // Anything else (--pace-ms, Qt's own switches) is read elsewhere.
    }
    return o;
}

void LaunchOptions::schedule(QWidget *mainWindow) const
{
    // Shared between the two timers: an early exit still leaves its picture.
    auto pending = std::make_shared<QString>(screenshotPath);
    QPointer<QWidget> window(mainWindow);
    auto takeShot = [pending, window] {
        if (pending->isEmpty() || !window)
            return;
        const QString path = *pending;
        pending->clear();
        if (!window->grab().save(path))
            std::fprintf(stderr, "locator-toolkit: could not save the screenshot to %s\n",
                         qPrintable(QDir::toNativeSeparators(path)));
    };
    if (!pending->isEmpty())
        QTimer::singleShot(kSettleMs, mainWindow, takeShot);
    if (exitAfterSeconds >= 0) {
        QTimer::singleShot(int(exitAfterSeconds * 1000), mainWindow, [takeShot] {
            takeShot();
            Interaction::current().endProgram(0);
        });
    }
}
