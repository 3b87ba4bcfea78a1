// A JPEG read as libjpeg holds it before any pixel is made: its blocks of quantized DCT
// coefficients, per component, with the frame's facts. Tests and benchmarks compare files by
// these, since decoders differ in how they turn blocks into pixels. Also a small encoder with
// the sampling, mode and restart interval under the caller's control, to make sources.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

struct JpegBlocks {
    struct Component {
        int h = 1, v = 1;
        int blocksWide = 0, blocksHigh = 0;
        std::vector<JCOEF> coefficients; // DCTSIZE2 a block, row by row
        const JCOEF *block(int bx, int by) const {
            return coefficients.data() + (std::size_t(by) * blocksWide + bx) * DCTSIZE2;
        }
    };
    bool ok = false;
    int warnings = 0; // libjpeg's warnings while reading (corrupt data, unknown codes)
    int width = 0, height = 0;
    int maxH = 1, maxV = 1;
    bool progressive = false;
    unsigned restartInterval = 0;
    QList<QList<quint16>> quantTables; // per component, in zigzag order
    QList<Component> components;
    int mcuWidth() const { return maxH * DCTSIZE; }
    int mcuHeight() const { return maxV * DCTSIZE; }
};

namespace jpegblocks_detail {
struct Error {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void onError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Error *>(cinfo->err)->jump, 1);
}
inline void quiet(j_common_ptr) {}
} // namespace jpegblocks_detail

inline JpegBlocks ReadJpegBlocks(const QByteArray &file) {
    using namespace jpegblocks_detail;
    static JpegBlocks result; // filled below; no destructors between setjmp and longjmp
    result = JpegBlocks();
    static jpeg_decompress_struct cinfo;
    static Error err;
    cinfo = jpeg_decompress_struct();
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.output_message = quiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return JpegBlocks();
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(file.constData()),
                 (unsigned long)file.size());
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&cinfo);
    result.width = int(cinfo.image_width);
    result.height = int(cinfo.image_height);
    result.maxH = cinfo.max_h_samp_factor;
    result.maxV = cinfo.max_v_samp_factor;
    result.progressive = cinfo.progressive_mode;
    result.restartInterval = cinfo.restart_interval;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info &comp = cinfo.comp_info[c];
        JpegBlocks::Component out;
        out.h = comp.h_samp_factor;
        out.v = comp.v_samp_factor;
        out.blocksWide = int(comp.width_in_blocks);
        out.blocksHigh = int(comp.height_in_blocks);
        out.coefficients.resize(std::size_t(out.blocksWide) * out.blocksHigh * DCTSIZE2);
        for (int by = 0; by < out.blocksHigh; ++by) {
            JBLOCKARRAY row = (*cinfo.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], JDIMENSION(by), 1, FALSE);
            std::memcpy(out.coefficients.data() + std::size_t(by) * out.blocksWide * DCTSIZE2,
                        row[0], std::size_t(out.blocksWide) * sizeof(JBLOCK));
        }
        QList<quint16> table;
        for (int i = 0; i < DCTSIZE2; ++i)
            table.append(comp.quant_table ? comp.quant_table->quantval[i] : 0);
        result.quantTables.append(table);
        result.components.append(std::move(out));
    }
    jpeg_finish_decompress(&cinfo);
    result.warnings = int(err.pub.num_warnings);
    jpeg_destroy_decompress(&cinfo);
    result.ok = true;
    return result;
}

// The pixel rectangle an MCU covers.
inline QRect McuRect(const JpegBlocks &b, int mx, int my) {
    return QRect(mx * b.mcuWidth(), my * b.mcuHeight(), b.mcuWidth(), b.mcuHeight());
}

// Counts blocks that differ between two readings of the same frame, split by whether their MCU
// meets `changed` (in pixels of the stored frame). -1 each when the frames do not match.
struct BlockCounts {
    qint64 differentInside = 0, differentOutside = 0, inside = 0, outside = 0;
};
inline BlockCounts CompareBlocks(const JpegBlocks &a, const JpegBlocks &b,
                                 const QList<QRect> &changed) {
    BlockCounts counts;
    if (!a.ok || !b.ok || a.width != b.width || a.height != b.height ||
        a.components.size() != b.components.size() || a.maxH != b.maxH || a.maxV != b.maxV)
        return {-1, -1, -1, -1};
    for (int c = 0; c < a.components.size(); ++c) {
        const auto &ca = a.components[c], &cb = b.components[c];
        if (ca.h != cb.h || ca.v != cb.v || ca.blocksWide != cb.blocksWide)
            return {-1, -1, -1, -1};
        for (int by = 0; by < ca.blocksHigh; ++by)
            for (int bx = 0; bx < ca.blocksWide; ++bx) {
                const QRect mcu = McuRect(a, bx / ca.h, by / ca.v);
                bool touched = false;
                for (const QRect &r : changed)
                    touched = touched || mcu.intersects(r);
                const bool differs =
                    std::memcmp(ca.block(bx, by), cb.block(bx, by), DCTSIZE2 * sizeof(JCOEF)) != 0;
                (touched ? counts.inside : counts.outside) += 1;
                if (differs)
                    (touched ? counts.differentInside : counts.differentOutside) += 1;
            }
    }
    return counts;
}

// Encodes a picture with libjpeg: quality, sampling of the first component (the others 1x1),
// progressive or not, a restart interval in MCU rows (0: none).
inline QByteArray EncodeJpeg(const QImage &picture, int quality, int h, int v, bool progressive,
                             int restartRows, bool grey = false, bool optimize = false) {
    using namespace jpegblocks_detail;
    static jpeg_compress_struct cinfo;
    static Error err;
    static unsigned char *buffer;
    static unsigned long size;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    buffer = nullptr;
    size = 0;
    cinfo = jpeg_compress_struct();
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return QByteArray();
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(rgb.width());
    cinfo.image_height = JDIMENSION(rgb.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (grey)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = v;
    for (int c = 1; c < cinfo.num_components; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = restartRows;
    cinfo.optimize_coding = optimize ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray out(reinterpret_cast<const char *>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}
