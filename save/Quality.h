#pragma once

#include <QString>
#include <QtGlobal>

class PictureBox;

// The estimated JPG quality (1 to 100) of a loaded file: its compression ratio against the
// 24-bit size of the picture now assigned to the box. Throws when the file cannot be measured.
qint16 DetectJpgQuality(const PictureBox &box, const QString &path);
// The estimate from a picture's HiMetric size and a file length.
qint16 QualityFromRatio(int himetricWidth, int himetricHeight, qint64 fileLength);
