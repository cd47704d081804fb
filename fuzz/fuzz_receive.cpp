// The receive handler fed arbitrary pieces, with the user's transfer commands
// and lost links in between. Whatever arrives, every data file must be the
// comment block followed by exactly the pieces from the one that started its
// transfer to the one that ended it (or to where the transfer was cut short),
// and nothing else may be written anywhere. A marker may straddle pieces: the
// transfer then starts at the marker's first character, and a power-down
// notice leaves none of its characters in the file.
//
// Input: a list of steps. 0xFF: a transfer command (only while no transfer
// runs, as the window disables the buttons then); 0xFE: the link is lost;
// any other byte n: a received piece of the next n bytes.
#include "FuzzSupport.h"

#include "core/datafile/DataFileFormat.h"
#include "core/datafile/DataFileHandle.h"
#include "core/link/ReceiveHandler.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

class View : public ReceiveView
{
public:
    QString lastPowerDownFile;
    int powerDowns = 0;
    int ends = 0;
    int abortedEnds = 0;
    int errors = 0;
    int autoNames = 0;

    void onPowerDown(const QString &keptFile) override
    {
        ++powerDowns;
        lastPowerDownFile = keptFile;
    }
    void onLinkAlive(bool) override { }
    void onTransferStart() override { }
    void onLiveLine(const QByteArray &, bool) override { }
    void onProgress(qint64 value) override { FUZZ_CHECK(value >= 0 && value <= ReceiveHandler::kProgressMax); }
    void onTransferEnd(bool aborted) override
    {
        ++ends;
        abortedEnds += aborted;
    }
    void onTransferText(const QByteArray &) override { }
    void onDataFileError(const QString &, const QString &) override { ++errors; }
    QString newDataFileName() override { return QStringLiteral("auto%1.csv").arg(++autoNames); }
    void restartWatchdog() override { }
};

// What the files should hold, worked out from the steps alone.
struct Model
{
    QByteArray block;
    bool active = false;
    QString open;  // the file being written, if any
    QMap<QString, QByteArray> files;
    int autoNames = 0;
    int ends = 0;
    int abortedEnds = 0;
    bool abortInTransfer = false;
    QByteArray seen;  // everything received since the link was last lost

    // Where marker starts in seen + p when it ends inside p; -1 otherwise.
    qsizetype find(const QByteArray &p, const QByteArray &marker) const
    {
        const QByteArray all = seen + p;
        for (qsizetype at = std::max<qsizetype>(0, seen.size() - marker.size()); at + marker.size() <= all.size(); ++at)
            if (at + marker.size() > seen.size() && all.mid(at, marker.size()) == marker)
                return at;
        return -1;
    }

    void request(const QString &name)
    {
        open = name;
        files[name].clear();
    }
    QString linkLost()
    {
        active = false;
        seen.clear();
        return std::exchange(open, QString());
    }
    // Returns the file kept by a power-down notice in the piece, or nullopt.
    std::optional<QString> piece(const QByteArray &p)
    {
        const qsizetype pd = find(p, "#PD");
        if (pd >= 0) {
            // No part of the notice is data, also when it began in a piece
            // that was transfer text.
            if (active && pd >= seen.size())
                files[open] += p.left(pd - seen.size());
            else if (active)
                files[open].chop(seen.size() - pd);
            active = false;
            seen.clear();
            return std::exchange(open, QString());
        }
        const qsizetype abort = find(p, "ABORT");
        QByteArray text = p;
        if (!active) {
            const qsizetype da = find(p, "#DA"), dd = find(p, "#DD");
            const qsizetype start = da < 0 ? dd : dd < 0 ? da : std::min(da, dd);
            if (start >= 0) {
                if (open.isEmpty())
                    request(QStringLiteral("auto%1.csv").arg(++autoNames));
                active = true;
                abortInTransfer = false;
                if (start < seen.size())
                    text.prepend(seen.mid(start));
                text.prepend(block);
            }
        }
        seen += p;
        if (!active)
            return std::nullopt;
        files[open] += text;
        abortInTransfer = abortInTransfer || abort >= 0;
        if (p.contains('\x1a')) {
            ++ends;
            abortedEnds += abortInTransfer;
            active = false;
            open.clear();
        }
        return std::nullopt;
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = fuzz::scratchDir() + QStringLiteral("/received");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);

    TransferState state;
    DataFileHandle file;
    View view;
    ReceiveHandler handler(state, file, view);
    handler.setDataFolder(folder);
    Model model;
    model.block = DataFileFormat::DefaultCommentBlock();
    handler.setCommentBlock(model.block);

    int requests = 0;
    size_t i = 0;
    while (i < size) {
        const uint8_t step = data[i++];
        if (step == 0xFF) {
            if (model.active || requests == 16)
                continue;
            const QString name = QStringLiteral("req%1.csv").arg(++requests);
            handler.prepareTransfer();
            QString error;
            FUZZ_CHECK(handler.openDataFile(name, &error));
            model.request(name);
        } else if (step == 0xFE) {
            FUZZ_CHECK(handler.abandonTransfer() == model.linkLost());
        } else {
            const size_t n = std::min<size_t>(step, size - i);
            const QByteArray piece = fuzz::bytesOf(data + i, n);
            i += n;
            const int powerDownsBefore = view.powerDowns;
            const std::optional<QString> kept = model.piece(piece);
            handler.handlePiece(piece);
            FUZZ_CHECK(view.powerDowns == powerDownsBefore + (kept ? 1 : 0));
            if (kept)
                FUZZ_CHECK(view.lastPowerDownFile == *kept);
        }
        FUZZ_CHECK(state.TransferActive == model.active);
        FUZZ_CHECK(file.isWriting() == !model.open.isEmpty());
        FUZZ_CHECK(!file.isWriting() || QFileInfo(file.path()).fileName() == model.open);
    }

    FUZZ_CHECK(view.errors == 0);
    FUZZ_CHECK(view.ends == model.ends);
    FUZZ_CHECK(view.abortedEnds == model.abortedEnds);
    FUZZ_CHECK(view.autoNames == model.autoNames);
    // The link ends: what the handler may still hold back for a next piece
    // goes to the file, and then what is on disk is all there will be.
    FUZZ_CHECK(handler.abandonTransfer() == model.linkLost());
    const QStringList onDisk = QDir(folder).entryList(QDir::Files, QDir::Name);
    FUZZ_CHECK(onDisk.size() == model.files.size());
    for (auto it = model.files.cbegin(); it != model.files.cend(); ++it)
        FUZZ_CHECK(readAll(folder + QLatin1Char('/') + it.key()) == it.value());
    return 0;
}
