#include "KeepBlocks.h"

#include "InputBitmap.h"
#include "JpegCommon.h"
#include "OptimalHuffman.h"

#include <algorithm>
#include <cstring>

namespace {

// Collects a small JPEG in memory: the stamped pixels of one run of MCUs, encoded by libjpeg with
// the source's tables, only to be read back as coefficients.
class MemorySink : public JpegSink {
public:
    bool write(const std::uint8_t *data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

// What the libjpeg calls work on, kept outside the frame that calls setjmp, so that a jump back
// from an error skips no destructor and leaves every object to be cleaned up here.
struct Work {
    jpeg::ErrorManager err{};
    jpeg_decompress_struct source{};
    jpeg_compress_struct patch{};
    jpeg_decompress_struct patchIn{};
    jpeg_compress_struct out{};
    bool haveSource = false, havePatch = false, havePatchIn = false, haveOut = false;
    jpeg::Destination dest{};
    jpeg::Destination patchDest{};
    MemorySink patchSink;
    std::vector<JOCTET> outputBuffer = std::vector<JOCTET>(jpeg::kOutputBufferSize);
    std::vector<JOCTET> patchBuffer = std::vector<JOCTET>(jpeg::kOutputBufferSize);
    jpeg_scan_info scans[2 + MAX_COMPS_IN_SCAN] = {};
    SymbolCounts counts;
    char message[JMSG_LENGTH_MAX] = {};
    bool cannotKeep = false;

    ~Work() {
        if (haveOut)
            jpeg_destroy_compress(&out);
        if (havePatchIn)
            jpeg_destroy_decompress(&patchIn);
        if (havePatch)
            jpeg_destroy_compress(&patch);
        if (haveSource)
            jpeg_destroy_decompress(&source);
    }
};

// An MCU-aligned rectangle of the source, in pixels, and its first MCU.
struct McuRun {
    int mcuX = 0, mcuY = 0;
    int x = 0, y = 0, right = 0, bottom = 0;
};

bool fail(Work &w, const char *text, bool cannotKeep = false) {
    std::snprintf(w.message, sizeof w.message, "%s", text);
    w.cannotKeep = cannotKeep;
    return false;
}

// Encodes the pixels of `run` with the source's tables and sampling into the patch JPEG, reads
// it back and puts its blocks in place of the source's.
bool replaceRun(Work &w, jvirt_barray_ptr *sourceBlocks, RowSource &pixels,
                const ChangedAreas &changed, const McuRun &run) {
    jpeg_decompress_struct &src = w.source;
    const bmp::Image &image = pixels.image();
    w.patchSink.bytes.clear();
    jpeg_copy_critical_parameters(&src, &w.patch);
    w.patch.image_width = JDIMENSION(run.right - run.x);
    w.patch.image_height = JDIMENSION(run.bottom - run.y);
    w.patch.input_components = image.bytesPerPixel();
    w.patch.in_color_space = jpeg::colorSpaceOf(image.format());
    w.patch.optimize_coding = FALSE;
    w.patch.write_JFIF_header = FALSE;
    w.patch.write_Adobe_marker = FALSE;
    jpeg_start_compress(&w.patch, TRUE);
    const std::size_t skip =
        std::size_t(run.x - changed.patch.x) * std::size_t(image.bytesPerPixel());
    const std::uint8_t *fetched[RowSource::kMaxRows];
    JSAMPROW rows[RowSource::kMaxRows];
    while (w.patch.next_scanline < w.patch.image_height) {
        const int first = run.y - changed.patch.y + int(w.patch.next_scanline);
        const int count =
            std::min(RowSource::kMaxRows, int(w.patch.image_height - w.patch.next_scanline));
        if (!pixels.fetch(first, count, fetched))
            return fail(w, "the stamped picture could not be read to its end");
        for (int i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(fetched[i] + skip);
        jpeg_write_scanlines(&w.patch, rows, JDIMENSION(count));
    }
    jpeg_finish_compress(&w.patch);

    jpeg_mem_src(&w.patchIn, w.patchSink.bytes.data(), (unsigned long)w.patchSink.bytes.size());
    jpeg_read_header(&w.patchIn, TRUE);
    jvirt_barray_ptr *patchBlocks = jpeg_read_coefficients(&w.patchIn);
    for (int c = 0; c < src.num_components; ++c) {
        const jpeg_component_info &comp = src.comp_info[c];
        const jpeg_component_info &pcomp = w.patchIn.comp_info[c];
        const JDIMENSION bx = JDIMENSION(run.mcuX * comp.h_samp_factor);
        const JDIMENSION by = JDIMENSION(run.mcuY * comp.v_samp_factor);
        const JDIMENSION across = std::min(pcomp.width_in_blocks, comp.width_in_blocks - bx);
        const JDIMENSION down = std::min(pcomp.height_in_blocks, comp.height_in_blocks - by);
        for (JDIMENSION row = 0; row < down; ++row) {
            JBLOCKARRAY to = (*src.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&src),
                                                            sourceBlocks[c], by + row, 1, TRUE);
            JBLOCKARRAY from = (*w.patchIn.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&w.patchIn), patchBlocks[c], row, 1, FALSE);
            std::memcpy(to[0] + bx, from[0], across * sizeof(JBLOCK));
        }
    }
    jpeg_finish_decompress(&w.patchIn);
    return true;
}

// Progressive output in few scans, each coefficient coded once: the DC of all components first,
// then the first component's (luma's) low frequencies, its high ones, then each other component's
// AC whole. A viewer still shows the whole photo coarsely before its detail; it is far less work
// than successive refinement scans, and about the same size: the high band's many blocks without
// any high frequency cost one end-of-band run together.
void useSpectralScans(Work &w) {
    const int components = w.out.num_components;
    const auto band = [](jpeg_scan_info &scan, int component, int first, int last) {
        scan.comps_in_scan = 1;
        scan.component_index[0] = component;
        scan.Ss = first;
        scan.Se = last;
        scan.Ah = scan.Al = 0;
    };
    jpeg_scan_info &dc = w.scans[0];
    dc.comps_in_scan = components;
    for (int c = 0; c < components; ++c)
        dc.component_index[c] = c;
    dc.Ss = dc.Se = dc.Ah = dc.Al = 0;
    constexpr int kLowLast = 9;
    band(w.scans[1], 0, 1, kLowLast);
    band(w.scans[2], 0, kLowLast + 1, DCTSIZE2 - 1);
    for (int c = 1; c < components; ++c)
        band(w.scans[2 + c], c, 1, DCTSIZE2 - 1);
    w.out.scan_info = w.scans;
    w.out.num_scans = 2 + components;
}

// All libjpeg work, between setjmp and any jump back. False with w.message filled in.
bool keep(Work &w, RowSource &pixels, const KeepRequest &request) {
    if (setjmp(w.err.jump)) {
        std::memcpy(w.message, w.err.message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_decompress_struct &src = w.source;
    src.err = jpeg::useErrors(w.err);
    jpeg_create_decompress(&src);
    w.haveSource = true;
    w.patch.err = &w.err.pub;
    jpeg_create_compress(&w.patch);
    w.havePatch = true;
    jpeg::attach(&w.patch, w.patchDest);
    w.patchIn.err = &w.err.pub;
    jpeg_create_decompress(&w.patchIn);
    w.havePatchIn = true;
    w.out.err = &w.err.pub;
    jpeg_create_compress(&w.out);
    w.haveOut = true;

    jpeg_mem_src(&src, request.source.data(), (unsigned long)request.source.size());
    if (!request.segments) {
        jpeg_save_markers(&src, JPEG_COM, 0xFFFF);
        for (int m = 0; m < 16; ++m)
            jpeg_save_markers(&src, JPEG_APP0 + m, 0xFFFF);
    }
    jpeg_read_header(&src, TRUE);
    if (src.data_precision != 8)
        return fail(w, "its samples are not 8 bits deep", true);
    if (src.jpeg_color_space == JCS_CMYK || src.jpeg_color_space == JCS_YCCK)
        return fail(w, "it is a CMYK photo", true);
    if (src.jpeg_color_space != JCS_GRAYSCALE && src.jpeg_color_space != JCS_YCbCr &&
        src.jpeg_color_space != JCS_RGB)
        return fail(w, "its colours are of a kind that cannot be kept", true);
    jvirt_barray_ptr *blocks = jpeg_read_coefficients(&src);

    const int width = int(src.image_width), height = int(src.image_height);
    const int mcuWidth = src.max_h_samp_factor * DCTSIZE;
    const int mcuHeight = src.max_v_samp_factor * DCTSIZE;
    const ChangedAreas &changed = request.changed;
    const Area patch{changed.patch.x, changed.patch.y, pixels.image().width(),
                     pixels.image().height()};
    for (const Area &area : changed.areas) {
        const int x0 = std::max(0, area.x), y0 = std::max(0, area.y);
        const int x1 = int(std::min<long long>(width, (long long)area.x + area.width));
        const int y1 = int(std::min<long long>(height, (long long)area.y + area.height));
        if (x1 <= x0 || y1 <= y0)
            continue;
        McuRun run;
        run.mcuX = x0 / mcuWidth;
        run.mcuY = y0 / mcuHeight;
        run.x = run.mcuX * mcuWidth;
        run.y = run.mcuY * mcuHeight;
        run.right = std::min(width, (x1 + mcuWidth - 1) / mcuWidth * mcuWidth);
        run.bottom = std::min(height, (y1 + mcuHeight - 1) / mcuHeight * mcuHeight);
        if (run.x < patch.x || run.y < patch.y || run.right > patch.x + patch.width ||
            run.bottom > patch.y + patch.height)
            return fail(w, "the stamped pixels do not cover a changed area");
        if (!replaceRun(w, blocks, pixels, changed, run))
            return false;
    }

    jpeg::attach(&w.out, w.dest);
    jpeg_copy_critical_parameters(&src, &w.out);
    w.out.write_JFIF_header = FALSE;
    w.out.write_Adobe_marker = FALSE;
    w.out.restart_interval = src.restart_interval;
    w.out.arith_code = src.arith_code;
    w.out.optimize_coding = src.arith_code ? FALSE : TRUE;
    if (src.progressive_mode)
        useSpectralScans(w);
    else if (!src.arith_code && countSequentialSymbols(&src, blocks, &w.out, w.counts))
        useOptimalTables(&w.out, w.counts);
    jpeg_write_coefficients(&w.out, blocks);
    if (request.segments) {
        for (const MarkerSegment &segment : *request.segments)
            if (segment.data.size() <= 65533)
                jpeg_write_marker(&w.out, segment.marker, segment.data.data(),
                                  unsigned(segment.data.size()));
    } else {
        for (jpeg_saved_marker_ptr m = src.marker_list; m != nullptr; m = m->next)
            jpeg_write_marker(&w.out, m->marker, m->data, m->data_length);
    }
    jpeg_finish_compress(&w.out);
    jpeg_finish_decompress(&src);
    return true;
}

} // namespace

void writeKeptJpeg(JpegSink &sink, RowSource &pixels, const KeepRequest &request) {
    Work w;
    w.dest.sink = &sink;
    w.dest.buffer = w.outputBuffer.data();
    w.patchDest.sink = &w.patchSink;
    w.patchDest.buffer = w.patchBuffer.data();
    if (!keep(w, pixels, request)) {
        if (w.dest.sinkFailed)
            throw JpegSinkFailed();
        if (w.cannotKeep)
            throw CannotKeep(w.message);
        throw std::runtime_error(w.message);
    }
}
