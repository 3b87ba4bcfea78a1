#include "platform/CursorFile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>
#include <stdexcept>

QCursor LoadCursorFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("File not found");
    }
    constexpr qint64 maxCursorBytes = 1024 * 1024;
    if (file.size() > maxCursorBytes) {
        throw std::runtime_error("Invalid picture");
    }
    QByteArray bytes = file.readAll();
    // Directory header: reserved 0, type 2 (cursor), count; then 16-byte entries whose colour
    // plane and bit count fields hold the hot spot.
    if (bytes.size() < 22) {
        throw std::runtime_error("Invalid picture");
    }
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const quint16 reserved = qFromLittleEndian<quint16>(data);
    const quint16 type = qFromLittleEndian<quint16>(data + 2);
    const quint16 count = qFromLittleEndian<quint16>(data + 4);
    if (reserved != 0 || type != 2 || count == 0) {
        throw std::runtime_error("Invalid picture");
    }
    const int hotX = qFromLittleEndian<quint16>(data + 10);
    const int hotY = qFromLittleEndian<quint16>(data + 12);
    // Qt's icon reader reads the images; it expects the icon type in the header.
    QByteArray asIcon = bytes;
    asIcon[2] = 1;
    QBuffer buffer(&asIcon);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const QImage image = reader.read();
    if (image.isNull() || image.width() > 256 || image.height() > 256) {
        throw std::runtime_error("Invalid picture");
    }
    return QCursor(QPixmap::fromImage(image), qBound(0, hotX, image.width() - 1),
                   qBound(0, hotY, image.height() - 1));
}
