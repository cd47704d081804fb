#pragma once

#include "LocatorSimulator.h"

#include <QByteArray>
#include <QDir>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <string>

// Simulated locators on pseudo-terminals in a test's private ports folder.

inline QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

// A locator on COM<com> of `portsDir`, or nullptr (with a warning) when it
// cannot start.
inline std::unique_ptr<sim::LocatorSimulator> startLocator(const QString &portsDir, int com, sim::SimConfig cfg = {})
{
    auto s = std::make_unique<sim::LocatorSimulator>(std::move(cfg));
    std::string error;
    if (!s->start(QDir(portsDir).filePath(QStringLiteral("COM%1").arg(com)).toStdString(), &error)) {
        qWarning("simulator on COM%d did not start: %s", com, error.c_str());
        return nullptr;
    }
    return s;
}

// Replies at once (no line-rate pacing) so the single read after the probe's
// last pause always finds the answer; one live line right after "#FV" and
// then none for a minute, so no live text mixes into what a test checks.
inline sim::SimConfig quickLocator(const std::string &serial, const std::string &user = "BOB",
                                   const std::string &model = "LOC2000", const std::string &firmware = "1.23")
{
    sim::SimConfig c;
    c.serial = serial;
    c.user = user;
    c.model = model;
    c.firmware = firmware;
    c.throttled = false;
    c.liveIntervalMs = 60000;
    return c;
}

// The commands a locator received, as Qt texts, for readable comparisons.
inline QStringList commandsOf(const sim::LocatorSimulator &s)
{
    QStringList out;
    for (const std::string &c : s.commands())
        out << QString::fromStdString(c);
    return out;
}
