#pragma once

#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <filesystem>
#include <vector>

class CaptionWriter;

// The paths listed in a file (--files-from): one a line, or each ended by NUL, as their bytes.
// "-" reads standard input. Empty lines are left out; a line's carriage return is not part of
// its path. Throws RuntimeError when the list cannot be read.
QList<std::filesystem::path> ReadFileList(const std::filesystem::path &from, bool nulSeparated);

// FNV-1a (64 bits) of the path's bytes as given: the same on every machine and every run.
quint64 PathHash(const std::filesystem::path &path);

// The pictures one run takes from the list: those of its shard, in the list's order, and those
// that are not written because an earlier picture in the whole list writes the same file. Every
// shard sees the same clashes, so N shards write exactly what one run would. A shard looks only
// at its own pictures' files, and at another's only where both would write one name.
struct CaptionRun {
    std::vector<int> pictures;   // indexes into options.files
    QHash<int, QString> clashes; // index: why it is not written
};
CaptionRun PlanCaptionRun(const CaptionOptions &options);

// What happened to one picture.
struct PictureResult {
    std::filesystem::path input;
    std::filesystem::path output;
    QString status; // "written", "skipped", "failed", or "interrupted" (never started)
    QString reason; // why it failed or was skipped
    qint64 milliseconds = 0;
    int quality = 0;   // the JPG quality it was written at; 0 for other formats
    bool kept = false; // a JPEG photo written with its own blocks kept but the caption's
    QString notKept;   // why a JPEG photo's blocks could not be kept, when it was written anew
    bool droppedPictures = false; // its pictures after the first were left out
};

// Captions the picture at `index` in the list (its text's fields filled in), skipping it when
// asked to and its output is already complete.
PictureResult CaptionListedPicture(const CaptionOptions &options, const CaptionRun &run, int index,
                                   CaptionWriter &writer);
