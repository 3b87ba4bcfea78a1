#include "KeepBlocks.h"

#include "HugePages.h"
#include "InputBitmap.h"
#include "JpegCommon.h"
#include "OptimalHuffman.h"
#include "ProgressiveScans.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include <jerror.h>

namespace {

// The most memory a photo's coefficients may take (those of a 24-megapixel photo take about
// 72 MB).
constexpr long long kMaxCoefficientBytes = 2LL << 30;

// Collects a small JPEG in memory: the stamped pixels of one run of MCUs, encoded by libjpeg with
// the source's tables, only to be read back as coefficients; or the blocks of a few MCUs, to be
// decoded to pixels.
class MemorySink : public JpegSink {
public:
    bool write(const std::uint8_t *data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

// An MCU-aligned rectangle of the source, in pixels, and its first MCU.
struct McuRun {
    int mcuX = 0, mcuY = 0;
    int x = 0, y = 0, right = 0, bottom = 0;
};

// The rows of a bitmap in the converter's input, handed on.
class BitmapRows : public PatchRows {
public:
    explicit BitmapRows(RowSource &source) : source_(source) {}
    int width() const override { return source_.image().width(); }
    int height() const override { return source_.image().height(); }
    bmp::RowFormat format() const override { return source_.image().format(); }
    bool fetch(int first, int count, const std::uint8_t **rows) override {
        return source_.fetch(first, count, rows);
    }

private:
    RowSource &source_;
};

int bytesPerPixel(bmp::RowFormat format) {
    return format == bmp::RowFormat::Bgr ? 3 : 4;
}

} // namespace

// What the libjpeg calls work on, kept outside the frames that call setjmp, so that a jump back
// from an error skips no destructor and leaves every object to be cleaned up here.
struct KeepWork {
    jpeg::ErrorManager err{};
    jpeg_decompress_struct source{};
    jpeg_compress_struct patch{};
    jpeg_decompress_struct patchIn{};
    jpeg_compress_struct out{};
    jpeg_compress_struct region{};
    bool haveSource = false, havePatch = false, havePatchIn = false, haveOut = false;
    bool haveRegion = false;
    jvirt_barray_ptr *blocks = nullptr;
    // The MCUs encoded anew, as ranges of MCU numbers in a sequential scan's order.
    std::vector<std::pair<long, long>> replaced;
    jpeg::Destination dest{};
    jpeg::Destination patchDest{};
    MemorySink patchSink;
    std::vector<JOCTET> outputBuffer = std::vector<JOCTET>(jpeg::kOutputBufferSize);
    std::vector<JOCTET> patchBuffer = std::vector<JOCTET>(jpeg::kOutputBufferSize);
    jpeg_scan_info scans[2 + MAX_COMPS_IN_SCAN] = {};
    SymbolCounts counts;
    std::vector<std::uint8_t> reduced;
    int reducedWidth = 0, reducedHeight = 0;
    char message[JMSG_LENGTH_MAX] = {};
    bool cannotKeep = false;

    KeepWork() {
        source.err = jpeg::useErrors(err);
        patch.err = patchIn.err = out.err = region.err = &err.pub;
        dest.buffer = outputBuffer.data();
        patchDest.sink = &patchSink;
        patchDest.buffer = patchBuffer.data();
    }
    KeepWork(const KeepWork &) = delete;
    KeepWork &operator=(const KeepWork &) = delete;
    ~KeepWork() {
        if (haveRegion)
            jpeg_destroy_compress(&region);
        if (haveOut)
            jpeg_destroy_compress(&out);
        if (havePatchIn)
            jpeg_destroy_decompress(&patchIn);
        if (havePatch)
            jpeg_destroy_compress(&patch);
        if (haveSource)
            jpeg_destroy_decompress(&source);
    }

    int mcuWidth() const { return source.max_h_samp_factor * DCTSIZE; }
    int mcuHeight() const { return source.max_v_samp_factor * DCTSIZE; }
    JBLOCKARRAY blockRows(int c, JDIMENSION first, JDIMENSION count, bool writable) {
        return (*source.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&source), blocks[c],
                                                 first, count, writable);
    }
};

namespace {

bool fail(KeepWork &w, const char *text, bool cannotKeep = false) {
    std::snprintf(w.message, sizeof w.message, "%s", text);
    w.cannotKeep = cannotKeep;
    return false;
}

// Runs libjpeg calls that may fail; false with w.message filled in when one did. The calls leave
// nothing with a destructor on the frames a failure jumps across.
template <typename Calls> bool guarded(KeepWork &w, Calls &&calls) {
    if (setjmp(w.err.jump)) {
        std::memcpy(w.message, w.err.message, JMSG_LENGTH_MAX);
        // A coefficient a baseline or progressive scan cannot code is the source's, not ours.
        w.cannotKeep = w.err.pub.msg_code == JERR_BAD_DCT_COEF;
        if (w.cannotKeep)
            fail(w, "its blocks hold coefficients out of the range a JPEG can code", true);
        return false;
    }
    return calls();
}

[[noreturn]] void throwFailure(const KeepWork &w) {
    if (w.dest.sinkFailed)
        throw JpegSinkFailed();
    if (w.cannotKeep)
        throw CannotKeep(w.message);
    throw std::runtime_error(w.message);
}

// Why the source's blocks cannot be kept, or nothing.
const char *whyNotKept(const jpeg_decompress_struct &src) {
    if (src.data_precision != 8)
        return "its samples are not 8 bits deep";
    if (src.jpeg_color_space == JCS_CMYK || src.jpeg_color_space == JCS_YCCK)
        return "it is a CMYK photo";
    if (src.jpeg_color_space != JCS_GRAYSCALE && src.jpeg_color_space != JCS_YCbCr &&
        src.jpeg_color_space != JCS_RGB)
        return "its colours are of a kind that cannot be kept";
    // A zero quantizer cannot be divided by when pixels are encoded anew. The tables a
    // component uses are its own once its data is read, the file's last ones before that.
    for (int c = 0; c < src.num_components; ++c) {
        const jpeg_component_info &comp = src.comp_info[c];
        const JQUANT_TBL *table = comp.quant_table != nullptr ? comp.quant_table
                                  : comp.quant_tbl_no >= 0 && comp.quant_tbl_no < NUM_QUANT_TBLS
                                      ? src.quant_tbl_ptrs[comp.quant_tbl_no]
                                      : nullptr;
        for (int k = 0; table != nullptr && k < DCTSIZE2; ++k)
            if (table->quantval[k] == 0)
                return "its quantization table holds a zero";
    }
    return nullptr;
}

// Reads the source: its header, its whole data into the coefficient arrays, and where asked the
// picture at a fraction of its size from the same reading (buffered-image mode decodes from the
// arrays it fills).
bool readSource(KeepWork &w, std::span<const std::uint8_t> bytes, bool readMarkers, int reduction) {
    jpeg_decompress_struct &src = w.source;
    jpeg_create_decompress(&src);
    w.haveSource = true;
    jpeg_mem_src(&src, bytes.data(), (unsigned long)bytes.size());
    if (readMarkers) {
        jpeg_save_markers(&src, JPEG_COM, 0xFFFF);
        for (int m = 0; m < 16; ++m)
            jpeg_save_markers(&src, JPEG_APP0 + m, 0xFFFF);
    }
    jpeg_read_header(&src, TRUE);
    if (const char *why = whyNotKept(src))
        return fail(w, why, true);
    // A frame header may claim any size (65500 pixels a side in a file of a few hundred bytes):
    // the coefficients of more than this are not read.
    const long long mcus =
        (long long)((src.image_width + JDIMENSION(w.mcuWidth()) - 1) / JDIMENSION(w.mcuWidth())) *
        (long long)((src.image_height + JDIMENSION(w.mcuHeight()) - 1) / JDIMENSION(w.mcuHeight()));
    long long blocksPerMcu = 0;
    for (int c = 0; c < src.num_components; ++c)
        blocksPerMcu += src.comp_info[c].h_samp_factor * src.comp_info[c].v_samp_factor;
    const long long coefficientBytes = mcus * blocksPerMcu * (long long)sizeof(JBLOCK);
    if (coefficientBytes > kMaxCoefficientBytes)
        return fail(w, "it is too large for its blocks to be held", true);
    // The arrays are allocated next: a sixteenth more for libjpeg's smaller buffers among them,
    // and twice the photo's bytes for the new file's, held until it is written.
    makeRoomInHugePages(std::size_t(coefficientBytes + coefficientBytes / 16) + 2 * bytes.size());
    // At an eighth of the size libjpeg decodes only each block's DC coefficient: the blocks to
    // be kept would lose the rest.
    if (reduction != 2 && reduction != 4) {
        w.blocks = jpeg_read_coefficients(&src);
        const char *why = whyNotKept(src);
        return why == nullptr || fail(w, why, true);
    }
    src.buffered_image = TRUE;
    src.scale_num = 1;
    src.scale_denom = unsigned(reduction);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    src.out_color_space = JCS_EXT_XRGB;
#else
    src.out_color_space = JCS_EXT_BGRX;
#endif
    jpeg_start_decompress(&src);
    while (jpeg_consume_input(&src) != JPEG_REACHED_EOI) {
    }
    jpeg_start_output(&src, src.input_scan_number);
    w.reducedWidth = int(src.output_width);
    w.reducedHeight = int(src.output_height);
    w.reduced.resize(std::size_t(w.reducedWidth) * std::size_t(w.reducedHeight) * 4);
    while (src.output_scanline < src.output_height) {
        JSAMPROW row = w.reduced.data() + std::size_t(src.output_scanline) * w.reducedWidth * 4;
        jpeg_read_scanlines(&src, &row, 1);
    }
    jpeg_finish_output(&src);
    w.blocks = jpeg_read_coefficients(&src);
    const char *why = whyNotKept(src);
    return why == nullptr || fail(w, why, true);
}

// Encodes the pixels of `run` with the source's tables and sampling into the patch JPEG, reads
// it back and puts its blocks in place of the source's.
bool replaceRun(KeepWork &w, PatchRows &pixels, const ChangedAreas &changed, const McuRun &run) {
    jpeg_decompress_struct &src = w.source;
    w.patchSink.bytes.clear();
    jpeg_copy_critical_parameters(&src, &w.patch);
    w.patch.image_width = JDIMENSION(run.right - run.x);
    w.patch.image_height = JDIMENSION(run.bottom - run.y);
    w.patch.input_components = bytesPerPixel(pixels.format());
    w.patch.in_color_space = jpeg::colorSpaceOf(pixels.format());
    w.patch.optimize_coding = FALSE;
    w.patch.write_JFIF_header = FALSE;
    w.patch.write_Adobe_marker = FALSE;
    jpeg_start_compress(&w.patch, TRUE);
    const std::size_t skip =
        std::size_t(run.x - changed.patch.x) * std::size_t(bytesPerPixel(pixels.format()));
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
            JBLOCKARRAY to = w.blockRows(c, by + row, 1, true);
            JBLOCKARRAY from = (*w.patchIn.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&w.patchIn), patchBlocks[c], row, 1, FALSE);
            std::memcpy(to[0] + bx, from[0], across * sizeof(JBLOCK));
        }
    }
    jpeg_finish_decompress(&w.patchIn);
    return true;
}

bool replaceAreas(KeepWork &w, PatchRows &pixels, const ChangedAreas &changed) {
    const int width = int(w.source.image_width), height = int(w.source.image_height);
    const int mcuWidth = w.mcuWidth(), mcuHeight = w.mcuHeight();
    const Area patch{changed.patch.x, changed.patch.y, pixels.width(), pixels.height()};
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
        if (!replaceRun(w, pixels, changed, run))
            return false;
        // The runs in the scan's order of MCUs. A photo of one component is coded block by
        // block in rows, whatever its sampling factors: there each block is an MCU.
        const bool blockByBlock = w.source.num_components == 1;
        const int unitWidth = blockByBlock ? DCTSIZE : mcuWidth;
        const int unitHeight = blockByBlock ? DCTSIZE : mcuHeight;
        const long columns = blockByBlock ? long(w.source.comp_info[0].width_in_blocks)
                                          : (width + mcuWidth - 1) / mcuWidth;
        for (int uy = run.y / unitHeight; uy <= (run.bottom - 1) / unitHeight; ++uy)
            w.replaced.emplace_back(uy * columns + run.x / unitWidth,
                                    uy * columns + (run.right - 1) / unitWidth);
    }
    return true;
}

// A single-scan sequential source's own Huffman tables code every MCU that was not encoded anew
// as it coded it. When they also have a code for every symbol of the MCUs encoded anew, and of
// the MCU after each run of them (whose DC difference changed), the photo is written with them,
// in one pass as libjpeg writes any photo, about as large as it was.
bool useSourceTables(KeepWork &w) {
    jpeg_decompress_struct &src = w.source;
    jpeg_compress_struct &out = w.out;
    if (src.progressive_mode || src.arith_code || src.input_scan_number != 1 ||
        src.comps_in_scan != src.num_components)
        return false;
    const auto common = reinterpret_cast<j_common_ptr>(&out);
    for (int c = 0; c < src.num_components; ++c) {
        const int dcSlot = src.comp_info[c].dc_tbl_no, acSlot = src.comp_info[c].ac_tbl_no;
        if (dcSlot < 0 || dcSlot >= NUM_HUFF_TBLS || acSlot < 0 || acSlot >= NUM_HUFF_TBLS ||
            src.dc_huff_tbl_ptrs[dcSlot] == nullptr || src.ac_huff_tbl_ptrs[acSlot] == nullptr)
            return false;
        out.comp_info[c].dc_tbl_no = dcSlot;
        out.comp_info[c].ac_tbl_no = acSlot;
        if (out.dc_huff_tbl_ptrs[dcSlot] == nullptr)
            out.dc_huff_tbl_ptrs[dcSlot] = jpeg_alloc_huff_table(common);
        if (out.ac_huff_tbl_ptrs[acSlot] == nullptr)
            out.ac_huff_tbl_ptrs[acSlot] = jpeg_alloc_huff_table(common);
        *out.dc_huff_tbl_ptrs[dcSlot] = *src.dc_huff_tbl_ptrs[dcSlot];
        *out.ac_huff_tbl_ptrs[acSlot] = *src.ac_huff_tbl_ptrs[acSlot];
        out.dc_huff_tbl_ptrs[dcSlot]->sent_table = FALSE;
        out.ac_huff_tbl_ptrs[acSlot]->sent_table = FALSE;
    }
    w.counts = SymbolCounts();
    for (const auto &[first, last] : w.replaced)
        if (!countSequentialSymbols(&src, w.blocks, &out, w.counts, first, last + 1))
            return false;
    if (!tablesCodeEverySymbol(&out, w.counts))
        return false;
    out.optimize_coding = FALSE;
    return true;
}

// Progressive output in few scans, each coefficient coded once: the DC of all components first,
// then the first component's (luma's) low frequencies, its high ones, then each other component's
// AC whole. A viewer still shows the whole photo coarsely before its detail; it is far less work
// than successive refinement scans, and about the same size: the high band's many blocks without
// any high frequency cost one end-of-band run together.
void useSpectralScans(KeepWork &w) {
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

bool writeOut(KeepWork &w, const std::optional<std::vector<MarkerSegment>> &segments) {
    jpeg_decompress_struct &src = w.source;
    jpeg::attach(&w.out, w.dest);
    jpeg_copy_critical_parameters(&src, &w.out);
    w.out.write_JFIF_header = FALSE;
    w.out.write_Adobe_marker = FALSE;
    w.out.restart_interval = src.restart_interval;
    w.out.arith_code = src.arith_code;
    w.out.optimize_coding = src.arith_code ? FALSE : TRUE;
    if (src.progressive_mode && !src.arith_code) {
        // libjpeg would count each scan's symbols in a pass of its own through its pipeline.
        useSpectralScans(w);
        std::vector<MarkerSegment> written;
        if (segments) {
            for (const MarkerSegment &segment : *segments)
                if (segment.data.size() <= 65533)
                    written.push_back(segment);
        } else {
            for (jpeg_saved_marker_ptr m = src.marker_list; m != nullptr; m = m->next)
                written.push_back({m->marker, {m->data, m->data + m->data_length}});
        }
        switch (writeSpectralProgressive(&src, w.blocks, &w.out, written, *w.dest.sink)) {
        case ScanWrite::Written:
            return true;
        case ScanWrite::SinkFailed:
            w.dest.sinkFailed = true;
            return fail(w, "the output refused the data");
        case ScanWrite::CoefficientOutOfRange:
            return fail(w, "its blocks hold coefficients out of the range a JPEG can code", true);
        }
    }
    if (src.progressive_mode)
        useSpectralScans(w);
    else if (!src.arith_code && !useSourceTables(w)) {
        w.counts = SymbolCounts();
        if (!countSequentialSymbols(&src, w.blocks, &w.out, w.counts))
            return fail(w, "its blocks hold coefficients out of the range a JPEG can code", true);
        useOptimalTables(&w.out, w.counts);
    }
    jpeg_write_coefficients(&w.out, w.blocks);
    if (segments) {
        for (const MarkerSegment &segment : *segments)
            if (segment.data.size() <= 65533)
                jpeg_write_marker(&w.out, segment.marker, segment.data.data(),
                                  unsigned(segment.data.size()));
    } else {
        for (jpeg_saved_marker_ptr m = src.marker_list; m != nullptr; m = m->next)
            jpeg_write_marker(&w.out, m->marker, m->data, m->data_length);
    }
    jpeg_finish_compress(&w.out);
    return true;
}

// The blocks of a few MCUs as a JPEG of their own, in the source's mode of coding but baseline.
bool writeRegion(KeepWork &w, const Area &mcus, MemorySink &sink) {
    jpeg_decompress_struct &src = w.source;
    jpeg_compress_struct &region = w.region;
    if (!w.haveRegion) {
        jpeg_create_compress(&region);
        w.haveRegion = true;
    }
    jpeg::Destination dest{};
    dest.sink = &sink;
    dest.buffer = w.patchBuffer.data();
    jpeg::attach(&region, dest);
    jpeg_copy_critical_parameters(&src, &region);
    region.image_width = JDIMENSION(mcus.width);
    region.image_height = JDIMENSION(mcus.height);
    region.write_JFIF_header = FALSE;
    region.write_Adobe_marker = FALSE;
    region.optimize_coding = TRUE; // any coefficient codes, whatever the default tables hold
    jvirt_barray_ptr arrays[MAX_COMPONENTS];
    const int mx = mcus.x / w.mcuWidth(), my = mcus.y / w.mcuHeight();
    const int across = (mcus.width + w.mcuWidth() - 1) / w.mcuWidth();
    const int down = (mcus.height + w.mcuHeight() - 1) / w.mcuHeight();
    for (int c = 0; c < src.num_components; ++c) {
        const jpeg_component_info &comp = src.comp_info[c];
        arrays[c] = (*region.mem->request_virt_barray)(
            reinterpret_cast<j_common_ptr>(&region), JPOOL_IMAGE, TRUE,
            JDIMENSION(across * comp.h_samp_factor), JDIMENSION(down * comp.v_samp_factor),
            JDIMENSION(comp.v_samp_factor));
    }
    jpeg_write_coefficients(&region, arrays);
    for (int c = 0; c < src.num_components; ++c) {
        const jpeg_component_info &comp = src.comp_info[c];
        const JDIMENSION bx = JDIMENSION(mx * comp.h_samp_factor);
        const JDIMENSION by = JDIMENSION(my * comp.v_samp_factor);
        const JDIMENSION wide =
            std::min(JDIMENSION(across * comp.h_samp_factor), comp.width_in_blocks - bx);
        const JDIMENSION high =
            std::min(JDIMENSION(down * comp.v_samp_factor), comp.height_in_blocks - by);
        for (JDIMENSION row = 0; row < high; ++row) {
            JBLOCKARRAY to = (*region.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&region), arrays[c], row, 1, TRUE);
            JBLOCKARRAY from = w.blockRows(c, by + row, 1, false);
            std::memcpy(to[0], from[0] + bx, wide * sizeof(JBLOCK));
        }
    }
    jpeg_finish_compress(&region);
    return true;
}

} // namespace

KeptBlocks::KeptBlocks(std::span<const std::uint8_t> source, bool readMarkers, int reduction)
    : w_(std::make_unique<KeepWork>()) {
    KeepWork &w = *w_;
    if (!guarded(w, [&] {
            jpeg_create_compress(&w.patch);
            w.havePatch = true;
            jpeg::attach(&w.patch, w.patchDest);
            jpeg_create_decompress(&w.patchIn);
            w.havePatchIn = true;
            jpeg_create_compress(&w.out);
            w.haveOut = true;
            return readSource(w, source, readMarkers, reduction);
        })) {
        // The photo was read by the program before; what stops libjpeg here stops the keep.
        if (!w.cannotKeep) {
            const std::string why = std::string("its data cannot be read: ") + w.message;
            fail(w, why.c_str(), true);
        }
        throwFailure(w);
    }
}

KeptBlocks::~KeptBlocks() = default;

int KeptBlocks::width() const {
    return int(w_->source.image_width);
}
int KeptBlocks::height() const {
    return int(w_->source.image_height);
}
int KeptBlocks::mcuWidth() const {
    return w_->mcuWidth();
}
int KeptBlocks::mcuHeight() const {
    return w_->mcuHeight();
}
const std::vector<std::uint8_t> &KeptBlocks::reduced() const {
    return w_->reduced;
}
int KeptBlocks::reducedWidth() const {
    return w_->reducedWidth;
}
int KeptBlocks::reducedHeight() const {
    return w_->reducedHeight;
}

std::vector<std::uint8_t> KeptBlocks::regionJpeg(const Area &mcus) {
    KeepWork &w = *w_;
    MemorySink sink;
    if (mcus.width <= 0 || mcus.height <= 0 || mcus.x % w.mcuWidth() != 0 ||
        mcus.y % w.mcuHeight() != 0 || mcus.x + mcus.width > width() ||
        mcus.y + mcus.height > height())
        throw std::runtime_error("not a rectangle of whole MCUs within the photo");
    if (!guarded(w, [&] { return writeRegion(w, mcus, sink); }))
        throwFailure(w);
    return std::move(sink.bytes);
}

void KeptBlocks::replace(PatchRows &pixels, const ChangedAreas &changed) {
    KeepWork &w = *w_;
    if (!guarded(w, [&] { return replaceAreas(w, pixels, changed); }))
        throwFailure(w);
}

void KeptBlocks::write(JpegSink &sink, const std::optional<std::vector<MarkerSegment>> &segments) {
    KeepWork &w = *w_;
    w.dest.sink = &sink;
    w.dest.sinkFailed = false;
    if (!guarded(w, [&] { return writeOut(w, segments); }))
        throwFailure(w);
}

void writeKeptJpeg(JpegSink &sink, RowSource &pixels, const KeepRequest &request) {
    KeptBlocks kept(request.source, !request.segments);
    BitmapRows rows(pixels);
    kept.replace(rows, request.changed);
    kept.write(sink, request.segments);
}
