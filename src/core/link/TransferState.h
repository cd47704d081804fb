#pragma once

#include <QString>

// The transfer part of the process-wide state; the main window's AppState
// extends it, so the names are the same wherever they are used.
struct TransferState
{
    bool TransferActive = false;  // between the start marker and the end marker
    bool TransferFileReady = false;  // a finished (or cut short) file can be opened
    bool AbortAcknowledged = false;  // the locator answered "ABORT"
    qint64 TransferCharCount = 0;  // drives the progress bar, comment block included
    QString CurrentDataFile;  // bare file name in the data folder
    QString RangeStart;  // "dd-MM-yy"
    QString RangeEnd;
};
