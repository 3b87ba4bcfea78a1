#pragma once

// Pictures, changes and stamps for the tests of the undo history and of unsaved text.
#include "Harness.h"
#include "text/StampHistory.h"

#include <QString>

// A small picture of its own grey, so pictures are told apart by a pixel.
inline PictureState shade(int grey, int width = 10, int height = 10) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(grey, grey, grey));
    return {image, QSize(width * 26, height * 26), PictureRecord()};
}

// A change of one area, or of the whole picture.
inline PictureChange change(bool whole, const QRect &area, const QImage &pixels, QSize himetric) {
    PictureChange c;
    c.whole = whole;
    c.area = area;
    c.pixels = pixels;
    c.himetric = himetric;
    return c;
}

// A step that replaced the picture: the picture before it, whole.
inline PictureChange replaced(int grey, int width = 10, int height = 10) {
    const PictureState before = shade(grey, width, height);
    return change(true, QRect(), before.image, before.himetric);
}

inline int greyOf(const PictureState &state) {
    return qRed(state.image.pixel(0, 0));
}

inline QString picture(int width, int height) {
    return WriteTestPicture(QStringLiteral("undo-%1x%2.bmp").arg(width).arg(height), width, height,
                            "BMP");
}

// Opens the box at (x, y) on the picture, puts the text in it and finishes.
inline void stamp(FormFixture &f, int x, int y, const QString &text) {
    f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, float(x), float(y));
    f->Picture1_Click();
    f->Text1->setText(text);
    f->PushButton3_Click();
}
