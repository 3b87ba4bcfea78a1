// Baseline JPEG encoding of a decoded bitmap with libjpeg.
#pragma once

#include <cstdio>

namespace bmp {
class Image;
}

// Writes `image` to `out` as a baseline JPEG: libjpeg's standard tables scaled to `quality`
// (1..100), 4:2:0 chroma subsampling, default Huffman tables. Rows go to libjpeg straight from
// the image where its format allows. Throws std::runtime_error with libjpeg's message when
// encoding or writing fails; libjpeg never gets to end the process.
void writeJpeg(std::FILE *out, const bmp::Image &image, int quality);
