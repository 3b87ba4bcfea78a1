#pragma once

#include <QRect>
#include <QSize>
#include <QTransform>
#include <QtGlobal>

#include "text/Caption.h"

class PictureBox;
class RichTextBox;

// Twips per pixel of the screen the program runs on: 1440 divided by its logical dots per inch
// (15 at 96 dots per inch).
float ScreenTwipsPerPixelX();
float ScreenTwipsPerPixelY();

// A box's rectangle in twips, for RenderTextToPicture: the box's left, top and width in pixels
// times twips per pixel, each product and the sum in single precision. The bottom is 1000000, so
// the rectangle is unbounded below. Throws RuntimeError when a result overflows.
struct TwipsRectangle {
    float left, right, top, bottom;
};
TwipsRectangle BoxRectangleInTwips(float left, float top, float width, float tx, float ty);

// A rectangle edge in whole twips: the nearest whole number, halves to even. Throws RuntimeError
// when the value does not fit in 32 bits.
qint32 RoundTwips(float value);

// Draws the caption a rich-text box holds (its plain text in its font, colour and alignment,
// with the effects given) into the picture box's canvas, through DrawCaption. The rectangle is
// in twips relative to the picture's top-left corner, left and right before top and bottom; each
// edge is rounded to a whole twip (halves to even) and converted back to pixels with the screen's
// twips per pixel. The caption is laid out at the rectangle's width from its top-left corner, at
// the screen's resolution, and drawn over the picture (nothing but the caption: no background
// of the box). A view of the zoom source takes it into that picture at its own resolution,
// scaled to look as the box showed it. Whatever falls outside the rectangle's column, below its
// bottom or off the picture is lost. Throws RuntimeError when an edge cannot be held in 32 bits.
void RenderTextToPicture(PictureBox *picture, RichTextBox *richtext, float left, float right,
                         float top, float bottom, const CaptionEffects &effects = {});

// Draws the caption of a box lying on a picture box of the given size into the image, as
// FinishEditing stamps it (the box's rectangle in twips, then RenderTextToPicture's work),
// through the transform from the picture box's pixels to the image's. Throws as the render does.
void DrawBoxCaption(QImage &image, const QTransform &fromBox, const RichTextBox *box,
                    const CaptionEffects &effects, QSize picture);

// The pixels of a picture box of the given size that RenderTextToPicture with the same arguments
// can change: the rectangle's column from its top down through the caption's extent (its text
// and the room below it, or its plate), within the picture. Empty when nothing would be drawn.
// Throws as the render does.
QRect TextRenderArea(const RichTextBox *richtext, float left, float right, float top, float bottom,
                     QSize picture, const CaptionEffects &effects = {});
