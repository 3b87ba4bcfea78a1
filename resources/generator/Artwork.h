#pragma once

#include <QImage>
#include <QPoint>

namespace resgen {

struct CursorArt {
    QImage image;   // 32 x 32, ARGB32: black outline, white fill, transparent elsewhere
    QPoint hotspot; // the pixel that points: the tip of the index finger
};

// The pointing hand shown over push buttons.
CursorArt paintHandCursor();

// The program icon at the given edge length (transparent background, ARGB32 premultiplied
// converted to plain ARGB32). Small sizes get a simplified, bolder drawing.
QImage paintProgramIcon(int size);

} // namespace resgen
