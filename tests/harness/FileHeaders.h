#pragma once

// What the tests read in picture files' headers themselves, independently of the program.

#include <QByteArray>
#include <QSize>
#include <QString>

// The first bytes of a file (fewer when it is shorter; none when it cannot be read).
QByteArray FileStart(const QString &path, qint64 size);
// GIF files, by their signature.
bool IsGifFile(const QByteArray &start);
// Bitmaps: "BM" files and packed DIBs (an info header without the file header).
bool IsBitmapFile(const QByteArray &start);

// True for the formats whose pixels are stored exactly (bitmaps, GIF, icons, PNG); false for those
// that may hold them lossy or colour-subsampled (JPEG, WebP, TIFF with JPEG or YCbCr data, HEIF,
// AVIF, JPEG XL).
bool StoredExactly(const QString &path);

// The size a file's header declares: read here for bitmaps, GIFs (the canvas) and placeable
// metafiles (their frame at 96 dots per inch), by Qt's readers for the other raster formats
// (turned by a JPEG's EXIF orientation); invalid when it cannot be read or the file declares none.
QSize DeclaredSize(const QString &path);
