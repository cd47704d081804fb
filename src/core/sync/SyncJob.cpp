#include "core/sync/SyncJob.h"

#include "core/clock/Clock.h"
#include "core/link/PacedWriter.h"
#include "core/link/Pacing.h"
#include "core/link/Protocol.h"
#include "core/link/SerialPort.h"

#include <QPromise>
#include <QRegularExpression>
#include <QThreadPool>

#include <memory>

namespace Sync {

namespace {

constexpr qsizetype kClockReplyLength = 23;  // "#AE dd/mm/yy   hh:mm:ss"

// The file imported on a pool thread. The store, and so its connection,
// lives and dies on that thread (Qt SQL connections belong to the thread
// that made them); a job gone meanwhile leaves the import to finish alone.
QFuture<Archive::ImportResult> importOnWorker(const Archive::Location &location, const QString &file)
{
    auto promise = std::make_shared<QPromise<Archive::ImportResult>>();
    QFuture<Archive::ImportResult> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, location, file] {
        Archive::Store store;
        Archive::ImportResult imported;
        QString error;
        if (!store.open(location, &error, Archive::Store::CreateIfMissing))
            imported.error = error;
        else
            imported = store.importFile(file);
        promise->addResult(imported);
        promise->finish();
    });
    return future;
}

}  // namespace

std::optional<QDateTime> ReadLocatorClock(const QByteArray &text)
{
    const qsizetype at = text.indexOf(Protocol::ReadDateTime);
    if (at < 0 || text.size() - at < kClockReplyLength)
        return std::nullopt;
    const Protocol::DateTimeReply reply = Protocol::ReadDateTimeReply(text.mid(at));
    static const QRegularExpression dateForm(QStringLiteral("^(\\d\\d)/(\\d\\d)/(\\d\\d)$"));
    static const QRegularExpression timeForm(QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d)$"));
    const QRegularExpressionMatch d = dateForm.match(reply.date);
    const QRegularExpressionMatch t = timeForm.match(reply.time);
    if (!reply.valid || !d.hasMatch() || !t.hasMatch())
        return std::nullopt;
    // Day first, and a two-digit year is 2000 plus its value, as in the data files.
    const QDate date(2000 + d.captured(3).toInt(), d.captured(2).toInt(), d.captured(1).toInt());
    const QTime time(t.captured(1).toInt(), t.captured(2).toInt(), t.captured(3).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

SyncJob::SyncJob(QObject *parent)
    : QObject(parent)
{
    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, [this] { clockRead(true); });
    connect(&m_import, &QFutureWatcher<Archive::ImportResult>::finished, this, &SyncJob::onImported);
}

SyncJob::~SyncJob()
{
    QObject::disconnect(m_clockInput);
    if (m_writer)
        m_writer->cancel();
}

bool SyncJob::start(SerialPort &working, int port, const LocatorIdentity &identity, const Options &options)
{
    if (m_running)
        return false;
    m_running = true;
    m_working = &working;
    m_options = options;
    m_result = {};
    m_result.identity = identity;
    m_result.port = port;
    m_clockReply.clear();
    m_writer = std::make_unique<PacedWriter>();

    // The clock first: the range depends on it. Nothing read before the
    // question belongs to its answer.
    emit message(QStringLiteral("Reading the locator's clock"));
    working.input();
    m_clockInput = connect(&working, &SerialPort::OnComm, this, [this] { onClockInput(); });
    m_writer->send(working, Protocol::ReadDateTime, Pacing::ShortPauseMs(), [this](bool sent) {
        if (!sent)
            return end(QStringLiteral("port %1 failed while asking the locator's clock").arg(m_result.port));
        if (m_clockInput)
            m_clockTimer.start(m_options.clockReplyMs);
    });
    return true;
}

void SyncJob::onClockInput()
{
    m_clockReply += m_working->input();
    if (ReadLocatorClock(m_clockReply))
        clockRead(false);
}

void SyncJob::clockRead(bool timedOut)
{
    if (!m_clockInput)
        return;
    QObject::disconnect(m_clockInput);
    m_clockInput = {};
    m_clockTimer.stop();
    m_writer->cancel();
    if (!timedOut)
        m_result.locatorClock = ReadLocatorClock(m_clockReply);

    // Opened for this sync only: a database server restarted since the last
    // one is simply connected to again.
    const QDateTime pcNow = Clock::now();
    Archive::Store store;
    QString error;
    if (!store.open(m_options.archive, &error, Archive::Store::CreateIfMissing))
        return end(error);
    if (!ReadArchiveMark(store, m_result.identity.serialNo, pcNow, &m_result.mark, &error)) {
        return end(
            QStringLiteral("the archive %1 cannot be read: %2").arg(m_options.archive.display(), error.simplified()));
    }
    store.close();
    m_result.plan = ChoosePlan(m_result.mark, m_result.locatorClock, pcNow);
    m_result.notes = m_result.plan.notes;
    startTransfer();
}

void SyncJob::startTransfer()
{
    m_transfer = std::make_unique<TransferJob>(*m_working, m_result.port, m_result.identity);
    connect(m_transfer.get(), &TransferJob::progress, this, &SyncJob::progress);
    connect(m_transfer.get(), &TransferJob::stopping, this,
            [this] { emit message(QStringLiteral("Stopping the download, please wait.")); });
    connect(m_transfer.get(), &TransferJob::warning, this, [this](const QString &text) {
        m_result.notes << Note{Note::Kind::CommsError, text, false};
    });
    connect(m_transfer.get(), &TransferJob::finished, this, &SyncJob::onTransferFinished);
    TransferJob::Request request;
    request.folder = m_options.folder;
    request.range = m_result.plan.range;
    request.from = m_result.plan.from;
    request.to = m_result.plan.to;
    request.idleSeconds = m_options.idleSeconds;
    emit message(QStringLiteral("Downloading data from the locator, please wait."));
    QString error;
    if (!m_transfer->start(request, &error)) {
        m_transfer.reset();
        return end(error);
    }
    m_result.transferStarted = true;
}

void SyncJob::onTransferFinished()
{
    m_result.transfer = m_transfer->outcome();
    m_result.file = m_transfer->keptFile();
    m_transferFailure = m_transfer->failure();
    m_transfer.reset();
    if (m_result.file.isEmpty())
        return end(m_transferFailure);
    // What arrived goes into the archive however the transfer ended, so the
    // archive holds what the file holds and the next sync starts after it.
    emit message(QStringLiteral("Importing into the archive"));
    m_import.setFuture(importOnWorker(m_options.archive, m_result.file));
}

void SyncJob::onImported()
{
    const Archive::ImportResult imported = m_import.result();
    QString failure = m_transferFailure;
    if (imported.status == Archive::ImportResult::Failed) {
        const QString why = imported.error + QStringLiteral("; the data file is kept");
        failure = failure.isEmpty() ? why : failure + QStringLiteral("; and ") + why;
    } else {
        m_result.imported = true;
        m_result.counts = imported.counts;
        if (imported.status == Archive::ImportResult::AlreadyImported) {
            // Every record of the file is in the archive already.
            m_result.alreadyImported = true;
            m_result.counts.duplicates += m_result.counts.added;
            m_result.counts.added = 0;
        }
    }
    end(failure);
}

void SyncJob::stop()
{
    if (!m_running)
        return;
    m_result.stopped = true;
    if (m_transfer)
        return m_transfer->stop();
    if (m_clockInput) {
        QObject::disconnect(m_clockInput);
        m_clockInput = {};
        m_clockTimer.stop();
        m_writer->cancel();
        end(QStringLiteral("stopped before the transfer started"));
    }
}

void SyncJob::end(const QString &failure)
{
    QObject::disconnect(m_clockInput);
    m_clockInput = {};
    m_clockTimer.stop();
    m_result.failure = failure;
    m_result.ok = failure.isEmpty();
    // From the event loop, whichever step ended it, so a caller never sees
    // finished() from inside start() or stop().
    QTimer::singleShot(0, this, [this] {
        m_running = false;
        m_working = nullptr;
        const Result result = m_result;
        emit finished(result);
    });
}

}  // namespace Sync
