#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <type_traits>
#include <utility>

// The Fleet window's worker thread: archive work (imports, report queries,
// export texts) runs here, one job after the other, so the window's thread
// never waits on the database. Qt SQL connections belong to the thread that
// opened them: a job opens its Archive::Store itself and closes it before it
// returns.
class ArchiveThread : public QObject
{
public:
    explicit ArchiveThread(QObject *parent = nullptr);
    // Waits for the job under way to end (a caller cancels a long import first).
    ~ArchiveThread() override;

    // job() runs on the worker thread; done(result) then runs on this
    // object's thread, unless this object is gone by then.
    template<class Job, class Done>
    void run(Job job, Done done)
    {
        using Result = std::invoke_result_t<Job &>;
        QMetaObject::invokeMethod(
            m_worker,
            [this, job = std::move(job), done = std::move(done)]() mutable {
                Result result = job();
                QMetaObject::invokeMethod(
                    this, [done = std::move(done), result = std::move(result)]() mutable { done(result); },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

    // Runs `f` on this object's thread (for progress from inside a job).
    template<class F>
    void post(F f)
    {
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
    }

private:
    QThread m_thread;
    QObject *m_worker;  // lives on m_thread, which deletes it as it ends; jobs are queued to it
};
