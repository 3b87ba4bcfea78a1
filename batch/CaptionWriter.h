#pragma once

#include <QByteArray>
#include <QImage>

struct CaptionOutput;

// Writes a captioned picture in the output's format (JPG at the given quality, with the camera
// data given), replacing the file at the path only once the new one is complete; throws
// RuntimeError saying what failed.
void WriteCaptioned(const QImage &image, const CaptionOutput &output, int quality,
                    const QByteArray &exif);
