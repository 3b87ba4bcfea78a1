// The Windows metafile player: sizing, frame, drawing records, object table, hostile files, and a
// pass over the corpus's WMF files (with the reference renderings beside some of them).
#include "workspace/MetafilePlayer.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QtTest>
#include <functional>

namespace {

// Writes small metafiles: records of 16-bit words, then a header in front.
class Wmf {
public:
    Wmf &rec(quint16 function, std::initializer_list<int> words) {
        QByteArray params;
        for (int w : words) {
            put16(&params, w);
        }
        return raw(function, params);
    }
    Wmf &raw(quint16 function, const QByteArray &params) {
        put32(&body, quint32(3 + params.size() / 2));
        put16(&body, function);
        body += params;
        return *this;
    }
    // Objects.
    Wmf &pen(int style, int width, QRgb c) {
        return rec(0x02FA, {style, width, 0, qRed(c) | qGreen(c) << 8, qBlue(c)});
    }
    Wmf &brush(int style, QRgb c, int hatch = 0) {
        return rec(0x02FC, {style, qRed(c) | qGreen(c) << 8, qBlue(c), hatch});
    }
    Wmf &font(int height, const char *face, int weight = 400, int escapement = 0) {
        QByteArray p;
        for (int w : {height, 0, escapement, escapement, weight, 0, 0, 0, 0}) {
            put16(&p, w);
        }
        p += QByteArray(face).leftJustified(32, '\0');
        return raw(0x02FB, p);
    }
    Wmf &select(int i) { return rec(0x012D, {i}); }
    Wmf &remove(int i) { return rec(0x01F0, {i}); }
    // State and drawing (parameters in the order Windows writes them: last argument first).
    Wmf &window(int x, int y, int w, int h) { return rec(0x020B, {y, x}).rec(0x020C, {h, w}); }
    Wmf &rectangle(int l, int t, int r, int b) { return rec(0x041B, {b, r, t, l}); }
    Wmf &ellipse(int l, int t, int r, int b) { return rec(0x0418, {b, r, t, l}); }
    Wmf &line(int x1, int y1, int x2, int y2) {
        return rec(0x0214, {y1, x1}).rec(0x0213, {y2, x2});
    }
    Wmf &textOut(int x, int y, const QByteArray &s) {
        QByteArray p;
        put16(&p, int(s.size()));
        p += s;
        if (s.size() % 2) {
            p += '\0';
        }
        put16(&p, y);
        put16(&p, x);
        return raw(0x0521, p);
    }
    QByteArray placeable(int l, int t, int r, int b, int inch) const {
        QByteArray out;
        put32(&out, 0x9AC6CDD7);
        for (int w : {0, l, t, r, b, inch, 0, 0, 0}) {
            put16(&out, w);
        }
        return out + plain();
    }
    QByteArray plain() const {
        QByteArray out;
        for (int w : {1, 9, 0x300}) {
            put16(&out, w);
        }
        put32(&out, quint32(9 + body.size() / 2 + 3));
        put16(&out, 64);
        put32(&out, 0);
        put16(&out, 0);
        QByteArray end;
        put32(&end, 3);
        put16(&end, 0);
        return out + body + end;
    }
    static void put16(QByteArray *b, int v) {
        b->append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
    }
    static void put32(QByteArray *b, quint32 v) {
        put16(b, int(v & 0xFFFF));
        put16(b, int(v >> 16));
    }

    QByteArray body;
};

// A 96x96 pixel picture on a 1000-unit square (window 0..1000 in both directions).
QByteArray square(const Wmf &w) {
    return w.placeable(0, 0, 1000, 1000, 1000);
}

QPoint px(int logical) {
    return {logical * 96 / 1000, logical * 96 / 1000};
}

bool near(QRgb a, QRgb b, int tolerance = 40) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

int darkPixels(const QImage &image, const QRect &area) {
    int dark = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            dark += qGray(image.pixel(x, y)) < 128;
        }
    }
    return dark;
}

// A 2x2 bottom-up 24-bit DIB: bottom row blue, green; top row red, white.
QByteArray dib2x2() {
    QByteArray d;
    Wmf::put32(&d, 40);
    Wmf::put32(&d, 2);
    Wmf::put32(&d, 2);
    Wmf::put16(&d, 1);
    Wmf::put16(&d, 24);
    for (int i = 0; i < 6; ++i) {
        Wmf::put32(&d, 0);
    }
    d += QByteArray::fromHex("ff0000"
                             "00ff00"
                             "0000"); // bottom row (BGR), padded to 8 bytes
    d += QByteArray::fromHex("0000ff"
                             "ffffff"
                             "0000"); // top row
    return d;
}

QString corpusDir() {
    const QString env = qEnvironmentVariable("GLYPHTACK_CORPUS");
    return env.isEmpty() ? QStringLiteral("/work/shared/corpus") : env;
}

// Share of pixels (0..1) that differ noticeably once mine is scaled to the reference's size.
// With trim, both are first cut to their non-white bounds (for renderers that crop).
double differingShare(QImage mine, QImage ref, bool trim) {
    auto content = [](const QImage &im) {
        QRect box;
        for (int y = 0; y < im.height(); ++y) {
            for (int x = 0; x < im.width(); ++x) {
                if (qGray(im.pixel(x, y)) < 245) {
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        return box;
    };
    mine = mine.convertToFormat(QImage::Format_RGB32);
    ref = ref.convertToFormat(QImage::Format_RGB32);
    if (trim) {
        mine = mine.copy(content(mine));
        ref = ref.copy(content(ref));
    }
    QImage scaled(ref.size(), QImage::Format_RGB32);
    {
        QPainter painter(&scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(scaled.rect(), mine);
    }
    mine = scaled;
    qint64 differing = 0;
    for (int y = 0; y < ref.height(); ++y) {
        for (int x = 0; x < ref.width(); ++x) {
            differing += !near(mine.pixel(x, y), ref.pixel(x, y), 51);
        }
    }
    return double(differing) / (qint64(ref.width()) * ref.height());
}

} // namespace

class MetafileTest : public QObject {
    Q_OBJECT
private slots:
    void recognisesHeaders() {
        const QByteArray placeable = square(Wmf()), plain = Wmf().plain();
        QVERIFY(looksLikeMetafile(placeable));
        QVERIFY(looksLikeMetafile(plain));
        QVERIFY(!looksLikeMetafile(QByteArray("BM\x36\x00\x00\x00", 6)));
        QVERIFY(!looksLikeMetafile(placeable.left(30)));
        QVERIFY(!looksLikeMetafile(QByteArray(64, '\0')));
        QByteArray badVersion = plain;
        badVersion[4] = 0x07;
        QVERIFY(!looksLikeMetafile(badVersion));
    }

    void sizesLikeTheWindowsLoader_data() {
        QTest::addColumn<QList<int>>("box"); // left, top, right, bottom, units per inch
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSize>("himetric");
        QTest::newRow("one inch") << QList<int>{0, 0, 1440, 1440, 1440} << QSize(96, 96)
                                  << QSize(2540, 2540);
        QTest::newRow("offset box")
            << QList<int>{-30, -30, 3066, 3094, 606} << QSize(490, 495) << QSize(12977, 13094);
        QTest::newRow("letter in hundredths of mm")
            << QList<int>{0, 0, 27940, 21590, 2540} << QSize(1056, 816) << QSize(27940, 21590);
        QTest::newRow("tiny box keeps a pixel")
            << QList<int>{0, 0, 2, 2, 1440} << QSize(1, 1) << QSize(4, 4);
    }
    void sizesLikeTheWindowsLoader() {
        QFETCH(QList<int>, box);
        QFETCH(QSize, pixels);
        QFETCH(QSize, himetric);
        const MetafilePicture p =
            playMetafile(Wmf().placeable(box[0], box[1], box[2], box[3], box[4]));
        QCOMPARE(p.image.size(), pixels);
        QCOMPARE(p.himetric, himetric);
        QCOMPARE(p.image.format(), QImage::Format_RGB32);
    }

    void keepsTheWholeFrame() {
        // A small drawing in a big frame: the frame is the picture, nothing is cropped.
        Wmf w;
        w.brush(0, qRgb(0, 0, 0)).select(0).rectangle(400, 400, 500, 500);
        const QImage image = playMetafile(square(w)).image;
        QCOMPARE(image.size(), QSize(96, 96));
        QCOMPARE(image.pixel(2, 2), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(93, 93), qRgb(255, 255, 255));
        QVERIFY(near(image.pixel(px(450)), qRgb(0, 0, 0)));
        // The file's own window replaces the box: here it is flipped, y counting upwards.
        Wmf flipped;
        flipped.window(0, 1000, 1000, -1000).brush(0, qRgb(0, 0, 0)).select(0);
        flipped.rectangle(0, 1000, 1000, 900); // the top tenth in y-up units
        const QImage top = playMetafile(square(flipped)).image;
        QVERIFY(near(top.pixel(48, 3), qRgb(0, 0, 0)));
        QCOMPARE(top.pixel(48, 90), qRgb(255, 255, 255));
    }

    void fillsAndPens() {
        Wmf w;
        w.pen(5, 0, 0).select(0);                                        // null pen
        w.brush(0, qRgb(255, 0, 0)).select(1).rectangle(0, 0, 500, 500); // solid red
        w.brush(0, qRgb(0, 0, 255)).select(2).ellipse(500, 0, 1000, 500);
        w.brush(1, 0).select(3).rectangle(0, 500, 500, 1000);                     // hollow: nothing
        w.brush(2, qRgb(0, 128, 0), 4).select(4).rectangle(500, 500, 1000, 1000); // cross hatch
        w.pen(0, 0, qRgb(0, 0, 0)).select(5).line(0, 750, 500, 750);
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(px(250)), qRgb(255, 0, 0)));
        QVERIFY(near(image.pixel(72, 24), qRgb(0, 0, 255)));   // ellipse centre
        QCOMPARE(image.pixel(49, 1), qRgb(255, 255, 255));     // outside the ellipse
        QCOMPARE(image.pixel(24, 60), qRgb(255, 255, 255));    // hollow brush
        QVERIFY(darkPixels(image, QRect(0, 71, 48, 3)) >= 40); // the pen line across y=72
        int green = 0, white = 0;
        for (int y = 50; y < 94; ++y) {
            for (int x = 50; x < 94; ++x) {
                green += near(image.pixel(x, y), qRgb(0, 128, 0), 60);
                white += image.pixel(x, y) == qRgb(255, 255, 255);
            }
        }
        QVERIFY(green > 100 && white > 500); // a hatch, not a solid fill
    }

    void drawsText() {
        Wmf w;
        w.font(-120, "Arial", 700).select(0).textOut(100, 100, "Hello");
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(darkPixels(image, QRect(px(100), QSize(48, 14))) > 20);
        QCOMPARE(darkPixels(image, QRect(0, 40, 96, 56)), 0);
        QCOMPARE(darkPixels(image, QRect(0, 0, 9, 96)), 0);
        // Right and baseline alignment (TA_RIGHT | TA_BASELINE): the text ends at x and sits on y.
        Wmf right;
        right.font(-120, "Arial").select(0).rec(0x012E, {2 | 24}).textOut(900, 500, "Hello");
        const QImage aligned = playMetafile(square(right)).image;
        QVERIFY(darkPixels(aligned, QRect(40, 36, 46, 12)) > 20);
        QCOMPARE(darkPixels(aligned, QRect(88, 0, 8, 96)), 0);
        QCOMPARE(darkPixels(aligned, QRect(0, 50, 96, 46)), 0);
    }

    void followsMappingModes() {
        // Isotropic: the smaller scale wins on both axes.
        Wmf iso;
        iso.rec(0x0103, {7}).rec(0x020C, {2000, 1000}).brush(0, 0).select(0);
        iso.rectangle(0, 0, 1000, 1000);
        QImage image = playMetafile(square(iso)).image;
        QVERIFY(near(image.pixel(40, 40), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(60, 20), qRgb(255, 255, 255));
        // Tenths of a millimetre, y upwards: 127 units are 48 pixels, above the origin is off.
        Wmf metric;
        metric.rec(0x0103, {2}).brush(0, 0).select(0).rectangle(0, 0, 127, -127);
        metric.rectangle(0, 0, 500, 500);
        image = playMetafile(square(metric)).image;
        QVERIFY(near(image.pixel(24, 24), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(60, 60), qRgb(255, 255, 255));
        // Device units: pixels.
        Wmf text;
        text.rec(0x0103, {1}).brush(0, 0).select(0).rectangle(10, 10, 20, 20);
        image = playMetafile(square(text)).image;
        QVERIFY(near(image.pixel(15, 15), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(25, 25), qRgb(255, 255, 255));
        // A viewport written for another device is fitted onto the frame.
        Wmf viewport;
        viewport.rec(0x0103, {8}).window(0, 0, 1000, 1000).rec(0x020E, {5000, 5000});
        viewport.brush(0, 0).select(0).rectangle(0, 0, 500, 500);
        image = playMetafile(square(viewport)).image;
        QVERIFY(near(image.pixel(40, 40), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(56, 56), qRgb(255, 255, 255));
    }

    void drawsArcsCounterClockwise() {
        // From 3 o'clock to 12 o'clock: the top-right quarter.
        Wmf pie;
        pie.pen(5, 0, 0).select(0).brush(0, 0).select(1);
        pie.rec(0x081A, {0, 500, 500, 1000, 1000, 1000, 0, 0});
        QImage image = playMetafile(square(pie)).image;
        QVERIFY(near(image.pixel(72, 24), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(24, 24), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(72, 72), qRgb(255, 255, 255));
        Wmf chord; // the same ends: only the part beyond the line between them
        chord.pen(5, 0, 0).select(0).brush(0, 0).select(1);
        chord.rec(0x0830, {0, 500, 500, 1000, 1000, 1000, 0, 0});
        image = playMetafile(square(chord)).image;
        QVERIFY(near(image.pixel(80, 16), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(60, 36), qRgb(255, 255, 255));
        Wmf arc; // an outline only, on the left: from 12 o'clock round to 6 o'clock
        arc.brush(0, 0).select(0).rec(0x0817, {1000, 500, 0, 500, 1000, 1000, 0, 0});
        image = playMetafile(square(arc)).image;
        QVERIFY(darkPixels(image, QRect(0, 40, 4, 16)) > 0);
        QCOMPARE(darkPixels(image, QRect(92, 40, 4, 16)), 0);
        QCOMPARE(image.pixel(48, 48), qRgb(255, 255, 255));
    }

    void appliesRasterOperations() {
        Wmf w;
        w.pen(5, 0, 0).select(0).brush(0, qRgb(255, 0, 0)).select(1).rectangle(0, 0, 1000, 1000);
        w.brush(0, qRgb(255, 255, 255)).select(2);
        w.rec(0x0104, {7}).rectangle(0, 0, 500, 1000);     // XOR with white: cyan
        w.rec(0x0104, {11}).rectangle(500, 0, 1000, 1000); // no operation
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(24, 48), qRgb(0, 255, 255)));
        QVERIFY(near(image.pixel(72, 48), qRgb(255, 0, 0)));
        for (int y : {0, 48, 95}) { // still opaque pixels
            QCOMPARE(reinterpret_cast<const QRgb *>(image.constScanLine(y))[24] >> 24, 0xFFu);
        }
    }

    void resolvesPaletteColours() {
        Wmf w;
        w.rec(0x00F7, {0x300, 2, 255, 0, 0xFF00, 0}); // red, green
        w.rec(0x0234, {0});                           // select the palette
        w.rec(0x02FC, {0, 1, 0x0100, 0}).select(1);   // brush of palette entry 1
        w.rectangle(0, 0, 1000, 1000);
        QVERIFY(near(playMetafile(square(w)).image.pixel(48, 48), qRgb(0, 255, 0)));
    }

    void placesText() {
        // Escapement 90 degrees: the text runs upwards from its reference point.
        Wmf up;
        up.font(-120, "Arial", 700, 900).select(0).rec(0x012E, {24}).textOut(800, 900, "Hello");
        QImage image = playMetafile(square(up)).image;
        QVERIFY(darkPixels(image, QRect(66, 50, 12, 36)) > 20);
        QCOMPARE(darkPixels(image, QRect(0, 0, 60, 96)), 0);
        // Updating the current position: the second text follows the first, whatever its
        // own coordinates say.
        Wmf cp;
        cp.font(-120, "Arial").select(0).rec(0x0214, {100, 100}).rec(0x012E, {1});
        cp.textOut(0, 0, "AAA").textOut(900, 900, "BBB");
        image = playMetafile(square(cp)).image;
        QVERIFY(darkPixels(image, QRect(30, 9, 24, 14)) > 20);
        QCOMPARE(darkPixels(image, QRect(0, 30, 96, 66)), 0);
        // Advances spread the letters; an opaque rectangle is filled with the background.
        Wmf spaced;
        spaced.font(-120, "Arial").select(0).rec(0x0201, {0, 0xFF}); // blue background colour
        spaced.rec(0x0102, {1}); // transparent background mode: the cell stays unpainted
        spaced.rec(0x0A32, {100, 100, 3, 2, 0, 800, 1000, 1000, 0x4241, 0x43, 300, 300, 300});
        image = playMetafile(square(spaced)).image;
        QVERIFY(near(image.pixel(48, 88), qRgb(0, 0, 255)));
        QVERIFY(darkPixels(image, QRect(66, 9, 14, 14)) > 10); // the C at 700
        QCOMPARE(darkPixels(image, QRect(48, 9, 16, 14)), 0);  // nothing between B and C
    }

    void fillsAndClipsToRegions() {
        // Two scans: a band 0..200 with one run, a band 500..700 with two runs.
        Wmf w;
        w.rec(0x06FF, {0, 6,   0,   0, 0,    2,   4,    0, 0, 1000, 700, // header, box
                       2, 0,   200, 0, 1000, 2,                          // one run
                       4, 500, 700, 0, 300,  700, 1000, 4});             // two runs
        w.brush(0, qRgb(255, 0, 0)).rec(0x0228, {0, 1}); // FillRegion(region, brush)
        w.pen(5, 0, 0).select(2).brush(0, 0).select(3);
        w.rec(0x012C, {0}).rectangle(0, 0, 1000, 1000); // clip to the region, paint all
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(48, 10), qRgb(0, 0, 0)));
        QVERIFY(near(image.pixel(10, 58), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(48, 58), qRgb(255, 255, 255)); // between the runs
        QCOMPARE(image.pixel(48, 35), qRgb(255, 255, 255)); // between the bands
    }

    void savesAndRestoresState() {
        Wmf w;
        w.pen(5, 0, 0).select(0);
        w.brush(0, qRgb(255, 0, 0)).select(1).brush(0, qRgb(0, 0, 255));
        w.rec(0x001E, {}).select(2).rec(0x001E, {}).rec(0x020C, {2000, 2000}); // save, save
        w.rec(0x0127, {-2});                                                   // back two
        w.rectangle(0, 0, 500, 500);                                           // red, unscaled
        w.rec(0x001E, {}).select(2).rec(0x0127, {1}).rectangle(500, 500, 1000, 1000);
        w.rec(0x0127, {5}).rec(0x0127, {-9}); // nothing saved that deep: ignored
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(px(250)), qRgb(255, 0, 0)));
        QVERIFY(near(image.pixel(px(750)), qRgb(255, 0, 0)));
    }

    void reusesTheLowestFreeSlot() {
        Wmf w;
        w.pen(5, 0, 0);                        // slot 0
        w.brush(0, qRgb(255, 0, 0));           // slot 1
        w.brush(0, qRgb(0, 255, 0));           // slot 2
        w.select(0).remove(1);                 // frees slot 1
        w.brush(0, qRgb(0, 0, 255));           // takes slot 1 again
        w.rec(0x02FC, {0});                    // too short: fails, takes no slot
        w.brush(0, qRgb(255, 255, 0));         // slot 3
        w.select(1).rectangle(0, 0, 500, 500); // blue
        w.select(3).rectangle(500, 0, 1000, 500);
        w.select(2).remove(2).rectangle(0, 500, 500, 1000);        // deleting keeps the selection
        w.select(7).select(60000).rectangle(500, 500, 1000, 1000); // empty slots change nothing
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(24, 24), qRgb(0, 0, 255)));
        QVERIFY(near(image.pixel(72, 24), qRgb(255, 255, 0)));
        QVERIFY(near(image.pixel(24, 72), qRgb(0, 255, 0)));
        QVERIFY(near(image.pixel(72, 72), qRgb(0, 255, 0)));
    }

    void drawsEmbeddedBitmaps() {
        // StretchDIB of the whole 2x2 bitmap over the left half, and a DIBBitBlt into the
        // top-right quarter whose source (500 pixels) overruns the bitmap.
        QByteArray stretch;
        for (int w : {0x0020, 0x00CC, 0, 2, 2, 0, 0, 1000, 500, 0, 0}) {
            Wmf::put16(&stretch, w);
        }
        QByteArray blt;
        for (int w : {0x0020, 0x00CC, 0, 0, 500, 500, 0, 500}) {
            Wmf::put16(&blt, w);
        }
        QByteArray flipped; // into the bottom-right quarter, upside down (negative height)
        for (int w : {0x0020, 0x00CC, 0, 2, 2, 0, 0, -500, 500, 1000, 500}) {
            Wmf::put16(&flipped, w);
        }
        Wmf w;
        w.raw(0x0F43, stretch + dib2x2()).raw(0x0940, blt + dib2x2());
        w.raw(0x0F43, flipped + dib2x2());
        const QImage image = playMetafile(square(w)).image;
        QVERIFY(near(image.pixel(12, 12), qRgb(255, 0, 0)));
        QVERIFY(near(image.pixel(36, 12), qRgb(255, 255, 255)));
        QVERIFY(near(image.pixel(12, 84), qRgb(0, 0, 255)));
        QVERIFY(near(image.pixel(36, 84), qRgb(0, 255, 0)));
        // An unstretched blit whose source overruns the bitmap shows the whole bitmap.
        QVERIFY(near(image.pixel(60, 12), qRgb(255, 0, 0)));
        QVERIFY(near(image.pixel(84, 36), qRgb(0, 255, 0)));
        QVERIFY(near(image.pixel(60, 90), qRgb(255, 0, 0)));
        QVERIFY(near(image.pixel(60, 60), qRgb(0, 0, 255)));
        QVERIFY(near(image.pixel(84, 90), qRgb(255, 255, 255)));
    }

    void clips() {
        Wmf w;
        w.pen(5, 0, 0).select(0).brush(0, qRgb(0, 0, 0)).select(1);
        w.rec(0x0416, {750, 750, 250, 250}); // intersect with the middle
        w.rec(0x0415, {600, 600, 400, 400}); // and cut a hole
        w.rectangle(0, 0, 1000, 1000);
        const QImage image = playMetafile(square(w)).image;
        QCOMPARE(image.pixel(10, 10), qRgb(255, 255, 255));
        QVERIFY(near(image.pixel(px(300)), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(px(500)), qRgb(255, 255, 255));
    }

    void sizesPlainMetafiles() {
        // One logical unit to a pixel while the window fits 2048 pixels...
        Wmf small;
        small.window(0, 0, 300, 200).rectangle(0, 0, 10, 10);
        MetafilePicture p = playMetafile(small.plain());
        QCOMPARE(p.image.size(), QSize(300, 200));
        QCOMPARE(p.himetric, QSize(7938, 5292));
        // ...twips beyond that; the window set when drawing starts counts.
        Wmf large;
        large.window(0, 0, 1, 1).window(0, 0, 4800, 1800).rectangle(0, 0, 10, 10);
        QCOMPARE(playMetafile(large.plain()).image.size(), QSize(320, 120));
        // No window: the bounds of the drawing, here a black rectangle filling the picture.
        Wmf bare;
        bare.brush(0, qRgb(0, 0, 0)).select(0).rectangle(-50, 20, 150, 120);
        p = playMetafile(bare.plain());
        QCOMPARE(p.image.size(), QSize(200, 100));
        QVERIFY(near(p.image.pixel(100, 50), qRgb(0, 0, 0)));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, playMetafile(Wmf().plain()));
    }

    void plainWindowOriginPlacesTheDrawing_data() {
        QTest::addColumn<QByteArray>("data");
        // A window whose origin has x and y far apart: logical (100, 40) is the top-left pixel.
        Wmf before, after;
        before.window(100, 40, 200, 100).brush(0, qRgb(0, 0, 0)).select(0);
        before.rectangle(150, 60, 200, 90);
        QTest::newRow("window set before drawing") << before.plain();
        // Drawing first: the window the file sets later frames it all the same.
        after.brush(0, qRgb(0, 0, 0)).select(0).rectangle(150, 60, 200, 90);
        after.window(100, 40, 200, 100);
        QTest::newRow("window set after drawing") << after.plain();
    }
    void plainWindowOriginPlacesTheDrawing() {
        QFETCH(QByteArray, data);
        const QImage image = playMetafile(data).image;
        QCOMPARE(image.size(), QSize(200, 100));
        // The same drawing made here: the rectangle less the window origin, in pixels.
        QImage expected(200, 100, QImage::Format_RGB32);
        expected.fill(Qt::white);
        QPainter painter(&expected);
        painter.fillRect(QRect(QPoint(50, 20), QPoint(99, 49)), Qt::black);
        painter.end();
        int differing = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 200; ++x) {
                differing += !near(image.pixel(x, y), expected.pixel(x, y), 100);
            }
        }
        // Only the rectangle's outline may fall a pixel either way.
        QVERIFY2(differing <= 2 * (50 + 30) * 2, qPrintable(QString::number(differing)));
        QVERIFY(near(image.pixel(75, 35), qRgb(0, 0, 0)));
        QCOMPARE(image.pixel(20, 70), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(150, 10), qRgb(255, 255, 255));
    }

    void refusesOrSurvivesHostileFiles_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("refused");
        const QByteArray good = square(Wmf().rectangle(0, 0, 10, 10));
        QTest::newRow("not a metafile") << QByteArray("GIF89a") << true;
        QTest::newRow("header cut") << good.left(30) << true;
        QTest::newRow("record cut") << good.left(good.size() - 9) << false;
        QTest::newRow("empty box") << Wmf().placeable(10, 10, 10, 50, 1440) << true;
        QTest::newRow("inverted box") << Wmf().placeable(100, 0, 0, 100, 1440) << true;
        QTest::newRow("no units per inch") << Wmf().placeable(0, 0, 100, 100, 0) << true;
        QTest::newRow("frame too large")
            << Wmf().placeable(-32768, -32768, 32767, 32767, 100) << true;
        QByteArray zero = good;
        zero[40] = zero[41] = zero[42] = zero[43] = 0; // first record's size
        QTest::newRow("record size zero") << zero << false;
        QByteArray huge = good;
        huge[43] = char(0x7F);
        QTest::newRow("record size past the end") << huge << false;
        QTest::newRow("polygon count beyond record")
            << square(Wmf().rec(0x0324, {30000, 1, 2, 3, 4})) << false;
        QTest::newRow("polypolygon counts beyond record")
            << square(Wmf().rec(0x0538, {3, 32767, 32767, 32767, 1, 1})) << false;
        QTest::newRow("text count beyond record")
            << square(Wmf().rec(0x0A32, {10, 10, 32767, 6, 0, 0, 0x41, 0x42})) << false;
        QTest::newRow("dib claims huge size")
            << square(Wmf().rec(0x0F43, {0x20, 0xCC, 0, 1, 1, 0, 0, 100, 100, 0, 0, 40, 0, 0x7FFF,
                                         0x7FFF, 0x7FFF, 0x7FFF, 1, 32}))
            << false;
        QTest::newRow("extreme mapping") << square(Wmf()
                                                       .rec(0x0103, {8})
                                                       .window(0, 0, 1, 1)
                                                       .rec(0x020E, {32767, 32767})
                                                       .pen(1, 1, 0)
                                                       .select(0)
                                                       .ellipse(-32768, -32768, 32767, 32767)
                                                       .line(-32768, -32768, 32767, 32767)
                                                       .font(-32768, "Arial")
                                                       .select(1)
                                                       .textOut(-32768, 0, QByteArray(200, 'W')))
                                         << false;
        Wmf deep;
        for (int i = 0; i < 5000; ++i) {
            deep.rec(0x001E, {});
        }
        deep.rec(0x0127, {-32768}).rec(0x0127, {32767});
        QTest::newRow("saves without end") << square(deep) << false;
        Wmf many;
        for (int i = 0; i < 70000; ++i) {
            many.brush(0, qRgb(i & 255, 0, 0));
        }
        many.select(65534).select(65535).remove(65535).remove(-1);
        QTest::newRow("object table overflow") << square(many) << false;
    }
    void refusesOrSurvivesHostileFiles() {
        QFETCH(QByteArray, data);
        QFETCH(bool, refused);
        try {
            const MetafilePicture p = playMetafile(data);
            QVERIFY2(!refused, "expected a refusal");
            QVERIFY(!p.image.isNull());
        } catch (const std::runtime_error &e) {
            QVERIFY2(refused, e.what());
            QCOMPARE(QString(e.what()), QStringLiteral("Invalid picture"));
        }
    }

    void endsEndlessWork() {
        // A million records, then a hundred thousand page-sized ellipses: playback stops on
        // its budget and returns what it drew.
        Wmf w;
        for (int i = 0; i < 1000000; ++i) {
            w.rec(0x0201, {i & 0xFFFF, 0});
        }
        QCOMPARE(playMetafile(w.placeable(0, 0, 2000, 2000, 100)).image.size(), QSize(1920, 1920));
        Wmf heavy;
        heavy.brush(0, qRgb(0, 0, 0)).select(0);
        for (int i = 0; i < 100000; ++i) {
            heavy.ellipse(-10, -10, 2010, 2010);
        }
        const QImage image = playMetafile(heavy.placeable(0, 0, 2000, 2000, 100)).image;
        QVERIFY(near(image.pixel(960, 960), qRgb(0, 0, 0)));
    }

    void playsTheCorpus() {
        QFile index(corpusDir() + "/INDEX.tsv");
        if (!index.open(QIODevice::ReadOnly)) {
            QSKIP("no corpus");
        }
        // Files drawn in white only (meant for a coloured slide), so blank is right.
        const QStringList whiteOnWhite = {"wmf/apache-poi/slideshow/empty-polygon-close.wmf"};
        int valid = 0, malformed = 0;
        for (const QByteArray &line : index.readAll().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() < 4 || !f[0].startsWith("wmf/") || !f[0].endsWith(".wmf")) {
                continue;
            }
            QFile file(corpusDir() + "/" + f[0]);
            QVERIFY2(file.open(QIODevice::ReadOnly), f[0].constData());
            const QByteArray data = file.readAll();
            QVERIFY2(looksLikeMetafile(data), f[0].constData());
            if (f[3].trimmed() == "valid") {
                ++valid;
                const MetafilePicture p = playMetafile(data);
                const QSize s = p.image.size();
                QVERIFY2(s.width() >= 40 && s.height() >= 40 && s.width() <= 2000 &&
                             s.height() <= 2000 && p.himetric.width() > 0,
                         f[0].constData());
                if (!whiteOnWhite.contains(QString(f[0]))) {
                    QVERIFY2(darkPixels(p.image, p.image.rect()) > 0 ||
                                 !p.image.allGray(), // something was drawn
                             f[0].constData());
                }
            } else if (f[3].trimmed() == "malformed") {
                ++malformed;
                try {
                    QVERIFY(!playMetafile(data).image.isNull());
                } catch (const std::runtime_error &e) {
                    QCOMPARE(QString(e.what()), QStringLiteral("Invalid picture"));
                }
            }
        }
        QVERIFY(valid >= 30 && malformed >= 1);
    }

    void matchesReferenceRenderings_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("sameFrame"); // false: the reference crops to the drawing
        QTest::addColumn<double>("limit");   // largest share of differing pixels
        QTest::newRow("plot") << "wmf/dotnet-runtime-assets/gdiwmfboundariesbug.wmf"
                              << "wmf/dotnet-runtime-assets/gdiwmfboundariesbug-output.png" << true
                              << 0.06;
        QTest::newRow("full test") << "wmf/wmf2svg/fulltest.wmf"
                                   << "wmf/wmf2svg/fulltest.png" << true << 0.08;
        QTest::newRow("clock") << "wmf/imagemagick/clock.wmf"
                               << "wmf/imagemagick/reference/clock.gif" << false << 0.12;
        QTest::newRow("wizard") << "wmf/imagemagick/wizard.wmf"
                                << "wmf/imagemagick/reference/wizard.gif" << false << 0.10;
    }
    void matchesReferenceRenderings() {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(bool, sameFrame);
        QFETCH(double, limit);
        QFile in(corpusDir() + "/" + file);
        const QImage ref(corpusDir() + "/" + reference);
        if (!in.open(QIODevice::ReadOnly) || ref.isNull()) {
            QSKIP("no corpus");
        }
        const QImage mine = playMetafile(in.readAll()).image;
        if (sameFrame) {
            QCOMPARE(mine.size(), ref.size());
        }
        const double share = differingShare(mine, ref, !sameFrame);
        qInfo("%s: %.1f%% of pixels differ", qPrintable(file), share * 100);
        QVERIFY(share < limit);
    }
};

QTEST_MAIN(MetafileTest)
#include "test_metafile.moc"
