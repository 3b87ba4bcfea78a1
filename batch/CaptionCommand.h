#pragma once

#include <QByteArray>
#include <QList>

// `glyphtack caption ...`: stamps one caption onto many pictures without a window. Takes the
// arguments after "caption", as their bytes; returns the process's exit status.
int RunCaptionCommand(const QList<QByteArray> &arguments);
