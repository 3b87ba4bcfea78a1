#include "app/ErrorReport.h"
#include "app/Form1.h"

#include <QPushButton>
#include <QScrollBar>
#include <cmath>
#include <utility>

void Form1::Picture1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    // Whole pixels, halves to even.
    editing.LastMouseX = qint32(std::nearbyint(x));
    editing.LastMouseY = qint32(std::nearbyint(y));
}

void Form1::ApplyWindowStyle(qint32 style, RichTextBox *control) {
    if (style == 0) {
        return;
    }
    // Writing the style word redraws the box's frame to match it.
    control->setWindowStyle(quint32(style));
}

// Scrolls the picture the least that brings the area (in pixels of the picture) into the
// viewport, its top-left corner first where it is larger than the viewport.
void Form1::ScrollIntoView(const QRect &area) {
    const auto scrolled = [](QScrollBar *bar, int value, int first, int last, int view) {
        if (!bar->isEnabled()) {
            return;
        }
        int wanted = value;
        if (last - first + 1 > view || first < value) {
            wanted = first;
        } else if (last >= value + view) {
            wanted = last - view + 1;
        }
        wanted = qBound(bar->minimum(), wanted, bar->maximum());
        if (wanted != value) {
            bar->setValue(wanted);
        }
    };
    constexpr int b = RichTextBox::SizingBorder;
    const QRect r = area.adjusted(-b, -b, b, b);
    scrolled(HScroll1, -Picture1->x(), r.left(), r.right(), Picture2->scaleWidth());
    scrolled(VScroll1, -Picture1->y(), r.top(), r.bottom(), Picture2->scaleHeight());
}

// A click on the picture: opens the editing box at the pointer, or stamps the box already open.
void Form1::Picture1_Click() {
    if (saving.busy) {
        return;
    }
    Steps s(*this, "Picture1_Click");
    if (s.test(100, [&] { return TextEditing != vbFalse; })) {
        s(170, [&] { FinishEditing(); });
        return;
    }
    // A click at any zoom places the box: the stamp lands in the picture at its own resolution,
    // so there is no loss to warn of (the save still asks before it writes a zoomed picture).
    s(122, [&] { PushButton3->setEnabled(true); });
    // Nothing to write on before a picture has loaded.
    if (s.test(124, [&] { return !Picture1->hasImage() || !Zoom_Ori->hasPicture(); })) {
        return;
    }
    s(126, [&] { PushButton3->setEnabled(true); });
    s(128, [&] { PushButton8->setEnabled(true); });
    s(130, [&] { PushButton2->setEnabled(true); });
    s(132, [&] { PushButton5->setEnabled(true); });
    s(134, [&] {
        Text1->show();
        Text1->raise();
    });
    s(136, [&] { Text1->setExtendedStyle(WS_EX_TRANSPARENT); });
    s(138, [&] { Text1->setText(QStringLiteral("Your Text Goes Here")); });
    // The box's top-left corner lies 10 pixels left of and above the click, unclamped.
    s(140, [&] { Text1->move(editing.LastMouseX - 10, Text1->y()); });
    s(142, [&] { Text1->move(Text1->x(), editing.LastMouseY - 10); });
    s(148, [&] { Text1->setFocus(); });
    s(150, [&] { editing.SavedBoxStyle = qint32(Text1->windowStyle()); });
    s(160, [&] { ApplyWindowStyle(editing.SavedBoxStyle, Text1); });
    qint32 sizable = 0;
    s(162, [&] { sizable = qint32(Text1->windowStyle()); });
    s(164, [&] { sizable |= qint32(WS_THICKFRAME); });
    s(166, [&] { ApplyWindowStyle(sizable, Text1); });
    s(168, [&] { TextEditing = vbTrue; });
}

// "Cancel Editing Text": hides the box; nothing is drawn and the typed text stays in the box.
void Form1::PushButton8_Click() {
    Steps s(*this, "PushButton8_Click");
    s(100, [&] { setMousePointer(vbHourglass); });
    if (s.test(102, [&] { return TextEditing == vbTrue; })) {
        s(104, [&] { ApplyWindowStyle(editing.SavedBoxStyle, Text1); });
        s(106, [&] { Text1->hide(); });
        s(108, [&] { PushButton3->setEnabled(true); });
        s(110, [&] { TextEditing = vbFalse; });
    }
    s(112, [&] { setMousePointer(vbDefault); });
    // A re-edited stamp that is not stamped again goes back into the picture, unless the picture
    // changed meanwhile (a load, say).
    s(114, [&] {
        const bool reEdited = std::exchange(editing.reEditing, false);
        if (reEdited && TextEditing == vbFalse && history.canRedo() &&
            history.state() == editing.reEditBase) {
            RedoStamp();
        }
    });
}
