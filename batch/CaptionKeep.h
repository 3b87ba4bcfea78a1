#pragma once

#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"

#include <QByteArray>
#include <QString>

// Captions a JPEG photo and writes it as JPG keeping its own blocks but those of the MCUs the
// caption changed, all from the file's bytes read once: its blocks are read, only the MCUs under
// the caption are decoded to pixels (from their blocks), the caption is stamped into them, the
// MCUs whose pixels it changed are encoded anew, and the photo is written with its metadata
// (previews made anew from the photo at a fraction of its size, decoded in the same reading)
// and what followed its first picture. Returns why the blocks cannot be kept (nothing written)
// or an empty reason; throws RuntimeError when the output cannot be written.
struct KeptCaption {
    QString notKept;
    bool droppedPictures = false;
};
KeptCaption CaptionKeepingBlocks(const CaptionOptions &options, const QByteArray &file,
                                 const CaptionOutput &output);
