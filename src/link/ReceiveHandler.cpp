#include "ReceiveHandler.h"

#include "DataFileHandle.h"
#include "Protocol.h"

#include <QDir>

ReceiveHandler::ReceiveHandler(TransferState &state, DataFileHandle &file, ReceiveView &view)
    : m_state(state)
    , m_file(file)
    , m_view(view)
{
}

QString ReceiveHandler::fullPath(const QString &name) const
{
    return QDir(m_dataFolder).filePath(name);
}

void ReceiveHandler::prepareTransfer()
{
    m_state.TransferCharCount = 0;
    m_state.AbortAcknowledged = false;
}

bool ReceiveHandler::openDataFile(const QString &name, QString *error)
{
    closeDataFile();
    m_state.CurrentDataFile = name;
    if (!m_file.openForWrite(fullPath(name))) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    m_openName = name;
    return true;
}

QString ReceiveHandler::closeDataFile()
{
    QString name;
    if (m_file.isWriting()) {
        name = m_openName;
        m_file.close();
    }
    m_openName.clear();
    return name;
}

QString ReceiveHandler::abandonTransfer()
{
    m_state.TransferActive = false;
    const QString kept = closeDataFile();
    if (!kept.isEmpty())
        m_state.TransferFileReady = true;
    return kept;
}

void ReceiveHandler::failWrite()
{
    const QString path = m_file.path();
    const QString reason = m_file.errorString();
    m_state.TransferActive = false;
    closeDataFile();
    m_view.onDataFileError(path, reason);
}

void ReceiveHandler::handlePiece(QByteArray piece)
{
    if (const qsizetype pd = piece.indexOf(Protocol::PowerDownNotice); pd >= 0) {
        // Transfer text that shared its piece with the notice was received
        // all the same: keep it, the notice itself is not data. A failed
        // write is reported, and the locator is still gone.
        if (m_state.TransferActive && pd > 0 && !m_file.write(piece.left(pd)))
            failWrite();
        m_state.TransferActive = false;
        m_state.TransferFileReady = true;
        m_view.onPowerDown(closeDataFile());
        return;
    }

    m_view.onLinkAlive(m_state.TransferActive);

    // Within a running transfer a start marker is transfer text like any
    // other (a user name may hold "#DD", say): the comment block heads the
    // file once, never in the middle of what the locator sent.
    if (!m_state.TransferActive && Protocol::HasTransferStart(piece)) {
        if (!m_file.isWriting()) {
            // Nobody asked for this transfer (or its file is gone): start a
            // file of its own rather than lose the text.
            QString error;
            const QString name = m_view.newDataFileName();
            if (!openDataFile(name, &error)) {
                m_view.onDataFileError(fullPath(name), error);
                return;
            }
        }
        m_view.onTransferStart();
        m_state.TransferActive = true;
        piece.prepend(m_commentBlock);
        m_view.restartWatchdog();
    }

    if (Protocol::IsLiveLine(piece)) {
        m_view.onLiveLine(piece, m_state.TransferFileReady);
        m_view.restartWatchdog();
    }

    if (!m_state.TransferActive)
        return;

    m_state.TransferCharCount += piece.size();
    if (m_state.TransferCharCount > kProgressMax)
        m_state.TransferCharCount = 0;
    m_view.onProgress(m_state.TransferCharCount);

    if (!m_file.write(piece)) {
        failWrite();
        return;
    }
    const bool aborted = piece.contains(Protocol::AbortReply);
    if (aborted)
        m_state.AbortAcknowledged = true;
    if (Protocol::HasEndMarker(piece)) {
        m_state.TransferActive = false;
        closeDataFile();
        m_state.TransferFileReady = true;
        m_view.onTransferEnd(aborted);
    }
    m_view.onTransferText(piece);
    m_view.restartWatchdog();
}
