#pragma once

#include <QIcon>

// The program's icon, compiled into the core library from the generated glyphtack.png.
// Returns a null icon when the resource is missing; never throws.
QIcon LoadProgramIcon();
