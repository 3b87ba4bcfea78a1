#pragma once

#include "text/Caption.h"

#include <QRect>
#include <QtGlobal>
#include <optional>

class QAction;

// The last stamp, as it can be taken back into the box: its caption, the box's rectangle on the
// display and the height the box had been given, the zoom it was made at, and the state of the
// picture (in the undo history's account) with the stamp in it.
struct StampRecord {
    Caption caption;
    QRect box;
    int givenHeight = 0;
    float zoom = 1.0f;
    qint64 state = 0;
};

// The editing box's saved window style, the last pointer position over the picture, the
// effects every caption gets, and the last stamp for re-editing.
struct EditingState {
    qint32 SavedBoxStyle = 0;
    qint32 LastMouseX = 0;
    qint32 LastMouseY = 0;
    CaptionEffects effects;
    std::optional<StampRecord> lastStamp;
    // The open box holds the last stamp, taken back out of the picture (which was then in this
    // state): cancelling puts it back.
    bool reEditing = false;
    qint64 reEditBase = 0;
};

// The caption commands, each with its key, shown in the context menus.
struct CaptionActions {
    QAction *alignLeft = nullptr;
    QAction *alignCentre = nullptr;
    QAction *alignRight = nullptr;
    QAction *outline = nullptr;
    QAction *shadow = nullptr;
    QAction *plate = nullptr;
    QAction *reEdit = nullptr;
};
