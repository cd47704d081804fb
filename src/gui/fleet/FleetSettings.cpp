#include "gui/fleet/FleetSettings.h"

#include <QSettings>

namespace FleetSettings {

namespace {

QSettings settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("korvex"),
                     QStringLiteral("locator-toolkit"));
}

const QString kArchive = QStringLiteral("fleet/archive");
const QString kOverdue = QStringLiteral("fleet/overdueDays");

}  // namespace

QString archiveText()
{
    return settings().value(kArchive).toString();
}

void setArchiveText(const QString &text)
{
    QSettings s = settings();
    if (text.isEmpty())
        s.remove(kArchive);
    else
        s.setValue(kArchive, text);
}

int overdueDays()
{
    bool ok = false;
    const int days = settings().value(kOverdue, DefaultOverdueDays).toInt(&ok);
    return ok && days > 0 ? days : DefaultOverdueDays;
}

void setOverdueDays(int days)
{
    QSettings s = settings();
    s.setValue(kOverdue, days);
}

bool ChooseArchive(const QString &option, Archive::Location *location, QString *error)
{
    if (option.isEmpty()) {
        const QString chosen = archiveText();
        if (!chosen.isEmpty())
            return Archive::ParseLocation(chosen, location, error);
    }
    return Archive::ChooseLocation(option, location, error);
}

QString WithFix(const QString &error, const Archive::Location &location)
{
    if (location.kind == Archive::Location::Sqlite)
        return error;
    const QString lower = error.toLower();
    QString fix;
    if (lower.contains(QLatin1String("password")))
        fix = QStringLiteral("Enter the right password in Settings (it is kept in the desktop's keyring).");
    else if (lower.contains(QLatin1String("driver")))
        fix = QString();  // the message names the package to install
    else if (lower.contains(QLatin1String("does not exist")) || lower.contains(QLatin1String("role")))
        fix = QStringLiteral("Check the database and user names in Settings.");
    else if (lower.contains(QLatin1String("import")) || lower.contains(QLatin1String("version")))
        fix = QString();  // the message says what to do
    else
        fix = QStringLiteral("Check the server's address and port in Settings, and that the server is running and "
                             "accepts connections from this PC.");
    return fix.isEmpty() ? error : error + QLatin1Char(' ') + fix;
}

}  // namespace FleetSettings
