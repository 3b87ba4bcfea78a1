#include "text/Undo.h"

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "text/RenderText.h"

#include <exception>
#include <new>
#include <utility>

namespace {

// One step through the history, drawn into the zoom source's own pixels (the box lets go of its
// handle on them first, so that nothing copies the whole picture). A stamp undone or redone shows
// where the view is scrolled to; a load undone or redone brings back the other picture with its
// record, at the zoom it was shown at.
void stepHistory(Form1 &form, bool undo) {
    PictureRecord record = form.shownRecord;
    record.zoom = form.doc.ZoomFactor;
    PictureState state{form.Zoom_Ori->pictureForDrawing(), form.Zoom_Ori->pictureHimetric(),
                       record};
    form.Zoom_Ori->release();
    if (undo) {
        form.history.undo(state);
    } else {
        form.history.redo(state);
    }
    form.Zoom_Ori->setPicture(state.image, state.himetric);
    state.image = QImage();
    form.Zoom_Ori->pictureForDrawing();
    if (!form.history.lastStepWasWhole()) {
        form.Picture1->refresh();
        return;
    }
    form.shownRecord = state.record;
    form.doc.OriginalPath = state.record.path;
    form.doc.DetectedQuality = state.record.quality;
    form.doc.SourceExif = state.record.exif;
    form.doc.SourceHead = state.record.head;
    form.doc.SourceFile = state.record.file;
    form.doc.ZoomFactor = state.record.zoom;
    form.doc.OriginalWidth = form.Zoom_Ori->scaleWidth();
    form.doc.OriginalHeight = form.Zoom_Ori->scaleHeight();
    form.ApplyZoom();
    form.ScrollBars();
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
        change = PictureChange();
        change.whole = true;
        change.himetric = himetric;
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
    s(100, [&] { stepHistory(*this, true); });
}

void Form1::RedoStamp() {
    if (saving.busy || TextEditing != vbFalse || !Text1->isHidden() || !history.canRedo()) {
        return;
    }
    Steps s(*this, "RedoStamp");
    s(100, [&] { stepHistory(*this, false); });
}
