#pragma once

// Where the first picture of a JPEG stream ends: its segments are walked by their lengths and the
// compressed data of each scan is passed over up to the next marker, so that an end-of-image
// marker inside a segment (a thumbnail in EXIF) or a stuffed 0xFF in the data is never taken for
// the picture's end. Whatever follows that end (more pictures, a maker's trailer) is not the
// first picture's.

#include "save/JpegHeader.h"

struct FirstPicture {
    // Just past its end-of-image marker; -1 when the stream is cut short or damaged first, or
    // ends without a frame header and a scan.
    qsizetype end = -1;
    // Where the TIFF header of its first MPF segment (APP2 "MPF\0", before the first scan)
    // starts; -1 when it has none.
    qsizetype mpfTiff = -1;
    // The APPn and COM segments that stand between its scans, in their order.
    QList<JpegSegment> betweenScans;
};

// Reads the stream that starts (with its start-of-image marker) `from` bytes into `bytes`.
// Never reads outside `bytes`.
FirstPicture ReadFirstPicture(const QByteArray &bytes, qsizetype from = 0);
