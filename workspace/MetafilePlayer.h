#pragma once
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <stdexcept>

struct MetafilePicture {
    QImage image;   // rendered picture, Format_RGB32 (white background where nothing is drawn)
    QSize himetric; // the picture's size in HiMetric units (0.01 mm), as the Windows picture loader
                    // reports it
};

// True when the bytes start like a placeable (0x9AC6CDD7) or plain Windows metafile header.
bool looksLikeMetafile(const QByteArray &data);

// Plays a placeable or plain Windows metafile into an image sized as the Windows picture loader
// sizes it (at 96 dots per inch). Throws std::runtime_error("Invalid picture") for anything that
// cannot be played, and for a picture of more than maxPixels pixels (by default 2^29, 2 GiB of
// 32-bit pixels; the fuzzers give less). Needs a QGuiApplication for text (without one, text
// records are skipped).
MetafilePicture playMetafile(const QByteArray &data, qint64 maxPixels = qint64(1) << 29);
