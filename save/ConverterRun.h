#pragma once

#include "save/Shell32.h"

#include <QString>

// Runs the converter's command line, waiting with the tick, and makes sure it made a new JPEG at
// target; throws a RuntimeError saying what went wrong ("JPG converter could not be started: ...",
// "JPG converter failed with exit code N: the converter's own reason", or what the output check
// found).
void RunConverterFor(const QString &command, const QString &target, const WaitTick &tick);
