#pragma once

// Editing the camera data (an APP1 "Exif\0\0" payload: a TIFF structure in either byte order) of
// a photo saved anew: its Orientation, its dimension tags and its thumbnail. Every offset and
// count is checked against the block, so a damaged or hostile block never reads or writes outside.

#include <QByteArray>
#include <QImage>
#include <QSize>

// IFD0's Orientation (1..8) of an "Exif\0\0" payload; 1 when absent or out of range.
int ExifOrientation(const QByteArray &exifPayload);

// The payload for a picture saved at `savedSize`: IFD0 ImageWidth/ImageLength and the Exif
// sub-IFD's PixelXDimension/PixelYDimension where present say `savedSize`; Orientation says 1
// when `turnedUpright`; a JPEG thumbnail in IFD1 is made anew from `thumbnailFrom` (the saved
// pixels), fitted into the old thumbnail's size and at most 160 x 120, with IFD1's own width and
// length tags (where present) following, or IFD1 is unlinked and the old thumbnail's bytes zeroed
// where a new one cannot be written (no room in one segment, no picture, an IFD1 whose entries
// run outside the block). A thumbnail in TIFF strips is made anew in place when it is 8-bit RGB
// of the picture's shape, else zeroed and unlinked (ExifPreviews.h). Every other JPEG stream in
// the block (a preview the maker's notes point at) is zeroed where it stands. A payload whose
// TIFF header cannot be read comes back unchanged.
QByteArray EditExif(const QByteArray &exifPayload, QSize savedSize, bool turnedUpright,
                    const QImage &thumbnailFrom);
