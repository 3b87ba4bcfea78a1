#include "save/Previews.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <map>

namespace {

constexpr quint8 App0 = 0xE0, App1 = 0xE1, App13 = 0xED;
constexpr qsizetype LargestPayload = 65533;
const QByteArray JfifHeader("JFIF\0", 5), JfxxHeader("JFXX\0", 5);
const QByteArray PhotoshopHeader("Photoshop 3.0\0", 14);
const QByteArray XmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray ExtendedXmpHeader("http://ns.adobe.com/xmp/extension/\0", 35);
constexpr qsizetype ExtendedXmpData = 35 + 32 + 4 + 4; // header, GUID, full length, offset
constexpr int JfxxJpeg = 0x10, JfxxRgb = 0x13;
constexpr quint16 PhotoshopThumbnail = 0x040C, OldPhotoshopThumbnail = 0x0409;
constexpr qsizetype ThumbnailResourceHeader = 28;

// The size a new thumbnail of the picture takes in an old one's place: the picture's shape
// fitted into the old size (a picture turned upright gives a thumbnail turned alike).
QSize fitted(const QImage &picture, QSize old) {
    return picture.isNull() ? old
                            : picture.size().scaled(old, Qt::KeepAspectRatio).expandedTo({1, 1});
}

// The picture at `size`, as 8-bit RGB rows without padding (zeros without a picture).
QByteArray rgbPixels(const QImage &picture, QSize size) {
    if (picture.isNull()) {
        return QByteArray(qsizetype(3) * size.width() * size.height(), '\0');
    }
    const QImage small = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    out.reserve(qsizetype(3) * size.width() * size.height());
    for (int y = 0; y < small.height(); ++y) {
        out.append(reinterpret_cast<const char *>(small.constScanLine(y)), 3 * small.width());
    }
    return out;
}

// An RGB thumbnail whose width and height are the two bytes at `at`, its pixels after them:
// made anew at the picture's shape; a declared size larger than the segment is zeroed.
void remakeRgb(QByteArray &payload, qsizetype at, const QImage &picture) {
    if (payload.size() < at + 2) {
        return;
    }
    const QSize old{quint8(payload[at]), quint8(payload[at + 1])};
    const qsizetype room = payload.size() - at - 2;
    if (qsizetype(3) * old.width() * old.height() > room) {
        payload.replace(at + 2, room, QByteArray(room, '\0'));
        return;
    }
    if (old.isEmpty()) {
        return;
    }
    const QSize size = fitted(picture, old);
    payload = payload.left(at) + char(size.width()) + char(size.height()) +
              rgbPixels(picture, size) + payload.mid(at + 2 + 3 * old.width() * old.height());
}

// A JPEG thumbnail made anew in an old one's place: the picture fitted into its size, at about
// its quality but no more than `room` bytes (lower qualities are tried); no bytes when none fits
// or `old` is not a JPEG.
struct Thumbnail {
    QByteArray jpeg;
    QSize size;
};
Thumbnail remadeJpeg(const QByteArray &old, const QImage &picture, qsizetype room,
                     bool blueFirst = false) {
    const JpegHeader header = ReadJpegHeader(old);
    if (!header.valid || header.width < 1 || header.height < 1 || picture.isNull()) {
        return {};
    }
    const QSize size = fitted(picture, {header.width, header.height});
    QImage small = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (blueFirst) {
        small = small.convertToFormat(QImage::Format_RGB32).rgbSwapped();
    }
    for (int quality : {PreviewQuality(old), 60, 40, 20}) {
        const QByteArray fresh = EncodePreview(small, quality);
        if (!fresh.isEmpty() && fresh.size() <= room) {
            return {fresh, size};
        }
    }
    return {};
}

// JFXX: a JPEG or RGB thumbnail made anew; false when the segment is to be left out.
bool remakeJfxx(QByteArray &payload, const QImage &picture) {
    if (payload.size() < 6) {
        return false;
    }
    const int code = quint8(payload[5]);
    if (code == JfxxJpeg) {
        const QByteArray fresh = remadeJpeg(payload.mid(6), picture, LargestPayload - 6).jpeg;
        payload = payload.left(6) + fresh;
        return !fresh.isEmpty();
    }
    if (code == JfxxRgb && payload.size() >= 8) {
        remakeRgb(payload, 6, picture);
        return true;
    }
    return false;
}

// One Photoshop image resource: "8BIM", its id, its name (padded to an even length), its size
// and its data (padded to an even length). Positions count from the payload's start.
struct Resource {
    quint16 id = 0;
    qsizetype sizeAt = 0, dataAt = 0, dataSize = 0;
    qsizetype end() const { return dataAt + dataSize + (dataSize & 1); }
};

// Makes a thumbnail resource anew: in place when the new JPEG fits its old room (zeros after it),
// else with the resource grown, where the segment can hold it; else its pixels are zeroed.
void remakePhotoshopThumbnail(QByteArray &payload, const Resource &r, const QImage &picture) {
    const qsizetype inSegment = qMin(r.dataSize, payload.size() - r.dataAt);
    const auto blank = [&] {
        const qsizetype from = qMin(inSegment, ThumbnailResourceHeader);
        payload.replace(r.dataAt + from, inSegment - from, QByteArray(inSegment - from, '\0'));
    };
    if (inSegment < r.dataSize || r.dataSize < ThumbnailResourceHeader ||
        qFromBigEndian<quint32>(payload.constData() + r.dataAt) != 1) {
        blank(); // cut by the segment's end, or raw pixels: no JPEG to make anew here
        return;
    }
    const QByteArray old =
        payload.mid(r.dataAt + ThumbnailResourceHeader, r.dataSize - ThumbnailResourceHeader);
    // Room for it: its own, and what the segment can still grow by (less a padding byte).
    const qsizetype room =
        r.dataSize - ThumbnailResourceHeader + LargestPayload - payload.size() - 1;
    const Thumbnail thumbnail = remadeJpeg(old, picture, room, r.id == OldPhotoshopThumbnail);
    const QByteArray &fresh = thumbnail.jpeg;
    if (fresh.isEmpty()) {
        blank();
        return;
    }
    // Format 1 (JPEG), width, height, bytes a row (padded to four), bytes in all, the JPEG's
    // length, 24 bits a pixel, one plane.
    QByteArray header = payload.mid(r.dataAt, ThumbnailResourceHeader);
    const quint32 row = (quint32(thumbnail.size.width()) * 24 + 31) / 32 * 4;
    qToBigEndian(quint32(thumbnail.size.width()), header.data() + 4);
    qToBigEndian(quint32(thumbnail.size.height()), header.data() + 8);
    qToBigEndian(row, header.data() + 12);
    qToBigEndian(row * quint32(thumbnail.size.height()), header.data() + 16);
    qToBigEndian(quint32(fresh.size()), header.data() + 20);
    QByteArray data = header + fresh;
    if (data.size() <= r.dataSize) {
        data.append(QByteArray(r.dataSize - data.size(), '\0'));
        payload.replace(r.dataAt, data.size(), data);
        return;
    }
    QByteArray size(4, '\0');
    qToBigEndian(quint32(data.size()), size.data());
    if (data.size() & 1) {
        data.append('\0');
    }
    payload = payload.left(r.sizeAt) + size + data + payload.mid(r.end());
}

void remakePhotoshop(QByteArray &payload, const QImage &picture) {
    qsizetype at = PhotoshopHeader.size();
    while (at + 12 <= payload.size() && payload.mid(at, 4) == "8BIM") {
        Resource r;
        r.id = qFromBigEndian<quint16>(payload.constData() + at + 4);
        const qsizetype nameLength = quint8(payload[at + 6]);
        r.sizeAt = at + 6 + ((nameLength + 2) & ~qsizetype(1));
        if (r.sizeAt + 4 > payload.size()) {
            return;
        }
        r.dataAt = r.sizeAt + 4;
        r.dataSize = qFromBigEndian<quint32>(payload.constData() + r.sizeAt);
        if (r.id == PhotoshopThumbnail || r.id == OldPhotoshopThumbnail) {
            remakePhotoshopThumbnail(payload, r, picture);
            // Its size may have changed: read it again.
            r.dataSize = qMin<qsizetype>(qFromBigEndian<quint32>(payload.constData() + r.sizeAt),
                                         payload.size() - r.dataAt);
        }
        at = r.end();
    }
}

// Turns the base64 text of every GImage:Data value in `text` into "A"s, in place.
void blankImageData(QByteArray &text) {
    static const QRegularExpression value(R"(GImage:Data\s*(?:=\s*(["'])([^"']*)\1|>([^<]*)<))");
    const QString latin = QString::fromLatin1(text);
    for (auto it = value.globalMatch(latin); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int group = m.capturedStart(2) >= 0 ? 2 : 3;
        for (qsizetype i = m.capturedStart(group); i < m.capturedEnd(group); ++i) {
            const char c = text.at(i);
            if (std::isalnum(quint8(c)) || c == '+' || c == '/' || c == '-' || c == '_') {
                text[i] = 'A';
            }
        }
    }
}

// Extended XMP comes in chunks, each with the GUID of the whole, its full length and the chunk's
// offset: the whole is put together per GUID, blanked, and given back chunk by chunk.
void blankExtendedXmp(QList<JpegSegment> &segments) {
    std::map<QByteArray, std::map<quint32, int>> wholes; // GUID: offset: segment
    for (int i = 0; i < segments.size(); ++i) {
        const QByteArray &p = segments[i].payload;
        if (segments[i].marker == App1 && p.startsWith(ExtendedXmpHeader) &&
            p.size() >= ExtendedXmpData) {
            wholes[p.mid(35, 32)][qFromBigEndian<quint32>(p.constData() + 35 + 32 + 4)] = i;
        }
    }
    for (const auto &[guid, chunks] : wholes) {
        QByteArray whole;
        for (const auto &[offset, index] : chunks) {
            if (offset != quint32(whole.size())) {
                break; // a chunk is missing: only what runs on without a gap is read
            }
            whole += segments[index].payload.mid(ExtendedXmpData);
        }
        blankImageData(whole);
        for (const auto &[offset, index] : chunks) {
            QByteArray &p = segments[index].payload;
            const qsizetype length = p.size() - ExtendedXmpData;
            if (qsizetype(offset) + length <= whole.size()) {
                p.replace(ExtendedXmpData, length, whole.mid(offset, length));
            }
        }
    }
}

} // namespace

bool HoldsPreviews(const QList<JpegSegment> &segments) {
    return std::any_of(segments.begin(), segments.end(), [](const JpegSegment &s) {
        const QByteArray &p = s.payload;
        const bool jfifThumbnail = p.startsWith(JfifHeader) && p.size() > 14 && p[12] && p[13];
        return (s.marker == App1 && p.startsWith(QByteArray("Exif\0\0", 6))) ||
               (s.marker == App0 && (jfifThumbnail || p.startsWith(JfxxHeader))) ||
               (s.marker == App13 && p.startsWith(PhotoshopHeader) &&
                (p.contains("8BIM\x04\x0C") || p.contains("8BIM\x04\x09")));
    });
}

void RemakePreviews(QList<JpegSegment> &segments, const QImage &thumbnailFrom) {
    for (qsizetype i = 0; i < segments.size(); ++i) {
        JpegSegment &s = segments[i];
        if (s.marker == App0 && s.payload.startsWith(JfifHeader)) {
            remakeRgb(s.payload, 12, thumbnailFrom); // JFIF's own thumbnail
        } else if (s.marker == App0 && s.payload.startsWith(JfxxHeader)) {
            if (!remakeJfxx(s.payload, thumbnailFrom)) {
                segments.removeAt(i--);
            }
        } else if (s.marker == App13 && s.payload.startsWith(PhotoshopHeader)) {
            remakePhotoshop(s.payload, thumbnailFrom);
        } else if (s.marker == App1 && s.payload.startsWith(XmpHeader)) {
            blankImageData(s.payload);
        }
    }
    blankExtendedXmp(segments);
}

QByteArray EncodePreview(const QImage &picture, int quality) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(std::clamp(quality, 1, 100));
    return writer.write(picture.convertToFormat(QImage::Format_RGB888)) ? out : QByteArray();
}

int PreviewQuality(const QByteArray &jpeg) {
    const int quality = EstimateJpegQuality(ReadJpegHeader(jpeg));
    return quality > 0 ? quality : 85;
}
