#pragma once

// Pictures that phones, cameras and the web write today, decoded by the libraries made for them:
// HEIF (HEIC with HEVC, AVIF with AV1) through libheif, JPEG XL through libjxl.

#include "workspace/PhotoMetadata.h"
#include "workspace/PictureLoader.h"

// Told by the file's first bytes (64 are enough).
bool IsHeifFile(const QByteArray &head);
bool IsJpegXlFile(const QByteArray &head);

// The file's primary (HEIF) or first (JPEG XL) picture, turned the right way up as the file
// says: the HEIF container's crop, rotation and mirroring, or the JPEG XL codestream's
// orientation. An EXIF orientation in such a file describes the same turn again and is not
// applied a second time. The image keeps its alpha channel; its colour space is its profile's.
// `jpegHead` holds the metadata as MetadataHead makes it, `exif` the camera data. Throws a
// RuntimeError "Invalid picture" for a file that cannot be decoded and "Out of memory" for one
// whose pixels would take more than maxDecodedBytes at 4 bytes a pixel.
LoadedPicture LoadHeifPicture(const QByteArray &file, qint64 maxDecodedBytes);
LoadedPicture LoadJpegXlPicture(const QByteArray &file, qint64 maxDecodedBytes);

// The metadata alone, without decoding pixels (the profile is left out).
PhotoMetadata ReadHeifMetadata(const QByteArray &file);
PhotoMetadata ReadJpegXlMetadata(const QByteArray &file);
