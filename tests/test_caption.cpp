// The caption renderer alone: plate, alignment, outline, shadow and scale, on plain images, and
// the coverage masks the effects are made from.
#include "Harness.h"
#include "platform/PictureBox.h"
#include "platform/RichTextBox.h"
#include "text/Caption.h"
#include "text/CaptionMasks.h"
#include "text/RenderText.h"

#include <QPainter>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

QImage canvas(QSize size, QColor colour = Qt::white) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

Caption caption(const QString &text, qreal points = 20) {
    Caption c;
    c.text = text;
    c.font = QFont(QStringLiteral("Arial"));
    c.font.setPointSizeF(points);
    c.font.setBold(true);
    c.colour = Qt::black;
    return c;
}

// The centre of mass of how far each pixel is from white.
QPointF darkCentre(const QImage &image) {
    double sx = 0, sy = 0, sw = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const double w = 255 - qGray(image.pixel(x, y));
            sx += w * x;
            sy += w * y;
            sw += w;
        }
    }
    return sw > 0 ? QPointF(sx / sw, sy / sw) : QPointF();
}

Mask dot(int size, int x, int y) {
    Mask m{size, size, std::vector<quint8>(size_t(size) * size_t(size), 0)};
    m.alpha[size_t(y) * size_t(size) + size_t(x)] = 255;
    return m;
}

} // namespace

class CaptionTest : public QObject {
    Q_OBJECT
private slots:
    void plateFillsTheAreaAtItsOpacity() {
        QImage image = canvas(QSize(200, 120));
        Caption c = caption(QString(), 9);
        c.effects.plateColour = QColor(0, 0, 200);
        c.effects.plateOpacity = 100;
        const QRect changed = RenderCaption(image, c, QPointF(30, 20), QSizeF(100, 70), 1.0);
        QCOMPARE(changed, QRect(30, 20, 100, 70));
        QCOMPARE(InkBounds(image), QRect(30, 20, 100, 70));
        QCOMPARE(image.pixel(30, 20), qRgb(0, 0, 200));
        QCOMPARE(image.pixel(129, 89), qRgb(0, 0, 200));

        // Half opacity over white: half way to the plate's colour.
        QImage half = canvas(QSize(200, 120));
        c.effects.plateOpacity = 50;
        RenderCaption(half, c, QPointF(0, 0), QSizeF(100, 70), 1.0);
        const QRgb p = half.pixel(50, 35);
        QVERIFY(qAbs(qRed(p) - 128) <= 1 && qAbs(qBlue(p) - 228) <= 1);
        QCOMPARE(half.pixel(100, 35), qRgb(255, 255, 255));

        // Text taller than the area takes the plate down with it.
        QImage tall = canvas(QSize(200, 200));
        c.text = QStringLiteral("one\ntwo\nthree\nfour");
        c.effects.plateOpacity = 100;
        RenderCaption(tall, c, QPointF(0, 0), QSizeF(100, 20), 1.0);
        const int lines = int(std::ceil(4 * QFontMetricsF(c.font).lineSpacing()));
        QVERIFY(InkBounds(tall, qRgb(255, 255, 255)).height() >= lines);
        QCOMPARE(tall.pixel(99, lines - 2), qRgb(0, 0, 200));
    }

    void alignmentAcrossTheWidth() {
        const QString word = QStringLiteral("Word");
        QRect ink[3];
        const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
        for (int i = 0; i < 3; ++i) {
            QImage image = canvas(QSize(300, 60));
            Caption c = caption(word);
            c.alignment = alignments[i];
            RenderCaption(image, c, QPointF(0, 0), QSizeF(300, 60), 1.0);
            ink[i] = InkBounds(image);
        }
        const int width = QFontMetrics(caption(word).font).horizontalAdvance(word);
        QVERIFY(ink[0].left() <= 3);
        QVERIFY(qAbs(ink[1].center().x() - 150) <= 3);
        QVERIFY(ink[2].right() >= 296 && ink[2].right() <= 299);
        for (const QRect &r : ink) {
            QVERIFY(qAbs(r.width() - width) <= 4);
            QCOMPARE(r.top(), ink[0].top());
        }
    }

    void outlineRingsTheGlyphs() {
        const Caption plain = caption(QStringLiteral("IO"), 28);
        QImage bare = canvas(QSize(200, 80));
        RenderCaption(bare, plain, QPointF(0, 0), QSizeF(200, 80), 1.0);
        Caption ringed = plain;
        ringed.effects.outlineWidth = 4;
        ringed.effects.outlineColour = QColor(0, 200, 0);
        QImage image = canvas(QSize(200, 80));
        RenderCaption(image, ringed, QPointF(0, 0), QSizeF(200, 80), 1.0);
        // The padding moves the text in by the outline's width.
        QCOMPARE(CaptionPadding(ringed), 4);
        const QImage glyphs = bare.copy(0, 0, 196, 76);
        int green = 0, far = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qGreen(p) < 150 || qRed(p) > 100 || qBlue(p) > 100) {
                    continue;
                }
                ++green;
                // The nearest glyph pixel of the unpadded render, four pixels left and up.
                int nearest = 99;
                for (int dy = -7; dy <= 7; ++dy) {
                    for (int dx = -7; dx <= 7; ++dx) {
                        const int gx = x - 4 + dx, gy = y - 4 + dy;
                        if (gx >= 0 && gy >= 0 && gx < glyphs.width() && gy < glyphs.height() &&
                            qGray(glyphs.pixel(gx, gy)) < 128) {
                            nearest = qMin(nearest, int(std::ceil(std::hypot(dx, dy))));
                        }
                    }
                }
                far += nearest > 5;
            }
        }
        QVERIFY(green > 200);
        QCOMPARE(far, 0);
        // The glyphs themselves stay black on top of the ring.
        QCOMPARE(InkBounds(image).topLeft(), InkBounds(bare).topLeft());
    }

    void shadowFallsRightAndDown() {
        Caption c = caption(QStringLiteral("Shade"), 36);
        c.colour = Qt::white;
        QImage image = canvas(QSize(240, 100));
        RenderCaption(image, c, QPointF(0, 0), QSizeF(240, 100), 1.0);
        QCOMPARE(InkBounds(image), QRect());
        c.effects.shadow = true;
        RenderCaption(image, c, QPointF(0, 0), QSizeF(240, 100), 1.0);
        Caption dark = c;
        dark.colour = Qt::black;
        dark.effects.shadow = false;
        QImage glyphs = canvas(QSize(240, 100));
        RenderCaption(glyphs, dark, QPointF(0, 0), QSizeF(240, 100), 1.0);
        const QPointF shadow = darkCentre(image), text = darkCentre(glyphs);
        QVERIFY2(shadow.x() > text.x() + 1 && shadow.y() > text.y() + 1,
                 qPrintable(QStringLiteral("%1,%2 against %3,%4")
                                .arg(shadow.x())
                                .arg(shadow.y())
                                .arg(text.x())
                                .arg(text.y())));
        // Soft: never as dark as the text, and spread wider than it.
        int darkest = 255;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                darkest = qMin(darkest, qGray(image.pixel(x, y)));
            }
        }
        QVERIFY(darkest > 60 && darkest < 200);
        QVERIFY(InkBounds(image).width() > InkBounds(glyphs).width());
    }

    // In one render with an outline: the grey shadow's centre lies right of and below the red
    // ring's, the ring stays whole on top of the shadow (as many pure red pixels as without a
    // shadow), and the shadow fades out inside the caption's extent instead of being cut there.
    // The text ends in a "w", whose ink reaches the end of its advance: no side bearing hides a
    // padding too small for the blur.
    void shadowLiesUnderTheOutlineAndFadesOut() {
        Caption c = caption(QStringLiteral("Shadow"), 36);
        c.effects.outlineWidth = 3;
        c.effects.outlineColour = Qt::red;
        const auto pureRed = [](QRgb p) {
            return qRed(p) >= 250 && qGreen(p) <= 5 && qBlue(p) <= 5;
        };
        const auto grey = [](QRgb p) {
            return qAbs(qRed(p) - qGreen(p)) < 8 && qAbs(qGreen(p) - qBlue(p)) < 8 &&
                   qGray(p) > 40 && qGray(p) < 250;
        };
        QImage ringOnly = canvas(QSize(400, 200));
        RenderCaption(ringOnly, c, QPointF(0, 0), QSizeF(400, 200), 1.0);
        c.effects.shadow = true;
        // The area as wide as the text itself: the shadow's soft edge must fit in its padding.
        const QSizeF area(std::ceil(CaptionTextSize(c, 0.0).width()) + 1.0, 200);
        QImage image = canvas(QSize(400, 200));
        const QRect footprint = RenderCaption(image, c, QPointF(0, 0), area, 1.0);
        double gx = 0, gy = 0, gn = 0, rx = 0, ry = 0, rn = 0;
        int red = 0, redBefore = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                red += pureRed(p);
                redBefore += pureRed(ringOnly.pixel(x, y));
                if (pureRed(p)) {
                    rx += x, ry += y, ++rn;
                } else if (grey(p)) {
                    gx += x, gy += y, ++gn;
                }
            }
        }
        QVERIFY(rn > 100 && gn > 100);
        QVERIFY2(gx / gn > rx / rn + 1 && gy / gn > ry / rn + 1,
                 qPrintable(QStringLiteral("shadow %1,%2 ring %3,%4")
                                .arg(gx / gn)
                                .arg(gy / gn)
                                .arg(rx / rn)
                                .arg(ry / rn)));
        QVERIFY2(
            qAbs(red - redBefore) * 50 <= redBefore,
            qPrintable(QStringLiteral("%1 red pixels, %2 without shadow").arg(red).arg(redBefore)));
        // The shadow has faded out before the outermost columns and rows of the extent: at most a
        // grey level of rounding there, where a padding too small for the blur cuts its soft edge
        // straight and leaves a visible step.
        int darkestEdge = 255;
        for (int y = footprint.top(); y <= footprint.bottom(); ++y) {
            darkestEdge = std::min({darkestEdge, qGray(image.pixel(footprint.right(), y)),
                                    qGray(image.pixel(footprint.left(), y))});
        }
        for (int x = footprint.left(); x <= footprint.right(); ++x) {
            darkestEdge = qMin(darkestEdge, qGray(image.pixel(x, footprint.top())));
        }
        QVERIFY2(darkestEdge >= 254, qPrintable(QString::number(darkestEdge)));
    }

    void scaledCaptionCoversTheScaledArea() {
        Caption c = caption(QStringLiteral("Scaled text"), 14);
        c.effects.outlineWidth = 2;
        c.effects.outlineColour = Qt::red;
        QImage one = canvas(QSize(300, 200)), two = canvas(QSize(600, 400));
        const QRect footprint1 = RenderCaption(one, c, QPointF(10, 10), QSizeF(150, 60), 1.0);
        const QRect footprint2 = RenderCaption(two, c, QPointF(20, 20), QSizeF(150, 60), 2.0);
        const QRect ink1 = InkBounds(one), ink2 = InkBounds(two);
        QVERIFY(footprint1.contains(ink1) && footprint2.contains(ink2));
        QVERIFY(qAbs(ink2.left() - 2 * ink1.left()) <= 2 && qAbs(ink2.top() - 2 * ink1.top()) <= 2);
        QVERIFY(qAbs(ink2.width() - 2 * ink1.width()) <= 4);
        QVERIFY(qAbs(ink2.height() - 2 * ink1.height()) <= 4);
        QCOMPARE(footprint2.topLeft(), QPoint(20, 20));
        QCOMPARE(footprint2.width(), 300);
        // Off the image: nothing drawn, nothing reported.
        QImage untouched = canvas(QSize(100, 100));
        QCOMPARE(RenderCaption(untouched, c, QPointF(200, 0), QSizeF(150, 60), 1.0), QRect());
        QCOMPARE(InkBounds(untouched), QRect());
    }

    // The window's stamp and a caption rendered on its own give the same pixels: the text box's
    // look is all a stamp takes from it.
    void stampEqualsTheCaptionAlone() {
        RichTextBox box;
        QFont font(QStringLiteral("Arial"));
        font.setPointSizeF(12);
        font.setItalic(true);
        box.setBoxFont(font);
        box.setSelColor(0x00008000);
        box.setTextAlignment(Qt::AlignRight);
        box.setText(QStringLiteral("Same\u00A0pixels, either way"));
        box.setGeometry(40, 30, 160, 50);
        CaptionEffects effects;
        effects.shadow = true;
        effects.plateOpacity = 30;
        effects.plateColour = QColor(200, 0, 0);

        QImage base(320, 200, QImage::Format_RGB32);
        for (int y = 0; y < base.height(); ++y) {
            for (int x = 0; x < base.width(); ++x) {
                base.setPixel(x, y, qRgb(x % 256, y, 128));
            }
        }
        PictureBox picture;
        picture.setPicture(base);
        RenderTextToPicture(&picture, &box, 40 * 15, 200 * 15, 30 * 15, 1.0e6f, effects);

        Caption c;
        c.text = QStringLiteral("Same\u00A0pixels, either way");
        c.font = font;
        c.colour = QColor(0, 128, 0);
        c.alignment = Qt::AlignRight;
        c.effects = effects;
        QImage alone = base;
        RenderCaption(alone, c, QPointF(40, 30), QSizeF(160, 50), 1.0);
        QVERIFY(alone != base);
        QCOMPARE(picture.image(), alone);
    }

    void masks() {
        // Grown: full within the radius, a soft edge one pixel wide, nothing further.
        const Mask grown = Grown(dot(15, 7, 7), 3.0);
        QCOMPARE(int(grown.at(7, 7)), 255);
        QCOMPARE(int(grown.at(9, 7)), 255);
        QCOMPARE(int(grown.at(10, 7)), 128);
        QCOMPARE(int(grown.at(11, 7)), 0);
        QCOMPARE(int(grown.at(9, 9)), int(std::lround((3.5 - std::sqrt(8.0)) * 255)));
        QCOMPARE(int(grown.at(7, 3)), 0);
        // A pixel less than half covered does not grow, but stays.
        Mask faint = dot(9, 4, 4);
        faint.alpha[4 * 9 + 4] = 100;
        const Mask stays = Grown(faint, 2.0);
        QCOMPARE(int(stays.at(4, 4)), 100);
        QCOMPARE(int(stays.at(5, 4)), 0);

        // Shifted: moved by whole pixels; what leaves is gone.
        const Mask moved = Shifted(dot(6, 4, 1), 2, 3);
        QCOMPARE(int(moved.at(4, 1)), 0);
        QCOMPARE(std::accumulate(moved.alpha.begin(), moved.alpha.end(), 0), 0);
        const Mask inside = Shifted(dot(6, 1, 1), 2, 3);
        QCOMPARE(int(inside.at(3, 4)), 255);

        // Blur: spread evenly around the dot, the total kept away from the edges.
        Mask blurred = dot(31, 15, 15);
        Blur(blurred, 2);
        QVERIFY(blurred.at(15, 15) < 255 && blurred.at(15, 15) > 0);
        QCOMPARE(blurred.at(13, 15), blurred.at(17, 15));
        QCOMPARE(blurred.at(15, 12), blurred.at(15, 18));
        QCOMPARE(int(blurred.at(15, 2)), 0);
        const int total = std::accumulate(blurred.alpha.begin(), blurred.alpha.end(), 0);
        QVERIFY2(qAbs(total - 255) <= 60, qPrintable(QString::number(total)));

        // Painted: the colour at the mask's coverage and the opacity given.
        Mask two = dot(2, 0, 0);
        two.alpha[1] = 128;
        const QImage painted = Painted(two, QColor(0, 0, 255), 0.5);
        QCOMPARE(qAlpha(painted.pixel(0, 0)), 128);
        QCOMPARE(qAlpha(painted.pixel(1, 0)), 64);
        QCOMPARE(painted.pixelColor(0, 0), QColor(0, 0, 255, 128));
        QCOMPARE(qAlpha(painted.pixel(0, 1)), 0);
    }
};

QTEST_MAIN(CaptionTest)
#include "test_caption.moc"
