#pragma once

#include "TestClock.h"
#include "gui/common/Interaction.h"

#include <QDateTime>
#include <QList>
#include <QQueue>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// Answers the program's questions from a script and records what it showed.
// Installed for its lifetime; an unscripted question is answered No (and
// recorded) so a forgotten answer shows up as a failed expectation, not a hang.
class ScriptedInteraction : public Interaction
{
public:
    ScriptedInteraction() { Interaction::install(this); }
    ~ScriptedInteraction() override { Interaction::install(nullptr); }

    // Scripting.
    QQueue<bool> answers;  // for question()
    QQueue<QString> inputs;  // for input()
    QQueue<QString> openFiles;  // for openFileName()
    QQueue<QString> saveFiles;  // for saveFileName()
    TestClock clock;  // reads the wall clock until a test sets it
    bool openSucceeds = true;  // false: no program opens what openExternally() is given
    // Called when a question is asked, before the scripted answer is used;
    // may return an answer itself (e.g. after inspecting the window).
    std::function<std::optional<bool>(const QString &)> onQuestion;

    // What happened.
    QStringList messages;
    QStringList questions;
    QStringList prompts;
    QList<QUrl> opened;
    int endProgramCalls = 0;
    int lastExitCode = -1;

    void message(QWidget *, const QString &text) override { messages << text; }
    bool question(QWidget *, const QString &text) override
    {
        questions << text;
        if (onQuestion) {
            if (auto a = onQuestion(text))
                return *a;
        }
        return answers.isEmpty() ? false : answers.dequeue();
    }
    QString input(QWidget *, const QString &prompt, const QString &, const QString &) override
    {
        prompts << prompt;
        return inputs.isEmpty() ? QString() : inputs.dequeue();
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &filter) override
    {
        lastFilter = filter;
        return openFiles.isEmpty() ? QString() : openFiles.dequeue();
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &filter) override
    {
        lastFilter = filter;
        return saveFiles.isEmpty() ? QString() : saveFiles.dequeue();
    }
    bool openExternally(const QUrl &url) override
    {
        opened << url;
        return openSucceeds;
    }
    void endProgram(int code) override
    {
        ++endProgramCalls;
        lastExitCode = code;
    }

    QString lastFilter;
};
