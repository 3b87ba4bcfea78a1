#pragma once

#include <QByteArray>

class QIODevice;

// The camera data of a JPEG file: the payload of its first APP1 segment that starts with
// "Exif\0\0", that header included, as the file holds it. Empty when the device holds no JPEG, when
// no such segment comes before the image data, or when the segments are cut short. Reads from
// the device's current position, segment by segment, never further than the start of the image
// data.
QByteArray ReadJpegExif(QIODevice &device);
