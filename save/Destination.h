#pragma once

#include "Decision.h"

#include <QString>
#include <filesystem>
#include <optional>

// A path as the file system spells it (bytes on Unix, UTF-16 on Windows).
std::filesystem::path NativePath(const QString &path);

// The file a save writes, decided once at the overwrite question: nothing at the name, a file
// (its device and inode), or a link to a file, resolved to the file at its end. The writers get
// the decision and write to exactly that, refusing when something else stands there by then.
struct Destination {
    QString name;       // the plain name the question shows; empty when nothing is replaced
    QString linkTarget; // the file at the end of the name's links, when the name is a link
    // What the user decided on; none for a folder at the name, or a name the system will not
    // look at (too long, in a missing folder), which every writer refuses.
    std::optional<safe::Decision> decided;

    const safe::Decision *decision() const { return decided ? &*decided : nullptr; }
    // The converter's -expect value, or empty text.
    QString expectation() const;
};

// Looks at path once. Throws RuntimeError for a name that must not be followed (a link to
// nothing or to a folder).
Destination DecideDestination(const QString &path);
