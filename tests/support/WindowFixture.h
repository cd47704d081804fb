#pragma once

#include "ScriptedInteraction.h"
#include "TestEnvironment.h"
#include "core/datafile/DataFileHandle.h"
#include "gui/common/Folders.h"

#include <QDateTime>

#include <memory>

// A private home and scripted answers, fresh for every test function of a
// window's test: call setUp() from init() and tearDown() from cleanup().
class WindowFixture
{
protected:
    // `now` fixes the clock; without it the clock reads the wall clock.
    void setUp(const QDateTime &now = {})
    {
        m_env = std::make_unique<TestEnvironment>();
        m_ui = std::make_unique<ScriptedInteraction>();
        if (now.isValid())
            m_ui->clock.set(now);
    }
    // The main window's data file is the process's: a test leaves it closed.
    void tearDown()
    {
        ProcessDataFile().close();
        m_ui.reset();
        m_env.reset();
    }

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedInteraction> m_ui;
};
