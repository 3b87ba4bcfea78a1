#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "save/ChangedBlocks.h"
#include "text/BoxCaption.h"
#include "text/RenderText.h"
#include "text/Undo.h"
#include "workspace/PictureLoader.h"

#include <utility>

// Stamps the open box into the picture: the twin takes the box's outer rectangle and plain text
// and draws itself into the picture's surface; the box goes, and the stamped picture becomes the
// zoom source. The display being a view of the zoom source, the text is drawn into the picture
// itself at its own resolution: only the pixels under the glyphs change.
void Form1::FinishEditing() {
    if (saving.busy) {
        return;
    }
    Steps s(*this, "FinishEditing");
    bool noImage = false;
    s(100, [&] { noImage = !Picture1->hasImage(); });
    if (noImage) {
        return;
    }
    // A box whose visibility cannot be read counts as open.
    if (!s.test(102, [&] { return !Text1->isHidden(); })) {
        s(138, [&] { TextEditing = vbFalse; });
        return;
    }
    // The box never reaches past the picture, so a caption taller than the whole picture could not
    // be stamped whole: it is refused, and the box stays open to be changed.
    bool tooTall = false;
    s(140, [&] { tooTall = Text1->textHeight() > Picture1->height(); });
    if (tooTall) {
        s(142, [&] {
            MsgBox(QStringLiteral("The text is taller than the picture and cannot be stamped whole."
                                  "\r\n\r\nMake the font smaller, the box wider or the text "
                                  "shorter."),
                   MsgButtons::Ok, 1, MsgIcon::Warning);
        });
        return;
    }
    s(104, [&] { setMousePointer(vbHourglass); });
    s(106, [&] { ApplyWindowStyle(editing.SavedBoxStyle, Text1); });
    s(108, [&] { RichTextBox1->move(Text1->x(), RichTextBox1->y()); });
    s(110, [&] { RichTextBox1->move(RichTextBox1->x(), Text1->y()); });
    s(112, [&] { RichTextBox1->resize(Text1->width(), RichTextBox1->height()); });
    s(114, [&] { RichTextBox1->resize(RichTextBox1->width(), Text1->height()); });
    s(116, [&] { RichTextBox1->setText(Text1->text()); });
    s(118, [&] { RichTextBox1->setExtendedStyle(WS_EX_TRANSPARENT); });
    // Kept for undo (text/Undo.cpp): the pixels the stamp is about to change, as they are.
    PictureChange before =
        ChangeBeforeStamp(*Picture1, *RichTextBox1, Zoom_Ori->pictureHimetric(), editing.effects);
    // A stamp whose undo copy would push unsaved stamps of an earlier picture out of the history
    // asks first; declined, the box stays open as it was.
    if (s.test(119, [&] { return !mayStampOverUnsavedStamps(before); })) {
        s(119, [&] { ApplyWindowStyle(editing.SavedBoxStyle | qint32(WS_THICKFRAME), Text1); });
        s(119, [&] { setMousePointer(vbDefault); });
        return;
    }
    const bool rendered = s(120, [&] {
        // Unbounded below: text running past the box still lands, down to the picture's edge.
        // The display is a view of the zoom source, so the text goes straight into the picture at
        // its own resolution, scaled to look as the box showed it.
        const TwipsRectangle r = BoxRectangleInTwips(
            float(RichTextBox1->x()), float(RichTextBox1->y()), float(RichTextBox1->width()),
            ScreenTwipsPerPixelX(), ScreenTwipsPerPixelY());
        RenderTextToPicture(Picture1, RichTextBox1, r.left, r.right, r.top, r.bottom,
                            editing.effects);
    });
    s(122, [&] { Text1->setExtendedStyle(WS_EX_TOPMOST); });
    s(124, [&] { Picture1->refresh(); });
    s(126, [&] { Text1->hide(); });
    s(128, [&] { setMousePointer(vbDefault); });
    // The stamped picture is the zoom source from now on; the zoom fields stay as they are.
    s(132, [&] { Zoom_Ori->setAutoRedraw(true); });
    s(134, [&] { Zoom_Ori->hide(); });
    s(136, [&] {
        // The zoom source already holds the stamp when the display is its view; a display with
        // a surface of its own hands the stamped picture over.
        if (!Picture1->isView()) {
            const QImage stamped = Picture1->image();
            Zoom_Ori->setPicture(stamped, PixelsToHimetric(stamped.size()));
        }
    });
    s(138, [&] { TextEditing = vbFalse; });
    editing.reEditing = false;
    if (rendered) {
        // What the stamp changed, MCU by MCU of the photo it came from, compared with the
        // pixels as they were; a change too large to keep leaves its area unknown: the whole
        // picture counts.
        if (before.area.isEmpty() && before.whole) {
            shownRecord.stamped.append(Zoom_Ori->picture().rect());
        } else if (!before.area.isEmpty()) {
            shownRecord.stamped +=
                ChangedMcus(before.pixels, Picture1->image().copy(before.area),
                            before.area.topLeft(), ReadJpegHeader(shownRecord.head));
        }
        history.recordStamp(std::move(before));
        // Kept for "Re-edit Last Stamp" (text/ReEdit.cpp).
        editing.lastStamp =
            StampRecord{CaptionOf(*RichTextBox1, editing.effects), RichTextBox1->geometry(),
                        Text1->givenHeight(), doc.ZoomFactor, history.state()};
    }
}

void Form1::PushButton3_Click() {
    Steps s(*this, "PushButton3_Click");
    s(100, [&] { FinishEditing(); });
}
