#pragma once

// The small copies of the photo that its metadata segments carry besides the EXIF thumbnail
// (ExifEdit.h): a caption that is to protect the photo has to reach them too. Each is made anew
// from the saved picture, at its own size and about its own quality, where its place allows;
// otherwise its pixels are blanked (zeroed) or its segment left out. Every other byte of the
// segments stays as it was.
//
// - JFIF's own thumbnail (APP0 "JFIF", RGB): made anew in place.
// - JFXX thumbnails (APP0 "JFXX"): a JPEG one made anew, an RGB one made anew in place, a
//   palette one left out.
// - Photoshop's thumbnails (APP13 "Photoshop 3.0", resources 0x040C and 0x0409, the older one in
//   blue-green-red order): made anew; blanked where one cannot be rewritten (it runs on into the
//   next segment, or no new one fits).
// - The original photo a depth photo keeps in its extended XMP (GImage:Data, base64): blanked in
//   place, its text turned to "A"s (zero bytes), so every chunk keeps its length and offset.

#include "save/JpegHeader.h"

#include <QImage>

// True when the segments may hold a thumbnail to make anew: EXIF, a JFIF thumbnail, JFXX, or a
// Photoshop thumbnail resource.
bool HoldsPreviews(const QList<JpegSegment> &segments);

// Makes the previews above anew from `thumbnailFrom` (the saved picture in the saved file's
// stored frame, at least as large as any of them; a null picture blanks them all).
void RemakePreviews(QList<JpegSegment> &segments, const QImage &thumbnailFrom);

// The picture as a baseline JPEG at `quality` (1..100), or empty when it cannot be encoded.
QByteArray EncodePreview(const QImage &picture, int quality);

// The quality a preview was most likely written at; 85 when its tables cannot be read.
int PreviewQuality(const QByteArray &jpeg);
