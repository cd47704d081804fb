#pragma once

#include <QString>

#include <functional>

// What the analysis windows need from the main window without knowing it.
// Either may be left empty.
struct AnalysisHooks
{
    // Copies the main window's identity boxes into AppState::Identity, as
    // naming a file does elsewhere in the program.
    std::function<void()> refreshIdentity;
    // Sets the main window's status line.
    std::function<void(const QString &)> setStatus;
};
