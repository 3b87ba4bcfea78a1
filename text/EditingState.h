#pragma once

#include "text/Caption.h"

#include <QtGlobal>

// The editing box's saved window style, the last pointer position over the picture, and the
// effects every caption gets.
struct EditingState {
    qint32 SavedBoxStyle = 0;
    qint32 LastMouseX = 0;
    qint32 LastMouseY = 0;
    CaptionEffects effects;
};
