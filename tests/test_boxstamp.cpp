// What the open text box shows is what the stamp draws, pixel for pixel, along the paths a user
// takes: an emptied box, formatting commands, the font dialog, pasted text, long text, clicks
// around the window, a placement answered with Cancel. Driven through the real window with real
// mouse and key events; each test compares a rendering of the picture with the open box (its
// sizing border and grip left out) against a rendering of the stamped picture.
#include "BoxStamp.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <cmath>

class BoxStampTest : public QObject {
    Q_OBJECT
private slots:
    // An emptied box types on in the colour and font it had; the stamp is that colour.
    void emptiedBoxKeepsItsLook() {
        FormFixture f;
        Session s(f);
        s.colour(QColor(Qt::red));
        s.open(QPoint(60, 50));
        s.type({"first words"});
        QTest::keyClick(f->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f->Text1, Qt::Key_Backspace);
        QCOMPARE(f->Text1->text(), QString());
        s.type({"typed again"});
        const Stamped r = s.stamp();
        QVERIFY(r.reddish > 40);
    }

    // After the formatting commands the whole text is still selected, but the box, no longer
    // focused, shows the text in its colour, not in selection colours.
    void selectionHiddenAfterFormatting() {
        FormFixture f;
        Session s(f);
        s.open(QPoint(40, 40));
        s.type({"Coloured and resized"});
        s.colour(QColor(Qt::red));
        s.fontSize(20.0f);
        QVERIFY(!f->Text1->hasFocus());
        QCOMPARE(f->Text1->selLength(), int(f->Text1->text().size()));
        QCOMPARE(f->Text1->fontSize(), 20.0f);
        const Stamped r = s.stamp();
        QVERIFY(r.reddish > 200);
    }

    // The font dialog opens on the box's font; OK without a change changes nothing (not even a
    // line break), and a second visit that changes only the size keeps the bold.
    void fontDialogOpensOnTheBoxFont() {
        FormFixture f;
        Session s(f);
        s.open(QPoint(30, 30));
        s.type({"The dialog keeps the face and its line breaks"});
        f->Picture2->setFocus();
        const QImage before = s.shown();
        f.services.fontAnswerer = [](FontChoice proposal) { return std::optional(proposal); };
        QTest::mouseClick(f->PushButton5, Qt::LeftButton);
        const FontChoice first = f.services.fontProposals.last();
        QCOMPARE(first.name, QStringLiteral("Arial"));
        QCOMPARE(first.size, 9.0f);
        QVERIFY(first.bold && !first.italic);
        QCOMPARE(f.services.fontScreenOnly.last(), true);
        QCOMPARE(s.shown(), before);

        s.fontSize(12.0f);
        QCOMPARE(f.services.fontProposals.last().size, 9.0f);
        QVERIFY(f.services.fontProposals.last().bold);
        for (RichTextBox *box : {f->Text1, f->RichTextBox1}) {
            QCOMPARE(box->fontName(), QStringLiteral("Arial"));
            QCOMPARE(box->fontSize(), 12.0f);
            QVERIFY(box->fontBold());
            QVERIFY(!box->fontUnderline() && !box->fontStrikethru());
        }
        // Arial is what is drawn, by that name.
        QCOMPARE(QFontInfo(f->Text1->boxFont()).family(), QStringLiteral("Arial"));
        s.stamp();
    }

    // Words joined by no-break spaces stay together in the stamp as they do in the box; the
    // characters reach the twin unchanged.
    void noBreakSpacesTravelUnchanged() {
        FormFixture f;
        Session s(f);
        s.open(QPoint(40, 40));
        const QString joined = QStringLiteral("Kept\u00A0together\u00A0across\u00A0the\u00A0whole"
                                              "\u00A0width and\u2009thin \u00ABquoted\u00BB");
        auto *copied = new QMimeData;
        copied->setText(joined);
        QApplication::clipboard()->setMimeData(copied);
        QTest::keyClick(f->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f->Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f->Text1->text(), joined);
        s.stamp();
        QCOMPARE(f->RichTextBox1->text(), joined);
    }

    // Five lines at 48 points: the box grows downward to show them all, and nothing lands below
    // what it showed.
    void boxGrowsWithItsText() {
        FormFixture f;
        Session s(f, QSize(480, 560));
        s.fontSize(48.0f);
        s.open(QPoint(20, 15));
        s.type({"one", "two", "three", "four", "five"});
        const int line = QFontMetrics(f->Text1->boxFont()).lineSpacing();
        QVERIFY2(f->Text1->height() >= 5 * line - 2, qPrintable(QString::number(line)));
        QCOMPARE(f->Text1->givenHeight(), 69);
        // Emptied again, the box goes back to the size it was given.
        QTest::keyClick(f->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f->Text1, Qt::Key_Backspace);
        QVERIFY(f->Text1->height() < 3 * line);
        // The empty line and a line of room below it.
        const qreal lineHeight = QFontMetricsF(f->Text1->boxFont()).height();
        QCOMPARE(f->Text1->height(), qMax(69, int(std::ceil(f->Text1->document()->size().height()) +
                                                  std::ceil(lineHeight))));
        s.type({"one", "two", "three", "four", "five"});
        s.stamp();
    }

    // Pasted rich text arrives as plain text in the box's look, as the stamp draws it.
    void pastedFormattingIsPlain() {
        FormFixture f;
        Session s(f);
        s.colour(QColor(0, 0, 160));
        s.open(QPoint(40, 30));
        auto *copied = new QMimeData;
        copied->setHtml(QStringLiteral("<span style='color:#00ff00;font-size:20pt'>green</span>"
                                       " <b>bold</b> <i style='font-family:Courier'>mono</i>"));
        copied->setText(QStringLiteral("green bold mono"));
        QApplication::clipboard()->setMimeData(copied);
        QTest::keyClick(f->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f->Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f->Text1->text(), QStringLiteral("green bold mono"));
        s.stamp();
    }

    // Clicks on frames, captions, disabled controls and the empty part of an option button do
    // nothing; only a click outside every control stamps the open box.
    void onlyTheBackgroundStamps() {
        FormFixture f;
        Session s(f);
        s.open(QPoint(50, 40));
        s.type({"Still open"});
        const QImage plain = s.picture();
        QVERIFY(!f->Slider1->isEnabled() && !f->HScroll1->isEnabled());
        // A point of the option button outside its round indicator and its caption, where the
        // style leaves one (a click there passes to the frame under it).
        QStyleOptionButton look;
        look.initFrom(f->Option22);
        look.text = f->Option22->text();
        const QRect hit = f->Option22->style()->subElementRect(QStyle::SE_RadioButtonClickRect,
                                                               &look, f->Option22);
        QPoint empty(-1, -1);
        for (int x = f->Option22->width() - 1; x >= 0 && empty.x() < 0; --x) {
            for (int y = 0; y < f->Option22->height() && empty.x() < 0; ++y) {
                if (!hit.contains(x, y)) {
                    empty = QPoint(x, y);
                }
            }
        }
        const struct {
            QWidget *widget;
            QPoint at;
        } clicks[] = {
            {f->Frame1, QPoint(4, f->Frame1->height() - 4)},
            {f->Frame2, QPoint(30, 6)},
            {f->Frame4, QPoint(6, f->Frame4->height() - 4)},
            {f->Slider1, f->Slider1->rect().center()},
            {f->HScroll1, f->HScroll1->rect().center()},
            {f->VScroll1, f->VScroll1->rect().center()},
            {empty.x() >= 0 ? static_cast<QWidget *>(f->Option22) : f->Frame2, empty},
        };
        for (const auto &click : clicks) {
            if (click.at.x() < 0) {
                continue;
            }
            QTest::mouseClick(click.widget, Qt::LeftButton, Qt::NoModifier, click.at);
            QVERIFY2(f->TextEditing == vbTrue && !f->Text1->isHidden(),
                     qPrintable(click.widget->objectName()));
        }
        QVERIFY(!f->Option22->isChecked());
        QCOMPARE(s.picture(), plain);
        // A click on the window itself, beside the viewport, stamps what the box shows.
        s.stamp([&] { QTest::mouseClick(f.form.get(), Qt::LeftButton, Qt::NoModifier, {3, 3}); });
        QCOMPARE(f->TextEditing, vbFalse);
    }

    // A click at 2.0 after scrolling to the lower right opens the box right there, asking
    // nothing, and leaves the picture where it is.
    void zoomedPlacementAsksNothing() {
        FormFixture f;
        Session s(f, QSize(480, 360));
        // At the original size a click near the viewport's lower edge opens the box there and
        // leaves the picture where it is.
        QVERIFY(f->VScroll1->isEnabled());
        s.open(QPoint(100, 340));
        QCOMPARE(f->VScroll1->value(), 0);
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
        QTest::keyClick(f->Text1, Qt::Key_Escape);
        s.zoom(4);
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        f->HScroll1->setValue(f->HScroll1->maximum());
        f->VScroll1->setValue(f->VScroll1->maximum());
        const QPoint corner(-f->Picture1->x(), -f->Picture1->y());
        QVERIFY(corner.x() > 400 && corner.y() > 300);
        const QPoint at =
            corner + QPoint(f->Picture2->scaleWidth() - 280, f->Picture2->scaleHeight() - 160);
        s.open(at);
        QVERIFY(f.services.messages.isEmpty());
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        QCOMPARE(f->Text1->pos(), at - QPoint(10, 10));
        QCOMPARE(QPoint(-f->Picture1->x(), -f->Picture1->y()), corner);
    }

    // Typed near the picture's lower right corner, every line stays on the picture: the box
    // grows upward from the lower edge and wraps at the right edge, and the stamp has every line
    // (one band of ink per line, all above the lower edge). A caption taller than the picture is
    // refused with a message and the box stays open.
    void longCaptionNearTheLowerEdgeIsStampedWhole() {
        FormFixture f;
        Session s(f, QSize(300, 200));
        s.colour(QColor(Qt::red));
        s.open(QPoint(200, 180));
        const QStringList lines{"ONE", "TWO", "THREE", "FOUR", "FIVE", "SIX", "SEVEN"};
        s.type(lines);
        const QRect box = f->Text1->geometry();
        QVERIFY(QRect(0, 0, 300, 200).contains(box));
        QVERIFY(box.top() < 170);
        QCOMPARE(box.width(), 300 - 190);
        const Stamped st = s.stamp();
        // Rows with red ink, in bands separated by rows without.
        int bands = 0;
        int lowest = -1;
        bool inBand = false;
        for (int y = 0; y < st.stamped.height(); ++y) {
            bool red = false;
            for (int x = 0; x < st.stamped.width() && !red; ++x) {
                const QRgb c = st.stamped.pixel(x, y);
                red = qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90;
            }
            bands += red && !inBand;
            inBand = red;
            lowest = red ? y : lowest;
        }
        QCOMPARE(bands, int(lines.size()));
        QVERIFY(lowest < 199);

        // Words wider than the room to the right edge go on to new lines, every one stamped.
        s.open(QPoint(250, 30));
        QCOMPARE(f->Text1->width(), 300 - 240);
        s.type({"AAAA BBBB CCCC DDDD"});
        QVERIFY(f->Text1->textHeight() > 2 * QFontMetrics(f->Text1->boxFont()).lineSpacing());
        s.stamp();

        // Too many lines for the whole picture: refused, nothing stamped, the box still open.
        const QImage before = s.picture();
        s.open(QPoint(40, 40));
        QStringList many;
        for (int i = 0; i < 20; ++i) {
            many << QStringLiteral("line %1").arg(i);
        }
        s.type(many);
        QCOMPARE(f->Text1->y(), 0);
        QTest::mouseClick(f->PushButton3, Qt::LeftButton);
        QCOMPARE(f.services.messages.size(), 1);
        QCOMPARE(f.services.messages.at(0).text,
                 QStringLiteral("The text is taller than the picture and cannot be stamped "
                                "whole.\r\n\r\nMake the font smaller, the box wider or the text "
                                "shorter."));
        QVERIFY(!f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbTrue);
        QCOMPARE(RenderWidget(f->Picture1, false), before);
    }

    // At 0.25 and 2.0 the stamp goes into the picture at its own resolution and is shown through
    // the zoom: the same glyphs in the same place and colour as the box showed.
    void zoomedStampShowsTheSameGlyphs_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<double>("colourBound");
        // Measured here: 1.9 at 0.25 (four picture pixels to a screen pixel); 40 at 2.0, where a
        // stroke one screen pixel wide is half a pixel of the picture.
        QTest::newRow("0.25") << QSize(1600, 1200) << -3 << QPoint(40, 30) << 8.0;
        QTest::newRow("2.0") << QSize(240, 180) << 4 << QPoint(60, 50) << 48.0;
    }
    void zoomedStampShowsTheSameGlyphs() {
        QFETCH(QSize, picture);
        QFETCH(int, steps);
        QFETCH(QPoint, click);
        QFETCH(double, colourBound);
        FormFixture f;
        Session s(f, picture);
        s.zoom(steps);
        QCOMPARE(f->doc.ZoomFactor, 1.0f + 0.25f * float(steps));
        s.colour(QColor(Qt::red));
        s.fontSize(14.0f);
        s.open(click);
        s.type({"Zoomed glyphs", "in place"});
        const ZoomedStamp z = s.stampZoomed(qRgb(255, 0, 0));
        QCOMPARE(f->Zoom_Ori->picture().size(), picture);
        QVERIFY(z.boxInk > 300 && z.solid > 50);
        // Every stamped pixel within a pixel of the picture of the box's glyphs, and the other
        // way round; measured here: none astray, none missed, at either zoom.
        QCOMPARE(z.strays, 0);
        QVERIFY(z.missed <= z.boxInk / 100);
        QVERIFY(z.stampInk >= z.boxInk * 9 / 10 && z.stampInk <= z.boxInk * 12 / 10);
        QVERIFY(z.colour <= colourBound);
    }
};

QTEST_MAIN(BoxStampTest)
#include "test_boxstamp.moc"
