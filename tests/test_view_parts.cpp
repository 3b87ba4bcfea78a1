// The zoomed view painted in parts, as scrolling and partial repaints expose it, shows what one
// whole paint shows: no seams where the tiles of a shrunk view meet, no column or row
// missing at the edge of a part of an enlarged one.
#include "Harness.h"
#include "platform/PictureBox.h"

#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <cmath>

namespace {

QImage Noise(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, 0xff000000u | (random.generate() & 0xffffffu));
        }
    }
    return image;
}

// The view painted part by part: strips `step` pixels wide (or high), each its own paint.
QImage PaintedInParts(PictureBox &view, int step, bool columns) {
    QImage out(view.size(), QImage::Format_RGB32);
    out.fill(Qt::magenta);
    const int length = columns ? view.width() : view.height();
    for (int at = 0; at < length; at += step) {
        const QRect part =
            (columns ? QRect(at, 0, step, view.height()) : QRect(0, at, view.width(), step))
                .intersected(view.rect());
        view.render(&out, part.topLeft(), QRegion(part), QWidget::RenderFlags());
    }
    return out;
}

// The largest difference of one channel between two images of one size.
int MaxDifference(const QImage &a, const QImage &b) {
    int most = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({most, qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)),
                             qAbs(qBlue(p) - qBlue(q))});
        }
    }
    return most;
}

} // namespace

class ViewPartsTest : public QObject {
    Q_OBJECT
private slots:
    void partsMatchOneWholePaint() {
        // Sides that are whole multiples of four pixels: every zoom level maps them exactly, so
        // that one whole paint is the reference to meet.
        PictureBox source;
        source.setPicture(Noise(200, 148));
        for (const qreal scale : {0.25, 0.5, 0.75, 1.25, 1.5, 2.0, 3.0}) {
            PictureBox view;
            view.showScaled(&source, scale);
            view.resize(int(std::lround(200 * scale)), int(std::lround(148 * scale)));
            QImage whole(view.size(), QImage::Format_RGB32);
            whole.fill(Qt::magenta);
            view.render(&whole, QPoint(), QRegion(view.rect()), QWidget::RenderFlags());
            // Every pixel of the whole paint comes from the picture.
            QCOMPARE(InkBounds(whole, qRgb(255, 0, 255)), whole.rect());
            for (const int step : {7, 13}) {
                for (const bool columns : {true, false}) {
                    const QImage parts = PaintedInParts(view, step, columns);
                    // The scaler's rounding may differ by a step where a tile starts; a tile
                    // off its group of picture pixels averages other pixels of the noise.
                    const int difference = MaxDifference(parts, whole);
                    QVERIFY2(difference <= 2,
                             qPrintable(QStringLiteral("scale %1, %2 of %3: %4 apart")
                                            .arg(scale)
                                            .arg(columns ? "columns" : "rows")
                                            .arg(step)
                                            .arg(difference)));
                }
            }
        }
    }
};

QTEST_MAIN(ViewPartsTest)
#include "test_view_parts.moc"
