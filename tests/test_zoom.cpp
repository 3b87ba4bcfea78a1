// Zoom in quarter steps and scrolling, through the real window.
#include "Harness.h"
#include "workspace/ZoomMath.h"

#include <QScrollBar>
#include <QtTest>

namespace {

QString picture(int width, int height) {
    return WriteTestPicture(QStringLiteral("zoom-%1x%2.bmp").arg(width).arg(height), width, height,
                            "BMP");
}

} // namespace

class ZoomTest : public QObject {
    Q_OBJECT
private slots:
    void walkThroughTheLevels() {
        FormFixture f;
        f.loadPicture(picture(640, 480));
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.25f);
        QCOMPARE(f->Picture1->size(), QSize(800, 600));
        for (int i = 0; i < 4; ++i) {
            f->PushButton10_Click();
        }
        QCOMPARE(f->doc.ZoomFactor, 2.25f);
        QCOMPARE(f->Picture1->size(), QSize(1440, 1080));
        QCOMPARE(f->doc.ZoomedWidth, 1440);
        QCOMPARE(f->doc.OriginalWidth, 640);
        // The whole zoom source is drawn: the far corner shows the picture's far corner.
        const QImage shown = f->Picture1->image();
        QVERIFY(qGreen(shown.pixel(1439, 1079)) > 180);
        QVERIFY(qRed(shown.pixel(0, 0)) > 180);

        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(640, 480));
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
        for (int i = 0; i < 3; ++i) {
            f->PushButton11_Click();
        }
        QCOMPARE(f->doc.ZoomFactor, 0.25f);
        QCOMPARE(f->Picture1->size(), QSize(160, 120));
        QVERIFY(!f->HScroll1->isEnabled());
        QVERIFY(!f->VScroll1->isEnabled());
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 0.25f);
        QCOMPARE(f->Picture1->size(), QSize(160, 120));

        // Up to 3.0 and no further.
        for (int i = 0; i < 20; ++i) {
            f->PushButton10_Click();
        }
        QCOMPARE(f->doc.ZoomFactor, 3.0f);
        QCOMPARE(f->Picture1->size(), QSize(1920, 1440));
        QVERIFY(f.services.reports().isEmpty());
    }

    void zoomWhileEditingDoesNothing() {
        FormFixture f;
        f.loadPicture(picture(640, 480));
        f->TextEditing = vbTrue;
        f->PushButton10_Click();
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        f->TextEditing = vbFalse;
        f->PushButton10_Click();
        f->TextEditing = vbTrue;
        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.25f);
        QCOMPARE(f->Picture1->size(), QSize(800, 600));
    }

    void zoomBeforeAnyLoad() {
        FormFixture f;
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 0.0f);
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 0.25f);
        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QVERIFY(f->Picture1->isHidden());
        QVERIFY(!f->HScroll1->isEnabled());
        QVERIFY(f.services.reports().isEmpty());
    }

    void stepsPastTheSizeLimitsAreRefused() {
        FormFixture f;
        f.loadPicture(picture(5000, 4000));
        for (int i = 0; i < 6; ++i) {
            f->PushButton10_Click();
        }
        QCOMPARE(f->doc.ZoomFactor, 2.5f);
        QCOMPARE(f->Picture1->size(), QSize(12500, 10000));
        // 2.75 would be 13750 wide: refused like a step past 3.0.
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 2.5f);
        QCOMPARE(f->Picture1->size(), QSize(12500, 10000));
        QCOMPARE(f->doc.ZoomedWidth, 12500);
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 2.25f);
        QCOMPARE(f->Picture1->size(), QSize(11250, 9000));
        QCOMPARE(f->HScroll1->maximum(), 11250 - 498);
        QCOMPARE(f->VScroll1->maximum(), 9000 - 351);
    }

    void pictureTooLargeAtOneIsShownAsLoaded() {
        FormFixture f;
        f.loadPicture(picture(13400, 50));
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(13400, 50));
        QCOMPARE(f->doc.OriginalWidth, 13400);
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        f->PushButton11_Click();
        QCOMPARE(f->doc.ZoomFactor, 0.75f);
        QCOMPARE(f->Picture1->size(), QSize(10050, 37));
        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->doc.ZoomedWidth, 13400);

        FormFixture g;
        g.loadPicture(picture(13399, 50));
        QCOMPARE(g->Picture1->size(), QSize(13399, 50));
        QVERIFY(!g->Picture1->hasPicture());
    }

    void barBoundaries() {
        FormFixture f;
        f.loadPicture(picture(498, 351));
        QVERIFY(!f->HScroll1->isEnabled());
        QVERIFY(!f->VScroll1->isEnabled());
        f.loadPicture(picture(499, 352));
        QVERIFY(f->HScroll1->isEnabled());
        QCOMPARE(f->HScroll1->maximum(), 1);
        QVERIFY(f->VScroll1->isEnabled());
        QCOMPARE(f->VScroll1->maximum(), 1);
        f.loadPicture(picture(800, 300));
        QCOMPARE(f->HScroll1->maximum(), 302);
        QVERIFY(!f->VScroll1->isEnabled());
        // Released thumb at the far end: the right edge meets the viewport's right edge.
        f->HScroll1->setValue(302);
        QCOMPARE(f->Picture1->x(), -302);
        QCOMPARE(f->Picture1->x() + f->Picture1->width(), f->Picture2->scaleWidth());
        // Zooming out after scrolling puts the picture back at the origin; once it fits, the
        // bar is disabled.
        f->PushButton11_Click();
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
        QCOMPARE(f->HScroll1->value(), 0);
        QCOMPARE(f->HScroll1->maximum(), 600 - 498);
        f->PushButton11_Click();
        QVERIFY(!f->HScroll1->isEnabled());
        QVERIFY(f.services.reports().isEmpty());
    }

    void draggingMovesThePictureOnlyOnRelease() {
        FormFixture f;
        f.loadPicture(picture(900, 700));
        QVERIFY(!f->HScroll1->hasTracking());
        f->HScroll1->setSliderDown(true);
        f->HScroll1->setSliderPosition(150);
        QCOMPARE(f->Picture1->x(), 0);
        f->HScroll1->setSliderDown(false);
        QCOMPARE(f->Picture1->x(), -150);
        f->VScroll1->setValue(20);
        QCOMPARE(f->Picture1->y(), -20);
    }

    void excessBeyondSixteenBitsIsReported() {
        FormFixture f;
        f.loadPicture(picture(33300, 10));
        const QList<MessageRequest> reports = f.services.reports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports.at(0).text.startsWith("Overflow\r\nin GlyphTK2021/08/31.Form1.ScrollBars "
                                              "at line 124\r\r"));
        QVERIFY(f->HScroll1->isEnabled());
        QCOMPARE(f->HScroll1->value(), 0);
    }

    void viewportClickChangesNothing() {
        FormFixture f;
        f.loadPicture(picture(100, 80));
        const QImage before = f->Picture1->image();
        QTest::mouseClick(f->Picture2->client(), Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->Picture1->image(), before);
        QVERIFY(f->Text1->isHidden());
    }

    void arithmetic() {
        QCOMPARE(ZoomMath::ZoomedSize(1.25f, 638), 797);
        QCOMPARE(ZoomMath::ZoomedSize(2.25f, 478), 1075);
        QCOMPARE(ZoomMath::NextFactor(0.0f, 1), -0.25f);
        QVERIFY(!ZoomMath::InRange(3.25f));
        QVERIFY(ZoomMath::InRange(0.25f));
        QVERIFY(!ZoomMath::WithinLimits(13400, 10));
        QVERIFY(!ZoomMath::WithinLimits(10, 11900));
        QVERIFY(ZoomMath::WithinLimits(13399, 11899));
        float factor = 1.0f;
        for (int i = 0; i < 8; ++i) {
            factor = ZoomMath::NextFactor(factor, 0);
        }
        QCOMPARE(factor, 3.0f);
    }
};

QTEST_MAIN(ZoomTest)
#include "test_zoom.moc"
