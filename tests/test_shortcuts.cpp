// Keyboard shortcuts, picture files dropped on the window, and moving the open text box, through
// the real window with real key, drop and mouse events.
#include "Harness.h"
#include "app/FileDrop.h"

#include <QApplication>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

namespace {

QString picture(const QString &name, int width = 400, int height = 300) {
    return WriteTestPicture(name, width, height, name.endsWith(".jpg") ? "JPG" : "BMP");
}

void showActive(FormFixture &f) {
    f->show();
    QApplication::setActiveWindow(f.form.get());
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
}

void openBox(FormFixture &f, int x, int y) {
    f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, float(x), float(y));
    f->Picture1_Click();
    QTRY_VERIFY(f->Text1->hasFocus());
}

// What a command leaves behind that a user or a report could tell apart.
struct Outcome {
    QStringList messages;
    QStringList dialogs;
    float zoom = 0;
    qint16 editing = 0;
    bool boxShown = false;
    QImage shown;
    QString path;
};

Outcome outcomeOf(FormFixture &f) {
    Outcome o;
    for (const MessageRequest &m : f.services.messages) {
        o.messages << m.title + QLatin1Char('|') + m.text;
    }
    o.dialogs = f.services.openTitles + f.services.saveTitles;
    o.zoom = f->doc.ZoomFactor;
    o.editing = f->TextEditing;
    o.boxShown = !f->Text1->isHidden();
    o.shown = f->Picture1->image();
    o.path = f->doc.OriginalPath;
    return o;
}

QMimeData *filesData(const QStringList &paths) {
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths) {
        urls << (p.contains(QStringLiteral("://")) ? QUrl(p) : QUrl::fromLocalFile(p));
    }
    data->setUrls(urls);
    return data;
}

// Drags the data over the widget at pos and drops it there if the drag is taken; true when taken.
bool dragAndDrop(QWidget *widget, const QMimeData *data, QPoint pos = QPoint(20, 20)) {
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

// Presses at from on the widget, drags by delta and lets go.
void drag(QWidget *widget, QPoint from, QPoint delta, Qt::KeyboardModifiers held = {}) {
    QTest::mousePress(widget, Qt::LeftButton, held, from);
    QTest::mouseMove(widget, from + delta);
    QTest::mouseRelease(widget, Qt::LeftButton, held, from + delta);
}

} // namespace

class ShortcutsTest : public QObject {
    Q_OBJECT
private slots:
    // Each key against its button, in the same situation: the same prompts, reports, dialogs and
    // result, refusals included.
    void keysDoWhatTheirButtonsDo_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("editing");
        QTest::addColumn<bool>("zoomed");
        const int ctrl = Qt::ControlModifier;
        const int pad = Qt::ControlModifier | Qt::KeypadModifier;
        QTest::newRow("Ctrl+O") << int(Qt::Key_O) << ctrl << 1 << false << false;
        QTest::newRow("Ctrl+O in the box") << int(Qt::Key_O) << ctrl << 1 << true << false;
        QTest::newRow("Ctrl+S") << int(Qt::Key_S) << ctrl << 4 << false << false;
        QTest::newRow("Ctrl+S zoomed") << int(Qt::Key_S) << ctrl << 4 << false << true;
        QTest::newRow("Ctrl++") << int(Qt::Key_Plus) << ctrl << 10 << false << false;
        QTest::newRow("Ctrl+=") << int(Qt::Key_Equal) << ctrl << 10 << false << false;
        QTest::newRow("Ctrl+keypad +") << int(Qt::Key_Plus) << pad << 10 << false << false;
        QTest::newRow("Ctrl++ in the box") << int(Qt::Key_Plus) << ctrl << 10 << true << false;
        QTest::newRow("Ctrl+-") << int(Qt::Key_Minus) << ctrl << 11 << false << false;
        QTest::newRow("Ctrl+0") << int(Qt::Key_0) << ctrl << 13 << false << true;
        QTest::newRow("Esc in the box") << int(Qt::Key_Escape) << 0 << 8 << true << false;
        QTest::newRow("Ctrl+Return in the box")
            << int(Qt::Key_Return) << ctrl << 3 << true << false;
        QTest::newRow("Ctrl+keypad Enter in the box")
            << int(Qt::Key_Enter) << pad << 3 << true << false;
        QTest::newRow("F1") << int(Qt::Key_F1) << 0 << 6 << false << false;
    }
    void keysDoWhatTheirButtonsDo() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, button);
        QFETCH(bool, editing);
        QFETCH(bool, zoomed);
        const QString first = picture(QStringLiteral("keys-first.bmp"));
        const QString second = picture(QStringLiteral("keys-second.bmp"), 300, 200);
        Outcome outcomes[2];
        for (int byKey = 0; byKey < 2; ++byKey) {
            FormFixture f;
            f.loadPicture(first);
            showActive(f);
            if (zoomed) {
                f->PushButton10_Click();
            }
            if (editing) {
                openBox(f, 60, 60);
                QTest::keyClicks(f->Text1, QStringLiteral("Typed "));
            }
            f.services.messages.clear();
            f.services.openTitles.clear();
            f.services.openAnswers << second;
            if (byKey != 0) {
                // Sent where the keyboard focus is, as the window system sends keys.
                QWidget *target = QApplication::focusWidget();
                QVERIFY(target != nullptr);
                QCOMPARE(target == f->Text1, editing);
                QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            } else {
                f->pushButtons().at(button - 1)->click();
            }
            outcomes[byKey] = outcomeOf(f);
        }
        const Outcome &clicked = outcomes[0], &pressed = outcomes[1];
        QCOMPARE(pressed.messages, clicked.messages);
        QCOMPARE(pressed.dialogs, clicked.dialogs);
        QCOMPARE(pressed.zoom, clicked.zoom);
        QCOMPARE(pressed.editing, clicked.editing);
        QCOMPARE(pressed.boxShown, clicked.boxShown);
        QCOMPARE(pressed.path, clicked.path);
        QVERIFY(pressed.shown == clicked.shown);
        // The button did something to compare with (or refused, which is something too).
        const bool acted = !clicked.messages.isEmpty() || !clicked.dialogs.isEmpty() ||
                           clicked.zoom != (zoomed ? 1.25f : 1.0f) || clicked.boxShown != editing;
        QVERIFY(acted || (editing && (button == 10 || button == 13)));
    }

    void editingKeysAndTheBoxOwnKeys() {
        FormFixture f;
        f.loadPicture(picture(QStringLiteral("keys-box.bmp")));
        showActive(f);
        const QImage before = f->Picture1->image();
        // With no box open, Esc and Ctrl+Return do nothing at all (not even the pointer).
        int pointerChanges = 0;
        struct Counter : QObject {
            int *count;
            bool eventFilter(QObject *, QEvent *e) override {
                *count += e->type() == QEvent::CursorChange;
                return false;
            }
        } counter;
        counter.count = &pointerChanges;
        f->installEventFilter(&counter);
        QTest::keyClick(f.form.get(), Qt::Key_Escape);
        QTest::keyClick(f.form.get(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(pointerChanges, 0);
        QCOMPARE(f->Picture1->image(), before);

        // In the box plain Return makes a new line, and Ctrl+Return stamps both lines.
        openBox(f, 60, 60);
        QTest::keyClick(f->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(f->Text1, QStringLiteral("first"));
        QTest::keyClick(f->Text1, Qt::Key_Return);
        QTest::keyClicks(f->Text1, QStringLiteral("second"));
        QCOMPARE(f->Text1->text(), QStringLiteral("first\nsecond"));
        QCOMPARE(f->TextEditing, vbTrue);
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->RichTextBox1->text(), QStringLiteral("first\nsecond"));
        const QRect drawn = DifferingBounds(before, f->Picture1->image());
        QVERIFY(drawn.height() > 20);
        QVERIFY(f.services.messages.isEmpty());

        // The buttons name their keys.
        QCOMPARE(f->PushButton1->toolTip(), QStringLiteral("Load Picture (Ctrl+O)"));
        QCOMPARE(f->PushButton3->toolTip(), QStringLiteral("Finish Editing Text (Ctrl+Enter)"));
    }

    // ---- Dropped files ----

    void droppedFileLoadsAsTheDialogWould_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("reported");
        QTest::newRow("bitmap") << picture(QStringLiteral("drop.bmp")) << false;
        QTest::newRow("jpg") << picture(QStringLiteral("drop card.jpg")) << false;
        const QString broken = QDir(TestDataFolder()).filePath(QStringLiteral("broken.JPG"));
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xD8\xFF\xE0 not really a picture");
        file.close();
        QTest::newRow("damaged") << broken << true;
    }
    void droppedFileLoadsAsTheDialogWould() {
        QFETCH(QString, path);
        FormFixture chosen, dropped;
        chosen.loadPicture(path);
        QVERIFY(
            dragAndDrop(dropped->Picture2, std::unique_ptr<QMimeData>(filesData({path})).get()));
        QVERIFY(dropped.services.openTitles.isEmpty());
        const Outcome a = outcomeOf(chosen), b = outcomeOf(dropped);
        QCOMPARE(b.messages, a.messages);
        QTEST(!dropped.services.reports().isEmpty(), "reported");
        QCOMPARE(b.path, a.path);
        QVERIFY(b.shown == a.shown);
        QCOMPARE(dropped->doc.DetectedQuality, chosen->doc.DetectedQuality);
        QCOMPARE(dropped->CommonDialog1->FileName, chosen->CommonDialog1->FileName);
        QCOMPARE(dropped->PushButton4->isEnabled(), chosen->PushButton4->isEnabled());
        // The dropped file answered the dialog once: the next Load Picture asks again.
        dropped->PushButton1_Click();
        QCOMPARE(dropped.services.openTitles.size(), 1);
        QCOMPARE(dropped->doc.OriginalPath, a.path);
    }

    void whichDropsAreTaken() {
        const QString folder = TestDataFolder();
        const QString notes = QDir(folder).filePath(QStringLiteral("notes.txt"));
        QFile notesFile(notes);
        QVERIFY(notesFile.open(QIODevice::WriteOnly));
        notesFile.close();
        QDir(folder).mkpath(QStringLiteral("album.jpg"));
        const QString wanted = picture(QStringLiteral("second-of-many.JPG"));
        const QString later = picture(QStringLiteral("third-of-many.bmp"));
        QCOMPARE(DroppedPicture(std::unique_ptr<QMimeData>(
                                    filesData({QStringLiteral("https://example.com/a.jpg"), notes,
                                               QDir(folder).filePath(QStringLiteral("album.jpg")),
                                               QDir(folder).filePath(QStringLiteral("gone.bmp")),
                                               wanted, later}))
                                    .get()),
                 wanted);

        FormFixture f;
        f.loadPicture(picture(QStringLiteral("before-drops.bmp")));
        const QString loaded = f->doc.OriginalPath;
        auto text = std::make_unique<QMimeData>();
        text->setText(QStringLiteral("just words"));
        for (QMimeData *refused :
             {filesData({notes}), filesData({QStringLiteral("https://example.com/a.jpg")}),
              filesData({}), text.release()}) {
            std::unique_ptr<QMimeData> owned(refused);
            QVERIFY(!dragAndDrop(f->Picture1, owned.get()));
        }
        // Nothing is taken while a save runs.
        f->saving.busy = true;
        QVERIFY(!dragAndDrop(f.form.get(), std::unique_ptr<QMimeData>(filesData({later})).get()));
        f->saving.busy = false;
        QCOMPARE(f->doc.OriginalPath, loaded);
        QVERIFY(f.services.messages.isEmpty());

        QVERIFY(dragAndDrop(f->Picture1,
                            std::unique_ptr<QMimeData>(filesData({notes, wanted, later})).get()));
        QCOMPARE(f->doc.OriginalPath, wanted);
    }

    void dropOnTheOpenBox() {
        FormFixture f;
        f.loadPicture(picture(QStringLiteral("under-box.bmp")));
        showActive(f);
        openBox(f, 60, 60);
        // Words dragged onto the box are the box's own to take.
        QMimeData words;
        words.setText(QStringLiteral("dragged words"));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &words, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(f->Text1->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        // A picture file loads, as Load Picture would while the box is open; no address is typed.
        const QString other = picture(QStringLiteral("onto-box.bmp"), 320, 240);
        QVERIFY(dragAndDrop(f->Text1->viewport(),
                            std::unique_ptr<QMimeData>(filesData({other})).get()));
        QCOMPARE(f->doc.OriginalPath, other);
        QCOMPARE(f->Picture1->size(), QSize(320, 240));
        QCOMPARE(f->Text1->text(), QStringLiteral("Your Text Goes Here"));
    }

    // ---- Moving the open box ----

    void gripMovesTheBoxAndTheStampFollows() {
        FormFixture f;
        f.loadPicture(picture(QStringLiteral("move.bmp")));
        showActive(f);
        openBox(f, 60, 60);
        QWidget *frame = f->Text1->sizingFrame();
        QWidget *grip = f->Text1->moveGrip();
        QVERIFY(grip != nullptr && grip->isVisible());
        // A tab just above the sizing border, in its middle, with the move pointer.
        QCOMPARE(grip->geometry().bottom(), frame->geometry().top() - 1);
        QVERIFY(qAbs(grip->geometry().center().x() - frame->geometry().center().x()) <= 1);
        QCOMPARE(grip->cursor().shape(), Qt::SizeAllCursor);
        QCOMPARE(grip->parentWidget(), f->Picture1);

        const QImage before = f->Picture1->image();
        drag(grip, grip->rect().center(), QPoint(70, 40));
        QCOMPARE(f->Text1->geometry(), QRect(120, 90, 147, 69));
        QCOMPARE(f->Text1->parentWidget(), f->Picture1);
        QCOMPARE(frame->geometry(), f->Text1->geometry().adjusted(-4, -4, 4, 4));
        QCOMPARE(grip->geometry().bottom(), frame->geometry().top() - 1);
        // Pressing the grip neither stamps nor closes the box.
        QCOMPARE(f->TextEditing, vbTrue);
        QCOMPARE(f->Picture1->image(), before);

        // The sizing border still resizes the moved box.
        const QPoint corner(frame->width() - 2, frame->height() - 2);
        drag(frame, corner, QPoint(30, 11));
        QCOMPARE(f->Text1->geometry(), QRect(120, 90, 177, 80));

        f->Text1->setText(QStringLiteral("Moved here"));
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        const QRect drawn = DifferingBounds(before, f->Picture1->image());
        QVERIFY(!drawn.isEmpty());
        QVERIFY(QRect(120, 90, 177, 80).contains(drawn));
        QVERIFY(grip->isHidden());
    }

    void altDragMovesTheBox() {
        FormFixture f;
        f.loadPicture(picture(QStringLiteral("alt-move.bmp")));
        showActive(f);
        openBox(f, 200, 100);
        QWidget *viewport = f->Text1->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(30, 8));
        const int caret = f->Text1->textCursor().position();
        drag(viewport, QPoint(20, 10), QPoint(-60, 45), Qt::AltModifier);
        QCOMPARE(f->Text1->pos(), QPoint(130, 135));
        QCOMPARE(f->Text1->textCursor().position(), caret);
        QCOMPARE(f->Text1->selLength(), 0);
        QCOMPARE(viewport->cursor().shape(), Qt::IBeamCursor);
        // Without Alt a drag inside the box selects text, as before.
        drag(viewport, QPoint(2, 8), QPoint(60, 0));
        QCOMPARE(f->Text1->pos(), QPoint(130, 135));
        QVERIFY(f->Text1->selLength() > 0);
        // Alt does nothing once the box is closed (the border gone).
        QTest::keyClick(f->Text1, Qt::Key_Escape);
        f->Text1->show();
        drag(viewport, QPoint(20, 10), QPoint(30, 30), Qt::AltModifier);
        QCOMPARE(f->Text1->pos(), QPoint(130, 135));
        f->Text1->hide();
    }

    void gripStaysWithinReach() {
        FormFixture f;
        f.loadPicture(picture(QStringLiteral("edge.bmp")));
        showActive(f);
        // A box at the picture's top edge has its grip below it.
        openBox(f, 200, 5);
        QWidget *grip = f->Text1->moveGrip();
        QCOMPARE(f->Text1->pos(), QPoint(190, -5));
        QCOMPARE(grip->y(), f->Text1->geometry().bottom() + 1 + RichTextBox::SizingBorder);
        // Dragged far off, 16 pixels of the box stay on the picture each way.
        drag(grip, grip->rect().center(), QPoint(-1000, -1000));
        QCOMPARE(f->Text1->pos(), QPoint(16 - 147, 16 - 69));
        QVERIFY(f->Picture1->rect().intersects(grip->geometry()));
        // Toward the lower right the box stays on the picture: 16 pixels wide, its text wrapped
        // there and grown upward from the lower edge.
        drag(grip, grip->rect().center(), QPoint(5000, 5000));
        QCOMPARE(f->Text1->x(), 400 - 16);
        QCOMPARE(f->Text1->width(), 16);
        QVERIFY(f->Picture1->rect().contains(f->Text1->geometry()));
        QVERIFY(f->Picture1->rect().intersects(grip->geometry()));
    }
};

QTEST_MAIN(ShortcutsTest)
#include "test_shortcuts.moc"
