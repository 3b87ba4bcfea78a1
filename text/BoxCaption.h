#pragma once

#include "text/Caption.h"

class RichTextBox;

// The caption a text box holds: its text, font, colour and alignment, with the given effects.
Caption CaptionOf(const RichTextBox &box, const CaptionEffects &effects);
