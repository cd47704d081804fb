#pragma once

#include "core/link/TransferState.h"

#include <QByteArray>
#include <QString>

class DataFileHandle;

// What the receive logic shows: the effects every front end presents.
class ReceiveEffects
{
public:
    virtual ~ReceiveEffects() = default;
    // "#PD" arrived. keptFile is the data file that was open (now closed) or empty.
    virtual void onPowerDown(const QString &keptFile) = 0;
    virtual void onLinkAlive(bool transferActive) = 0;
    virtual void onTransferStart() = 0;
    virtual void onLiveLine(const QByteArray &piece, bool fileReady) = 0;
    virtual void onProgress(qint64 value) = 0;
    // The end marker arrived and the data file is closed.
    virtual void onTransferEnd(bool aborted) = 0;
    virtual void onTransferText(const QByteArray &shown) = 0;
    virtual void onDataFileError(const QString &path, const QString &reason) = 0;
    // A name ("DA" kind, with extension) for a transfer that started with no file ready.
    virtual QString newDataFileName() = 0;
};

// What the receive logic asks of whoever runs the link: its effects, and
// keeping the link watchdog alive.
class ReceiveView : public ReceiveEffects
{
public:
    virtual void restartWatchdog() = 0;
};

// Everything the locator sends on the working port goes through here: live
// lines, transfer start and end, the power-down notice and abort replies.
// The port hands over whatever has arrived, so a marker may straddle two
// pieces: the last few characters of the previous piece are kept to find it.
// Transfer text reaches the data file byte for byte; a power-down notice
// never does, not even the part of it that came in an earlier piece.
class ReceiveHandler
{
public:
    static constexpr qint64 kProgressMax = 165000;

    ReceiveHandler(TransferState &state, DataFileHandle &file, ReceiveView &view);

    void setDataFolder(const QString &folder) { m_dataFolder = folder; }
    QString dataFolder() const { return m_dataFolder; }
    void setCommentBlock(const QByteArray &block) { m_commentBlock = block; }

    // A transfer command is about to go out: fresh counters, fresh abort state.
    void prepareTransfer();
    // Creates the named file in the data folder; an earlier open file is closed first.
    bool openDataFile(const QString &name, QString *error);
    // The link is gone mid-transfer: keep what arrived. Returns the kept file's name or empty.
    QString abandonTransfer();
    // A new link: what the last one sent cannot begin a marker on this one.
    void forgetPieces() { m_tail.clear(); }

    void handlePiece(QByteArray piece);

    QString fullPath(const QString &name) const;

private:
    // Where marker begins in tail followed by piece, if it ends inside piece;
    // -1 if it is not there. Positions below tail.size() lie in the tail.
    static qsizetype findMarker(const QByteArray &tail, const QByteArray &piece, const QByteArray &marker);
    QString closeDataFile();
    void failWrite();
    // A power-down notice starts `before` characters into the piece (negative:
    // in the held-back tail): keep the text in front of it, end the transfer.
    void endByPowerDown(const QByteArray &piece, qsizetype before);
    // Writes transfer text, holding back an end that may begin a power-down
    // notice until the next piece tells; `last` writes everything.
    bool writeText(const QByteArray &text, bool last);

    TransferState &m_state;
    DataFileHandle &m_file;
    ReceiveView &m_view;
    QString m_dataFolder;
    QByteArray m_commentBlock;
    QString m_openName;
    QByteArray m_tail;  // the end of the previous piece, one short of the longest marker
    QByteArray m_held;  // transfer text not yet written: it may be the start of "#PD"
    bool m_abortInTransfer = false;  // "ABORT" arrived since this transfer's start marker
};
