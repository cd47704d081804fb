#pragma once

#include <QString>

class QWidget;

// Saving a pie window's chart as a JPEG and showing the images folder.
namespace ChartImage {

// Proposes imagesFolder + defaultName (making the folder if missing) and
// writes the chart, as displayed, as a JPEG under the name exactly as the
// dialog returns it; no extension is added. A failed write is reported.
// Returns the path written, or empty when cancelled or failed.
QString SaveChart(QWidget *window, QWidget *chart, const QString &imagesFolder, const QString &defaultName,
                  const QString &dialogTitle);

// Opens the images folder in the desktop's file browser, making it first if missing.
void OpenImagesFolder(QWidget *window, const QString &imagesFolder);

}  // namespace ChartImage
