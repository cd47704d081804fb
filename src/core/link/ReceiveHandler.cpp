#include "core/link/ReceiveHandler.h"

#include "core/datafile/DataFileHandle.h"
#include "core/link/Protocol.h"

#include <QDir>

ReceiveHandler::ReceiveHandler(TransferState &state, DataFileHandle &file, ReceiveView &view)
    : m_state(state)
    , m_file(file)
    , m_view(view)
{ }

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
        // Text held back for a piece that will not come is transfer text
        // after all.
        if (!m_held.isEmpty())
            m_file.write(m_held);
        name = m_openName;
        m_file.close();
    }
    m_held.clear();
    m_openName.clear();
    return name;
}

QString ReceiveHandler::abandonTransfer()
{
    m_state.TransferActive = false;
    m_tail.clear();
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
    m_held.clear();
    closeDataFile();
    m_view.onDataFileError(path, reason);
}

bool ReceiveHandler::writeText(const QByteArray &text, bool last)
{
    static const QByteArray powerDown(Protocol::PowerDownNotice);
    QByteArray out = m_held + text;
    m_held.clear();
    if (!last) {
        for (qsizetype n = qMin(out.size(), powerDown.size() - 1); n > 0; --n) {
            if (out.endsWith(QByteArrayView(powerDown).first(n))) {
                m_held = out.right(n);
                out.chop(n);
                break;
            }
        }
    }
    return out.isEmpty() || m_file.write(out);
}

qsizetype ReceiveHandler::findMarker(const QByteArray &tail, const QByteArray &piece, const QByteArray &marker)
{
    // Only the marker's first characters can come from the tail; a marker
    // wholly inside it was the previous piece's and has been handled. The
    // seam is searched apart so that a piece (up to the input buffer's size)
    // is never copied to look for a few characters.
    const qsizetype carry = qMin<qsizetype>(tail.size(), marker.size() - 1);
    if (carry > 0) {
        const qsizetype at = (tail.right(carry) + piece.left(marker.size() - 1)).indexOf(marker);
        if (at >= 0)
            return tail.size() - carry + at;
    }
    const qsizetype at = piece.indexOf(marker);
    return at < 0 ? -1 : tail.size() + at;
}

void ReceiveHandler::endByPowerDown(const QByteArray &piece, qsizetype before)
{
    // Transfer text that shared its piece with the notice was received all
    // the same: keep it, the notice itself is not data. When the notice began
    // in an earlier piece (`before` < 0), its first characters are the ones
    // held back; they are dropped. A failed write is reported, and the
    // locator is still gone.
    if (m_state.TransferActive) {
        const QByteArray text
            = before >= 0 ? m_held + piece.left(before) : m_held.left(qMax<qsizetype>(0, m_held.size() + before));
        if (!text.isEmpty() && !m_file.write(text))
            failWrite();
    }
    m_held.clear();
    m_state.TransferActive = false;
    m_state.TransferFileReady = true;
    m_tail.clear();
    m_view.onPowerDown(closeDataFile());
}

void ReceiveHandler::handlePiece(QByteArray piece)
{
    static const QByteArray powerDown(Protocol::PowerDownNotice);
    static const QByteArray abortReply(Protocol::AbortReply);
    static const QByteArray startAll(Protocol::TransferAll);
    static const QByteArray startByDate(Protocol::TransferByDate);

    // Pieces may be shorter than a marker: the tail spans as many as it needs.
    const QByteArray tail = m_tail;
    const QByteArray received = piece;
    const qsizetype keep = abortReply.size() - 1;
    m_tail = piece.size() >= keep ? piece.right(keep) : (tail + piece).right(keep);
    const qsizetype tailSize = tail.size();

    if (const qsizetype pd = findMarker(tail, received, powerDown); pd >= 0) {
        endByPowerDown(piece, pd - tailSize);
        return;
    }

    m_view.onLinkAlive(m_state.TransferActive);

    // Within a running transfer a start marker is transfer text like any
    // other (a user name may hold "#DD", say): the comment block heads the
    // file once, never in the middle of what the locator sent.
    qsizetype start = -1;
    if (!m_state.TransferActive) {
        const qsizetype all = findMarker(tail, received, startAll);
        const qsizetype byDate = findMarker(tail, received, startByDate);
        start = all < 0 ? byDate : byDate < 0 ? all : qMin(all, byDate);
    }
    if (start >= 0) {
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
        m_abortInTransfer = false;
        // A marker begun at the end of the previous piece starts the
        // transfer at its first character, so the header line stays whole.
        if (start < tailSize)
            piece.prepend(tail.mid(start));
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

    const bool ends = Protocol::HasEndMarker(piece);
    if (!writeText(piece, ends)) {
        failWrite();
        return;
    }
    if (findMarker(tail, received, abortReply) >= 0) {
        m_state.AbortAcknowledged = true;
        m_abortInTransfer = true;
    }
    if (ends) {
        m_state.TransferActive = false;
        closeDataFile();
        m_state.TransferFileReady = true;
        // An abort answered in an earlier piece still ends the transfer
        // aborted: what is on disk is incomplete, whatever piece the end
        // marker came in.
        m_view.onTransferEnd(m_abortInTransfer);
    }
    m_view.onTransferText(piece);
    m_view.restartWatchdog();
}
