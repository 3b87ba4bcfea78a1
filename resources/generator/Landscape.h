#pragma once

#include <QImage>

namespace resgen {

// Paints the sample photograph: a mountain lake under a cloudy sky, with grain and sensor
// noise so that it behaves like a camera JPEG. The same size always gives the same picture.
QImage paintLandscape(int width, int height);

} // namespace resgen
