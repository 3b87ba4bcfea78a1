#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "workspace/ZoomMath.h"

#include <QScrollBar>

void Form1::PushButton10_Click() {
    Steps s(*this, "PushButton10_Click");
    if (s.test(100, [&] { return TextEditing != vbFalse; })) {
        return;
    }
    s(102, [&] { StepZoom(0); });
}

void Form1::PushButton11_Click() {
    Steps s(*this, "PushButton11_Click");
    if (s.test(100, [&] { return TextEditing != vbFalse; })) {
        return;
    }
    s(102, [&] { StepZoom(1); });
}

void Form1::PushButton13_Click() {
    Steps s(*this, "PushButton13_Click");
    if (s.test(100, [&] { return TextEditing != vbFalse; })) {
        return;
    }
    s(102, [&] { doc.ZoomFactor = 1.0f; });
    s(104, [&] { ApplyZoom(); });
    s(106, [&] { ScrollBars(); });
}

void Form1::StepZoom(const qint32 &shrink) {
    const float factor = ZoomMath::NextFactor(doc.ZoomFactor, shrink);
    SetZoom(factor);
}

void Form1::SetZoom(const float &factor) {
    if (!ZoomMath::InRange(factor)) {
        return;
    }
    // A step whose picture would reach the size limits is refused like a step out of range, so
    // the factor always describes what is on screen.
    if (Zoom_Ori->hasPicture() &&
        !ZoomMath::WithinLimits(ZoomMath::ZoomedSize(factor, doc.OriginalWidth),
                                ZoomMath::ZoomedSize(factor, doc.OriginalHeight))) {
        return;
    }
    doc.ZoomFactor = factor;
    ApplyZoom();
    ScrollBars();
}

void Form1::ApplyZoom() {
    if (!Zoom_Ori->hasPicture()) {
        return;
    }
    doc.ZoomedWidth = ZoomMath::ZoomedSize(doc.ZoomFactor, doc.OriginalWidth);
    doc.ZoomedHeight = ZoomMath::ZoomedSize(doc.ZoomFactor, doc.OriginalHeight);
    if (ZoomMath::WithinLimits(doc.ZoomedWidth, doc.ZoomedHeight)) {
        Picture1->clearPicture();
        Picture1->resize(qMax(0, doc.ZoomedWidth), qMax(0, doc.ZoomedHeight));
        // The display is a view of the zoom source through the zoom: nothing is copied or
        // stretched here, painting scales what the viewport exposes.
        Picture1->showScaled(Zoom_Ori, qreal(doc.ZoomFactor));
        // Over an enlarged picture the box shows its caption as the stamp will leave it.
        Text1->setGlyphsLeftToPainter(doc.ZoomFactor > 1.0f);
        setMousePointer(vbDefault);
        HScroll1->setValue(0);
        VScroll1->setValue(0);
        HScroll1->setEnabled(Picture2->scaleWidth() < doc.ZoomedWidth);
        VScroll1->setEnabled(Picture2->scaleHeight() < doc.ZoomedHeight);
        return;
    }
    // Too large to draw at this zoom (only a picture already that large at the original size gets
    // here, the zoom steps refuse such sizes): it is shown at its own size, so that what is on
    // screen, and what a save writes, is what the factor of 1.0 says.
    doc.ZoomFactor = 1.0f;
    doc.OriginalWidth = Zoom_Ori->scaleWidth();
    doc.OriginalHeight = Zoom_Ori->scaleHeight();
    doc.ZoomedWidth = doc.OriginalWidth;
    doc.ZoomedHeight = doc.OriginalHeight;
    Picture1->clearPicture();
    Picture1->resize(Zoom_Ori->picture().size());
    Picture1->showScaled(Zoom_Ori, 1.0);
    Text1->setGlyphsLeftToPainter(false);
}
