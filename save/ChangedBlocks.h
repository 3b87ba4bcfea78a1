#pragma once

// Which MCUs of a JPEG photo a stamp changed: the picture before and after the stamp, compared
// pixel for pixel in memory within each MCU the stamp could reach. An MCU whose pixels the stamp
// left exactly as they were keeps the photo's own blocks when the photo is kept as it was.

#include "save/JpegHeader.h"

#include <QImage>
#include <QList>
#include <QRect>

// `before` and `after` are the same part of the picture as shown (turned by the photo's EXIF
// orientation), lying at `origin` in it. Returns the changed MCUs in pixels of the picture as
// shown: each run of changed MCUs along one MCU row of the photo's stored frame as one rectangle,
// clipped to the picture. Without a valid header, the bounds of the changed pixels.
QList<QRect> ChangedMcus(const QImage &before, const QImage &after, QPoint origin,
                         const JpegHeader &source);
