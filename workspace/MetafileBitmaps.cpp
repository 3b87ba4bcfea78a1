// Metafile bitmaps: device-independent bitmaps (decoded by Qt's BMP reader after a file header
// is put in front), the old device-dependent Bitmap16, pattern brushes, and the blit records.
#include "workspace/MetafilePlayback.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wmfplay {

namespace {

constexpr qint64 kMaxPatternSide = 256;

void putU32(QByteArray *out, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i) {
        (*out)[at + i] = char((v >> (8 * i)) & 0xFF);
    }
}

} // namespace

QImage decodeDib(const Params &p, bool paletteIndexes, const QList<QRgb> &palette) {
    const quint32 headerSize = p.u32(0);
    const bool core = headerSize == 12;
    if (!(core || (headerSize >= 40 && headerSize <= 124)) || !p.has(qsizetype(headerSize))) {
        return {};
    }
    const qint64 width = core ? p.u16(4) : p.s32(4);
    const qint64 height = core ? p.u16(6) : p.s32(8);
    const int bpp = core ? p.u16(10) : p.u16(14);
    const quint32 compression = core ? 0 : p.u32(16);
    const quint32 used = core ? 0 : p.u32(32);
    const qint64 rows = std::abs(height);
    const bool rle = (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4);
    if (width <= 0 || rows == 0 || width > 65535 || rows > 65535 ||
        width * rows > kMaxBitmapPixels ||
        (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) ||
        !(compression == 0 || rle || (compression == 3 && (bpp == 16 || bpp == 32))) ||
        (rle && height < 0)) {
        return {};
    }
    // Colour table: as many entries as the header says (all of them for <= 8 bits when it says 0).
    const qint64 inFile = used != 0 ? qint64(used) : (bpp <= 8 ? qint64(1) << bpp : 0);
    const qint64 kept = bpp <= 8 ? std::min<qint64>(inFile, qint64(1) << bpp) : 0;
    const qint64 entrySize = paletteIndexes ? 2 : core ? 3 : 4;
    const qint64 masks = (!core && headerSize == 40 && compression == 3) ? 12 : 0;
    const qint64 table = qint64(headerSize) + masks;
    const qint64 pixels = table + inFile * entrySize;
    if (inFile > 65536 || pixels > p.size()) {
        return {};
    }
    const qint64 stride = (width * bpp + 31) / 32 * 4;
    const qint64 bits = rle ? p.size() - pixels : stride * rows;
    if (bits <= 0 || p.size() - pixels < bits) {
        return {};
    }
    // The same bitmap as a BMP file: file header, info header, RGB(Q) table, bits.
    const qint64 outEntry = core ? 3 : 4;
    const qint64 offBits = 14 + table + kept * outEntry;
    QByteArray file(offBits + bits, '\0');
    file[0] = 'B';
    file[1] = 'M';
    putU32(&file, 2, quint32(file.size()));
    putU32(&file, 10, quint32(offBits));
    std::memcpy(file.data() + 14, p.data(), size_t(table));
    if (!core) {
        putU32(&file, 14 + 32, quint32(kept)); // colours used
    }
    for (qint64 i = 0; i < kept; ++i) {
        QRgb c;
        if (paletteIndexes) {
            const qsizetype index = p.u16(table + i * 2);
            c = index < palette.size() ? palette.at(index) : qRgb(index, index, index);
        } else {
            const qsizetype at = table + i * entrySize;
            c = qRgb(p.u8(at + 2), p.u8(at + 1), p.u8(at));
        }
        const qsizetype out = 14 + table + i * outEntry;
        file[out] = char(qBlue(c));
        file[out + 1] = char(qGreen(c));
        file[out + 2] = char(qRed(c));
    }
    std::memcpy(file.data() + offBits, p.data() + pixels, size_t(bits));
    QImage image;
    if (!image.loadFromData(file, "BMP")) {
        return {};
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage decodeBitmap16(const Params &p, QRgb zeroColor, QRgb oneColor) {
    const int width = p.w(1), height = p.w(2), widthBytes = p.u16(6);
    const int planes = p.u8(8), bpp = p.u8(9);
    if (width <= 0 || height <= 0 || planes != 1 ||
        (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) ||
        qint64(width) * height > kMaxBitmapPixels || widthBytes < (qint64(width) * bpp + 7) / 8 ||
        !p.has(10 + qint64(widthBytes) * height)) {
        return {};
    }
    static const QRgb vga[16] = {0xff000000, 0xff800000, 0xff008000, 0xff808000,
                                 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
                                 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                                 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    for (int y = 0; y < height; ++y) {
        const qsizetype row = 10 + qsizetype(y) * widthBytes;
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            switch (bpp) {
            case 1:
                line[x] = (p.u8(row + x / 8) >> (7 - x % 8)) & 1 ? oneColor : zeroColor;
                break;
            case 4:
                line[x] = vga[(p.u8(row + x / 2) >> (x % 2 ? 0 : 4)) & 0xF];
                break;
            case 8: {
                const int v = p.u8(row + x);
                line[x] = qRgb(v, v, v);
                break;
            }
            case 16: {
                const int v = p.u16(row + x * 2);
                line[x] =
                    qRgb((v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31);
                break;
            }
            default: {
                const qsizetype at = row + qsizetype(x) * (bpp / 8);
                line[x] = qRgb(p.u8(at + 2), p.u8(at + 1), p.u8(at));
                break;
            }
            }
        }
    }
    return image;
}

// Decoding costs by the pixels made (run-length data makes many from few bytes).
QImage Playback::decoded(const QImage &image) {
    return charge(QRectF(), 0, qint64(image.width()) * image.height() * kDecodeCost) ? image
                                                                                     : QImage();
}

bool Playback::makePatternBrush(bool dib, const Params &p, LogBrush *brush) {
    QImage image;
    if (!charge(QRectF(), 0, kDrawCost + p.size())) {
        return false;
    }
    const QRgb text = dc.textColor, back = dc.bkColor;
    if (dib && p.u16(0) == 3) { // BS_PATTERN: a Bitmap16 after style and colour usage
        image = decodeBitmap16(p.from(4), text, back);
    } else if (dib) {
        image = decodeDib(p.from(4), p.u16(2) == 1, dc.palette);
    } else { // CreatePatternBrush: Bitmap16 header, reserved bytes, then the bits
        QByteArray bits(reinterpret_cast<const char *>(p.data()),
                        std::min<qsizetype>(p.size(), 10));
        if (p.size() > 32) {
            bits.append(reinterpret_cast<const char *>(p.data()) + 32, p.size() - 32);
        }
        image = decodeBitmap16(
            Params(reinterpret_cast<const uchar *>(bits.constData()), bits.size()), text, back);
    }
    image = decoded(image);
    if (image.isNull() || image.width() > kMaxPatternSide || image.height() > kMaxPatternSide ||
        patternPixels + qint64(image.width()) * image.height() > kMaxPatternPixels) {
        return false;
    }
    brush->style = 3;
    brush->pattern = image;
    return true;
}

// Draws source (its part src) onto the logical rectangle (x, y, w, h); negative sizes mirror.
void Playback::blit(const QImage &source, QRectF src, int x, int y, int w, int h, quint32 rop) {
    QRectF target(pt(x, y), pt(double(x) + w, double(y) + h));
    if (src.width() == 0 || src.height() == 0 || target.width() == 0 || target.height() == 0) {
        return;
    }
    const bool mirrorX = (src.width() < 0) != (target.width() < 0);
    const bool mirrorY = (src.height() < 0) != (target.height() < 0);
    src = src.normalized();
    target = target.normalized();
    // Keep to the bitmap and cut the target in proportion (mirroring swaps the sides cut).
    const QRectF inside = src.intersected(QRectF(source.rect()));
    if (inside.isEmpty()) {
        return;
    }
    const double kx = target.width() / src.width(), ky = target.height() / src.height();
    const double left = mirrorX ? src.right() - inside.right() : inside.left() - src.left();
    const double top = mirrorY ? src.bottom() - inside.bottom() : inside.top() - src.top();
    target = QRectF(target.left() + left * kx, target.top() + top * ky, inside.width() * kx,
                    inside.height() * ky);
    if (!charge(target, 0, kDrawCost + qint64(inside.width()) * qint64(inside.height())) ||
        !painter) {
        return;
    }
    // Only the part that lands on the canvas is handed to the painter.
    const QRectF visible = target.intersected(QRectF(QPointF(0, 0), QSizeF(setup.canvas)));
    if (visible.isEmpty()) {
        return;
    }
    const QImage piece = source.copy(inside.toRect()).mirrored(mirrorX, mirrorY);
    const QRectF part((visible.left() - target.left()) / kx, (visible.top() - target.top()) / ky,
                      visible.width() / kx, visible.height() / ky);
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch ((rop >> 16) & 0xFF) {
    case 0xEE: // SRCPAINT
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    case 0x88: // SRCAND
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 0x66: // SRCINVERT
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 0x33: // NOTSRCCOPY
        mode = QPainter::RasterOp_NotSource;
        break;
    case 0x44: // SRCERASE
        mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case 0x11: // NOTSRCERASE
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case 0xBB: // MERGEPAINT
        mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    case 0xAA: // destination unchanged
        return;
    default: // SRCCOPY and the rest
        break;
    }
    rasterOps = rasterOps || mode != QPainter::CompositionMode_SourceOver;
    applyClip();
    painter->setCompositionMode(mode);
    painter->drawImage(visible, piece, part);
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

bool Playback::bitmapRecord(quint16 function, const Params &p) {
    // Records with a source bitmap, and where their bitmap starts; without one (the record is
    // just the fixed words) they only combine destination and brush.
    const quint32 rop = p.u32(0);
    const QBrush brush = brushFor(dc.brush);
    const qsizetype plainWords = function >> 8;
    switch (function) {
    case R_PatBlt:
        if (p.has(12)) {
            fillRect(rectOf(p.w(5), p.w(4), p.w(5) + p.w(3), p.w(4) + p.w(2)), brush,
                     int(rop >> 16 & 0xFF));
        }
        return true;
    case R_BitBlt:
    case R_DIBBitBlt:
    case R_StretchBlt:
    case R_DIBStretchBlt: {
        const bool stretch = function == R_StretchBlt || function == R_DIBStretchBlt;
        const int k = stretch ? 2 : 0;
        if (p.size() == plainWords * 2) { // no bitmap: rop, source pos, reserved, destination
            fillRect(
                rectOf(p.w(k + 8), p.w(k + 7), p.w(k + 8) + p.w(k + 6), p.w(k + 7) + p.w(k + 5)),
                brush, int(rop >> 16 & 0xFF));
            return true;
        }
        if (!p.has(16 + k * 2) || !beginDraw()) {
            return true;
        }
        const int srcW = stretch ? p.w(3) : p.w(5), srcH = stretch ? p.w(2) : p.w(4);
        const int srcX = p.w(k + 3), srcY = p.w(k + 2);
        const int dstW = p.w(k + 5), dstH = p.w(k + 4), dstX = p.w(k + 7), dstY = p.w(k + 6);
        const Params bitmap = p.from(16 + k * 2);
        if (!charge(QRectF(), 0, kDrawCost + bitmap.size())) {
            return true;
        }
        const QImage image = decoded(function == R_BitBlt || function == R_StretchBlt
                                         ? decodeBitmap16(bitmap, dc.textColor, dc.bkColor)
                                         : decodeDib(bitmap, false, dc.palette));
        if (image.isNull()) {
            return true;
        }
        QRectF src(srcX, srcY, srcW, srcH);
        if (!stretch && !QRectF(image.rect()).contains(src.normalized())) {
            // Unstretched, the source is as large as the target in logical units; when that
            // overruns the bitmap, the writer meant the bitmap to fill the target.
            src = QRectF(image.rect());
        }
        blit(image, src, dstX, dstY, dstW, dstH, rop);
        return true;
    }
    case R_StretchDIB:
    case R_SetDIBitsToDevice: {
        const bool stretch = function == R_StretchDIB;
        const qsizetype first = stretch ? 22 : 18;
        if (!p.has(first) || !beginDraw() || !charge(QRectF(), 0, kDrawCost + p.size())) {
            return true;
        }
        const Params dib = p.from(first);
        const QImage image =
            decoded(decodeDib(dib, (stretch ? p.u16(4) : p.u16(0)) == 1, dc.palette));
        if (image.isNull()) {
            return true;
        }
        // Source y counts from the bottom row of a bottom-up bitmap.
        const bool bottomUp = dib.u32(0) == 12 || dib.s32(8) > 0;
        if (stretch) {
            const int srcH = p.w(3), srcW = p.w(4), srcY = p.w(5), srcX = p.w(6);
            const int y = bottomUp ? image.height() - srcY - srcH : srcY;
            blit(image, QRectF(srcX, y, srcW, srcH), p.w(10), p.w(9), p.w(8), p.w(7), rop);
        } else {
            // colour use, scan count, start scan, y, x, height, width, dest y, dest x; the
            // bitmap keeps its pixel size on the device.
            const int srcY = p.w(3), srcX = p.w(4), srcH = p.w(5), srcW = p.w(6);
            const int y = bottomUp ? image.height() - srcY - srcH : srcY;
            const double w = srcW * setup.devX.scale / axX.scale;
            const double h = srcH * setup.devY.scale / axY.scale;
            if (std::isfinite(w) && std::isfinite(h) && std::abs(w) < 32768 &&
                std::abs(h) < 32768) {
                blit(image, QRectF(srcX, y, srcW, srcH), p.w(8), p.w(7), int(std::lround(w)),
                     int(std::lround(h)), 0x00CC0020);
            }
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace wmfplay
