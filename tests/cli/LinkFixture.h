#pragma once

#include "CliRunner.h"
#include "SimLocators.h"
#include "TestEnvironment.h"
#include "TestFiles.h"

#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the tests of the link subcommands share: a private home whose ports
// folder holds simulated locators, and ways to act on them from inside a
// running subcommand.
namespace LinkFixture {

// The probe reads the reply once, after the pauses: they must be long enough
// for the simulator to answer on a loaded machine running sanitizer builds
// side by side (80 ms after "#X", as the window's connect tests give it).
inline QStringList paced(QStringList arguments)
{
    return arguments << QStringLiteral("--pace-ms") << QStringLiteral("20");
}

// Runs each step's action once, in order, from inside the subcommand's own
// event loop, as soon as that step's condition holds.
class Script
{
public:
    struct Step
    {
        std::function<bool()> ready;
        std::function<void()> action;
    };

    explicit Script(std::vector<Step> steps)
        : m_steps(std::move(steps))
    {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_next < m_steps.size() && m_steps[m_next].ready()) {
                m_steps[m_next].action();
                ++m_next;
            }
            if (m_next == m_steps.size())
                m_timer.stop();
        });
        m_timer.start();
    }
    std::size_t done() const { return m_next; }

private:
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QTimer m_timer;
};

// One step: `action` once `ready` holds.
class Trigger : public Script
{
public:
    Trigger(std::function<bool()> ready, std::function<void()> action)
        : Script({{std::move(ready), std::move(action)}})
    { }
};

// A fresh environment and simulators per test function: call setUp() from
// init() and tearDown() from cleanup().
class SimulatedLocators
{
protected:
    void setUp() { m_env = std::make_unique<TestEnvironment>(); }
    void tearDown()
    {
        m_sims.clear();
        m_env.reset();
    }

    sim::LocatorSimulator *startSim(int com, sim::SimConfig cfg = {})
    {
        // Kept even when it did not start: the test fails on what it lacks.
        auto s = std::make_unique<sim::LocatorSimulator>(cfg);
        std::string error;
        if (!s->start(link(com).toStdString(), &error))
            qWarning("simulator: %s", error.c_str());
        m_sims.push_back(std::move(s));
        return m_sims.back().get();
    }
    QString link(int com) const { return m_env->portsDir() + QStringLiteral("/COM%1").arg(com); }
    QString outDir() const { return m_env->root() + QStringLiteral("/out"); }

    std::unique_ptr<TestEnvironment> m_env;
    std::vector<std::unique_ptr<sim::LocatorSimulator>> m_sims;
};

}  // namespace LinkFixture
