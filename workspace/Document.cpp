#include "app/Form1.h"

// Makes the picture just assigned to the display box the document, at zoom 1.0.
void Form1::SetPicture() {
    if (!Picture1->hasPicture()) {
        return;
    }
    // A picture loaded afresh: the stamps of the one before can no longer be undone.
    history.clear();
    Zoom_Ori->setAutoRedraw(true);
    Zoom_Ori->hide();
    Zoom_Ori->resize(Picture1->width(), Picture1->height());
    Zoom_Ori->setPicture(Picture1->image(), Picture1->pictureHimetric());
    doc.ZoomFactor = 1.0f;
    doc.OriginalWidth = Zoom_Ori->scaleWidth();
    doc.OriginalHeight = Zoom_Ori->scaleHeight();
    doc.ZoomedWidth = doc.OriginalWidth;
    doc.ZoomedHeight = doc.OriginalHeight;
    ApplyZoom();
}
