#pragma once

#include "core/LocatorVersion.h"
#include "core/datafile/LocatorIdentity.h"
#include "core/link/TransferState.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// Process-wide state, owned by the main window and lent to the others.
struct AppState : TransferState
{
    QString Version = QStringLiteral(LOCATOR_VERSION_TEXT);
    QString DocumentsFolder;  // no trailing separator
    QString AppDataFolder;  // no trailing separator
    QString DataFolder;  // DocumentsFolder + "/korvex/data/"
    QString ImagesFolder;  // DocumentsFolder + "/korvex/images/"
    QString PortListPath;  // AppDataFolder + "/korvex/ports.ini"
    bool Connected = false;
    bool LocatorFound = false;
    qint16 CurrentPort = 0;
    QString BluetoothFirmwareVersion;
    LocatorIdentity Identity;
    // Full path of the current data file when the user opened one outside
    // DataFolder; CurrentDataFile stays its bare name either way.
    QString CurrentDataFileOutside;
    QString ColumnsLine;
    QStringList ColumnLegends;
    QByteArray DataFileCommentBlock;

    // Where the current data file is read from.
    QString currentDataFilePath() const
    {
        if (!CurrentDataFileOutside.isEmpty() && QFileInfo(CurrentDataFileOutside).fileName() == CurrentDataFile)
            return CurrentDataFileOutside;
        return DataFolder + CurrentDataFile;
    }
};
