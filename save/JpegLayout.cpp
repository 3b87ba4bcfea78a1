#include "save/JpegLayout.h"

#include <cstring>

namespace {

constexpr quint8 StartOfImage = 0xD8, EndOfImage = 0xD9, StartOfScan = 0xDA;
constexpr quint8 App2 = 0xE2, Comment = 0xFE;

bool isFrameMarker(quint8 m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

bool isMetadata(quint8 m) {
    return (m >= 0xE0 && m <= 0xEF) || m == Comment;
}

// The position of the next marker in a scan's compressed data at or after `at`: a 0xFF that is
// neither stuffing (0xFF 0x00), a restart marker nor a fill byte before a marker; -1 if none.
qsizetype nextMarkerInScan(const QByteArray &bytes, qsizetype at) {
    const auto *data = reinterpret_cast<const quint8 *>(bytes.constData());
    const qsizetype size = bytes.size();
    while (at < size) {
        const void *found = std::memchr(data + at, 0xFF, size_t(size - at));
        if (found == nullptr) {
            return -1;
        }
        at = static_cast<const quint8 *>(found) - data;
        if (at + 1 >= size) {
            return -1;
        }
        const quint8 next = data[at + 1];
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
            at += 2;
        } else if (next == 0xFF) {
            at += 1;
        } else {
            return at;
        }
    }
    return -1;
}

} // namespace

FirstPicture ReadFirstPicture(const QByteArray &bytes, qsizetype from) {
    FirstPicture picture;
    const auto byte = [&](qsizetype i) { return quint8(bytes.at(i)); };
    const qsizetype size = bytes.size();
    if (from < 0 || from + 4 > size || byte(from) != 0xFF || byte(from + 1) != StartOfImage) {
        return picture;
    }
    QList<JpegSegment> between;
    qsizetype mpfTiff = -1;
    bool haveFrame = false, scanned = false;
    qsizetype at = from + 2;
    for (;;) {
        if (at >= size || byte(at) != 0xFF) {
            return picture;
        }
        while (at < size && byte(at) == 0xFF) {
            ++at;
        }
        if (at >= size) {
            return picture;
        }
        const quint8 marker = byte(at++);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;
        }
        if (marker == EndOfImage) {
            if (haveFrame && scanned) {
                picture.end = at;
                picture.mpfTiff = mpfTiff;
                picture.betweenScans = between;
            }
            return picture;
        }
        if (marker == StartOfImage || at + 2 > size) {
            return picture;
        }
        const qsizetype length = qsizetype(byte(at)) << 8 | byte(at + 1);
        if (length < 2 || at + length > size) {
            return picture;
        }
        if (isMetadata(marker) && scanned) {
            between << JpegSegment{marker, bytes.mid(at + 2, length - 2)};
        } else if (marker == App2 && !scanned && mpfTiff < 0 && length >= 2 + 4 &&
                   std::memcmp(bytes.constData() + at + 2, "MPF\0", 4) == 0) {
            mpfTiff = at + 2 + 4;
        }
        haveFrame = haveFrame || isFrameMarker(marker);
        at += length;
        if (marker == StartOfScan) {
            scanned = true;
            at = nextMarkerInScan(bytes, at);
            if (at < 0) {
                return picture;
            }
        }
    }
}
