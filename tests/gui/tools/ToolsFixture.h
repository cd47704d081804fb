#pragma once

#include "TestFiles.h"
#include "WindowFixture.h"
#include "gui/common/AppState.h"
#include "gui/tools/frmTools.h"
#include "ui_frmTools.h"

#include <QPointer>
#include <QStringList>

// What the tools window's tests share: a private home with the clock at
// 05/03/2026 09:05:03, the program's state, and the window, closed with its
// files after every test function. Call setUpTools() from init() and
// tearDownTools() from cleanup().
class ToolsFixture : protected WindowFixture
{
protected:
    void setUpTools()
    {
        setUp(QDateTime(QDate(2026, 3, 5), QTime(9, 5, 3)));
        m_state = std::make_unique<AppState>();
    }
    void tearDownTools()
    {
        delete m_window.data();
        frmTools::closeOpenFiles();
        m_state.reset();
        tearDown();
    }

    // A new window through the password and port prompts, answered by `inputs`.
    bool loadWindow(const QStringList &inputs)
    {
        m_ui->inputs.clear();
        for (const QString &s : inputs)
            m_ui->inputs.enqueue(s);
        m_window = new frmTools(*m_state);
        return m_window->Form_Load();
    }

    std::unique_ptr<AppState> m_state;
    QPointer<frmTools> m_window;
};
