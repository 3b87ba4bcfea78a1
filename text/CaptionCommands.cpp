#include "app/Form1.h"
#include "text/BoxCaption.h"

// The editing box shows its caption as the stamp will draw it: what lies under the glyphs is
// drawn by the same function as the stamp, and so are the glyphs whenever the box is not being
// typed in (the box draws them itself, with the caret and the selection, while it has the focus).
void Form1::setUpCaptionBox() {
    Text1->setContentPainter([this](QPainter &painter, bool glyphs) {
        DrawCaption(painter, CaptionOf(*Text1, editing.effects), QSizeF(Text1->size()), glyphs);
    });
    ShowCaptionLook();
}

void Form1::ShowCaptionLook() {
    Text1->setExtraBelow(CaptionRoomBelow(CaptionOf(*Text1, editing.effects)));
    Text1->viewport()->update();
}
