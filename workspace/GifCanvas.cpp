#include "workspace/GifCanvas.h"

#include <QIODevice>
#include <QtEndian>

namespace {

constexpr char ExtensionIntroducer = 0x21;
constexpr char ImageSeparator = 0x2C;

// Skips an extension's data sub-blocks, up to and including the empty one that ends them.
bool skipSubBlocks(QIODevice &device) {
    for (;;) {
        char size = 0;
        if (!device.getChar(&size)) {
            return false;
        }
        if (size == 0) {
            return true;
        }
        if (device.skip(uchar(size)) != uchar(size)) {
            return false;
        }
    }
}

} // namespace

QRect FirstGifImageRect(QIODevice &device) {
    const QByteArray header = device.read(13);
    if (header.size() != 13 || !header.startsWith("GIF8")) {
        return {};
    }
    const uchar flags = uchar(header.at(10));
    if (flags & 0x80) {
        const qint64 tableBytes = 3 * (qint64(1) << ((flags & 0x07) + 1));
        if (device.skip(tableBytes) != tableBytes) {
            return {};
        }
    }
    for (;;) {
        char introducer = 0;
        if (!device.getChar(&introducer)) {
            return {};
        }
        if (introducer == ExtensionIntroducer) {
            char label = 0;
            if (!device.getChar(&label) || !skipSubBlocks(device)) {
                return {};
            }
        } else if (introducer == ImageSeparator) {
            const QByteArray descriptor = device.read(8);
            if (descriptor.size() != 8) {
                return {};
            }
            const auto *d = reinterpret_cast<const uchar *>(descriptor.constData());
            return QRect(qFromLittleEndian<quint16>(d), qFromLittleEndian<quint16>(d + 2),
                         qFromLittleEndian<quint16>(d + 4), qFromLittleEndian<quint16>(d + 6));
        } else {
            return {};
        }
    }
}
