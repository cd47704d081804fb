#pragma once

#include <QPixmap>
#include <QString>

// The two 16-by-16 header images of the record viewer, drawn here: "asc" an
// upward-pointing triangle outline, "desc" a downward-pointing one. Any other
// name gives no image.
QPixmap DrawHeaderImage(const QString &name);
