#include "save/ExifPreviews.h"

#include "save/JpegLayout.h"

#include <cmath>

namespace {

constexpr quint16 ImageWidthTag = 0x0100, ImageLengthTag = 0x0101, BitsPerSampleTag = 0x0102;
constexpr quint16 CompressionTag = 0x0103, PhotometricTag = 0x0106, StripOffsetsTag = 0x0111;
constexpr quint16 SamplesPerPixelTag = 0x0115, RowsPerStripTag = 0x0116;
constexpr quint16 StripByteCountsTag = 0x0117, PlanarConfigurationTag = 0x011C;
constexpr quint32 Uncompressed = 1, Rgb = 2, Chunky = 1;

// A value of the directory's tag, or `absent` when the tag is not there.
quint32 valueOr(const Tiff &tiff, const Tiff::Directory &d, quint16 tag, quint32 i,
                quint32 absent) {
    const qint64 entry = tiff.find(d, tag);
    return entry < 0 ? absent : tiff.value(entry, i).value_or(0);
}

// True when a picture of `size` shows `picture` without stretching it by more than a pixel.
bool sameShape(QSize size, QSize picture) {
    if (picture.isEmpty()) {
        return false;
    }
    const double height = double(size.width()) * picture.height() / picture.width();
    return std::abs(height - size.height()) <= 1.0;
}

} // namespace

bool RemakeStripThumbnail(Tiff &tiff, const Tiff::Directory &ifd1, const QImage &picture) {
    const qint64 offsets = tiff.find(ifd1, StripOffsetsTag);
    const qint64 counts = tiff.find(ifd1, StripByteCountsTag);
    if (offsets < 0 || counts < 0) {
        return false;
    }
    const quint32 strips = tiff.get(offsets + 4, 4);
    if (strips == 0 || strips > 0xFFFF || tiff.get(counts + 4, 4) != strips) {
        return false;
    }
    // Where each strip lies; a strip outside the block is not ours to write.
    QList<std::pair<qint64, qint64>> places;
    qint64 total = 0;
    for (quint32 i = 0; i < strips; ++i) {
        const auto at = tiff.value(offsets, i), length = tiff.value(counts, i);
        if (!at || !length || !tiff.fits(*at, *length)) {
            return false;
        }
        places << std::pair<qint64, qint64>{*at, *length};
        total += *length;
    }
    const QSize size(int(valueOr(tiff, ifd1, ImageWidthTag, 0, 0)),
                     int(valueOr(tiff, ifd1, ImageLengthTag, 0, 0)));
    const bool rgb = valueOr(tiff, ifd1, CompressionTag, 0, Uncompressed) == Uncompressed &&
                     valueOr(tiff, ifd1, PhotometricTag, 0, Rgb) == Rgb &&
                     valueOr(tiff, ifd1, SamplesPerPixelTag, 0, 3) == 3 &&
                     valueOr(tiff, ifd1, PlanarConfigurationTag, 0, Chunky) == Chunky &&
                     valueOr(tiff, ifd1, BitsPerSampleTag, 0, 8) == 8 &&
                     valueOr(tiff, ifd1, BitsPerSampleTag, 1, 8) == 8 &&
                     valueOr(tiff, ifd1, BitsPerSampleTag, 2, 8) == 8;
    const qint64 rowBytes = qint64(size.width()) * 3;
    const qint64 rowsPerStrip = valueOr(tiff, ifd1, RowsPerStripTag, 0, quint32(size.height()));
    if (!rgb || size.isEmpty() || size.width() > 1024 || size.height() > 1024 ||
        total < rowBytes * size.height() || rowsPerStrip < 1 || !sameShape(size, picture.size())) {
        for (const auto &[at, length] : places) {
            tiff.zero(at, length);
        }
        return false;
    }
    const QImage small = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB888);
    // Rows fill the strips in order, RowsPerStrip rows each (the last may hold fewer).
    for (int y = 0; y < size.height(); ++y) {
        const auto &[at, length] = places.value(int(y / rowsPerStrip));
        const qint64 within = (y % rowsPerStrip) * rowBytes;
        if (within + rowBytes > length) {
            continue;
        }
        tiff.write(at + within,
                   QByteArray(reinterpret_cast<const char *>(small.constScanLine(y)), rowBytes));
    }
    return true;
}

void BlankEmbeddedJpegs(Tiff &tiff, qint64 keepAt, qint64 keepLength) {
    const QByteArray block = tiff.bytes(0, tiff.size());
    static const QByteArray start("\xFF\xD8\xFF", 3);
    for (qsizetype at = block.indexOf(start); at >= 0; at = block.indexOf(start, at + 1)) {
        if (at >= keepAt && at < keepAt + keepLength) {
            at = keepAt + keepLength - 1;
            continue;
        }
        const FirstPicture picture = ReadFirstPicture(block, at);
        if (picture.end > at) {
            tiff.zero(at, picture.end - at);
            at = picture.end - 1;
        }
    }
}
