#include "workspace/CameraData.h"

#include <QIODevice>

namespace {

constexpr uchar MarkerStart = 0xFF;
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;
constexpr uchar StartOfScan = 0xDA;
constexpr uchar App1 = 0xE1;

// Markers that stand alone, without a length and a payload.
bool standsAlone(uchar marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

bool readByte(QIODevice &device, uchar *byte) {
    char c = 0;
    if (!device.getChar(&c)) {
        return false;
    }
    *byte = uchar(c);
    return true;
}

} // namespace

QByteArray ReadJpegExif(QIODevice &device) {
    static const QByteArray exifHeader("Exif\0\0", 6);
    uchar first = 0, second = 0;
    if (!readByte(device, &first) || !readByte(device, &second) || first != MarkerStart ||
        second != StartOfImage) {
        return {};
    }
    for (;;) {
        uchar byte = 0;
        if (!readByte(device, &byte) || byte != MarkerStart) {
            return {};
        }
        // Any number of fill bytes may come before the marker itself.
        uchar marker = MarkerStart;
        while (marker == MarkerStart) {
            if (!readByte(device, &marker)) {
                return {};
            }
        }
        if (marker == StartOfScan || marker == EndOfImage) {
            return {};
        }
        if (standsAlone(marker)) {
            continue;
        }
        uchar high = 0, low = 0;
        if (!readByte(device, &high) || !readByte(device, &low)) {
            return {};
        }
        const int length = high << 8 | low; // counts its own two bytes
        if (length < 2) {
            return {};
        }
        const qint64 payloadSize = length - 2;
        if (marker == App1) {
            const QByteArray payload = device.read(payloadSize);
            if (payload.size() != payloadSize) {
                return {};
            }
            if (payload.startsWith(exifHeader)) {
                return payload;
            }
        } else if (device.skip(payloadSize) != payloadSize) {
            return {};
        }
    }
}
