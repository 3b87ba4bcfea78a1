// Metafile text: fonts from LOGFONT records, the 8-bit character sets, and TextOut/ExtTextOut with
// alignment, escapement, the current position, clipping/opaque rectangles and advance arrays.
#include "workspace/MetafilePlayback.h"

#include <QFontMetricsF>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>

namespace wmfplay {

namespace {

constexpr quint16 ETO_OPAQUE = 0x0002, ETO_CLIPPED = 0x0004, ETO_PDY = 0x2000;
constexpr quint16 TA_UPDATECP = 0x0001, TA_RIGHT = 0x0002, TA_CENTER = 0x0006;
constexpr quint16 TA_BOTTOM = 0x0008, TA_BASELINE = 0x0018;
constexpr quint8 SYMBOL_CHARSET = 2;

// Windows-1252 in 0x80..0x9F (the rest of the code page is Latin-1).
const char16_t kCp1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                              0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Symbol font's encoding: 0x20..0x7F, then 0xA0..0xFF.
const char16_t kSymbolLow[96] = {
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B,
    0x002C, 0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7,
    0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B,
    0x2234, 0x005D, 0x22A5, 0x005F, 0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3,
    0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0x0020};
const char16_t kSymbolHigh[96] = {
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194,
    0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022,
    0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135, 0x2111, 0x211C, 0x2118,
    0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4,
    0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C,
    0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA, 0x0020, 0x232A, 0x222B, 0x2320,
    0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0x0020};

bool isSymbolFont(const LogFont &font) {
    return font.face.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0 ||
           (font.charset == SYMBOL_CHARSET && font.face.isEmpty());
}

// The code page of a LOGFONT character set, for those that are not Windows-1252.
const char *codePage(quint8 charset) {
    switch (charset) {
    case 128:
        return "Shift_JIS";
    case 129:
    case 130:
        return "windows-949";
    case 134:
        return "GBK";
    case 136:
        return "Big5";
    case 161:
        return "windows-1253";
    case 162:
        return "windows-1254";
    case 163:
        return "windows-1258";
    case 177:
        return "windows-1255";
    case 178:
        return "windows-1256";
    case 186:
        return "windows-1257";
    case 204:
        return "windows-1251";
    case 222:
        return "windows-874";
    case 238:
        return "windows-1250";
    case 255:
        return "IBM437";
    default:
        return nullptr;
    }
}

} // namespace

QString decodeText(const QByteArray &bytes, const LogFont &font, QList<int> *bytesPerChar) {
    QString text;
    text.reserve(bytes.size());
    QList<int> counts;
    const char *page = isSymbolFont(font) ? nullptr : codePage(font.charset);
    QStringDecoder decoder(page ? page : "ISO-8859-1");
    if (page && decoder.isValid()) {
        // Byte by byte, so that each character knows how many bytes (and advances) it took.
        int pending = 0;
        for (const char c : bytes) {
            const QString part = decoder.decode(QByteArrayView(&c, 1));
            ++pending;
            for (qsizetype i = 0; i < part.size(); ++i) {
                text += part.at(i);
                counts.append(i == 0 ? pending : 0);
            }
            if (!part.isEmpty()) {
                pending = 0;
            }
        }
        if (!counts.isEmpty()) {
            counts.last() += pending;
        }
    } else {
        const bool symbol = isSymbolFont(font);
        for (const char c : bytes) {
            const uchar b = uchar(c);
            if (symbol && b >= 0x20 && b < 0x80) {
                text += QChar(kSymbolLow[b - 0x20]);
            } else if (symbol && b >= 0xA0) {
                text += QChar(kSymbolHigh[b - 0xA0]);
            } else if (b >= 0x80 && b < 0xA0) {
                text += QChar(kCp1252[b - 0x80]);
            } else {
                text += QChar(b);
            }
            counts.append(1);
        }
    }
    if (bytesPerChar) {
        *bytesPerChar = counts;
    }
    return text;
}

// The selected font at its size on the image.
QFont Playback::deviceFont(double *ascent, double *descent) const {
    const LogFont &f = dc.font;
    const int family = f.pitchAndFamily >> 4;
    QString face = f.face;
    if (face.isEmpty() || isSymbolFont(f)) {
        face = family == 1 || isSymbolFont(f) ? QStringLiteral("Times New Roman")
               : family == 3                  ? QStringLiteral("Courier New")
                                              : QStringLiteral("Arial");
    }
    QFont font(face);
    static const QFont::StyleHint hints[] = {QFont::AnyStyle,  QFont::Serif,   QFont::SansSerif,
                                             QFont::Monospace, QFont::Cursive, QFont::Decorative};
    font.setStyleHint(family < 6 ? hints[family] : QFont::AnyStyle);
    font.setKerning(false);
    font.setWeight(QFont::Weight(f.weight <= 0 ? 400 : std::min(f.weight, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeout);

    const double maxSize =
        setup.canvas.isEmpty() ? 4096 : std::clamp(2.0 * setup.canvas.height(), 256.0, 16384.0);
    double px = f.height == 0 ? 12 * std::abs(setup.devY.scale) : std::abs(f.height * axY.scale);
    if (f.height > 0) { // a cell height: convert to the character (em) height
        QFont probe = font;
        probe.setPixelSize(256);
        const QFontMetricsF m(probe);
        if (m.ascent() + m.descent() > 0) {
            px = px * 256 / (m.ascent() + m.descent());
        }
    }
    font.setPixelSize(int(std::lround(std::clamp(px, 1.0, maxSize))));
    if (f.width != 0) {
        const double average = QFontMetricsF(font).averageCharWidth();
        if (average > 0) {
            const double stretch = 100 * std::abs(f.width * axX.scale) / average;
            font.setStretch(int(std::lround(std::clamp(stretch, 1.0, 4000.0))));
        }
    }
    const QFontMetricsF metrics(font);
    *ascent = metrics.ascent();
    *descent = metrics.descent();
    return font;
}

void Playback::drawText(QPointF ref, const QByteArray &bytes, const QList<QPointF> &advances,
                        quint16 options, const QRectF *rect) {
    if (!beginDraw()) {
        return;
    }
    const quint16 align = dc.textAlign;
    if (align & TA_UPDATECP) {
        ref = dc.cp;
    }
    QRectF box;
    if (rect) {
        box = QRectF(pt(rect->left(), rect->top()), pt(rect->right(), rect->bottom())).normalized();
        if (options & ETO_OPAQUE) {
            fillRect(box, QColor::fromRgb(dc.bkColor), 0xF0);
        }
    }
    if (bytes.isEmpty() || !textAllowed || stopped) {
        return;
    }
    QList<int> perChar;
    const QString text = decodeText(bytes, dc.font, &perChar);
    // Advances come one per byte; a character made of several bytes takes their sum.
    QList<QPointF> charAdvances;
    if (advances.size() >= bytes.size()) {
        qsizetype b = 0;
        for (const int count : perChar) {
            QPointF sum;
            for (int k = 0; k < count && b < advances.size(); ++k) {
                sum += advances[b++];
            }
            charAdvances.append(sum);
        }
    }
    double ascent = 0, descent = 0;
    const QFont font = deviceFont(&ascent, &descent);
    const QFontMetricsF metrics(font);

    // Glyph positions along the baseline, relative to the start of the text.
    const qsizetype n = text.size();
    const double extra = dc.charExtra * std::abs(axX.scale);
    const bool perGlyph = charAdvances.size() >= n || extra != 0;
    QList<QPointF> at(n);
    QPointF pen(0, 0);
    for (qsizetype i = 0; i < n; ++i) {
        at[i] = pen;
        if (charAdvances.size() >= n) {
            pen += QPointF(charAdvances[i].x() * std::abs(axX.scale),
                           -charAdvances[i].y() * std::abs(axY.scale));
        } else if (perGlyph) {
            pen.rx() += metrics.horizontalAdvance(text.at(i)) + extra;
        }
    }
    const double total = perGlyph ? pen.x() : metrics.horizontalAdvance(text);

    const int horizontal = align & TA_CENTER, vertical = align & TA_BASELINE;
    const double x0 = horizontal == TA_CENTER ? -total / 2 : horizontal == TA_RIGHT ? -total : 0;
    const double baseline = vertical == TA_BASELINE ? 0 : vertical == TA_BOTTOM ? -descent : ascent;
    QTransform place;
    place.translate(pt(ref.x(), ref.y()).x(), pt(ref.x(), ref.y()).y());
    place.rotate(-dc.font.escapement / 10.0);
    const QRectF cell(x0, baseline - ascent, total, ascent + descent);
    QRectF textBox = place.mapRect(cell);
    if (rect && (options & ETO_CLIPPED)) {
        textBox = textBox.intersected(box);
    }
    // Glyphs at sizes not met before are rasterised afresh: they cost by their area.
    const qint64 em = font.pixelSize();
    if (!charge(textBox, 0, kTextCost + n * (kGlyphCost + em * em * kGlyphAreaCost))) {
        return;
    }
    if (align & TA_UPDATECP) {
        const double move = horizontal == TA_CENTER ? 0 : horizontal == TA_RIGHT ? -total : total;
        const QPointF end = place.map(QPointF(move, 0));
        if (axX.scale != 0 && axY.scale != 0) {
            dc.cp = QPointF((end.x() - axX.offset) / axX.scale, (end.y() - axY.offset) / axY.scale);
        }
    }
    const QRectF canvas(QPointF(0, 0), QSizeF(setup.canvas));
    if (!painter || !textBox.intersects(canvas)) {
        return;
    }
    applyClip();
    painter->save();
    if (rect && (options & ETO_CLIPPED)) {
        painter->setClipRect(box.intersected(canvas), Qt::IntersectClip);
    }
    painter->setTransform(place);
    if (dc.bkMode == 2) {
        const QRectF onCanvas = place.inverted().mapRect(canvas.adjusted(-2, -2, 2, 2));
        painter->fillRect(cell.intersected(onCanvas), QColor::fromRgb(dc.bkColor));
    }
    painter->setFont(font);
    painter->setPen(QColor::fromRgb(dc.textColor));
    // Far-reaching text is drawn glyph by glyph, only the glyphs near the canvas.
    const double reach = std::max(canvas.width(), canvas.height()) + 4 * (ascent + descent);
    const bool near = std::abs(x0) + std::abs(total) < reach;
    if (!perGlyph && near) {
        painter->drawText(QPointF(x0, baseline), text);
    } else {
        double x = x0;
        for (qsizetype i = 0; i < n; ++i) {
            const QPointF p =
                perGlyph ? QPointF(x0 + at[i].x(), baseline + at[i].y()) : QPointF(x, baseline);
            if (!perGlyph) {
                x += metrics.horizontalAdvance(text.at(i));
            }
            const QPointF onImage = place.map(p);
            if (text.at(i) != QChar(0) && std::abs(onImage.x() - canvas.center().x()) < reach &&
                std::abs(onImage.y() - canvas.center().y()) < reach) {
                painter->drawText(p, QString(text.at(i)));
            }
        }
    }
    painter->restore();
    clipDirty = true; // restore() brought back the painter's clip, which is the DC's
}

bool Playback::textRecord(quint16 function, const Params &p) {
    if (function == R_TextOut) {
        const qsizetype count = p.w(0), padded = (count + 1) & ~qsizetype(1);
        if (count > 0 && p.has(2 + padded + 4)) {
            const QByteArray s(reinterpret_cast<const char *>(p.data()) + 2, count);
            drawText(QPointF(p.w(int(2 + padded / 2)), p.w(int(1 + padded / 2))), s, {}, 0,
                     nullptr);
        }
        return true;
    }
    if (function != R_ExtTextOut) {
        return false;
    }
    if (!p.has(8)) {
        return true;
    }
    const QPointF ref(p.w(1), p.w(0));
    qsizetype count = std::max(0, p.w(2));
    const quint16 options = p.u16(6);
    qsizetype at = 8;
    QRectF rect;
    const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) && p.has(16);
    if (hasRect) {
        rect.setCoords(p.w(4), p.w(5), p.w(6), p.w(7));
        at = 16;
    }
    count = std::min(count, p.size() - at);
    const QByteArray s(reinterpret_cast<const char *>(p.data()) + at, count);
    at += (count + 1) & ~qsizetype(1);
    QList<QPointF> advances;
    const qsizetype left = p.size() - at;
    if ((options & ETO_PDY) && left >= count * 4) {
        for (qsizetype i = 0; i < count; ++i) {
            advances << QPointF(qint16(p.u16(at + i * 4)), qint16(p.u16(at + i * 4 + 2)));
        }
    } else if (left >= count * 2) {
        for (qsizetype i = 0; i < count; ++i) {
            advances << QPointF(qint16(p.u16(at + i * 2)), 0);
        }
    }
    drawText(ref, s, advances, options, hasRect ? &rect : nullptr);
    return true;
}

} // namespace wmfplay
