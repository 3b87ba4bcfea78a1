#pragma once

// What a HEIF (HEIC, AVIF) or JPEG XL photo says about itself beside its pixels, and the same
// metadata put into the shape of a JPEG head, so that a picture loaded from such a file is saved
// as JPG or PNG with its camera data, XMP and colour profile exactly as a JPEG photo's are.

#include <QByteArray>
#include <QSize>
#include <QString>

struct PhotoMetadata {
    QByteArray exif; // "Exif\0\0" followed by the TIFF structure; empty when none
    QByteArray xmp;  // the XMP packet as the file holds it; empty when none
    QByteArray icc;  // the colour profile of the decoded pixels; empty when none
};

// The camera data of an "Exif" item or box of a HEIF or JPEG XL file (a 4-byte big-endian offset
// to the TIFF header, then the data) as a JPEG's APP1 payload; empty when no TIFF header lies
// where the offset says (or, as some writers put it, after an "Exif\0\0" of its own).
QByteArray ExifFromBox(const QByteArray &box);

// A JPEG head holding the metadata: SOI; APP1 EXIF; APP1 XMP; the profile in APP2 ICC_PROFILE
// chunks (an RGB profile only: the picture is saved in colour); a baseline frame of `size` (each
// side at most 65535) with 2 x 2 luminance sampling, which leaves the converter's own sampling as
// it is; and an empty scan header. It has no quantization tables: it describes a picture, not
// JPEG data that a save could keep.
QByteArray MetadataHead(const PhotoMetadata &metadata, QSize size);

// The camera data of a picture file: a JPEG's first EXIF segment, the Exif item of a HEIF file,
// the Exif box of a JPEG XL file (Brotli-compressed or not), as an "Exif\0\0" payload; empty when
// the file has none or cannot be read. The pixels are not decoded.
QByteArray ReadCameraData(const QString &path);
