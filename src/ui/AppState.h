#pragma once

#include "LocatorIdentity.h"
#include "TransferState.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Process-wide state, owned by the main window and lent to the others.
struct AppState : TransferState
{
    QString Version = QStringLiteral("2.7.016");
    QString DocumentsFolder;   // no trailing separator
    QString AppDataFolder;     // no trailing separator
    QString DataFolder;        // DocumentsFolder + "/korvex/data/"
    QString ImagesFolder;      // DocumentsFolder + "/korvex/images/"
    QString PortListPath;      // AppDataFolder + "/korvex/ports.ini"
    bool Connected = false;
    bool LocatorFound = false;
    qint16 CurrentPort = 0;
    QString BluetoothFirmwareVersion;
    LocatorIdentity Identity;
    QString ColumnsLine;
    QStringList ColumnLegends;
    QByteArray DataFileCommentBlock;
};
