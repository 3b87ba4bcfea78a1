#include "text/Undo.h"

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "text/RenderText.h"

#include <exception>
#include <new>
#include <utility>

namespace {

// One step through the history, drawn into the zoom source's own pixels (the boxes let go of
// any other handle on them first, so that nothing copies the whole picture); the display, a view
// of the zoom source, shows the result where it is scrolled to.
void stepHistory(StampHistory &history, PictureBox *zoomSource, PictureBox *display, bool undo) {
    PictureState source{zoomSource->pictureForDrawing(), zoomSource->pictureHimetric()};
    zoomSource->release();
    if (undo) {
        history.undo(source);
    } else {
        history.redo(source);
    }
    zoomSource->setPicture(source.image, source.himetric);
    source.image = QImage();
    zoomSource->pictureForDrawing();
    display->refresh();
}

} // namespace

PictureChange ChangeBeforeStamp(PictureBox &display, const RichTextBox &twin, QSize himetric,
                                const CaptionEffects &effects) {
    PictureChange change;
    change.himetric = himetric;
    try {
        const PictureBox::Canvas canvas = display.canvas();
        if (canvas.image == nullptr || canvas.image->isNull()) {
            return change;
        }
        const TwipsRectangle r =
            BoxRectangleInTwips(float(twin.x()), float(twin.y()), float(twin.width()),
                                ScreenTwipsPerPixelX(), ScreenTwipsPerPixelY());
        const QRect shown =
            TextRenderArea(&twin, r.left, r.right, r.top, r.bottom, display.size(), effects);
        if (!shown.isEmpty()) {
            // Every picture pixel the area touches, at the picture's own resolution.
            change.area = canvas.fromBox.mapRect(QRectF(shown))
                              .toAlignedRect()
                              .intersected(canvas.image->rect());
        }
        if (!change.area.isEmpty()) {
            change.pixels = std::as_const(*canvas.image).copy(change.area);
            if (change.pixels.isNull()) {
                throw std::bad_alloc();
            }
        }
    } catch (const std::exception &) {
        // Nothing could be kept: the stamp cannot be undone, nor anything before it.
        change = PictureChange{true, QRect(), QImage(), himetric};
    }
    return change;
}

// Undo and redo wait while the editing box is open (its own Ctrl+Z undoes typing) and while a
// save runs.
void Form1::UndoStamp() {
    if (saving.busy || TextEditing != vbFalse || !Text1->isHidden() || !history.canUndo()) {
        return;
    }
    Steps s(*this, "UndoStamp");
    s(100, [&] { stepHistory(history, Zoom_Ori, Picture1, true); });
}

void Form1::RedoStamp() {
    if (saving.busy || TextEditing != vbFalse || !Text1->isHidden() || !history.canRedo()) {
        return;
    }
    Steps s(*this, "RedoStamp");
    s(100, [&] { stepHistory(history, Zoom_Ori, Picture1, false); });
}
