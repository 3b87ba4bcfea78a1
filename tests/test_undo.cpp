// Undo and redo of stamps: the history alone, then through the window with Ctrl+Z and Ctrl+Y.
#include "Harness.h"
#include "UndoTools.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void showActive(FormFixture &f) {
    f->show();
    QApplication::setActiveWindow(f.form.get());
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
}

// Keys go where the keyboard focus is, as the window system sends them.
void press(FormFixture &f, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QWidget *focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : f.form.get(), key, modifiers);
}
void pressUndo(FormFixture &f) {
    press(f, Qt::Key_Z, Qt::ControlModifier);
}
void pressRedo(FormFixture &f) {
    press(f, Qt::Key_Y, Qt::ControlModifier);
}

} // namespace

class UndoTest : public QObject {
    Q_OBJECT
private slots:
    // ---- The history alone ----

    void undoAndRedoTradeWholePictures() {
        StampHistory h;
        PictureState shown = shade(12);
        QVERIFY(!h.canUndo() && !h.canRedo());
        QVERIFY(!h.undo(shown));
        h.recordStamp(replaced(10)); // 10 stamped, giving 11
        h.recordStamp(replaced(11)); // 11 stamped, giving 12
        QList<int> seen;
        while (h.undo(shown)) {
            seen << greyOf(shown);
        }
        QCOMPARE(seen, (QList<int>{11, 10}));
        QCOMPARE(h.redoSteps(), 2);
        QVERIFY(h.redo(shown));
        QCOMPARE(greyOf(shown), 11);
        QVERIFY(h.redo(shown) && !h.redo(shown));
        QCOMPARE(greyOf(shown), 12);
        QCOMPARE(shown.himetric, QSize(260, 260));
        // A stamp after an undo forgets what could be redone.
        QVERIFY(h.undo(shown));
        h.recordStamp(replaced(11));
        QVERIFY(!h.canRedo());
        QCOMPARE(h.undoSteps(), 2);
        h.clear();
        QVERIFY(!h.canUndo() && !h.canRedo());
        QCOMPARE(h.bytes(), 0);
    }

    void areasGoBackInPlace() {
        StampHistory h;
        PictureState shown = shade(100, 20, 20);
        const uchar *pixels = shown.image.constBits();
        // A stamp over (5, 5, 4, 6): the area's pixels before it are kept, then drawn over.
        const QRect area(5, 5, 4, 6);
        h.recordStamp(change(false, area, shown.image.copy(area), shown.himetric));
        shown.himetric = QSize(1, 1);
        QPainter(&shown.image).fillRect(area, QColor(200, 200, 200));
        QCOMPARE(h.bytes(), 4 * 6 * 4);

        QVERIFY(h.undo(shown));
        QCOMPARE(shown.image, shade(100, 20, 20).image);
        QCOMPARE(shown.image.constBits(), pixels);
        QCOMPARE(shown.himetric, QSize(520, 520));
        QVERIFY(h.redo(shown));
        QCOMPARE(qRed(shown.image.pixel(5, 10)), 200);
        QCOMPARE(qRed(shown.image.pixel(4, 10)), 100);
        QCOMPARE(shown.himetric, QSize(1, 1));
        // A stamp that drew nothing keeps no pixels, only the size it changed.
        h.recordStamp(change(false, QRect(), QImage(), QSize(7, 7)));
        QVERIFY(h.undo(shown));
        QCOMPARE(shown.himetric, QSize(7, 7));
        // An area that no longer fits the picture ends the history and leaves the picture.
        PictureState other = shade(50, 6, 6);
        QVERIFY(!h.undo(other));
        QCOMPARE(other.image, shade(50, 6, 6).image);
        QVERIFY(!h.canUndo() && !h.canRedo());
    }

    void tenStepsAtMost() {
        StampHistory h;
        for (int i = 0; i < 12; ++i) {
            h.recordStamp(replaced(i));
        }
        QCOMPARE(h.undoSteps(), 10);
        // Undone and redone steps together stay within ten.
        PictureState shown = shade(12);
        QVERIFY(h.undo(shown));
        QCOMPARE(h.undoSteps() + h.redoSteps(), 10);
        QVERIFY(h.redo(shown));
        QList<int> order;
        while (h.undo(shown)) {
            order << greyOf(shown);
        }
        QCOMPARE(order, (QList<int>{11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
    }

    void oldestGoFirstPastTheByteLimit() {
        // 10 x 10 pictures take 400 bytes: three fit under 1300.
        StampHistory h(10, 1300);
        for (int i = 0; i < 5; ++i) {
            h.recordStamp(replaced(i));
        }
        QCOMPARE(h.undoSteps(), 3);
        QCOMPARE(h.bytes(), 1200);
        // The same pixels held twice count once.
        StampHistory shared(10, 1300);
        const PictureChange same = replaced(5);
        shared.recordStamp(same);
        shared.recordStamp(same);
        QCOMPARE(shared.bytes(), 400);
        // Undoing a larger picture (stamped at a zoom) makes room for it by the oldest steps.
        PictureState shown = shade(7, 10, 20);
        QVERIFY(h.undo(shown));
        QCOMPARE(greyOf(shown), 4);
        QCOMPARE(h.undoSteps(), 1);
        QCOMPARE(h.redoSteps(), 1);
        QVERIFY(h.undo(shown) && !h.canUndo());
        QCOMPARE(h.bytes(), 1200);
        QVERIFY(h.redo(shown) && h.redo(shown));
        QCOMPARE(greyOf(shown), 7);
    }

    void pictureTooLargeEndsTheHistory() {
        StampHistory h(10, 1000);
        QVERIFY(h.canKeep(1000) && !h.canKeep(1001));
        h.recordStamp(replaced(1));
        h.recordStamp(replaced(2));
        // A stamp whose picture could not be kept: nothing before it can be reached.
        h.recordStamp(change(true, QRect(), QImage(), QSize()));
        QVERIFY(!h.canUndo());
        h.recordStamp(replaced(1, 20, 20));
        QVERIFY(!h.canUndo());
        // Undo still works when the picture shown now is too large to come back to.
        h.recordStamp(replaced(3));
        PictureState large = shade(4, 20, 20);
        QVERIFY(h.undo(large));
        QCOMPARE(greyOf(large), 3);
        QVERIFY(!h.canRedo());
    }

    // ---- Through the window ----

    void ctrlZAndCtrlYStepThroughStamps() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        showActive(f);
        const QImage original = f->Picture1->image();
        stamp(f, 60, 60, QStringLiteral("one"));
        const QImage afterOne = f->Picture1->image();
        // The second stamp finished from the keyboard: the keys that follow reach the window,
        // not the hidden box.
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 250, 200);
        f->Picture1_Click();
        QTRY_VERIFY(f->Text1->hasFocus());
        QTest::keyClicks(f->Text1, QStringLiteral("two "));
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(!f->Text1->hasFocus());
        const QImage afterTwo = f->Picture1->image();
        QVERIFY(afterOne != original && afterTwo != afterOne);

        const QList<QImage> expected = {afterOne, original, original};
        for (const QImage &shown : expected) {
            pressUndo(f);
            QCOMPARE(f->Picture1->image(), shown);
            // The zoom source follows, sharing the shown pixels at the original size.
            QCOMPARE(f->Zoom_Ori->picture(), shown);
            QCOMPARE(f->Zoom_Ori->picture().constBits(),
                     std::as_const(*f->Picture1).image().constBits());
        }
        pressRedo(f);
        QCOMPARE(f->Picture1->image(), afterOne);
        press(f, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f->Picture1->image(), afterTwo);
        QCOMPARE(f->Zoom_Ori->picture(), afterTwo);
        pressRedo(f);
        QCOMPARE(f->Picture1->image(), afterTwo);
        QVERIFY(f.services.messages.isEmpty());

        // Zooming after an undo shows the restored picture.
        pressUndo(f);
        f->PushButton10_Click();
        f->PushButton13_Click();
        QCOMPARE(f->Picture1->image(), afterOne);
    }

    void stampsAndUndoDrawInPlace() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const QImage original = f->Picture1->image().copy();
        const uchar *pixels = f->Zoom_Ori->picture().constBits();
        stamp(f, 60, 60, QStringLiteral("one"));
        // The stamp drew into the one picture the display and the zoom source share; the history
        // keeps only the box's column from its top down to a line below the text: more than one
        // line of Arial 9 point bold, less than three.
        QCOMPARE(f->Zoom_Ori->picture().constBits(), pixels);
        QCOMPARE(std::as_const(*f->Picture1).image().constBits(), pixels);
        QFont boxFont(QStringLiteral("Arial"));
        boxFont.setPointSizeF(9.0);
        boxFont.setBold(true);
        const int line = QFontMetrics(boxFont).height();
        QCOMPARE(f->history.bytes() % (147 * 4), qint64(0));
        const int rows = int(f->history.bytes() / (147 * 4));
        QVERIFY2(rows > line && rows < 3 * line, qPrintable(QString::number(rows)));
        f->UndoStamp();
        QCOMPARE(f->Picture1->image(), original);
        QCOMPARE(f->Zoom_Ori->picture().constBits(), pixels);
        QCOMPARE(std::as_const(*f->Picture1).image().constBits(), pixels);
        f->RedoStamp();
        QCOMPARE(std::as_const(*f->Picture1).image().constBits(), pixels);
        QVERIFY(f->Picture1->image() != original);
        // A box partly off the picture keeps only what lies on it.
        stamp(f, 5, 280, QStringLiteral("edge"));
        QCOMPARE(f->history.bytes(),
                 qint64(147) * rows * 4 + qint64(147 - 5) * qMin(rows, 300 - 270) * 4);
        for (int i = 0; i < 11; ++i) {
            stamp(f, 20 + 10 * i, 100, QString::number(i));
        }
        QCOMPARE(f->history.undoSteps(), 10);
        while (f->history.canUndo()) {
            f->UndoStamp();
        }
        // Back as far as ten steps go: the two oldest stamps stay.
        QVERIFY(f->Picture1->image() != original);
        QCOMPARE(std::as_const(*f->Picture1).image().constBits(), pixels);
    }

    void zoomedStampsRestoreTheZoomSource() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        showActive(f);
        const QImage original = f->Zoom_Ori->picture();
        const QSize himetric = f->Zoom_Ori->pictureHimetric();
        for (int i = 0; i < 4; ++i) {
            f->PushButton10_Click();
        }
        const QImage zoomed = f->Picture1->image();
        stamp(f, 200, 150, QStringLiteral("XX"));
        // The stamp went into the picture at its own size; only the part of the box's column that
        // the text could reach, halved, is kept: a 147-pixel-wide box at x 190 covers picture
        // columns 95 to 168, from its top at 140 / 2 = 70 down a few lines.
        QCOMPARE(f->Zoom_Ori->picture().size(), QSize(400, 300));
        QCOMPARE(f->history.bytes() % (74 * 4), qint64(0));
        QVERIFY(f->history.bytes() / (74 * 4) < 40);
        QVERIFY(f->HScroll1->isEnabled());
        f->HScroll1->setValue(f->HScroll1->maximum());
        const QPoint view = f->Picture1->pos();

        pressUndo(f);
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QCOMPARE(f->Zoom_Ori->pictureHimetric(), himetric);
        QCOMPARE(f->Picture1->image(), zoomed);
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        // The view stays where it was scrolled to.
        QCOMPARE(f->Picture1->pos(), view);
        f->PushButton13_Click();
        QCOMPARE(f->Picture1->image(), original);

        // A stamp at the original size undone after zooming in: shown at the zoom of now.
        stamp(f, 50, 50, QStringLiteral("YY"));
        f->PushButton10_Click();
        pressUndo(f);
        QCOMPARE(f->Picture1->size(), QSize(500, 375));
        f->PushButton13_Click();
        QCOMPARE(f->Picture1->image(), original);
    }

    // At 0.75 a plate's edges fall between picture pixels: undo takes back every pixel the stamp
    // touched, so no edge of it stays. Boxes a view pixel further and a pixel wider each time put
    // their left and right edges at every third of a picture pixel.
    void undoAtThreeQuartersLeavesNoEdge() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        showActive(f);
        const QImage original = f->Zoom_Ori->picture();
        f->SetZoom(0.75f);
        for (const int k : {0, 1, 2}) {
            const float at = 100.0f + float(k);
            f.services.messageAnswers << MsgAnswer::Yes;
            f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, at, at - 24.0f);
            f->Picture1_Click();
            f->editing.effects.plateOpacity = 100;
            f->editing.effects.plateColour = Qt::green;
            f->Text1->setText(QStringLiteral("Plate"));
            f->Text1->resize(f->Text1->width() + k, f->Text1->height());
            const int width = f->Text1->width();
            f->PushButton3_Click();
            QVERIFY(f->Zoom_Ori->picture() != original);
            pressUndo(f);
            QVERIFY2(f->Zoom_Ori->picture() == original,
                     qPrintable(QStringLiteral("box at %1, %2 wide").arg(at).arg(width)));
        }
    }

    // A load is a step of its own: undo brings the picture before it back with its stamps and
    // its record, redo the loaded one; stamps on either come and go in order.
    void loadsAreUndoableSteps() {
        FormFixture f;
        const QString first = picture(400, 300);
        f.loadPicture(first);
        const QImage firstOriginal = f->Zoom_Ori->picture().copy();
        const qint16 firstQuality = f->doc.DetectedQuality;
        stamp(f, 60, 60, QStringLiteral("one"));
        const QImage firstStamped = f->Zoom_Ori->picture().copy();
        f->PushButton10_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.25f);

        const QString second = WriteTestPicture(QStringLiteral("undo-second.jpg"), 300, 200, "JPG");
        f.loadPicture(second);
        QCOMPARE(f->doc.OriginalPath, second);
        stamp(f, 40, 40, QStringLiteral("two"));
        const QImage secondStamped = f->Zoom_Ori->picture().copy();

        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture().size(), QSize(300, 200));
        QVERIFY(f->Zoom_Ori->picture() != secondStamped);
        // Back over the load: the first picture with its stamp, as it was shown, with its record.
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), firstStamped);
        QCOMPARE(f->doc.OriginalPath, first);
        QCOMPARE(f->doc.DetectedQuality, firstQuality);
        QCOMPARE(f->doc.ZoomFactor, 1.25f);
        QCOMPARE(f->doc.OriginalWidth, 400);
        QCOMPARE(f->Picture1->size(), QSize(500, 375));
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), firstOriginal);
        QVERIFY(!f->history.canUndo());

        f->RedoStamp();
        f->RedoStamp();
        QCOMPARE(f->doc.OriginalPath, second);
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(300, 200));
        f->RedoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), secondStamped);
        QVERIFY(!f->history.canRedo());

        // Reload Original Picture is a load too: its stamps come back with an undo.
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QVERIFY(f->Zoom_Ori->picture() != secondStamped);
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), secondStamped);
        QVERIFY(f.services.reports().isEmpty());

        // A load that fails is no step: the picture stays, and undo goes on from it.
        f.loadPicture(QDir(TestDataFolder()).filePath(QStringLiteral("missing.bmp")));
        QVERIFY(!f.services.reports().isEmpty());
        QCOMPARE(f->Zoom_Ori->picture(), secondStamped);
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture().size(), QSize(300, 200));
        QVERIFY(f->Zoom_Ori->picture() != secondStamped);
    }

    void ignoredWhileTheBoxIsOpenOrASaveRuns() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        showActive(f);
        stamp(f, 60, 60, QStringLiteral("one"));
        const QImage stamped = f->Picture1->image();

        // In the open box Ctrl+Z undoes typing; the picture stays as it is.
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 200, 200);
        f->Picture1_Click();
        QTRY_VERIFY(f->Text1->hasFocus());
        QTest::keyClicks(f->Text1, QStringLiteral("abc"));
        QTest::keyClick(f->Text1, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(f->Text1->text() != QStringLiteral("abcYour Text Goes Here"));
        f->UndoStamp();
        QCOMPARE(f->Picture1->image(), stamped);
        QCOMPARE(f->history.undoSteps(), 1);
        f->PushButton8_Click();

        f->saving.busy = true;
        pressUndo(f);
        QCOMPARE(f->Picture1->image(), stamped);
        f->saving.busy = false;
        pressUndo(f);
        QVERIFY(f->Picture1->image() != stamped);
        f->saving.busy = true;
        pressRedo(f);
        QVERIFY(f->Picture1->image() != stamped);
        f->saving.busy = false;
    }

    void failedStampIsNoStep() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 60, 60);
        f->Picture1_Click();
        f->Text1->move(200000000, 0);
        f->PushButton3_Click();
        QCOMPARE(f.services.reports().size(), 1);
        QVERIFY(!f->history.canUndo());
    }
};

QTEST_MAIN(UndoTest)
#include "test_undo.moc"
