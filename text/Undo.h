#pragma once

#include "text/StampHistory.h"

#include <QRect>

class PictureBox;

// What a stamp over the box (its rectangle on the display, in pixels) is about to change of the
// zoom source, as it is now, for undo. When the display shows the zoom source's own pixels, the
// stamp draws into them in place and only the part of the box's column it can reach is kept (a
// small copy); otherwise the stamp replaces the zoom source, which is kept whole (a handle, no
// copy), or without pixels when it is too large for the history.
PictureChange ChangeBeforeStamp(const PictureBox &zoomSource, const PictureBox &display,
                                const QRect &box, const StampHistory &history);

// The pixels of a picture of the given size that a stamp over the box can draw into: the box's
// column from its top down to the picture's lower edge, as RenderTextToPicture clips it. Empty
// when the box lies off the picture or its rectangle cannot be expressed in twips.
QRect StampArea(const QRect &box, QSize picture);
