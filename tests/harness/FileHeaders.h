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

// True for files whose pixels are stored exactly; false for lossy or colour-subsampled storage:
// JPEG, lossy WebP, and TIFF holding YCbCr or JPEG data.
bool StoredExactly(const QString &path);

// The size a file's header declares: read here for bitmaps, GIFs (the canvas) and placeable
// metafiles (their frame at 96 dots per inch), by Qt's readers for the other raster formats
// (turned by a JPEG's EXIF orientation); invalid when it cannot be read or the file declares none.
QSize DeclaredSize(const QString &path);

// For a JPEG: whether its frame header names a lossless process, and its sample precision in
// bits; found false when the file holds no frame header before its image data.
struct JpegFrame {
    bool found = false;
    bool lossless = false;
    int precision = 0;
};
JpegFrame ReadJpegFrame(const QString &path);
