#pragma once

#include <QRect>

class QIODevice;

// Where a GIF file's first image lies on its canvas (the logical screen), as its image descriptor
// gives it; invalid when the device holds no GIF or the descriptor cannot be reached. Reads from
// the device's current position.
QRect FirstGifImageRect(QIODevice &device);
