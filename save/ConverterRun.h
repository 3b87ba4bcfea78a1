#pragma once

#include "app/ErrorReport.h"
#include "save/Shell32.h"

#include <QString>
#include <filesystem>

class PrivateFolder;

// The converter's keep mode found the photo's blocks cannot be kept (exit code 3): what() is the
// description as for any failure, reason() the converter's words for why.
class BlocksNotKept : public RuntimeError {
public:
    BlocksNotKept(const std::string &description, const QString &reason)
        : RuntimeError(description), reason_(reason) {}
    QString reason() const { return reason_; }

private:
    QString reason_;
};

// Runs the converter's command line (one that starts with the converter placed in the folder),
// waiting with the tick, and makes sure it made a new JPEG at target. The converter is checked and
// started through an open handle on it (PrivateFolder::converterForRunning). Throws a RuntimeError
// saying what went wrong ("JPG converter could not be started: ...", "JPG converter failed with
// exit code N: the converter's own reason", or what the checks found); BlocksNotKept for exit
// code 3.
void RunConverterFor(const PrivateFolder &folder, const QString &command,
                     const std::filesystem::path &target, const WaitTick &tick);
