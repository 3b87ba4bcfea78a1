#pragma once

#include <QByteArray>
#include <QString>

class Services;

// True when the path names an existing file or folder; never fails.
bool PathExists(const QString &path);
// Lets pending window messages run, then deletes the file, read-only or not; never fails and
// reports nothing.
void RemoveFile(const QString &path);
// Deletes the file (or the link, never what it points to), read-only or not, at once; never
// fails and reports nothing.
void ForceDelete(const QString &path);
// Writes the bytes at the start of the file, creating it when missing (an existing longer file
// keeps its tail). Failures go to the caller.
void WriteBytesToFile(const QByteArray &bytes, const QString &path);
// The temporary folder: "TEMP" where it is set, not empty, and not a folder in which other users
// may rename what the user makes (writable by them without the sticky bit); otherwise the user's
// own runtime folder (XDG_RUNTIME_DIR), a private per-user cache folder with owner-only access,
// or where there is no home for that, the system's temporary folder.
QString TempFolder(Services &services);
// The temporary folder of the caption command, which runs where schedulers and containers set
// "TMPDIR" to the place for scratch files: that folder where it is one that others may not
// rename in, otherwise TempFolder.
QString CommandTempFolder(Services &services);
