// The text renderer alone: rectangle arithmetic, placement, wrapping and clipping of the glyphs.
#include "Harness.h"
#include "app/ErrorReport.h"
#include "platform/PictureBox.h"
#include "platform/RichTextBox.h"
#include "text/RenderText.h"

#include <QTextCursor>
#include <QtTest>

namespace {

// A picture box holding a picture with a repeating gradient (50 x 20 pixels), so that any
// background fill would show.
struct Canvas {
    PictureBox box;
    QImage before;
    explicit Canvas(QSize size = QSize(400, 300), int dpi = 96) {
        box.resize(size);
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                image.setPixel(x, y, qRgb(200 + x % 50, 180 + 3 * (y % 20), 230));
            }
        }
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        box.setPicture(image);
        before = box.image();
    }
    // The bounding rectangle of every pixel the render changed.
    QRect ink() const {
        const QImage after = box.image();
        QRect bounds;
        for (int y = 0; y < after.height(); ++y) {
            for (int x = 0; x < after.width(); ++x) {
                if (after.pixel(x, y) != before.pixel(x, y)) {
                    bounds |= QRect(x, y, 1, 1);
                }
            }
        }
        return bounds;
    }
};

struct TextBox {
    RichTextBox box;
    QFont font{QStringLiteral("Arial")};
    explicit TextBox(const QString &text) {
        font.setPointSizeF(9.0);
        font.setBold(true);
        box.setBoxFont(font);
        box.setText(text);
    }
};

const QString Sentence = QStringLiteral("The quick brown fox jumps over the lazy dog again");

void render(Canvas &c, TextBox &t, float l, float r, float top, float bottom = 1.0e6f) {
    RenderTextToPicture(&c.box, &t.box, l, r, top, bottom);
}

} // namespace

class RenderTest : public QObject {
    Q_OBJECT
private slots:
    void rectangleInTwips() {
        QCOMPARE(ScreenTwipsPerPixelX(), 15.0f);
        QCOMPARE(ScreenTwipsPerPixelY(), 15.0f);
        const TwipsRectangle r = BoxRectangleInTwips(100, 40, 147, 15, 15);
        QCOMPARE(r.left, 1500.0f);
        QCOMPARE(r.right, 3705.0f);
        QCOMPARE(r.top, 600.0f);
        QCOMPARE(r.bottom, 1.0e6f);
        const TwipsRectangle neg = BoxRectangleInTwips(-7, -3, 147, 12, 12);
        QCOMPARE(neg.left, -84.0f);
        QCOMPARE(neg.right, 1680.0f);
        QCOMPARE(neg.top, -36.0f);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, BoxRectangleInTwips(3e38f, 0, 3e38f, 15, 15));

        QCOMPARE(RoundTwips(2.5f), 2);
        QCOMPARE(RoundTwips(3.5f), 4);
        QCOMPARE(RoundTwips(-2.5f), -2);
        QCOMPARE(RoundTwips(1.0e6f), 1000000);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, RoundTwips(3.0e9f));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, RoundTwips(std::nanf("")));
        Canvas c;
        TextBox t(Sentence);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, render(c, t, 0, 4.0e9f, 0));
        QCOMPARE(c.ink(), QRect());
    }

    void drawsFromTheCornerWrappedAtTheWidth() {
        Canvas c;
        TextBox t(Sentence);
        render(c, t, 1500, 3705, 600);
        const QRect ink = c.ink();
        QVERIFY2(ink.left() >= 100 && ink.left() <= 102, qPrintable(QString::number(ink.left())));
        QVERIFY(ink.top() >= 40 && ink.top() <= 45);
        QVERIFY(ink.right() < 247);

        // Wrapped: the sentence needs three lines at 147 pixels.
        QVERIFY(ink.height() > 2 * QFontMetrics(t.font).lineSpacing());

        Canvas origin;
        render(origin, t, 0, 2205, 0);
        QCOMPARE(origin.ink().translated(100, 40), ink);
        QCOMPARE(origin.box.image().copy(0, 0, 147, 100), c.box.image().copy(100, 40, 147, 100));
        // A half twip rounds to even before it becomes pixels: 1507.5 -> 1508 -> pixel 101.
        Canvas half;
        render(half, t, 1507.5f, 3712.5f, 607.5f);
        QCOMPARE(half.ink(), ink.translated(1, 1));
    }

    void onlyGlyphsAreDrawn() {
        Canvas c;
        TextBox t(Sentence);
        // Red text; a yellow background given to its characters is not the box's and is not
        // drawn.
        t.box.setSelColor(0x0000FF);
        QTextCursor all(t.box.document());
        all.select(QTextCursor::Document);
        QTextCharFormat marked;
        marked.setBackground(QColor(Qt::yellow));
        all.mergeCharFormat(marked);
        render(c, t, 0, 2205, 0);
        const QImage after = c.box.image();
        int changed = 0, inside = 0;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 147; ++x, ++inside) {
                const QRgb p = after.pixel(x, y);
                if (p != c.before.pixel(x, y)) {
                    ++changed;
                    // Red glyphs over the picture: towards red, never towards the yellow.
                    const QRgb b = c.before.pixel(x, y);
                    QVERIFY(qRed(p) >= qRed(b) && qGreen(p) < qGreen(b) && qBlue(p) < qBlue(b));
                }
            }
        }
        QVERIFY(changed > 0);
        QVERIFY2(changed < inside / 3, qPrintable(QString::number(changed)));
    }

    void clippedToThePicture() {
        // Partly off the picture: the part on it is exactly what a render fully on it shows.
        TextBox t(Sentence);
        Canvas whole(QSize(400, 300));
        render(whole, t, 50 * 15, 50 * 15 + 2205, 20 * 15);
        Canvas shifted(QSize(400, 300));
        render(shifted, t, -50 * 15, -50 * 15 + 2205, -20 * 15);
        QCOMPARE(shifted.box.image().copy(0, 0, 97, 60), whole.box.image().copy(100, 40, 97, 60));
        QVERIFY(shifted.ink().right() < 97);

        // Running past the lower and right edges: drawn up to the edge, nothing more, no error.
        QString many;
        for (int i = 0; i < 12; ++i) {
            many += Sentence + QLatin1Char('\n');
        }
        TextBox tall(many);
        // Rendered on a large picture first, to find a row near 120 that the glyphs cross
        // (between lines a row may be empty), which then becomes the small picture's last row.
        Canvas large(QSize(400, 300));
        render(large, tall, 120 * 15, 120 * 15 + 2205, 20 * 15);
        const auto inkIn = [&large](int x0, int y0, int x1, int y1) {
            int count = 0;
            for (int y = y0; y <= y1; ++y) {
                for (int x = x0; x <= x1; ++x) {
                    count += large.box.image().pixel(x, y) != large.before.pixel(x, y);
                }
            }
            return count;
        };
        int last = 110;
        for (int y = 110; y <= 130; ++y) {
            last = inkIn(120, y, 199, y) > inkIn(120, last, 199, last) ? y : last;
        }
        QVERIFY(inkIn(120, last, 199, last) > 0 && inkIn(199, 0, 199, last) > 0);
        // The small picture shows exactly the large one's corner, its last row and column too.
        Canvas small(QSize(200, last + 1));
        render(small, tall, 120 * 15, 120 * 15 + 2205, 20 * 15);
        QCOMPARE(small.box.image(), large.box.image().copy(0, 0, 200, last + 1));
        QVERIFY(small.ink().left() >= 120);
        // A bottom edge stops the text there.
        Canvas bounded;
        render(bounded, tall, 0, 2205, 0, 50 * 15);
        QVERIFY(bounded.ink().bottom() < 50);
    }

    void samePixelsWhateverThePicturesResolution() {
        TextBox t(Sentence);
        Canvas screen(QSize(300, 200), 96);
        Canvas print(QSize(300, 200), 300);
        render(screen, t, 150, 2355, 150);
        render(print, t, 150, 2355, 150);
        QCOMPARE(print.ink(), screen.ink());
        QCOMPARE(print.box.image().copy(print.ink()), screen.box.image().copy(screen.ink()));
    }

    void nothingToDraw() {
        TextBox empty(QString{});
        Canvas c;
        render(c, empty, 1500, 3705, 600);
        QCOMPARE(c.ink(), QRect());
        TextBox t(Sentence);
        render(c, t, 1500, 1500, 600);
        render(c, t, 1500, 3705, 600, 300);
        render(c, t, 9000, 12000, 600);
        QCOMPARE(c.ink(), QRect());
    }
};

QTEST_MAIN(RenderTest)
#include "test_render.moc"
