#include "app/Form1.h"

#include <utility>

// Makes the picture just assigned to the display box the document, at zoom 1.0.
void Form1::SetPicture() {
    if (!Picture1->hasPicture()) {
        return;
    }
    // The picture shown so far, with its stamps, stays one undo away.
    PictureChange previous = shownPictureChange();
    Zoom_Ori->setAutoRedraw(true);
    Zoom_Ori->hide();
    Zoom_Ori->resize(Picture1->width(), Picture1->height());
    Zoom_Ori->setPicture(Picture1->image(), Picture1->pictureHimetric());
    doc.ZoomFactor = 1.0f;
    doc.OriginalWidth = Zoom_Ori->scaleWidth();
    doc.OriginalHeight = Zoom_Ori->scaleHeight();
    doc.ZoomedWidth = doc.OriginalWidth;
    doc.ZoomedHeight = doc.OriginalHeight;
    shownRecord = PictureRecord{doc.OriginalPath,
                                doc.DetectedQuality,
                                doc.SourceExif,
                                1.0f,
                                doc.SourceHead,
                                doc.SourceFile,
                                {}};
    if (previous.pixels.isNull()) {
        history.markClean();
    } else {
        history.recordLoad(std::move(previous));
    }
    ApplyZoom();
}
