#include "save/ExifEdit.h"

#include "save/JpegHeader.h"

#include <QBuffer>
#include <QImageWriter>

#include <optional>

namespace {

constexpr qsizetype HeaderSize = 6; // "Exif\0\0"
constexpr qsizetype EntrySize = 12;
constexpr qsizetype LargestPayload = 65533; // one marker's length field less its own two bytes
constexpr quint16 ImageWidthTag = 0x0100, ImageLengthTag = 0x0101, OrientationTag = 0x0112;
constexpr quint16 ExifIfdTag = 0x8769;
constexpr quint16 PixelXTag = 0xA002, PixelYTag = 0xA003;
constexpr quint16 ThumbnailOffsetTag = 0x0201, ThumbnailLengthTag = 0x0202;
constexpr quint16 ShortType = 3, LongType = 4, IfdType = 13;
constexpr QSize LargestThumbnail(160, 120);

// The TIFF structure of the payload (after its six-byte header), read and written in its own
// byte order, every access checked against its size.
class Tiff {
public:
    explicit Tiff(QByteArray &payload) : block(payload) {}

    bool open() {
        if (!block.startsWith(QByteArray("Exif\0\0", 6)) || size() < 8) {
            return false;
        }
        if (block.mid(HeaderSize, 2) == "MM") {
            bigEndian = true;
        } else if (block.mid(HeaderSize, 2) != "II") {
            return false;
        }
        return get(2, 2) == 42;
    }
    qsizetype size() const { return block.size() - HeaderSize; }
    bool fits(qint64 offset, qint64 bytes) const {
        return offset >= 0 && bytes >= 0 && offset + bytes <= size();
    }
    quint32 get(qint64 offset, int bytes) const {
        if (!fits(offset, bytes)) {
            return 0;
        }
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i) {
            const quint32 byte = quint8(block.at(HeaderSize + offset + i));
            value |= bigEndian ? byte << (8 * (bytes - 1 - i)) : byte << (8 * i);
        }
        return value;
    }
    void put(qint64 offset, int bytes, quint32 value) {
        if (!fits(offset, bytes)) {
            return;
        }
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
            block[HeaderSize + offset + i] = char(quint8(value >> shift));
        }
    }
    void zero(qint64 offset, qint64 bytes) {
        if (fits(offset, bytes)) {
            block.replace(HeaderSize + offset, bytes, QByteArray(bytes, '\0'));
        }
    }
    QByteArray bytes(qint64 offset, qint64 count) const {
        return fits(offset, count) ? block.mid(HeaderSize + offset, count) : QByteArray();
    }
    void append(const QByteArray &data) { block.append(data); }

    // The entries of the directory at `offset`, or nothing when they run outside the block.
    // The four bytes after them link the next directory.
    struct Directory {
        qint64 offset = 0;
        int count = 0;
        qint64 entry(int i) const { return offset + 2 + i * EntrySize; }
        qint64 next() const { return entry(count); }
    };
    std::optional<Directory> directory(qint64 offset) const {
        if (offset < 8 || !fits(offset, 2)) {
            return std::nullopt;
        }
        const Directory d{offset, int(get(offset, 2))};
        if (!fits(d.offset, 2 + d.count * EntrySize + 4)) {
            return std::nullopt;
        }
        return d;
    }
    // The entry of `tag` in the directory, or -1.
    qint64 find(const Directory &d, quint16 tag) const {
        for (int i = 0; i < d.count; ++i) {
            if (get(d.entry(i), 2) == tag) {
                return d.entry(i);
            }
        }
        return -1;
    }
    // One SHORT or LONG value held in the entry itself.
    std::optional<quint32> single(qint64 entry) const {
        if (entry < 0 || get(entry + 4, 4) != 1) {
            return std::nullopt;
        }
        const quint32 type = get(entry + 2, 2);
        if (type == ShortType) {
            return get(entry + 8, 2);
        }
        if (type == LongType || type == IfdType) {
            return get(entry + 8, 4);
        }
        return std::nullopt;
    }
    void setSingle(qint64 entry, quint32 value) {
        if (entry < 0 || get(entry + 4, 4) != 1) {
            return;
        }
        const quint32 type = get(entry + 2, 2);
        if (type == ShortType && value <= 0xFFFF) {
            put(entry + 8, 2, value);
            put(entry + 10, 2, 0);
        } else if (type == LongType) {
            put(entry + 8, 4, value);
        }
    }

private:
    QByteArray &block;
    bool bigEndian = false;
};

QByteArray encodeThumbnail(const QImage &picture, QSize box, int quality) {
    const QImage small = picture.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    return writer.write(small) ? out : QByteArray();
}

// The box a new thumbnail fits into: the old thumbnail's frame, at most 160 x 120.
QSize thumbnailBox(const QByteArray &oldThumbnail) {
    const JpegHeader old = ReadJpegHeader(oldThumbnail);
    if (!old.valid || old.width < 1 || old.height < 1) {
        return LargestThumbnail;
    }
    return QSize(old.width, old.height).boundedTo(LargestThumbnail);
}

// Makes IFD1's thumbnail anew in place or at the end of the block, or unlinks IFD1.
void replaceThumbnail(QByteArray &payload, Tiff &tiff, const Tiff::Directory &ifd0,
                      const QImage &picture) {
    const qint64 link = ifd0.next();
    const auto ifd1 = tiff.directory(tiff.get(link, 4));
    if (tiff.get(link, 4) == 0) {
        return; // no thumbnail
    }
    const auto unlink = [&] { tiff.put(link, 4, 0); };
    if (!ifd1) {
        unlink(); // no reader finds a thumbnail behind a damaged directory; none is left to show
        return;
    }
    const qint64 offsetEntry = tiff.find(*ifd1, ThumbnailOffsetTag);
    const qint64 lengthEntry = tiff.find(*ifd1, ThumbnailLengthTag);
    const auto oldOffset = tiff.single(offsetEntry);
    const auto oldLength = tiff.single(lengthEntry);
    const bool located = oldOffset && oldLength && tiff.fits(*oldOffset, *oldLength);
    if (located) {
        // Whatever happens next, the old picture's bytes are no longer shown.
        const QByteArray old = tiff.bytes(*oldOffset, *oldLength);
        tiff.zero(*oldOffset, *oldLength);
        const QSize box = thumbnailBox(old);
        for (int quality : {80, 60, 40}) {
            const QByteArray fresh =
                picture.isNull() ? QByteArray() : encodeThumbnail(picture, box, quality);
            if (fresh.isEmpty()) {
                break;
            }
            qint64 at = *oldOffset;
            if (fresh.size() > qint64(*oldLength)) {
                at = tiff.size() + (tiff.size() & 1); // TIFF offsets start on a word boundary
                if (HeaderSize + at + fresh.size() > LargestPayload) {
                    continue;
                }
                if (tiff.size() & 1) {
                    tiff.append(QByteArray(1, '\0'));
                }
                tiff.append(fresh);
            } else {
                payload.replace(HeaderSize + at, fresh.size(), fresh);
            }
            tiff.setSingle(offsetEntry, quint32(at));
            tiff.setSingle(lengthEntry, quint32(fresh.size()));
            if (tiff.single(offsetEntry) == quint32(at) &&
                tiff.single(lengthEntry) == quint32(fresh.size())) {
                return;
            }
            break; // the tags could not hold the new place: leave no thumbnail
        }
    }
    unlink();
}

} // namespace

int ExifOrientation(const QByteArray &exifPayload) {
    QByteArray copy = exifPayload;
    Tiff tiff(copy);
    if (!tiff.open()) {
        return 1;
    }
    const auto ifd0 = tiff.directory(tiff.get(4, 4));
    if (!ifd0) {
        return 1;
    }
    const auto value = tiff.single(tiff.find(*ifd0, OrientationTag));
    return value && *value >= 1 && *value <= 8 ? int(*value) : 1;
}

QByteArray EditExif(const QByteArray &exifPayload, QSize savedSize, bool turnedUpright,
                    const QImage &thumbnailFrom) {
    QByteArray payload = exifPayload;
    Tiff tiff(payload);
    if (!tiff.open()) {
        return exifPayload;
    }
    const auto ifd0 = tiff.directory(tiff.get(4, 4));
    if (!ifd0) {
        return exifPayload;
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
    replaceThumbnail(payload, tiff, *ifd0, thumbnailFrom);
    return payload;
}
