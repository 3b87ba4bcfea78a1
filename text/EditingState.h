#pragma once

#include <QtGlobal>

// The editing box's saved window style and the last pointer position over the picture.
struct EditingState {
    qint32 SavedBoxStyle = 0;
    qint32 LastMouseX = 0;
    qint32 LastMouseY = 0;
};
