#include "save/BitmapFile.h"

#include "app/ErrorReport.h"

#include <QColorSpace>
#include <QIODevice>
#include <QImage>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr quint32 FileHeaderSize = 14;
constexpr quint32 InfoHeaderSize = 40;
constexpr quint32 V5HeaderSize = 124;
constexpr quint32 ProfileEmbedded = 0x4D424544; // 'MBED'
constexpr quint32 IntentImages = 4;             // LCS_GM_IMAGES: perceptual
// Rows are handed to the device in pieces of about this size.
constexpr qsizetype ChunkBytes = 1 << 20;

class Header {
public:
    explicit Header(quint32 size) : bytes_(qsizetype(size), '\0') {}
    void put16(qsizetype at, quint16 value) {
        qToLittleEndian(value, reinterpret_cast<uchar *>(bytes_.data()) + at);
    }
    void put32(qsizetype at, quint32 value) {
        qToLittleEndian(value, reinterpret_cast<uchar *>(bytes_.data()) + at);
    }
    const QByteArray &bytes() const { return bytes_; }

private:
    QByteArray bytes_;
};

void Write(QIODevice &device, const char *data, qint64 size) {
    if (device.write(data, size) != size) {
        throw RuntimeError("Disk full");
    }
}

} // namespace

void WriteBitmapFile(QIODevice &device, const QImage &image) {
    if (image.isNull()) {
        throw RuntimeError("Invalid picture");
    }
    const QImage pixels =
        image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
            ? image
            : image.convertToFormat(QImage::Format_RGB32);
    const QByteArray profile =
        image.colorSpace().isValid() ? image.colorSpace().iccProfile() : QByteArray();
    const quint32 infoSize = profile.isEmpty() ? InfoHeaderSize : V5HeaderSize;
    const quint64 stride = (quint64(pixels.width()) * 3 + 3) / 4 * 4;
    const quint64 pixelBytes = stride * quint64(pixels.height());
    const quint64 fileSize = FileHeaderSize + infoSize + pixelBytes + quint64(profile.size());
    if (fileSize > std::numeric_limits<quint32>::max()) {
        throw RuntimeError("Invalid picture");
    }

    Header file(FileHeaderSize + infoSize);
    file.put16(0, 0x4D42); // "BM"
    file.put32(2, quint32(fileSize));
    file.put32(10, FileHeaderSize + infoSize);
    const qsizetype info = FileHeaderSize;
    file.put32(info + 0, infoSize);
    file.put32(info + 4, quint32(pixels.width()));
    file.put32(info + 8, quint32(pixels.height()));
    file.put16(info + 12, 1);  // planes
    file.put16(info + 14, 24); // bits per pixel; compression 0: BI_RGB
    file.put32(info + 20, quint32(pixelBytes));
    file.put32(info + 24, quint32(std::max(0, pixels.dotsPerMeterX())));
    file.put32(info + 28, quint32(std::max(0, pixels.dotsPerMeterY())));
    if (!profile.isEmpty()) {
        // The profile follows the pixels; its offset counts from the start of this header.
        file.put32(info + 56, ProfileEmbedded);
        file.put32(info + 108, IntentImages);
        file.put32(info + 112, quint32(infoSize + pixelBytes));
        file.put32(info + 116, quint32(profile.size()));
    }
    Write(device, file.bytes().constData(), file.bytes().size());

    const qsizetype rowsPerChunk = std::max<qsizetype>(1, ChunkBytes / qsizetype(stride));
    std::vector<char> chunk(std::size_t(rowsPerChunk * qsizetype(stride)), '\0');
    // Read once: the bytes written below could alias the picture for all the compiler knows, so it
    // would otherwise call width() again for every pixel.
    const int width = pixels.width();
    int y = pixels.height() - 1;
    while (y >= 0) {
        char *out = chunk.data();
        const int rows = int(std::min<qsizetype>(rowsPerChunk, y + 1));
        for (int i = 0; i < rows; ++i, --y) {
            const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
            char *d = out;
            for (int x = 0; x < width; ++x, d += 3) {
                d[0] = char(qBlue(line[x]));
                d[1] = char(qGreen(line[x]));
                d[2] = char(qRed(line[x]));
            }
            out += stride; // the padding stays zero
        }
        Write(device, chunk.data(), out - chunk.data());
    }
    if (!profile.isEmpty()) {
        Write(device, profile.constData(), profile.size());
    }
}
