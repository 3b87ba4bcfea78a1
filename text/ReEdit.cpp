#include "app/ErrorReport.h"
#include "app/Form1.h"

// The last stamp can come back into the box while it is still the last thing done to the picture
// (the picture as the stamp left it, the stamp on top of the undo history), with no box open and
// no save since.
bool Form1::CanReEditLastStamp() const {
    return editing.lastStamp && !saving.busy && TextEditing == vbFalse && Text1->isHidden() &&
           history.canUndo() && history.state() == editing.lastStamp->state && !history.isClean();
}

// "Re-edit Last Stamp": the picture goes back to how it was without the last stamp, and the
// box opens where that stamp was, at the zoom it was made at, holding its text in its font,
// colour, alignment and effects. Stamping it again makes a new stamp; cancelling puts the old
// one back.
void Form1::ReEditLastStamp() {
    if (!CanReEditLastStamp()) {
        return;
    }
    Steps s(*this, "ReEditLastStamp");
    const StampRecord record = *editing.lastStamp;
    const Caption &caption = record.caption;
    s(100, [&] {
        if (doc.ZoomFactor != record.zoom) {
            SetZoom(record.zoom);
        }
    });
    if (s.test(102, [&] { return doc.ZoomFactor != record.zoom; })) {
        return;
    }
    s(104, [&] { UndoStamp(); });
    if (s.test(106, [&] { return history.state() == record.state; })) {
        return;
    }
    s(108, [&] {
        for (RichTextBox *box : {Text1, RichTextBox1}) {
            box->setBoxFont(caption.font);
            box->setSelColor(ToColorRef(caption.colour));
            box->setTextAlignment(caption.alignment);
        }
        editing.effects = caption.effects;
    });
    s(110, [&] {
        Text1->show();
        Text1->raise();
    });
    s(112, [&] { Text1->setExtendedStyle(WS_EX_TRANSPARENT); });
    s(114, [&] {
        Text1->setGeometry(record.box.x(), record.box.y(), record.box.width(), record.givenHeight);
        Text1->setText(caption.text);
        Text1->moveCursor(QTextCursor::End);
        ShowCaptionLook();
    });
    s(116, [&] { ScrollIntoView(Text1->geometry()); });
    s(118, [&] { Text1->setFocus(); });
    s(120, [&] { editing.SavedBoxStyle = qint32(Text1->windowStyle()); });
    s(122, [&] { ApplyWindowStyle(editing.SavedBoxStyle | qint32(WS_THICKFRAME), Text1); });
    s(124, [&] {
        TextEditing = vbTrue;
        editing.reEditing = true;
        editing.reEditBase = history.state();
    });
}
