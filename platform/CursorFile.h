#pragma once

#include <QCursor>
#include <QString>

// Reads a Windows cursor file (.CUR) into a pointer with the file's hot spot. Throws when the
// file is missing or is not a cursor.
QCursor LoadCursorFile(const QString &path);
