// Build-time generator of the program's own resource files. Everything it writes is drawn by
// the code in resources/generator; nothing is read from outside.
//
//   glyphtack-make-resources OUTPUT_FOLDER
//
// writes sample.jpg, HAND-M.CUR, glyphtack.png, glyphtack.ico and the icon in smaller sizes
// (glyphtack-16.png to glyphtack-128.png) into OUTPUT_FOLDER.

#include "generator/Artwork.h"
#include "generator/Landscape.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

void putU16(QByteArray &out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void putU32(QByteArray &out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// One image of an icon or cursor as a device-independent bitmap: a BITMAPINFOHEADER whose
// height counts both masks, 32-bit BGRA rows bottom-up, then the 1-bit AND mask (set where
// the pixel is fully transparent), each mask row padded to four bytes.
QByteArray dibEntry(const QImage &source) {
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    const int w = img.width();
    const int h = img.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    putU32(out, 40);
    putU32(out, static_cast<quint32>(w));
    putU32(out, static_cast<quint32>(h * 2));
    putU16(out, 1);  // planes
    putU16(out, 32); // bits per pixel
    putU32(out, 0);  // no compression
    putU32(out, static_cast<quint32>(w * h * 4 + maskStride * h));
    for (int i = 0; i < 4; ++i)
        putU32(out, 0); // resolution and palette fields, unused
    for (int y = h - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const char bgra[4] = {
                static_cast<char>(qBlue(line[x])), static_cast<char>(qGreen(line[x])),
                static_cast<char>(qRed(line[x])), static_cast<char>(qAlpha(line[x]))};
            out.append(bgra, 4);
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) == 0)
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

struct DirEntry {
    int size;        // edge length in pixels
    quint16 field1;  // icons: colour planes; cursors: hotspot x
    quint16 field2;  // icons: bits per pixel; cursors: hotspot y
    QByteArray data; // DIB or PNG bytes
};

// ICONDIR (type 1 icon, 2 cursor), the 16-byte directory entries, then the image data.
QByteArray iconFile(quint16 type, const std::vector<DirEntry> &entries) {
    QByteArray out;
    putU16(out, 0);
    putU16(out, type);
    putU16(out, static_cast<quint16>(entries.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(entries.size());
    for (const DirEntry &e : entries) {
        const char edge = static_cast<char>(e.size >= 256 ? 0 : e.size); // 0 stands for 256
        out.append(edge);
        out.append(edge);
        out.append('\0'); // colour count: not a palette image
        out.append('\0');
        putU16(out, e.field1);
        putU16(out, e.field2);
        putU32(out, static_cast<quint32>(e.data.size()));
        putU32(out, offset);
        offset += static_cast<quint32>(e.data.size());
    }
    for (const DirEntry &e : entries)
        out.append(e.data);
    return out;
}

QByteArray pngBytes(const QImage &img) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "make_resources: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool writeJpeg(const QString &path, const QImage &img, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setOptimizedWrite(true);
    if (!writer.write(img)) {
        std::fprintf(stderr, "make_resources: cannot encode %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return writeFile(path, bytes);
}

} // namespace

int main(int argc, char **argv) {
    // Nothing is shown on screen; the offscreen platform lets this run on build machines
    // without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "make_resources: cannot create folder %s\n", argv[1]);
        return 1;
    }

    if (!writeJpeg(dir.filePath("sample.jpg"), resgen::paintLandscape(1024, 768), 90))
        return 1;

    const resgen::CursorArt hand = resgen::paintHandCursor();
    const std::vector<DirEntry> cursor = {{32, static_cast<quint16>(hand.hotspot.x()),
                                           static_cast<quint16>(hand.hotspot.y()),
                                           dibEntry(hand.image)}};
    if (!writeFile(dir.filePath("HAND-M.CUR"), iconFile(2, cursor)))
        return 1;

    // Small sizes as bitmaps (read everywhere), the large one as PNG as usual for 256 pixels.
    const QImage big = resgen::paintProgramIcon(256);
    std::vector<DirEntry> icon;
    for (int size : {16, 32, 48})
        icon.push_back({size, 1, 32, dibEntry(resgen::paintProgramIcon(size))});
    icon.push_back({256, 1, 32, pngBytes(big)});
    if (!writeFile(dir.filePath("glyphtack.png"), pngBytes(big)) ||
        !writeFile(dir.filePath("glyphtack.ico"), iconFile(1, icon)))
        return 1;
    // The icon theme's sizes for a desktop's menus and panels, each drawn at its own size.
    for (int size : {16, 24, 32, 48, 64, 128}) {
        if (!writeFile(dir.filePath(QStringLiteral("glyphtack-%1.png").arg(size)),
                       pngBytes(resgen::paintProgramIcon(size))))
            return 1;
    }
    return 0;
}
