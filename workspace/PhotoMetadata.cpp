#include "workspace/PhotoMetadata.h"

#include "workspace/CameraData.h"
#include "workspace/PhotoFormats.h"

#include <QFile>
#include <QtEndian>

namespace {

const QByteArray ExifHeader("Exif\0\0", 6);
const QByteArray XmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray IccHeader("ICC_PROFILE\0", 12);
// The most one marker segment carries after its length.
constexpr qsizetype LargestPayload = 65533;
// The most profile bytes one APP2 chunk carries after its header and numbering.
constexpr qsizetype IccChunk = LargestPayload - 14;
// Files larger than this are not read whole for their camera data.
constexpr qint64 LargestFile = qint64(1) << 30;

bool isTiffHeader(QByteArrayView bytes) {
    return bytes.startsWith(QByteArrayView("II*\0", 4)) ||
           bytes.startsWith(QByteArrayView("MM\0*", 4));
}

QByteArray segment(quint8 marker, const QByteArray &payload) {
    QByteArray out;
    out.append(char(0xFF)).append(char(marker));
    out.append(char(quint8((payload.size() + 2) >> 8))).append(char(quint8(payload.size() + 2)));
    return out + payload;
}

QByteArray bigEndian16(int value) {
    QByteArray out(2, '\0');
    qToBigEndian(quint16(value), out.data());
    return out;
}

// A profile of RGB colour: the colour space field of its header says "RGB ".
bool isRgbProfile(const QByteArray &icc) {
    return icc.size() >= 128 && icc.mid(16, 4) == "RGB ";
}

} // namespace

QByteArray ExifFromBox(const QByteArray &box) {
    if (box.size() < 4) {
        return {};
    }
    const quint32 offset = qFromBigEndian<quint32>(box.constData());
    const QByteArrayView rest = QByteArrayView(box).sliced(4);
    if (offset <= quint32(rest.size()) && isTiffHeader(rest.sliced(offset))) {
        return ExifHeader + rest.sliced(offset).toByteArray();
    }
    if (rest.startsWith(ExifHeader) && isTiffHeader(rest.sliced(ExifHeader.size()))) {
        return rest.toByteArray();
    }
    return {};
}

QByteArray MetadataHead(const PhotoMetadata &metadata, QSize size) {
    QByteArray head("\xFF\xD8", 2);
    if (!metadata.exif.isEmpty() && metadata.exif.size() <= LargestPayload) {
        head += segment(0xE1, metadata.exif);
    }
    if (!metadata.xmp.isEmpty() && XmpHeader.size() + metadata.xmp.size() <= LargestPayload) {
        head += segment(0xE1, XmpHeader + metadata.xmp);
    }
    if (isRgbProfile(metadata.icc)) {
        const qsizetype count = (metadata.icc.size() + IccChunk - 1) / IccChunk;
        if (count <= 255) {
            for (qsizetype i = 0; i < count; ++i) {
                QByteArray chunk = IccHeader;
                chunk.append(char(i + 1)).append(char(count));
                head += segment(0xE2, chunk + metadata.icc.mid(i * IccChunk, IccChunk));
            }
        }
    }
    QByteArray frame;
    frame.append(char(8));
    frame += bigEndian16(qBound(0, size.height(), 65535));
    frame += bigEndian16(qBound(0, size.width(), 65535));
    frame.append(char(3));
    frame += QByteArray("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9);
    head += segment(0xC0, frame);
    head += segment(0xDA, QByteArray("\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 10));
    return head;
}

QByteArray ReadCameraData(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray head = file.peek(64);
    if (head.startsWith("\xFF\xD8")) {
        return ReadJpegExif(file);
    }
    const bool heif = IsHeifFile(head);
    if ((!heif && !IsJpegXlFile(head)) || file.size() > LargestFile) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    return heif ? ReadHeifMetadata(bytes).exif : ReadJpegXlMetadata(bytes).exif;
}
