#pragma once

// HEIF, AVIF and JPEG XL files decoded the plain way their libraries show them, as a rendering to
// compare the program's loading with: libheif with its transforms of the primary picture, libjxl
// with its orientation and the first frame, 8 bits a channel, alpha kept (ImageMagick 6 reads no
// JPEG XL and leaves out HEIF alpha). JPEG XL pictures coded in the format's own colour space
// come in sRGB.

#include <QImage>
#include <QString>

// True for files of those formats, by their first bytes.
bool IsPhotoFormatFile(const QString &path);
// The decoding, or a null image when the library refuses the file.
QImage DecodeWithItsLibrary(const QString &path);
