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

// The real window, shown and active, with a textured picture loaded; a user's steps on it, and
// the comparison of the open box with its stamp.
class Session {
public:
    explicit Session(FormFixture &f, QSize picture = QSize(400, 300));

    // "Change Fore Color", clicked, answered with the colour.
    void colour(const QColor &colour);
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

private:
    FormFixture &f_;
    QRect caret_;
};
