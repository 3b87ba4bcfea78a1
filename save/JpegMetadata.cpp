#include "save/JpegMetadata.h"

#include "save/ExifEdit.h"
#include "save/Previews.h"

#include <QRegularExpression>
#include <QtEndian>

#include <array>

namespace {

const QByteArray ExifHeader("Exif\0\0", 6);
const QByteArray XmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr qsizetype LargestPayload = 65533;
constexpr quint8 App1 = 0xE1;

bool isExif(const JpegSegment &s) {
    return s.marker == App1 && s.payload.startsWith(ExifHeader);
}
bool isXmp(const JpegSegment &s) {
    return s.marker == App1 && s.payload.startsWith(XmpHeader);
}

// Sets every value of the XMP property `name`, in attribute form (name="6") and in element form
// (<name>6</name>), to `value`. The packet is held as Latin-1 text so that every byte outside
// the values comes back as it was.
void setXmpValue(QString &packet, const QString &name, int value) {
    const QString n = QRegularExpression::escape(name);
    const QRegularExpression forms[] = {
        QRegularExpression("(" + n + R"(\s*=\s*["'])\s*\d+\s*(["']))"),
        QRegularExpression("(<" + n + R"(>)\s*\d+\s*(</)" + n + ">)")};
    for (const QRegularExpression &re : forms) {
        QString edited;
        qsizetype from = 0;
        for (QRegularExpressionMatchIterator it = re.globalMatch(packet); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            edited += QStringView(packet).mid(from, m.capturedStart() - from);
            edited += m.captured(1) + QString::number(value) + m.captured(2);
            from = m.capturedEnd();
        }
        edited += QStringView(packet).mid(from);
        packet = edited;
    }
}

// A packet whose values changed length keeps its size where the padding before its end allows,
// so that readers that rewrite in place still can.
void keepPacketSize(QString &packet, qsizetype size) {
    const qsizetype end = packet.lastIndexOf("<?xpacket end");
    if (end < 0 || packet.size() == size) {
        return;
    }
    qsizetype padding = 0;
    while (padding < end && QStringView(u" \t\r\n").contains(packet[end - 1 - padding])) {
        ++padding;
    }
    const qsizetype excess = packet.size() - size;
    if (excess > 0 && excess < padding) {
        packet.remove(end - excess, excess);
    } else if (excess < 0 && padding > 0) {
        packet.insert(end, QString(-excess, QLatin1Char(' ')));
    }
}

QByteArray editXmp(const QByteArray &payload, QSize savedSize, bool turnedUpright) {
    QString packet = QString::fromLatin1(payload.mid(XmpHeader.size()));
    const qsizetype size = packet.size();
    if (turnedUpright) {
        setXmpValue(packet, "tiff:Orientation", 1);
    }
    if (savedSize.isValid()) {
        setXmpValue(packet, "exif:PixelXDimension", savedSize.width());
        setXmpValue(packet, "exif:PixelYDimension", savedSize.height());
        setXmpValue(packet, "tiff:ImageWidth", savedSize.width());
        setXmpValue(packet, "tiff:ImageLength", savedSize.height());
    }
    keepPacketSize(packet, size);
    return XmpHeader + packet.toLatin1();
}

quint32 crc32(const QByteArray &data) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k) {
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (char byte : data) {
        c = table[(c ^ quint8(byte)) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

QByteArray bigEndian32(quint32 value) {
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &data) {
    const QByteArray typed = type + data;
    return bigEndian32(quint32(data.size())) + typed + bigEndian32(crc32(typed));
}

QByteArray marker(quint8 code, const QByteArray &payload) {
    QByteArray out;
    out.append(char(0xFF)).append(char(code));
    out.append(char(quint8((payload.size() + 2) >> 8))).append(char(quint8(payload.size() + 2)));
    return out + payload;
}

} // namespace

QList<JpegSegment> MetadataForSave(const JpegHeader &source, QSize savedSize, bool turnedUpright,
                                   const QImage &thumbnailFrom) {
    QList<JpegSegment> out;
    bool exifDone = false, xmpDone = false;
    for (const JpegSegment &s : source.segments) {
        if (!exifDone && isExif(s)) {
            exifDone = true;
            out << JpegSegment{s.marker,
                               EditExif(s.payload, savedSize, turnedUpright, thumbnailFrom)};
        } else if (!xmpDone && isXmp(s)) {
            xmpDone = true;
            out << JpegSegment{s.marker, editXmp(s.payload, savedSize, turnedUpright)};
        } else {
            out << s;
        }
    }
    RemakePreviews(out, thumbnailFrom);
    return out;
}

QByteArray MetaSidecar(const QList<JpegSegment> &segments, QSize size,
                       const QList<QPoint> &sampling) {
    QByteArray out("\xFF\xD8", 2);
    for (const JpegSegment &s : segments) {
        if (s.payload.size() <= LargestPayload) {
            out += marker(s.marker, s.payload);
        }
    }
    if (!sampling.isEmpty()) {
        QByteArray frame;
        frame.append(char(8));
        frame.append(char(quint8(size.height() >> 8))).append(char(quint8(size.height())));
        frame.append(char(quint8(size.width() >> 8))).append(char(quint8(size.width())));
        frame.append(char(3));
        for (int c = 0; c < 3; ++c) {
            const QPoint f = sampling.value(c, QPoint(1, 1));
            frame.append(char(c + 1)).append(char(quint8(f.x() << 4 | (f.y() & 15))));
            frame.append(char(c == 0 ? 0 : 1));
        }
        out += marker(0xC0, frame);
    }
    return out + QByteArray("\xFF\xD9", 2);
}

QByteArray AddPngMetadata(const QByteArray &png, const QByteArray &exifPayload,
                          const QByteArray &xmpPayload) {
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature)) {
        return png;
    }
    qsizetype at = signature.size();
    while (at + 8 <= png.size() && png.mid(at + 4, 4) != "IDAT") {
        const qint64 length = qFromBigEndian<quint32>(png.constData() + at);
        at += 12 + length;
    }
    if (at + 8 > png.size()) {
        return png;
    }
    QByteArray chunks;
    const QByteArray tiff =
        exifPayload.startsWith(ExifHeader) ? exifPayload.mid(ExifHeader.size()) : exifPayload;
    if (!tiff.isEmpty()) {
        chunks += pngChunk("eXIf", tiff);
    }
    const QByteArray xmp =
        xmpPayload.startsWith(XmpHeader) ? xmpPayload.mid(XmpHeader.size()) : xmpPayload;
    if (!xmp.isEmpty()) {
        // Keyword, then no compression, then empty language and translated keyword.
        chunks += pngChunk("iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmp);
    }
    return png.left(at) + chunks + png.mid(at);
}

QByteArray ExifPayload(const QList<JpegSegment> &segments) {
    for (const JpegSegment &s : segments) {
        if (isExif(s)) {
            return s.payload;
        }
    }
    return {};
}

QByteArray XmpPacket(const QList<JpegSegment> &segments) {
    for (const JpegSegment &s : segments) {
        if (isXmp(s)) {
            return s.payload.mid(XmpHeader.size());
        }
    }
    return {};
}
