#pragma once

#include <QStringList>

// `glyphtack caption ...`: stamps one caption onto many pictures without a window. Takes the
// arguments after "caption"; returns the process's exit status.
int RunCaptionCommand(const QStringList &arguments);
