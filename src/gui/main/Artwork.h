#pragma once

#include <QIcon>
#include <QPixmap>

// The program's one piece of artwork (an SVG in the resources, also
// installed as the desktop icon): the windows' logo and their icon.
namespace Artwork {

// The logo, `size` device-independent pixels square, sharp at `devicePixelRatio`.
QPixmap Logo(int size, qreal devicePixelRatio = 1.0);

// The windows' icon, drawn at the usual sizes (no icon-engine plugin needed).
QIcon WindowIcon();

}  // namespace Artwork
