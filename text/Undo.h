#pragma once

#include "text/StampHistory.h"

#include <QRect>

class PictureBox;

// What a stamp over the box (its rectangle on the display, in the display's pixels) is about to
// change of the picture it draws into, as it is now, for undo: the pixels of the part of the
// box's column the stamp can reach, at the picture's own resolution (a small copy). Nothing is
// kept, and the change is marked as one that ends the history, when it cannot be copied. The
// picture keeps its HiMetric size through the change.
PictureChange ChangeBeforeStamp(PictureBox &display, const QRect &box, QSize himetric);

// The pixels of a display of the given size that a stamp over the box can draw into: the box's
// column from its top down to the display's lower edge, as RenderTextToPicture clips it. Empty
// when the box lies off the picture or its rectangle cannot be expressed in twips.
QRect StampArea(const QRect &box, QSize display);
