#include "frmMain.h"
#include "Pacing.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("locator-toolkit"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvex Locator PC Toolkit"));
    Pacing::configure(QApplication::arguments());

    frmMain window;
    window.show();
    return app.exec();
}
