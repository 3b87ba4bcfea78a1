#pragma once

// The metadata a picture saved from a JPEG photo carries on: its segments for a JPG, the small
// file the converter reads them from, and the EXIF and XMP chunks of a PNG.

#include "save/JpegHeader.h"

#include <QImage>
#include <QSize>

// The metadata segments of a JPG written from `source`, in the source's order, byte for byte but
// for what the saved picture changes: when `turnedUpright` (the pixels were turned by the EXIF
// orientation, or the picture is saved at another size) EXIF's and XMP's Orientation say 1; the
// EXIF and XMP dimension tags say `savedSize`; and the EXIF thumbnail is made anew from
// `thumbnailFrom` (the saved picture, turned as the saved file's pixels) or removed (see
// EditExif). The other copies of the photo the segments hold are made anew from the thumbnail
// picture too, or blanked (Previews.h). Only the first EXIF segment, the main XMP packet and
// those previews are edited; everything else (ICC profile chunks, IPTC, the rest of extended
// XMP, Adobe, comments, maker segments) passes untouched.
QList<JpegSegment> MetadataForSave(const JpegHeader &source, QSize savedSize, bool turnedUpright,
                                   const QImage &thumbnailFrom);

// A small JPEG-shaped file the converter reads beside its input: SOI, the segments (a payload too
// large for one marker is left out), then, when `sampling` is not empty, an SOF0 of `size` with
// those sampling factors for components 1, 2, 3 (tables 0, 1, 1), then EOI.
QByteArray MetaSidecar(const QList<JpegSegment> &segments, QSize size = {},
                       const QList<QPoint> &sampling = {});

// `png` with an eXIf chunk (the TIFF structure of `exifPayload`, its "Exif\0\0" header dropped)
// and an uncompressed iTXt chunk "XML:com.adobe.xmp" holding `xmpPayload` (the packet, its
// namespace header dropped if given), before the first IDAT. An empty payload adds no chunk; a
// file that is not a PNG comes back unchanged.
QByteArray AddPngMetadata(const QByteArray &png, const QByteArray &exifPayload,
                          const QByteArray &xmpPayload);

// The first EXIF payload ("Exif\0\0" included), or empty.
QByteArray ExifPayload(const QList<JpegSegment> &segments);
// The main XMP packet (after "http://ns.adobe.com/xap/1.0/\0"), or empty.
QByteArray XmpPacket(const QList<JpegSegment> &segments);
