#pragma once

#include "Harness.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QtTest>
#include <functional>

// A textured picture (gradients crossed by a fine check), so that any fill or any shift of the
// text shows; written once per size, as a bitmap.
QString TexturedPicture(QSize size);

// Renders a widget as the screen shows it, its visible children included or not.
QImage RenderWidget(QWidget *widget, bool children);

// What a stamp left: the pixels it changed, those that differ from what the box showed (the
// caret left out), the largest difference in a channel, and the changed pixels that are
// clearly red.
struct Stamped {
    int ink = 0;
    int differ = 0;
    int worst = 0;
    int reddish = 0;
    QImage shown;
    QImage stamped;
};

// How a stamp made at a zoom other than 1.0 (drawn into the picture at its own resolution and
// shown through the zoom) compares with what the box showed. Ink is a pixel that differs from
// the picture without the text by more than a faint edge. Strays: stamped ink with no box ink
// within one pixel of the picture (a screen pixel when shrunk, the zoom's pixels when enlarged);
// missed: box ink with no stamped ink that near; colour: the largest
// difference in a channel between the text's colour and the stamp where the box showed solid
// text colour (averaged over those pixels). Changed: pixels the stamp changed at all; differ:
// those of them, and any others, where the box showed something else (the caret left out).
struct ZoomedStamp {
    int changed = 0;
    int differ = 0;
    int boxInk = 0;
    int stampInk = 0;
    int strays = 0;
    int missed = 0;
    int solid = 0;
    double colour = 0;
};

// The real window, shown and active, with a textured picture loaded; a user's steps on it, and
// the comparison of the open box with its stamp.
class Session {
public:
    explicit Session(FormFixture &f, QSize picture = QSize(400, 300));

    // "Change Fore Color", clicked, answered with the colour.
    void colour(const QColor &colour);
    // "Change Font", clicked, answered with the font it proposes at another size.
    void fontSize(float points);
    // "Zoom In" (steps above 0) or "Zoom Out" clicked so many times.
    void zoom(int steps);
    // A click on the picture (pixels of the display box) that opens the box, which takes the
    // keyboard focus.
    void open(QPoint at);
    // Replaces the box's text by typing the lines, Return between them.
    void type(const QStringList &lines);
    // The picture area as shown, without the open box.
    QImage picture() const;
    // The picture area as shown with the open box, without its sizing border and grip; the
    // caret's rectangle is kept for the comparison.
    QImage shown();
    // Stamps the open box ("Finish Editing Text" clicked, unless told how) and compares the
    // stamped picture with what was shown just before: every pixel but the caret's must agree,
    // and the stamp must have drawn something. Failures are recorded on the running test.
    Stamped stamp(const std::function<void()> &how = {});
    // The same at a zoom other than 1.0, where the picture's pixels are not the screen's: the
    // comparison of the same glyphs in the same place and colour, measured (not judged).
    ZoomedStamp stampZoomed(QRgb textColour);

private:
    FormFixture &f_;
    QRect caret_;
};
