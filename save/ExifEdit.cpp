#include "save/ExifEdit.h"

#include "save/ExifPreviews.h"
#include "save/JpegHeader.h"
#include "save/Previews.h"
#include "save/Tiff.h"

#include <optional>

namespace {

constexpr qsizetype HeaderSize = 6;         // "Exif\0\0"
constexpr qsizetype LargestPayload = 65533; // one marker's length field less its own two bytes
constexpr quint16 ImageWidthTag = 0x0100, ImageLengthTag = 0x0101, OrientationTag = 0x0112;
constexpr quint16 ExifIfdTag = 0x8769;
constexpr quint16 PixelXTag = 0xA002, PixelYTag = 0xA003;
constexpr quint16 ThumbnailOffsetTag = 0x0201, ThumbnailLengthTag = 0x0202;
constexpr QSize LargestThumbnail(160, 120);

// The box a new thumbnail fits into: the old thumbnail's frame, at most 160 x 120.
QSize thumbnailBox(const QByteArray &oldThumbnail) {
    const JpegHeader old = ReadJpegHeader(oldThumbnail);
    if (!old.valid || old.width < 1 || old.height < 1) {
        return LargestThumbnail;
    }
    return QSize(old.width, old.height).boundedTo(LargestThumbnail);
}

// Where the thumbnail IFD1 now holds lies in the block (offset and length); none: -1.
struct Kept {
    qint64 at = -1, length = 0;
};

// Writes a JPEG thumbnail made anew from the picture in place of the old one at `oldOffset`,
// or at the end of the block when it is larger; IFD1's offset, length and size tags follow. An
// empty result when no new one could be written.
Kept writeNewThumbnail(Tiff &tiff, const Tiff::Directory &ifd1, quint32 oldOffset,
                       quint32 oldLength, const QImage &picture) {
    const qint64 offsetEntry = tiff.find(ifd1, ThumbnailOffsetTag);
    const qint64 lengthEntry = tiff.find(ifd1, ThumbnailLengthTag);
    const QByteArray old = tiff.bytes(oldOffset, oldLength);
    // Whatever happens next, the old picture's bytes are no longer shown.
    tiff.zero(oldOffset, oldLength);
    if (picture.isNull()) {
        return {};
    }
    const QImage small =
        picture.scaled(thumbnailBox(old), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    for (int quality : {80, 60, 40}) {
        const QByteArray fresh = EncodePreview(small, quality);
        if (fresh.isEmpty()) {
            break;
        }
        qint64 at = oldOffset;
        if (fresh.size() > qint64(oldLength)) {
            at = tiff.size() + (tiff.size() & 1); // TIFF offsets start on a word boundary
            if (HeaderSize + at + fresh.size() > LargestPayload) {
                continue;
            }
            if (tiff.size() & 1) {
                tiff.append(QByteArray(1, '\0'));
            }
            tiff.append(fresh);
        } else {
            tiff.write(at, fresh);
        }
        tiff.setSingle(offsetEntry, quint32(at));
        tiff.setSingle(lengthEntry, quint32(fresh.size()));
        if (tiff.single(offsetEntry) != quint32(at) ||
            tiff.single(lengthEntry) != quint32(fresh.size())) {
            break; // the tags could not hold the new place: leave no thumbnail
        }
        // Size tags, where IFD1 has them, say the new thumbnail's size.
        for (const auto &[tag, side] :
             {std::pair{ImageWidthTag, small.width()}, std::pair{ImageLengthTag, small.height()}}) {
            tiff.setSingle(tiff.find(ifd1, tag), quint32(side));
        }
        return {at, fresh.size()};
    }
    return {};
}

// Makes IFD1's thumbnail anew (a JPEG one in place or at the end of the block, a TIFF-strip one
// in place), or unlinks IFD1 with the old thumbnail's bytes zeroed.
Kept replaceThumbnail(Tiff &tiff, const Tiff::Directory &ifd0, const QImage &picture) {
    const qint64 link = ifd0.next();
    if (tiff.get(link, 4) == 0) {
        return {}; // no thumbnail
    }
    const auto ifd1 = tiff.directory(tiff.get(link, 4));
    if (ifd1) {
        const auto oldOffset = tiff.single(tiff.find(*ifd1, ThumbnailOffsetTag));
        const auto oldLength = tiff.single(tiff.find(*ifd1, ThumbnailLengthTag));
        if (oldOffset && oldLength && tiff.fits(*oldOffset, *oldLength)) {
            const Kept kept = writeNewThumbnail(tiff, *ifd1, *oldOffset, *oldLength, picture);
            if (kept.at >= 0) {
                return kept;
            }
        } else if (RemakeStripThumbnail(tiff, *ifd1, picture)) {
            return {};
        }
    }
    // No reader finds a thumbnail behind a damaged directory; none is left to show.
    tiff.put(link, 4, 0);
    return {};
}

} // namespace

int ExifOrientation(const QByteArray &exifPayload) {
    QByteArray copy = exifPayload;
    Tiff tiff(copy, HeaderSize);
    if (!copy.startsWith(QByteArray("Exif\0\0", 6)) || !tiff.open()) {
        return 1;
    }
    const auto ifd0 = tiff.first();
    if (!ifd0) {
        return 1;
    }
    const auto value = tiff.single(tiff.find(*ifd0, OrientationTag));
    return value && *value >= 1 && *value <= 8 ? int(*value) : 1;
}

QByteArray EditExif(const QByteArray &exifPayload, QSize savedSize, bool turnedUpright,
                    const QImage &thumbnailFrom) {
    QByteArray payload = exifPayload;
    Tiff tiff(payload, HeaderSize);
    if (!payload.startsWith(QByteArray("Exif\0\0", 6)) || !tiff.open()) {
        return exifPayload;
    }
    const auto ifd0 = tiff.first();
    if (!ifd0) {
        BlankEmbeddedJpegs(tiff, -1, 0);
        return payload;
    }
    if (turnedUpright) {
        tiff.setSingle(tiff.find(*ifd0, OrientationTag), 1);
    }
    if (savedSize.isValid()) {
        const auto setIfPresent = [&](const Tiff::Directory &d, quint16 tag, int value) {
            const qint64 entry = tiff.find(d, tag);
            if (entry >= 0) {
                tiff.setSingle(entry, quint32(value));
            }
        };
        setIfPresent(*ifd0, ImageWidthTag, savedSize.width());
        setIfPresent(*ifd0, ImageLengthTag, savedSize.height());
        const auto exifIfdAt = tiff.single(tiff.find(*ifd0, ExifIfdTag));
        if (const auto exifIfd = exifIfdAt ? tiff.directory(*exifIfdAt) : std::nullopt) {
            setIfPresent(*exifIfd, PixelXTag, savedSize.width());
            setIfPresent(*exifIfd, PixelYTag, savedSize.height());
        }
    }
    const Kept kept = replaceThumbnail(tiff, *ifd0, thumbnailFrom);
    // Other pictures the block holds (previews in the maker's notes) are copies of the photo
    // without the caption: their bytes are zeroed where they stand, so every offset stays right.
    BlankEmbeddedJpegs(tiff, kept.at, kept.length);
    return payload;
}
