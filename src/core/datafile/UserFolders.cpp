#include "core/datafile/UserFolders.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_WIN
static QString shellFolder(const char *value)
{
    QSettings key(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
        QSettings::NativeFormat);
    const QVariant v = key.value(QLatin1String(value));
    if (v.typeId() != QMetaType::QString)
        return {};
    QString s = v.toString();
    const qsizetype nul = s.indexOf(QChar(0));
    return nul >= 0 ? s.left(nul) : s;
}
#endif

static QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}

QString GetDocumentsFolder()
{
#ifdef Q_OS_WIN
    return withoutTrailingSeparator(shellFolder("Personal"));
#else
    return withoutTrailingSeparator(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
#endif
}

QString GetAppDataFolder()
{
#ifdef Q_OS_WIN
    return withoutTrailingSeparator(shellFolder("AppData"));
#else
    return withoutTrailingSeparator(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
#endif
}
