#pragma once

#include "text/Caption.h"
#include "text/StampHistory.h"

#include <QRect>

class PictureBox;
class RichTextBox;

// What stamping the twin (placed and filled as the stamp is about to draw it) over the display
// is about to change of the picture it draws into, as it is now, for undo: the pixels of the area
// the render can reach (TextRenderArea), at the picture's own resolution (a small copy). Nothing
// is kept, and the change is marked as one that ends the history, when it cannot be copied. The
// picture keeps its HiMetric size through the change.
PictureChange ChangeBeforeStamp(PictureBox &display, const RichTextBox &twin, QSize himetric,
                                const CaptionEffects &effects = {});
