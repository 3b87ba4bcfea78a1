#pragma once

#include "save/Shell32.h"

#include <QString>
#include <filesystem>

class PrivateFolder;

// Runs the converter's command line (one that starts with the converter placed in the folder),
// waiting with the tick, and makes sure it made a new JPEG at target. The converter is checked and
// started through an open handle on it (PrivateFolder::converterForRunning). Throws a RuntimeError
// saying what went wrong ("JPG converter could not be started: ...", "JPG converter failed with
// exit code N: the converter's own reason", or what the checks found).
void RunConverterFor(const PrivateFolder &folder, const QString &command,
                     const std::filesystem::path &target, const WaitTick &tick);
