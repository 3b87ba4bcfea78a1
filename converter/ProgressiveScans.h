// A progressive JPEG of spectral-selection scans (no successive approximation) written straight
// from coefficient arrays: each scan's symbols are counted, its Huffman tables fitted to them and
// the scan coded, so the photo takes one counting and one coding walk over each scan's blocks,
// without libjpeg's separate statistics pass through its whole pipeline. The scans are coded at
// once, one a core, and written in order.
#pragma once

#include "JpegCommon.h"

#include <optional>
#include <vector>

enum class ScanWrite { Written, CoefficientOutOfRange, SinkFailed };

// Writes the whole file to `sink`: the start of the file, `segments` (marker and payload), the
// quantization tables and frame of `out` (a compressor set up by jpeg_copy_critical_parameters
// from `src`, with its restart interval), then each of `out`'s scans with its own tables, and the
// end. Every scan has Ah = Al = 0 and is either the DC of its components or an AC band of one.
// The only libjpeg call made, before any thread starts, is reading rows of the realized
// coefficient arrays, which fails on no row within them.
ScanWrite writeSpectralProgressive(j_decompress_ptr src, jvirt_barray_ptr *blocks,
                                   j_compress_ptr out, const std::vector<MarkerSegment> &segments,
                                   JpegSink &sink);
