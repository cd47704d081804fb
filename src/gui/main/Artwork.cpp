#include "gui/main/Artwork.h"

#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library: nothing would pull them into the
// program unless registered by name.
static void registerArtwork()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(artwork);
        return true;
    }();
    Q_UNUSED(done);
}

namespace Artwork {

QPixmap Logo(int size, qreal devicePixelRatio)
{
    registerArtwork();
    QSvgRenderer renderer(QStringLiteral(":/artwork/locator-toolkit.svg"));
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pix(pixels, pixels);
    pix.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter p(&pix);
        renderer.render(&p);
    } else {
        qWarning("the program's artwork is missing from its resources");
    }
    pix.setDevicePixelRatio(devicePixelRatio);
    return pix;
}

QIcon WindowIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Logo(size));
    return icon;
}

}  // namespace Artwork
