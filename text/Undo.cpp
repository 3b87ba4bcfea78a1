#include "text/Undo.h"

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "text/RenderText.h"

#include <cmath>
#include <exception>
#include <new>
#include <utility>

namespace {

bool sharesPixels(const PictureBox &zoomSource, const PictureBox &display) {
    return zoomSource.hasPicture() && display.hasImage() &&
           zoomSource.picture().constBits() == display.image().constBits();
}

// Makes the picture the zoom source and shows it at the current zoom, the view staying where it
// is. At the original size the display shares the source's pixels, as after a load.
void showPicture(PictureBox *zoomSource, PictureBox *display, const PictureState &state) {
    zoomSource->setPicture(state.image, state.himetric);
    const QImage &source = zoomSource->picture();
    if (source.size() == display->size()) {
        display->setSurface(source);
    } else {
        display->paintPicture(source, display->rect(), source.rect());
    }
}

// One step through the history: both boxes let go of the zoom source's pixels first, so that a
// kept area is drawn back into them in place instead of into a copy of the whole picture.
void stepHistory(StampHistory &history, PictureBox *zoomSource, PictureBox *display, bool undo) {
    PictureState source{zoomSource->picture(), zoomSource->pictureHimetric()};
    const bool shared = sharesPixels(*zoomSource, *display);
    zoomSource->release();
    if (shared) {
        display->release();
    }
    if (undo) {
        history.undo(source);
    } else {
        history.redo(source);
    }
    showPicture(zoomSource, display, source);
}

} // namespace

QRect StampArea(const QRect &box, QSize picture) {
    try {
        const float tx = ScreenTwipsPerPixelX();
        const float ty = ScreenTwipsPerPixelY();
        const TwipsRectangle r =
            BoxRectangleInTwips(float(box.x()), float(box.y()), float(box.width()), tx, ty);
        const auto pixels = [](float edge, float perPixel) {
            return qint64(std::llround(double(RoundTwips(edge)) / double(perPixel)));
        };
        const qint64 left = qMax<qint64>(pixels(r.left, tx), 0);
        const qint64 right = qMin<qint64>(pixels(r.right, tx), picture.width());
        const qint64 top = qMax<qint64>(pixels(r.top, ty), 0);
        const qint64 bottom = qMin<qint64>(pixels(r.bottom, ty), picture.height());
        if (right <= left || bottom <= top) {
            return QRect();
        }
        return QRect(int(left), int(top), int(right - left), int(bottom - top));
    } catch (const std::exception &) {
        return QRect();
    }
}

PictureChange ChangeBeforeStamp(const PictureBox &zoomSource, const PictureBox &display,
                                const QRect &box, const StampHistory &history) {
    PictureChange change;
    change.himetric = zoomSource.pictureHimetric();
    try {
        if (sharesPixels(zoomSource, display)) {
            change.area = StampArea(box, display.size());
            if (!change.area.isEmpty()) {
                change.pixels = zoomSource.picture().copy(change.area);
                if (change.pixels.isNull()) {
                    throw std::bad_alloc();
                }
            }
            return change;
        }
        change.whole = true;
        if (history.canKeep(zoomSource.picture().sizeInBytes())) {
            change.pixels = zoomSource.picture();
        }
    } catch (const std::exception &) {
        // Nothing could be kept: the stamp cannot be undone, nor anything before it.
        change = PictureChange{true, QRect(), QImage(), QSize()};
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
