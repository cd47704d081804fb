#pragma once

#include "cli/CliSupport.h"

#include <QDate>
#include <QString>

#include <functional>
#include <memory>

class SerialPort;

namespace Cli {

class TransferRun;

// One transfer from an identified locator, on its open working port, into a
// new data file in `folder`, named and written as `transfer` (and the
// window) write it. It runs from the caller's event loop, so a caller that
// waits for other things meanwhile (sync --watch) needs no loop of its own.
class TransferJob
{
public:
    enum class Range { All, ByDate };

    TransferJob(Context &ctx, SerialPort &working, int port, const LocatorIdentity &identity);
    ~TransferJob();
    TransferJob(const TransferJob &) = delete;
    TransferJob &operator=(const TransferJob &) = delete;

    // True once the transfer command is on its way; `finished` then runs
    // once, from the event loop, when the transfer has ended however it ended.
    // False after saying why it could not start.
    [[nodiscard]] bool start(const QString &folder, Range range, const QDate &from, const QDate &to, int idleSeconds,
                             std::function<void()> finished);

    // After `finished`: closes the file, prints its path (when printPath and
    // something was kept) and says why the transfer did not end complete.
    // Returns the exit status.
    int report(bool printPath = true);

    // After report(): the data file, or empty when it was removed for want of data.
    QString keptFile() const;

private:
    std::unique_ptr<TransferRun> m_run;
};

}  // namespace Cli
