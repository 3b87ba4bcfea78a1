#include "text/BoxCaption.h"

#include "platform/RichTextBox.h"

Caption CaptionOf(const RichTextBox &box, const CaptionEffects &effects) {
    Caption caption;
    caption.text = box.text();
    caption.font = box.boxFont();
    caption.colour = FromColorRef(box.selColor());
    caption.alignment = box.textAlignment();
    caption.effects = effects;
    return caption;
}
