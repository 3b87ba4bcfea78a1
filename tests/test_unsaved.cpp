// Text that was never saved is never lost without a word: what the close question asks, and
// when, and what a load asks before it pushes a stamped picture out of the undo history.
#include "Harness.h"
#include "UndoTools.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class UnsavedTest : public QObject {
    Q_OBJECT
private slots:
    // A picture with unsaved stamps that a load replaced stays within undo's reach however many
    // stamps follow; only a load past the step limit would push it out.
    void unsavedPictureBehindALoadStaysWithinReach() {
        StampHistory h;
        PictureState shown = shade(3);
        const QRect corner(0, 0, 2, 2);
        h.recordStamp(change(false, corner, shade(2, 2, 2).image, shown.himetric));
        PictureChange load = replaced(3);
        load.record.path = QStringLiteral("/pictures/first.jpg");
        h.recordLoad(load);
        for (int i = 0; i < 12; ++i) {
            h.recordStamp(change(false, corner, shade(10 + i, 2, 2).image, shown.himetric));
        }
        QCOMPARE(h.undoSteps(), 13);
        const QList<UnsavedPicture> behind = h.unsavedEarlierPictures();
        QCOMPARE(behind.size(), 1);
        QCOMPARE(behind.first().path, QStringLiteral("/pictures/first.jpg"));
        QCOMPARE(behind.first().stepsBack, 13);
        PictureChange next = replaced(4);
        next.load = true;
        QCOMPARE(h.unsavedLostBy(next).size(), 1);
        // Undone steps are forgotten by the load itself, so they make no room for it.
        StampHistory room;
        room.recordStamp(change(false, corner, shade(2, 2, 2).image, shown.himetric));
        room.recordLoad(load);
        for (int i = 0; i < 9; ++i) {
            room.recordStamp(change(false, corner, shade(10 + i, 2, 2).image, shown.himetric));
        }
        QCOMPARE(room.undoSteps(), 10);
        PictureState other = shade(5);
        QVERIFY(room.undo(other) && room.undo(other));
        QVERIFY(room.unsavedLostBy(next).isEmpty());
        QVERIFY(room.redo(other) && room.redo(other));
        QCOMPARE(room.unsavedLostBy(next).size(), 1);
        for (int i = 0; i < 13; ++i) {
            QVERIFY(h.undo(shown));
        }
        QCOMPARE(greyOf(shown), 3);
        QVERIFY(h.showsUnsavedStamps());
    }

    // Whether stamps that were never saved would be lost: the picture is compared with the file it
    // was last loaded from or saved to, whatever lies between; a stamped picture that a load
    // replaced still counts while undo can bring it back.
    void unsavedStampsAreTracked() {
        FormFixture f;
        QTemporaryDir temp;
        f.services.env[QStringLiteral("TEMP")] = temp.path();
        QVERIFY(!f->hasUnsavedStamps());
        f.loadPicture(picture(400, 300));
        QVERIFY(!f->hasUnsavedStamps());
        stamp(f, 60, 60, QStringLiteral("one"));
        QVERIFY(f->hasUnsavedStamps());
        // Undone, the picture is the file again.
        f->UndoStamp();
        QVERIFY(!f->hasUnsavedStamps());
        f->RedoStamp();
        QVERIFY(f->hasUnsavedStamps());
        // A save that is cancelled leaves it unsaved; one that writes the file does not, nor
        // does the state with one stamp of two that lies before it.
        stamp(f, 60, 120, QStringLiteral("two"));
        f->PushButton4_Click();
        QVERIFY(f->hasUnsavedStamps());
        f.services.saveAnswers << SaveDialogResult{true, temp.filePath(QStringLiteral("a")), 1};
        f->PushButton4_Click();
        QVERIFY(QFile::exists(temp.filePath(QStringLiteral("a.bmp"))));
        QVERIFY(!f->hasUnsavedStamps());
        // Back to the one-stamp state, which is in no file, and forward to the saved one.
        f->UndoStamp();
        QVERIFY(f->hasUnsavedStamps());
        f->RedoStamp();
        QVERIFY(!f->hasUnsavedStamps());
        // A save that fails leaves it unsaved.
        stamp(f, 80, 80, QStringLiteral("three"));
        f.services.saveAnswers << SaveDialogResult{
            true, temp.filePath(QStringLiteral("no/such/folder/b")), 1};
        f->PushButton4_Click();
        QVERIFY(!f.services.reports().isEmpty());
        QVERIFY(f->hasUnsavedStamps());
        // A load over it keeps the unsaved stamp one undo away.
        f.loadPicture(picture(300, 200));
        QVERIFY(f->hasUnsavedStamps());
        QCOMPARE(f->history.unsavedEarlierPictures().size(), 1);
        QCOMPARE(f->history.unsavedEarlierPictures().first().stepsBack, 1);
        f->UndoStamp();
        QVERIFY(f->hasUnsavedStamps());
    }

    // Closing the window with unsaved stamps asks first: Save writes the file and closes,
    // Discard closes, Cancel (or a save that does not happen) keeps the window open.
    void closingAsksForUnsavedStamps() {
        FormFixture f;
        QTemporaryDir temp;
        f.services.env[QStringLiteral("TEMP")] = temp.path();
        f.loadPicture(picture(400, 300));
        f->show();
        // Nothing stamped: the window closes without a question.
        QVERIFY(f->close());
        QVERIFY(f.services.messages.isEmpty());
        f->show();
        stamp(f, 60, 60, QStringLiteral("one"));

        f.services.messageAnswers << MsgAnswer::Cancel;
        QVERIFY(!f->close());
        QCOMPARE(f.services.messages.size(), 1);
        const MessageRequest &q = f.services.messages.last();
        QCOMPARE(q.text, QStringLiteral("The text stamped into undo-400x300.bmp has not been "
                                        "saved.\r\n\r\nSave it before closing?"));
        QCOMPARE(q.buttons, MsgButtons::SaveDiscardCancel);
        QCOMPARE(q.defaultButton, 1);
        QCOMPARE(q.title, f->ApplicationTitle());
        QVERIFY(f->isVisible());

        // Save, then the save dialog cancelled: still open.
        f.services.messageAnswers << MsgAnswer::Save;
        QVERIFY(!f->close());
        QVERIFY(f->isVisible());
        // Save with a name: written, then closed.
        f.services.messageAnswers << MsgAnswer::Save;
        f.services.saveAnswers << SaveDialogResult{true, temp.filePath(QStringLiteral("kept")), 1};
        QVERIFY(f->close());
        QVERIFY(QFile::exists(temp.filePath(QStringLiteral("kept.bmp"))));

        f->show();
        stamp(f, 90, 90, QStringLiteral("two"));
        f.services.messageAnswers << MsgAnswer::Discard;
        QVERIFY(f->close());
    }

    // Stamps on a picture that a later load replaced are asked about (they are one undo away);
    // loads alone, undone or not, and a saved stamp undone, close without a question.
    void closingAsksOnlyWhenStampsWouldBeLost() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f->show();
        stamp(f, 60, 60, QStringLiteral("one"));
        f.loadPicture(picture(300, 200));
        f.services.messageAnswers << MsgAnswer::No;
        QVERIFY(!f->close());
        QCOMPARE(f.services.messages.size(), 1);
        const MessageRequest q = f.services.messages.last();
        QCOMPARE(q.text, QStringLiteral("The text stamped into undo-400x300.bmp has not been "
                                        "saved: another picture was loaded over it, and Undo "
                                        "Stamp brings it back in 1 step.\r\n\r\n"
                                        "Close without it?"));
        QCOMPARE(q.buttons, MsgButtons::YesNo);
        QCOMPARE(q.defaultButton, 2);
        QVERIFY(f->isVisible());
        f.services.messageAnswers << MsgAnswer::Yes;
        QVERIFY(f->close());

        FormFixture g;
        g.loadPicture(picture(400, 300));
        g.loadPicture(picture(300, 200));
        g->UndoStamp();
        QCOMPARE(g->Zoom_Ori->picture().size(), QSize(400, 300));
        g->show();
        QVERIFY(g->close());
        QVERIFY(g.services.messages.isEmpty());

        // Two stamps, then a save: the file holds both, whatever the state between them.
        FormFixture h;
        QTemporaryDir temp;
        h.services.env[QStringLiteral("TEMP")] = temp.path();
        h.loadPicture(picture(400, 300));
        h->show();
        stamp(h, 60, 60, QStringLiteral("First"));
        stamp(h, 60, 120, QStringLiteral("Second"));
        h.services.saveAnswers << SaveDialogResult{true, temp.filePath(QStringLiteral("s")), 1};
        h->PushButton4_Click();
        QVERIFY(h->close());
        QVERIFY(h.services.messages.isEmpty());

        // A stamp undone: the picture is the file it was loaded from.
        FormFixture k;
        k.loadPicture(picture(400, 300));
        k->show();
        stamp(k, 60, 60, QStringLiteral("gone"));
        k->UndoStamp();
        QVERIFY(k->close());
        QVERIFY(k.services.messages.isEmpty());
    }

    // Loads push the oldest steps out of the history: the one that would take a stamped picture
    // that was never saved out of undo's reach asks first. No keeps everything as it was; Yes
    // loads, and the stamp is gone for good.
    void aLoadAsksBeforeUnsavedStampsLeaveTheHistory() {
        FormFixture f;
        const QString first = picture(400, 300);
        f.loadPicture(first);
        stamp(f, 60, 60, QStringLiteral("one"));
        const QImage stamped = f->Zoom_Ori->picture().copy();
        for (int i = 0; i < 10; ++i) {
            f.loadPicture(picture(300 + i, 200));
        }
        QVERIFY(f.services.messages.isEmpty());
        f.services.messageAnswers << MsgAnswer::No;
        f.loadPicture(picture(320, 200));
        QCOMPARE(f.services.messages.size(), 1);
        const MessageRequest q = f.services.messages.last();
        QCOMPARE(q.text, QStringLiteral("The text stamped into undo-400x300.bmp has not been "
                                        "saved: another picture was loaded over it, and Undo "
                                        "Stamp brings it back in 10 steps, but not after another "
                                        "load.\r\n\r\nLoad the picture anyway?"));
        QCOMPARE(q.buttons, MsgButtons::YesNo);
        QCOMPARE(q.defaultButton, 2);
        QCOMPARE(f->Zoom_Ori->picture().size(), QSize(309, 200));
        for (int i = 0; i < 10; ++i) {
            f->UndoStamp();
        }
        QCOMPARE(f->Zoom_Ori->picture(), stamped);
        QCOMPARE(f->doc.OriginalPath, first);
        for (int i = 0; i < 10; ++i) {
            f->RedoStamp();
        }

        f.services.messageAnswers << MsgAnswer::Yes;
        f.loadPicture(picture(320, 200));
        QCOMPARE(f->Zoom_Ori->picture().size(), QSize(320, 200));
        QVERIFY(!f->hasUnsavedStamps());
        f->show();
        QVERIFY(f->close());
        QCOMPARE(f.services.messages.size(), 2);
    }
};

QTEST_MAIN(UnsavedTest)
#include "test_unsaved.moc"
