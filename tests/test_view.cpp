// The picture shown through the zoom: the display scales the zoom source as it paints, stamps
// land in the picture at its own resolution, saves and undo keep what the user chose, the wheel
// scrolls.
#include "Harness.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>
#include <cmath>

namespace {

// A light picture full of detail, so that any resampling of it would show, and black text on it
// stands out.
QImage photoLike(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = qRgb(150 + (x * 37 + y * 11) % 100, 150 + (x * 13 + y * 29) % 100,
                           160 + (x ^ y) % 90);
        }
    }
    return image;
}

QString writePicture(const QString &name, const QImage &image) {
    const QString path = TestDataFolder() + QLatin1Char('/') + name;
    if (!image.save(path, "BMP")) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// Zoom In or Zoom Out until the factor is reached (from the original size).
void zoomTo(FormFixture &f, float factor) {
    while (f->doc.ZoomFactor < factor) {
        f->PushButton10_Click();
    }
    while (f->doc.ZoomFactor > factor) {
        f->PushButton11_Click();
    }
    QCOMPARE(f->doc.ZoomFactor, factor);
}

int channelDifference(QRgb a, QRgb b) {
    return qMax(qAbs(qRed(a) - qRed(b)),
                qMax(qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))));
}

// True when some pixel of the mask lies in the rectangle.
bool anyIn(const QImage &mask, const QRect &rect) {
    const QRect r = rect.intersected(mask.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (qRed(mask.pixel(x, y)) != 0) {
                return true;
            }
        }
    }
    return false;
}

// The pixels in which two images of one size differ by more than the threshold, as a mask.
QImage differenceMask(const QImage &a, const QImage &b, int threshold) {
    QImage mask(a.size(), QImage::Format_RGB32);
    mask.fill(Qt::black);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (channelDifference(a.pixel(x, y), b.pixel(x, y)) > threshold) {
                mask.setPixel(x, y, qRgb(255, 255, 255));
            }
        }
    }
    return mask;
}

QRect boundsOf(const QImage &mask) {
    QRect bounds;
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            if (qRed(mask.pixel(x, y)) != 0) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

QImage grabRgb(QWidget *widget, const QRect &rect) {
    return widget->grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class ViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setWheelScrollLines(3); }

    // The text is stamped where the box showed it and as large as it showed it, into the picture
    // at the picture's own size; nothing outside the text changes.
    void stampAtAnyZoomKeepsThePicture_data() {
        QTest::addColumn<float>("zoom");
        QTest::addColumn<QPoint>("click");
        QTest::newRow("0.25") << 0.25f << QPoint(30, 40);
        QTest::newRow("0.75") << 0.75f << QPoint(200, 150);
        QTest::newRow("1.0") << 1.0f << QPoint(250, 200);
        QTest::newRow("2.0") << 2.0f << QPoint(300, 200);
    }
    void stampAtAnyZoomKeepsThePicture() {
        QFETCH(float, zoom);
        QFETCH(QPoint, click);
        FormFixture f;
        const QImage original = photoLike(800, 600);
        f.loadPicture(writePicture(QStringLiteral("view-stamp.bmp"), original));
        f.services.fontAnswers << FontChoice{QStringLiteral("Arial"), 16.0f, true, false};
        f->PushButton5_Click();
        zoomTo(f, zoom);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));

        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, float(click.x()), float(click.y()));
        const QRect box(click - QPoint(10, 10), f->Text1->size());
        const QRect onPicture = box.intersected(f->Picture1->rect());
        const QImage screenBefore = grabRgb(f->Picture1, onPicture);
        f->Picture1_Click();
        QCOMPARE(f->Text1->geometry(), box);
        f->Text1->setCursorWidth(0);
        f->Text1->setText(QStringLiteral("Wg 42"));
        const QImage screenWith = grabRgb(f->Picture1, onPicture);
        f->PushButton3_Click();
        QVERIFY(f.services.reports().isEmpty());

        // The document is as it was: the picture's own size, the zoom where it was.
        const QImage stamped = f->Zoom_Ori->picture();
        QCOMPARE(stamped.size(), QSize(800, 600));
        QCOMPARE(f->doc.OriginalWidth, 800);
        QCOMPARE(f->doc.OriginalHeight, 600);
        QCOMPARE(f->doc.ZoomFactor, zoom);

        // The box's glyphs on screen (anything the box changed) and their strong part.
        const QImage glyphs = differenceMask(screenBefore, screenWith, 0);
        const QImage strongGlyphs = differenceMask(screenBefore, screenWith, 96);
        const QRect text = boundsOf(glyphs).translated(onPicture.topLeft());
        QVERIFY(text.width() > 30);
        // Every changed pixel of the picture lies under the text's bounding box, mapped to the
        // picture and grown by one pixel of the screen and one of the picture: the glyphs are
        // drawn afresh at the picture's resolution, and their anti-aliased edges fall a little
        // differently there.
        const QRect grown = text.adjusted(-1, -1, 1, 1);
        const QRect textInPicture(QPoint(int(std::floor(grown.left() / zoom)) - 1,
                                         int(std::floor(grown.top() / zoom)) - 1),
                                  QPoint(int(std::ceil((grown.right() + 1) / zoom)),
                                         int(std::ceil((grown.bottom() + 1) / zoom))));
        const QImage changed = differenceMask(original, stamped, 0);
        const QRect changedBounds = boundsOf(changed);
        QVERIFY2(textInPicture.contains(changedBounds),
                 qPrintable(QStringLiteral("changed %1,%2 %3x%4 outside %5,%6 %7x%8")
                                .arg(changedBounds.x())
                                .arg(changedBounds.y())
                                .arg(changedBounds.width())
                                .arg(changedBounds.height())
                                .arg(textInPicture.x())
                                .arg(textInPicture.y())
                                .arg(textInPicture.width())
                                .arg(textInPicture.height())));

        // Each strongly stamped pixel lies within one screen pixel of a glyph pixel of the box,
        // and each strong glyph pixel of the box has stamped pixels under it.
        const QImage strongStamp = differenceMask(original, stamped, 96);
        int stampedPixels = 0, strays = 0, darkest = 255;
        for (int y = 0; y < 600; ++y) {
            for (int x = 0; x < 800; ++x) {
                if (qRed(strongStamp.pixel(x, y)) == 0) {
                    continue;
                }
                ++stampedPixels;
                darkest = qMin(darkest, qGray(stamped.pixel(x, y)));
                const QPoint onScreen(int(std::floor((x + 0.5) * zoom)) - onPicture.x(),
                                      int(std::floor((y + 0.5) * zoom)) - onPicture.y());
                strays += !anyIn(glyphs, QRect(onScreen - QPoint(1, 1), QSize(3, 3)));
            }
        }
        int glyphPixels = 0, missing = 0;
        for (int y = 0; y < strongGlyphs.height(); ++y) {
            for (int x = 0; x < strongGlyphs.width(); ++x) {
                if (qRed(strongGlyphs.pixel(x, y)) == 0) {
                    continue;
                }
                ++glyphPixels;
                const QPoint s(x + onPicture.x(), y + onPicture.y());
                const QRect under(
                    QPoint(int(std::floor((s.x() - 1) / zoom)),
                           int(std::floor((s.y() - 1) / zoom))),
                    QPoint(int(std::ceil((s.x() + 2) / zoom)), int(std::ceil((s.y() + 2) / zoom))));
                missing += !anyIn(changed, under);
            }
        }
        qInfo("zoom %.2f: %d strong glyph pixels on screen, %d without a stamp under them; %d "
              "strongly stamped picture pixels, %d away from the box's glyphs",
              double(zoom), glyphPixels, missing, stampedPixels, strays);
        QVERIFY(glyphPixels > 100);
        // At 2.0 the box shows each stamped picture pixel as a block of four.
        QVERIFY(stampedPixels >= glyphPixels / 4);
        QVERIFY(missing <= glyphPixels / 100);
        QVERIFY(strays <= stampedPixels / 100);
        // Black text, as the box showed it.
        QVERIFY(darkest < 40);

        // At the original size the display shows the stamped picture pixel for pixel.
        f->PushButton13_Click();
        QCOMPARE(f->Picture1->size(), QSize(800, 600));
        QCOMPARE(f->Picture1->image(), stamped);
    }

    // A 96-megapixel picture is shown at every level it may be shown at without a zoomed copy of
    // it: the display holds no pixels of its own and paints only what the viewport exposes.
    void paintingABigPictureMakesNoPictureSizedImage() {
        FormFixture f;
        {
            QImage big(12000, 8000, QImage::Format_RGB32);
            QVERIFY(!big.isNull());
            big.fill(qRgb(40, 90, 160));
            QPainter painter(&big);
            painter.fillRect(QRect(0, 0, 400, 400), qRgb(250, 20, 20));
            painter.fillRect(QRect(11600, 7600, 400, 400), qRgb(20, 250, 20));
            painter.end();
            f->Picture1->show();
            f->Picture1->setPicture(big);
        }
        f->SetPicture();
        f->ScrollBars();
        const uchar *pixels = f->Zoom_Ori->picture().constBits();
        const qint64 pictureBytes = f->Zoom_Ori->picture().sizeInBytes();
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QWidget *viewport = f->Picture2->client();
        const qint64 viewportBytes =
            qint64(viewport->width() + 8) * qint64(viewport->height() + 8) * 4;

        zoomTo(f, 0.25f);
        QList<float> levels;
        for (;;) {
            levels << f->doc.ZoomFactor;
            f->Picture1->resetPaintStats();
            f->HScroll1->setValue(f->HScroll1->maximum());
            f->VScroll1->setValue(f->VScroll1->maximum());
            const QImage farCorner = grabRgb(viewport, viewport->rect());
            f->HScroll1->setValue(0);
            f->VScroll1->setValue(0);
            const QImage nearCorner = grabRgb(viewport, viewport->rect());
            const PictureBox::PaintStats stats = f->Picture1->paintStats();
            QVERIFY(stats.paints >= 2);
            QVERIFY2(stats.largestAllocation <= viewportBytes,
                     qPrintable(QString::number(stats.largestAllocation)));
            QCOMPARE(f->Picture1->heldBytes(), qint64(0));
            QCOMPARE(f->Zoom_Ori->picture().constBits(), pixels);
            QVERIFY(f->Zoom_Ori->heldBytes() <= pictureBytes);
            // The picture's corners are where they belong, in their own colours.
            QCOMPARE(nearCorner.pixel(0, 0), qRgb(250, 20, 20));
            QCOMPARE(farCorner.pixel(farCorner.width() - 1, farCorner.height() - 1),
                     qRgb(20, 250, 20));
            const float before = f->doc.ZoomFactor;
            f->PushButton10_Click();
            if (f->doc.ZoomFactor == before) {
                break;
            }
        }
        // 1.25 would make it 15000 pixels wide: past the limits, refused.
        QCOMPARE(levels, (QList<float>{0.25f, 0.5f, 0.75f, 1.0f}));
        QCOMPARE(f->Picture1->size(), QSize(12000, 8000));
        QVERIFY(f.services.reports().isEmpty());
    }

    // The save writes the picture at its own size at the original size, and after "Yes" to the
    // zoom warning at the zoomed size, made from the zoom source.
    void saveAtAZoomWritesTheZoomedSize_data() {
        QTest::addColumn<float>("zoom");
        QTest::newRow("0.5") << 0.5f;
        QTest::newRow("1.0") << 1.0f;
        QTest::newRow("2.0") << 2.0f;
    }
    void saveAtAZoomWritesTheZoomedSize() {
        QFETCH(float, zoom);
        FormFixture f;
        QTemporaryDir temp;
        f.services.env[QStringLiteral("TEMP")] = temp.path();
        const QImage original = photoLike(200, 150);
        f.loadPicture(writePicture(QStringLiteral("view-save.bmp"), original));
        zoomTo(f, zoom);
        if (zoom != 1.0f) {
            f.services.messageAnswers << MsgAnswer::Yes;
        }
        const QString destination = temp.path() + QStringLiteral("/card");
        f.services.saveAnswers << SaveDialogResult{true, destination, 1};
        f->PushButton4_Click();
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(f.services.messages.size(), zoom != 1.0f ? 1 : 0);
        const QImage saved =
            QImage(destination + QStringLiteral(".bmp")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(saved.size(), QSize(int(200 * zoom), int(150 * zoom)));
        if (zoom == 1.0f) {
            QCOMPARE(saved, original);
        } else if (zoom == 2.0f) {
            // Enlarged pixel by pixel.
            for (int y = 0; y < saved.height(); ++y) {
                for (int x = 0; x < saved.width(); ++x) {
                    QCOMPARE(saved.pixel(x, y), original.pixel(x / 2, y / 2));
                }
            }
        } else {
            // Shrunk by averaging each two by two block.
            int worst = 0;
            for (int y = 0; y < saved.height(); ++y) {
                for (int x = 0; x < saved.width(); ++x) {
                    int sum[3] = {0, 0, 0};
                    for (int dy = 0; dy < 2; ++dy) {
                        for (int dx = 0; dx < 2; ++dx) {
                            const QRgb p = original.pixel(2 * x + dx, 2 * y + dy);
                            sum[0] += qRed(p);
                            sum[1] += qGreen(p);
                            sum[2] += qBlue(p);
                        }
                    }
                    const QRgb mean = qRgb(sum[0] / 4, sum[1] / 4, sum[2] / 4);
                    worst = qMax(worst, channelDifference(mean, saved.pixel(x, y)));
                }
            }
            QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
        }
        // The document is untouched by the save.
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QCOMPARE(f->doc.ZoomFactor, zoom);
    }

    // Undo after a stamp on a shrunken view keeps only the picture pixels the stamp could reach
    // and brings the picture back bit for bit.
    void undoAfterAStampOnAShrunkenView() {
        FormFixture f;
        const QImage original = photoLike(800, 600);
        f.loadPicture(writePicture(QStringLiteral("view-undo.bmp"), original));
        zoomTo(f, 0.25f);
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 60.0f, 50.0f);
        f->Picture1_Click();
        f->Text1->setText(QStringLiteral("undo me"));
        f->PushButton3_Click();
        const QImage stamped = f->Zoom_Ori->picture().copy();
        QVERIFY(stamped != original);
        // The box at (50, 40), 147 wide, reaches picture columns 200 to 788 from row 160 down to
        // a line below the text (a line of 9 points is 12 screen pixels, 48 picture rows).
        QCOMPARE(f->history.bytes() % (588 * 4), qint64(0));
        const qint64 rows = f->history.bytes() / (588 * 4);
        QVERIFY2(rows > 48 && rows < 3 * 4 * 20, qPrintable(QString::number(rows)));
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QCOMPARE(f->Picture1->size(), QSize(200, 150));
        f->RedoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), stamped);
        f->PushButton13_Click();
        QCOMPARE(f->Picture1->image(), stamped);
    }

    // The wheel scrolls through the bars: down and up, with Shift sideways, never past the ends
    // and not at all along a disabled bar.
    void wheelScrollsThePicture() {
        FormFixture f;
        f.loadPicture(writePicture(QStringLiteral("view-wheel.bmp"), photoLike(800, 400)));
        QVERIFY(f->HScroll1->isEnabled());
        QVERIFY(f->VScroll1->isEnabled());
        const int step = 3 * f->VScroll1->singleStep();
        const auto turn = [&](QWidget *over, int notches, Qt::KeyboardModifiers modifiers) {
            QWheelEvent wheel(QPointF(20, 20), over->mapToGlobal(QPointF(20, 20)), QPoint(),
                              QPoint(0, 120 * notches), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(over, &wheel);
        };
        turn(f->Picture1, -1, Qt::NoModifier);
        QCOMPARE(f->VScroll1->value(), step);
        QCOMPARE(f->Picture1->pos(), QPoint(0, -step));
        turn(f->Picture1, -2, Qt::NoModifier);
        QCOMPARE(f->VScroll1->value(), qMin(3 * step, f->VScroll1->maximum()));
        turn(f->Picture1, 5, Qt::NoModifier);
        QCOMPARE(f->VScroll1->value(), 0);
        // Sideways with Shift, over the viewport beside the picture as well.
        turn(f->Picture2->client(), -1, Qt::ShiftModifier);
        QCOMPARE(f->HScroll1->value(), 3 * f->HScroll1->singleStep());
        QCOMPARE(f->Picture1->pos(), QPoint(-3 * f->HScroll1->singleStep(), 0));
        QCOMPARE(f->VScroll1->value(), 0);

        // A picture that fits: nothing moves.
        f.loadPicture(writePicture(QStringLiteral("view-small.bmp"), photoLike(100, 80)));
        turn(f->Picture1, -1, Qt::NoModifier);
        turn(f->Picture1, -1, Qt::ShiftModifier);
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
    }

    // A picture too large to be drawn at its own size is shown at its own size whenever the
    // factor reads 1.0, whichever way it got there, and saved that way.
    void tooLargeAtTheOriginalSizeIsShownAsItIs() {
        FormFixture f;
        QTemporaryDir temp;
        f.services.env[QStringLiteral("TEMP")] = temp.path();
        QImage wide = photoLike(13400, 300);
        f.loadPicture(writePicture(QStringLiteral("view-wide.bmp"), wide));
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(13400, 300));
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 0.75f);
        QCOMPARE(f->Picture1->size(), QSize(10050, 225));
        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(13400, 300));
        QCOMPARE(f->Picture1->image(), wide);
        // Zoom In would pass the limits.
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(13400, 300));

        f.services.saveAnswers << SaveDialogResult{true, temp.path() + QStringLiteral("/wide"), 1};
        f->PushButton4_Click();
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(QImage(temp.path() + QStringLiteral("/wide.bmp")).size(), QSize(13400, 300));
    }
};

QTEST_MAIN(ViewTest)
#include "test_view.moc"
