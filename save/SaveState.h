#pragma once

#include "save/PrivateFolder.h"

#include <QString>
#include <QtGlobal>

// What the save command keeps between runs.
struct SaveState {
    // 1 = BMP, 2 = JPG, 3 = PNG, 4 = JPG keeping the loaded photo's own blocks.
    qint16 SaveFormatIndex = 0;
    QString TempBaseName;
    // True while a save waits for the converter; commands started meanwhile are ignored.
    bool busy = false;
    // This program's own folder inside the temporary folder, for the converter copy and the
    // intermediate bitmap; removed when the window goes.
    PrivateFolder privateFolder;
};
