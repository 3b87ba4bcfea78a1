#pragma once

// The pictures in a photo's EXIF block besides IFD1's JPEG thumbnail (ExifEdit.h): a thumbnail
// held in TIFF strips, and previews a maker's notes point at.

#include "save/Tiff.h"

#include <QImage>

// The TIFF-strip thumbnail IFD1 describes (uncompressed, StripOffsets and StripByteCounts): made
// anew in place from `picture` when it holds 8-bit RGB pixels and the picture has its shape, so
// that every offset and size stays; otherwise its strips are zeroed. False when IFD1 holds no
// such thumbnail or it was zeroed: the caller then unlinks IFD1.
bool RemakeStripThumbnail(Tiff &tiff, const Tiff::Directory &ifd1, const QImage &picture);

// Zeroes every complete JPEG stream in the block (from its start-of-image to its end-of-image
// marker, a frame and a scan between them) but the one `keepLength` bytes long at `keepAt`.
void BlankEmbeddedJpegs(Tiff &tiff, qint64 keepAt, qint64 keepLength);
