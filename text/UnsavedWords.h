#pragma once

#include "text/StampHistory.h"

#include <QList>
#include <QString>

// The words of the questions asked before stamps that were never saved are lost.

// The picture named by its file, as the user chose it ("card.jpg"); "the picture" when it came
// from no file.
QString PictureName(const QString &path);

// Pictures with unsaved stamps that later loads replaced, and how undo reaches them: "The text
// stamped into a.jpg has not been saved: another picture was loaded over it, and Undo Stamp
// brings it back in 3 steps". The caller ends the sentence.
QString UnsavedEarlierText(const QList<UnsavedPicture> &pictures);

// "it" for one picture, "them" for several.
QString ItOrThem(const QList<UnsavedPicture> &pictures);
