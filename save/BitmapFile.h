#pragma once

class QIODevice;
class QImage;

// Writes the picture as a 24-bit Windows bitmap, bottom row first, alpha dropped: after the file
// header a BITMAPINFOHEADER, or, when the picture carries a colour space, a BITMAPV5HEADER with
// its ICC profile embedded after the pixels (PROFILE_EMBEDDED), so that the profile survives the
// bitmap (and the JPG converter, which reads it from there). Pixels are written as they are, never
// converted between colour spaces. Throws RuntimeError: "Invalid picture" for a null picture or
// one too large for the format, "Disk full" when the device refuses bytes.
void WriteBitmapFile(QIODevice &device, const QImage &image);
