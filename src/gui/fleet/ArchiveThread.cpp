#include "gui/fleet/ArchiveThread.h"

ArchiveThread::ArchiveThread(QObject *parent)
    : QObject(parent)
    , m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("archive"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

ArchiveThread::~ArchiveThread()
{
    // Jobs still queued are dropped; the one running ends first. Its
    // results, posted to this object, are discarded with it.
    m_thread.quit();
    m_thread.wait();
}
