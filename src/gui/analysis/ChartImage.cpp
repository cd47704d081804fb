#include "gui/analysis/ChartImage.h"

#include "gui/common/Interaction.h"

#include <QDir>
#include <QPixmap>
#include <QUrl>
#include <QWidget>

namespace ChartImage {

QString SaveChart(QWidget *window, QWidget *chart, const QString &imagesFolder, const QString &defaultName,
                  const QString &dialogTitle)
{
    QDir().mkpath(imagesFolder);
    const QString file = Interaction::current().saveFileName(window, dialogTitle, imagesFolder + defaultName,
                                                             QStringLiteral("jpg (*.jpg)"));
    if (file.isEmpty())
        return {};
    // The format is named, so a name typed without ".jpg" still gets a JPEG.
    if (!chart->grab().save(file, "JPG")) {
        Interaction::current().message(
            window, QStringLiteral("The image could not be saved:\n%1").arg(QDir::toNativeSeparators(file)));
        return {};
    }
    return file;
}

void OpenImagesFolder(QWidget *window, const QString &imagesFolder)
{
    QDir().mkpath(imagesFolder);
    if (!Interaction::current().openExternally(QUrl::fromLocalFile(imagesFolder))) {
        Interaction::current().message(
            window,
            QStringLiteral("The images folder could not be opened:\n%1").arg(QDir::toNativeSeparators(imagesFolder)));
    }
}

}  // namespace ChartImage
