// Caption effects and re-editing through the real window: alignment, outline, drop shadow,
// background plate, each shown in the box exactly as it is stamped, each undone by undo; the
// context menus with their keys; the last stamp taken back into the box.
#include "BoxStamp.h"
#include "text/BoxCaption.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>

namespace {

// The menu entry with this text (without its "&" and the keys shown after a tab), or null.
QAction *entry(QMenu *menu, const QString &text) {
    for (QAction *a : menu->actions()) {
        if (a->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')) == text) {
            return a;
        }
    }
    return nullptr;
}

// The entry shows its keys: its shortcut, shown in context menus too.
bool showsKeys(const QAction *a) {
    return !a->shortcut().isEmpty() && a->isShortcutVisibleInContextMenu() &&
           !a->text().contains(QLatin1Char('\t'));
}

// Asks the widget for its context menu, as a right click does; the menu once it shows.
QMenu *openMenu(QWidget *widget) {
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                              widget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(widget, &request);
    QMenu *menu = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return menu != nullptr && menu->isVisible();
    });
    return shown ? menu : nullptr;
}

} // namespace

class CaptionsTest : public QObject {
    Q_OBJECT
private slots:
    // Each effect, set from the keys while typing, shows in the box as it is stamped, and undo
    // takes the stamp away to the last pixel.
    void effectsStampAsShown_data() {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("outline");
        QTest::addColumn<int>("plate");
        const int ctrl = int(Qt::CTRL), shift = int(Qt::SHIFT);
        QTest::newRow("centred") << QList<int>{ctrl | Qt::Key_E} << 0 << 0;
        QTest::newRow("right") << QList<int>{ctrl | Qt::Key_R} << 0 << 0;
        QTest::newRow("outline") << QList<int>{ctrl | shift | Qt::Key_O} << 3 << 0;
        QTest::newRow("shadow") << QList<int>{ctrl | shift | Qt::Key_D} << 0 << 0;
        QTest::newRow("plate") << QList<int>{ctrl | shift | Qt::Key_B} << 0 << 60;
        QTest::newRow("all") << QList<int>{ctrl | Qt::Key_E, ctrl | shift | Qt::Key_O,
                                           ctrl | shift | Qt::Key_D, ctrl | shift | Qt::Key_B}
                             << 2 << 40;
    }
    void effectsStampAsShown() {
        QFETCH(QList<int>, keys);
        QFETCH(int, outline);
        QFETCH(int, plate);
        FormFixture f;
        Session s(f);
        s.colour(QColor(255, 220, 0));
        s.fontSize(16.0f);
        const QImage original = s.picture();
        s.open(QPoint(30, 30));
        s.type({"Effects in", "the box"});
        for (const int key : keys) {
            // The outline and plate keys open their dialogs, answered here.
            if ((key & ~Qt::KeyboardModifierMask) == Qt::Key_O) {
                f.services.effectAnswers << std::pair(QColor(Qt::black), outline);
            } else if ((key & ~Qt::KeyboardModifierMask) == Qt::Key_B) {
                f.services.effectAnswers << std::pair(QColor(0, 0, 90), plate);
            }
            QTest::keyClick(f->Text1, Qt::Key(key & ~Qt::KeyboardModifierMask),
                            Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
        }
        QVERIFY(f->Text1->hasFocus());
        QCOMPARE(f->Text1->text(), QStringLiteral("Effects in\nthe box"));
        QCOMPARE(f->editing.effects.outlineWidth, outline);
        QCOMPARE(f->editing.effects.plateOpacity, plate);
        s.stamp();
        // The box is left unfocused too: its own drawing of the glyphs agrees as well.
        f->UndoStamp();
        QCOMPARE(s.picture(), original);
        s.open(QPoint(30, 30));
        s.type({"Effects in", "the box"});
        f->Picture2->setFocus();
        s.stamp();
        f->UndoStamp();
        QCOMPARE(s.picture(), original);
    }

    // The same effects at 0.25 and 2.0: the same ink in the same place.
    void effectsAtOtherZooms_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("steps");
        QTest::newRow("0.25") << QSize(1600, 1200) << -3;
        QTest::newRow("2.0") << QSize(240, 180) << 4;
    }
    void effectsAtOtherZooms() {
        QFETCH(QSize, picture);
        QFETCH(int, steps);
        FormFixture f;
        Session s(f, picture);
        s.zoom(steps);
        s.colour(QColor(Qt::red));
        f.services.effectAnswers << std::pair(QColor(Qt::white), 2);
        f->ChooseOutline();
        f->ToggleShadow();
        f->AlignText(Qt::AlignRight);
        s.fontSize(14.0f);
        s.open(QPoint(50, 40));
        s.type({"Outlined", "and shadowed"});
        const ZoomedStamp z = s.stampZoomed(qRgb(255, 0, 0));
        QCOMPARE(f->Zoom_Ori->picture().size(), picture);
        QVERIFY(z.boxInk > 500 && z.solid > 30);
        // The effects are worked out at the picture's resolution, so their soft edges differ a
        // little; measured here: 7 of 3130 stamped pixels astray at 0.25, 17 of 2635 of the
        // box's missed at 2.0.
        QVERIFY(z.strays <= z.stampInk / 200);
        QVERIFY(z.missed <= z.boxInk / 100);
        QVERIFY(z.stampInk >= z.boxInk * 3 / 4 && z.stampInk <= z.boxInk * 4 / 3);
        QVERIFY(z.colour <= 48.0);
    }

    // Over a picture enlarged to 2.0 or 3.0 the open box shows its stamp, font, colour, outline,
    // shadow and plate included: at most 2% of the pixels the stamp changed look otherwise in
    // the box.
    void openBoxIsItsStampWhenEnlarged_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("steps");
        QTest::newRow("2.0") << QSize(200, 150) << 4;
        QTest::newRow("3.0") << QSize(150, 110) << 8;
    }
    void openBoxIsItsStampWhenEnlarged() {
        QFETCH(QSize, picture);
        QFETCH(int, steps);
        FormFixture f;
        Session s(f, picture);
        s.zoom(steps);
        QCOMPARE(f->doc.ZoomFactor, 1.0f + 0.25f * float(steps));
        s.colour(QColor(Qt::red));
        f.services.effectAnswers << std::pair(QColor(Qt::white), 2)
                                 << std::pair(QColor(Qt::blue), 40);
        f->ChooseOutline();
        f->ToggleShadow();
        f->ChoosePlate();
        s.fontSize(14.0f);
        s.open(QPoint(51, 41));
        s.type({"Outlined", "and shadowed"});
        const ZoomedStamp z = s.stampZoomed(qRgb(255, 0, 0));
        QCOMPARE(f->Zoom_Ori->picture().size(), picture);
        QVERIFY(z.changed > 4000);
        QVERIFY2(z.differ * 50 <= z.changed,
                 qPrintable(QStringLiteral("%1 of %2").arg(z.differ).arg(z.changed)));
    }

    // The dialogs propose what is in force (a width of 2 and half opacity at first); a cancelled
    // dialog changes nothing; the menus show each entry with its key.
    void commandsAndMenus() {
        FormFixture f;
        Session s(f);
        f->ChooseOutline();
        QCOMPARE(f.services.effectRequests.size(), 1);
        const EffectChoice outline = f.services.effectRequests.last();
        QCOMPARE(outline.title, QStringLiteral("Outline"));
        QCOMPARE(outline.amount, 2);
        QCOMPARE(outline.minimum, 0);
        QCOMPARE(outline.maximum, 20);
        QCOMPARE(f->editing.effects, CaptionEffects{});
        f.services.effectAnswers << std::pair(QColor(Qt::white), 5);
        f->ChooseOutline();
        QCOMPARE(f->editing.effects.outlineWidth, 5);
        QCOMPARE(f->editing.effects.outlineColour, QColor(Qt::white));
        f->ChooseOutline();
        QCOMPARE(f.services.effectRequests.last().amount, 5);
        QCOMPARE(f.services.effectRequests.last().colour, QColor(Qt::white));
        QCOMPARE(f->editing.effects.outlineWidth, 5);
        f->ChoosePlate();
        QCOMPARE(f.services.effectRequests.last().title, QStringLiteral("Background Plate"));
        QCOMPARE(f.services.effectRequests.last().amount, 50);
        QCOMPARE(f.services.effectRequests.last().maximum, 100);
        QCOMPARE(f->editing.effects.plateOpacity, 0);

        // The box's menu: its own editing entries, then the caption's, each with its key.
        s.open(QPoint(40, 40));
        QMenu *menu = openMenu(f->Text1->viewport());
        QVERIFY(menu != nullptr);
        const QStringList boxEntries = {"Copy",
                                        "Paste",
                                        "Select All",
                                        "Align Left",
                                        "Align Center",
                                        "Align Right",
                                        "Outline...",
                                        "Drop Shadow",
                                        "Background Plate...",
                                        "Finish Editing Text",
                                        "Cancel Editing Text"};
        for (const QString &text : boxEntries) {
            QAction *a = entry(menu, text);
            QVERIFY2(a != nullptr, qPrintable(text));
            QVERIFY2(showsKeys(a), qPrintable(text));
        }
        for (const QAction *a : menu->actions()) {
            QVERIFY2(a->isSeparator() || showsKeys(a), qPrintable(a->text()));
        }
        QCOMPARE(entry(menu, "Align Center")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
        QCOMPARE(entry(menu, "Drop Shadow")->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
        QVERIFY(entry(menu, "Align Left")->isChecked());
        entry(menu, "Align Right")->trigger();
        menu->close();
        QCOMPARE(f->Text1->textAlignment(), Qt::AlignRight);
        QCOMPARE(f->RichTextBox1->textAlignment(), Qt::AlignRight);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);

        // Shadow from the keys, shown checked in the next menu; Finish from the menu stamps.
        QTest::keyClick(f->Text1, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(f->editing.effects.shadow);
        menu = openMenu(f->Text1->viewport());
        QVERIFY(menu != nullptr && entry(menu, "Drop Shadow")->isChecked());
        QVERIFY(entry(menu, "Align Right")->isChecked());
        entry(menu, "Finish Editing Text")->trigger();
        menu->close();
        QCOMPARE(f->TextEditing, vbFalse);
        QVERIFY(f->history.canUndo());

        // The picture's menu: re-edit, undo and redo first.
        menu = openMenu(f->Picture1);
        QVERIFY(menu != nullptr);
        QVERIFY(f->Text1->isHidden());
        for (const char *text : {"Re-edit Last Stamp", "Undo Stamp", "Redo Stamp", "Align Left",
                                 "Outline...", "Background Plate..."}) {
            QAction *a = entry(menu, QLatin1String(text));
            QVERIFY2(a != nullptr && showsKeys(a), text);
        }
        for (const QAction *a : menu->actions()) {
            QVERIFY2(a->isSeparator() || showsKeys(a), qPrintable(a->text()));
        }
        QCOMPARE(entry(menu, "Re-edit Last Stamp")->shortcut(), QKeySequence(Qt::Key_F2));
        QVERIFY(entry(menu, "Re-edit Last Stamp")->isEnabled());
        QVERIFY(entry(menu, "Undo Stamp")->isEnabled());
        QVERIFY(!entry(menu, "Redo Stamp")->isEnabled());
        entry(menu, "Undo Stamp")->trigger();
        menu->close();
        QVERIFY(f->history.canRedo() && !f->history.canUndo());
        QVERIFY(!f->CanReEditLastStamp());
        QVERIFY(f.services.reports().isEmpty());
    }

    // The last stamp comes back into the box, at its zoom, with its look, the picture without
    // it; stamped again it is one new stamp for undo; cancelled, the old stamp returns.
    void reEditTheLastStamp() {
        FormFixture f;
        Session s(f, QSize(240, 180));
        s.zoom(4);
        const QImage original = f->Zoom_Ori->picture();
        s.colour(QColor(Qt::red));
        f.services.effectAnswers << std::pair(QColor(Qt::white), 3)
                                 << std::pair(QColor(0, 0, 90), 70);
        f->ChooseOutline();
        f->ChoosePlate();
        f->AlignText(Qt::AlignHCenter);
        s.open(QPoint(70, 60));
        s.type({"First try"});
        f->Text1->resize(180, 80);
        const QRect box = f->Text1->geometry();
        const Caption stamped = [&] {
            Caption c;
            c.text = QStringLiteral("First try");
            c.font = f->Text1->boxFont();
            c.colour = QColor(Qt::red);
            c.alignment = Qt::AlignHCenter;
            c.effects = f->editing.effects;
            return c;
        }();
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        const QImage once = f->Zoom_Ori->picture();
        QVERIFY(once != original);

        // Elsewhere meanwhile: another zoom, other effects for the next caption.
        QTest::mouseClick(f->PushButton13, Qt::LeftButton);
        f->ToggleShadow();
        f->AlignText(Qt::AlignLeft);
        QTest::keyClick(f.form.get(), Qt::Key_F2);
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QCOMPARE(f->TextEditing, vbTrue);
        QVERIFY(f->Text1->hasFocus());
        QCOMPARE(f->Text1->geometry(), box);
        QCOMPARE(CaptionOf(*f->Text1, f->editing.effects), stamped);
        QCOMPARE(CaptionOf(*f->RichTextBox1, f->editing.effects).alignment, Qt::AlignHCenter);
        QVERIFY(f->history.canRedo());
        // Cancelled: the old stamp is back, and can be re-edited again.
        QTest::keyClick(f->Text1, Qt::Key_Escape);
        QCOMPARE(f->Zoom_Ori->picture(), once);
        QVERIFY(f->CanReEditLastStamp());

        // Stamped again unchanged: the very same pixels as the first time.
        f->ReEditLastStamp();
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(f->Zoom_Ori->picture(), once);
        QCOMPARE(f->history.undoSteps(), 1);

        // Changed and stamped: one stamp over the original, undone in one step.
        f->ReEditLastStamp();
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QTest::keyClick(f->Text1, Qt::Key_End);
        QTest::keyClicks(f->Text1, QStringLiteral(", then better"));
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(f->Zoom_Ori->picture() != once && f->Zoom_Ori->picture() != original);
        QCOMPARE(f->editing.lastStamp->caption.text, QStringLiteral("First try, then better"));
        QCOMPARE(f->history.undoSteps(), 1);
        QVERIFY(!f->history.canRedo());
        f->UndoStamp();
        QCOMPARE(f->Zoom_Ori->picture(), original);
        QVERIFY(!f->CanReEditLastStamp());
        f->ReEditLastStamp();
        QCOMPARE(f->TextEditing, vbFalse);
        f->RedoStamp();
        QVERIFY(f->CanReEditLastStamp());

        // A cancelled save leaves it; a save ends it: what was saved stays as saved.
        QTest::mouseClick(f->PushButton13, Qt::LeftButton);
        QVERIFY(f->CanReEditLastStamp());
        f.services.saveAnswers << SaveDialogResult{};
        f->PushButton4_Click();
        QCOMPARE(f.services.saveTitles.size(), 1);
        QVERIFY(f->CanReEditLastStamp());
        QTemporaryDir folder;
        f.services.env[QStringLiteral("TEMP")] = folder.path();
        f.services.saveAnswers << SaveDialogResult{true, folder.filePath(QStringLiteral("kept")),
                                                   1};
        f->PushButton4_Click();
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("kept.bmp"))));
        QVERIFY(!f->CanReEditLastStamp());
        QTest::keyClick(f.form.get(), Qt::Key_F2);
        QCOMPARE(f->TextEditing, vbFalse);
        QVERIFY(f.services.reports().isEmpty());
    }
};

QTEST_MAIN(CaptionsTest)
#include "test_captions.moc"
