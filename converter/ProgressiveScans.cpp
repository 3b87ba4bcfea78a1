#include "ProgressiveScans.h"

#include "BlockSymbols.h"
#include "OptimalHuffman.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <exception>
#include <system_error>
#include <thread>

namespace {

using namespace symbols;

constexpr int kSoi = 0xD8, kSof2 = 0xC2, kDht = 0xC4, kDqt = 0xDB, kDri = 0xDD, kSos = 0xDA;

// Bytes to the sink in large pieces; entropy-coded bits with a zero byte stuffed after each 0xFF.
class BitWriter {
public:
    explicit BitWriter(JpegSink &sink) : sink_(sink), buffer_(kFlushAt + 64) {}

    // Appends the low `count` bits of `bits` (count below 32, the bits above them zero).
    void put(std::uint32_t bits, int count) {
        acc_ = (acc_ << count) | bits;
        filled_ += count;
        if (filled_ >= 32)
            drain();
    }
    // Ends the entropy-coded bits on a byte boundary, padding with ones.
    void align() {
        const int pad = (8 - filled_ % 8) % 8;
        put((1u << pad) - 1u, pad);
        drain();
    }
    void byte(int value) {
        buffer_[size_++] = std::uint8_t(value);
        if (size_ >= kFlushAt)
            flush();
    }
    void word(int value) {
        byte(value >> 8);
        byte(value & 0xFF);
    }
    // A marker segment's start: the marker and the length of the payload that follows.
    void segment(int marker, std::size_t payload) {
        byte(0xFF);
        byte(marker);
        word(int(payload + 2));
    }
    // False when the sink refused bytes.
    bool flush() {
        if (ok_ && size_ > 0)
            ok_ = sink_.write(buffer_.data(), size_);
        size_ = 0;
        return ok_;
    }

private:
    static constexpr std::size_t kFlushAt = 256 * 1024;
    void drain() {
        while (filled_ >= 8) {
            filled_ -= 8;
            const auto b = std::uint8_t(acc_ >> filled_);
            buffer_[size_++] = b;
            if (b == 0xFF)
                buffer_[size_++] = 0;
        }
        if (size_ >= kFlushAt)
            flush();
    }
    JpegSink &sink_;
    std::vector<std::uint8_t> buffer_;
    std::size_t size_ = 0;
    std::uint64_t acc_ = 0;
    int filled_ = 0;
    bool ok_ = true;
};

// One scan's symbols counted per table slot.
struct Counter {
    std::array<std::array<std::uint32_t, 256>, NUM_HUFF_TBLS> counts{};
    void symbol(int slot, unsigned symbol, std::uint32_t, int) { ++counts[slot][symbol]; }
    void restart(int) {}
};

// A scan's symbols and restart markers as they come, played again to the counter and then the
// coder: the DC scan's walk over its MCUs is done once.
struct Recorder {
    static constexpr std::uint32_t kRestart = 0x80000000u;
    std::vector<std::uint32_t> events;
    // Slot (2 bits), symbol (8), extra bits' count (5) and the extra bits (16).
    void symbol(int slot, unsigned symbol, std::uint32_t extra, int extraBits) {
        events.push_back(std::uint32_t(slot) << 29 | std::uint32_t(symbol) << 21 |
                         std::uint32_t(extraBits) << 16 | extra);
    }
    void restart(int number) { events.push_back(kRestart | std::uint32_t(number)); }
    template <typename Sink> void playTo(Sink &sink) const {
        for (const std::uint32_t e : events) {
            if (e & kRestart)
                sink.restart(int(e & 7u));
            else
                sink.symbol(int(e >> 29), (e >> 21) & 0xFFu, e & 0xFFFFu, int((e >> 16) & 0x1Fu));
        }
    }
};

// One scan's symbols coded with the tables fitted to them.
struct Coder {
    struct Table {
        std::array<std::uint16_t, 256> code{};
        std::array<std::uint8_t, 256> size{};
    };
    BitWriter &bits;
    std::array<Table, NUM_HUFF_TBLS> tables{};
    void symbol(int slot, unsigned symbol, std::uint32_t extra, int extraBits) {
        const Table &t = tables[slot];
        bits.put((std::uint32_t(t.code[symbol]) << extraBits) | extra, t.size[symbol] + extraBits);
    }
    void restart(int number) {
        bits.align();
        bits.byte(0xFF);
        bits.byte(JPEG_RST0 + number);
    }
};

void setCodes(const JHUFF_TBL &table, Coder::Table &codes) {
    unsigned code = 0;
    int p = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[length]; ++i) {
            codes.code[table.huffval[p]] = std::uint16_t(code++);
            codes.size[table.huffval[p++]] = std::uint8_t(length);
        }
        code <<= 1;
    }
}

std::uint32_t extraBits(int value, unsigned bits) {
    return std::uint32_t(value < 0 ? value - 1 : value) & ((1u << bits) - 1u);
}

// Each component's block rows, read from libjpeg's arrays once, before any scan is walked: the
// walks then call no libjpeg function and may run on several threads.
using BlockRows = std::vector<std::vector<JBLOCKROW>>;

struct Scan {
    j_decompress_ptr src;
    const BlockRows &blockRows;
    j_compress_ptr out;
    const jpeg_scan_info &info;

    JBLOCKARRAY rows(int c, JDIMENSION first, JDIMENSION) const {
        return const_cast<JBLOCKARRAY>(blockRows[std::size_t(c)].data() + first);
    }

    // Asked before each MCU but the scan's first: puts a restart marker before the first MCU of
    // every interval.
    template <typename Sink> struct Restarts {
        Sink &sink;
        unsigned interval;
        unsigned untilRestart;
        int number = 0;
        // True when a restart marker was put before this MCU.
        bool next() {
            if (interval == 0)
                return false;
            if (untilRestart == 0) {
                sink.restart(number);
                number = (number + 1) & 7;
                untilRestart = interval - 1;
                return true;
            }
            --untilRestart;
            return false;
        }
    };

    // The DC of each component in turn, MCU by MCU: interleaved with the padding blocks past the
    // right and bottom edges (each repeating the DC before it), or one component's blocks alone.
    template <typename Sink> bool dc(Sink &sink) const {
        const int components = info.comps_in_scan;
        int last[MAX_COMPS_IN_SCAN] = {};
        Restarts<Sink> restarts{sink, out->restart_interval, out->restart_interval - 1};
        const auto code = [&](int slot, int value, int &previous) {
            const int diff = value - previous;
            previous = value;
            const unsigned bits = magnitudeBits(diff);
            if (bits > kMaxDcBits)
                return false;
            sink.symbol(slot, bits, extraBits(diff, bits), int(bits));
            return true;
        };
        const auto restart = [&] {
            if (restarts.next())
                std::fill(std::begin(last), std::end(last), 0);
        };
        if (components == 1) {
            const int c = info.component_index[0];
            const jpeg_component_info &comp = src->comp_info[c];
            const int slot = out->comp_info[c].dc_tbl_no;
            bool first = true;
            for (JDIMENSION y = 0; y < comp.height_in_blocks; ++y) {
                const JBLOCKROW row = rows(c, y, 1)[0];
                for (JDIMENSION x = 0; x < comp.width_in_blocks; ++x) {
                    if (!first)
                        restart();
                    first = false;
                    if (!code(slot, row[x][0], last[0]))
                        return false;
                }
            }
            return true;
        }
        const long mcuWidth = src->max_h_samp_factor * DCTSIZE;
        const long mcuHeight = src->max_v_samp_factor * DCTSIZE;
        const long columns = (long(src->image_width) + mcuWidth - 1) / mcuWidth;
        const long mcuRows = (long(src->image_height) + mcuHeight - 1) / mcuHeight;
        // Each component's DC values gathered first, one component's rows after the other: read
        // straight from the blocks in the MCUs' order, which takes a few blocks of each component
        // in turn, the processor cannot foresee the next block and waits for every one.
        std::vector<JCOEF> dcs[MAX_COMPS_IN_SCAN];
        for (int i = 0; i < components; ++i) {
            const int c = info.component_index[i];
            const jpeg_component_info &comp = src->comp_info[c];
            dcs[i].resize(std::size_t(comp.width_in_blocks) * comp.height_in_blocks);
            JCOEF *to = dcs[i].data();
            for (JDIMENSION y = 0; y < comp.height_in_blocks; ++y) {
                const JBLOCKROW row = rows(c, y, 1)[0];
                for (JDIMENSION x = 0; x < comp.width_in_blocks; ++x)
                    *to++ = row[x][0];
            }
        }
        for (long my = 0; my < mcuRows; ++my) {
            for (long mx = 0; mx < columns; ++mx) {
                if (my != 0 || mx != 0)
                    restart();
                for (int i = 0; i < components; ++i) {
                    const int c = info.component_index[i];
                    const jpeg_component_info &comp = src->comp_info[c];
                    const int slot = out->comp_info[c].dc_tbl_no;
                    for (int v = 0; v < comp.v_samp_factor; ++v) {
                        const JDIMENSION y =
                            JDIMENSION(my) * JDIMENSION(comp.v_samp_factor) + JDIMENSION(v);
                        for (int h = 0; h < comp.h_samp_factor; ++h) {
                            const JDIMENSION x =
                                JDIMENSION(mx) * JDIMENSION(comp.h_samp_factor) + JDIMENSION(h);
                            if (y >= comp.height_in_blocks || x >= comp.width_in_blocks)
                                sink.symbol(slot, 0, 0, 0);
                            else if (!code(slot, dcs[i][std::size_t(y) * comp.width_in_blocks + x],
                                           last[i]))
                                return false;
                        }
                    }
                }
            }
        }
        return true;
    }

    // One component's band Ss..Se, block by block in rows: each block's nonzero coefficients
    // with the zeros before them, and runs of blocks whose band ends in zeros as one
    // end-of-band run (at most 32767 blocks, ended by a restart marker and by the scan's end).
    template <typename Sink> bool ac(Sink &sink) const {
        const int c = info.component_index[0];
        const jpeg_component_info &comp = src->comp_info[c];
        const int slot = out->comp_info[c].ac_tbl_no;
        const int first = info.Ss, lastK = info.Se;
        const std::uint64_t band =
            (lastK == 63 ? ~std::uint64_t{0} : (std::uint64_t{1} << (lastK + 1)) - 1) &
            ~((std::uint64_t{1} << first) - 1);
        unsigned eobRun = 0;
        const auto endRun = [&] {
            if (eobRun == 0)
                return;
            const int bits = std::bit_width(eobRun) - 1;
            sink.symbol(slot, unsigned(bits << 4), eobRun & ((1u << bits) - 1u), bits);
            eobRun = 0;
        };
        struct RestartSink {
            Sink &sink;
            decltype(endRun) &end;
            void restart(int number) {
                end();
                sink.restart(number);
            }
        } restartSink{sink, endRun};
        Restarts<RestartSink> restarts{restartSink, out->restart_interval,
                                       out->restart_interval - 1};
        bool firstBlock = true;
        for (JDIMENSION y = 0; y < comp.height_in_blocks; ++y) {
            const JBLOCKROW row = rows(c, y, 1)[0];
            for (JDIMENSION x = 0; x < comp.width_in_blocks; ++x) {
                if (!firstBlock)
                    restarts.next();
                firstBlock = false;
                const JCOEF *block = row[x];
                std::uint64_t nonzero = codedNonzero(block) & band;
                if (nonzero == 0) {
                    if (++eobRun == 0x7FFF)
                        endRun();
                    continue;
                }
                endRun();
                int previous = first - 1;
                while (nonzero != 0) {
                    const int k = std::countr_zero(nonzero);
                    nonzero &= nonzero - 1;
                    int run = k - previous - 1;
                    for (; run > 15; run -= 16)
                        sink.symbol(slot, kZeroRun16, 0, 0);
                    const int value = block[kZigzag[k]];
                    const unsigned bits = magnitudeBits(value);
                    if (bits > kMaxAcBits)
                        return false;
                    sink.symbol(slot, unsigned(run << 4) + bits, extraBits(value, bits), int(bits));
                    previous = k;
                }
                if (previous != lastK && ++eobRun == 0x7FFF)
                    endRun();
            }
        }
        endRun();
        return true;
    }
};

void writeTable(BitWriter &w, int index, const JHUFF_TBL &table) {
    int symbols = 0;
    for (int length = 1; length <= 16; ++length)
        symbols += table.bits[length];
    w.segment(kDht, std::size_t(1 + 16 + symbols));
    w.byte(index);
    for (int length = 1; length <= 16; ++length)
        w.byte(table.bits[length]);
    for (int i = 0; i < symbols; ++i)
        w.byte(table.huffval[i]);
}

void writeFrame(BitWriter &w, j_compress_ptr out) {
    bool sent[NUM_QUANT_TBLS] = {};
    for (int c = 0; c < out->num_components; ++c) {
        const int slot = out->comp_info[c].quant_tbl_no;
        if (sent[slot])
            continue;
        sent[slot] = true;
        const JQUANT_TBL &table = *out->quant_tbl_ptrs[slot];
        const bool wide = std::any_of(std::begin(table.quantval), std::end(table.quantval),
                                      [](UINT16 q) { return q > 255; });
        w.segment(kDqt, std::size_t(1 + (wide ? 128 : 64)));
        w.byte((wide ? 0x10 : 0) + slot);
        for (int k = 0; k < DCTSIZE2; ++k) {
            const int q = table.quantval[kZigzag[k]];
            if (wide)
                w.word(q);
            else
                w.byte(q);
        }
    }
    w.segment(kSof2, std::size_t(6 + 3 * out->num_components));
    w.byte(8);
    w.word(int(out->image_height));
    w.word(int(out->image_width));
    w.byte(out->num_components);
    for (int c = 0; c < out->num_components; ++c) {
        const jpeg_component_info &comp = out->comp_info[c];
        w.byte(comp.component_id);
        w.byte((comp.h_samp_factor << 4) + comp.v_samp_factor);
        w.byte(comp.quant_tbl_no);
    }
}

// A scan's bytes, held until every scan is ready.
class HeldBytes final : public JpegSink {
public:
    bool write(const std::uint8_t *data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

// One scan whole: its symbols counted, its tables fitted to them, then the tables (with the
// restart interval before the first scan), the scan's header and its coded data. False when a
// coefficient is beyond what the scan can code.
bool codeScan(const Scan &scan, bool first, HeldBytes &held) {
    const jpeg_scan_info &info = scan.info;
    j_compress_ptr out = scan.out;
    Counter counter;
    Recorder dc;
    if (info.Ss == 0) {
        if (!scan.dc(dc))
            return false;
        dc.playTo(counter);
    } else if (!scan.ac(counter)) {
        return false;
    }
    BitWriter w(held);
    Coder coder{w};
    bool built[NUM_HUFF_TBLS] = {};
    for (int i = 0; i < info.comps_in_scan; ++i) {
        const jpeg_component_info &comp = out->comp_info[info.component_index[i]];
        const int slot = info.Ss == 0 ? comp.dc_tbl_no : comp.ac_tbl_no;
        if (built[slot])
            continue;
        built[slot] = true;
        JHUFF_TBL table{};
        buildOptimalTable(counter.counts[slot], table);
        setCodes(table, coder.tables[slot]);
        writeTable(w, (info.Ss == 0 ? 0 : 0x10) + slot, table);
    }
    if (first && out->restart_interval != 0) {
        w.segment(kDri, 2);
        w.word(int(out->restart_interval));
    }
    w.segment(kSos, std::size_t(4 + 2 * info.comps_in_scan));
    w.byte(info.comps_in_scan);
    for (int i = 0; i < info.comps_in_scan; ++i) {
        const jpeg_component_info &comp = out->comp_info[info.component_index[i]];
        w.byte(comp.component_id);
        w.byte(info.Ss == 0 ? comp.dc_tbl_no << 4 : comp.ac_tbl_no);
    }
    w.byte(info.Ss);
    w.byte(info.Se);
    w.byte(0);
    if (info.Ss == 0)
        dc.playTo(coder);
    else
        scan.ac(coder);
    w.align();
    return w.flush();
}

// About how much work a scan is: its blocks times the coefficients of its band.
long long scanWork(j_decompress_ptr src, const jpeg_scan_info &info) {
    long long blocks = 0;
    for (int i = 0; i < info.comps_in_scan; ++i) {
        const jpeg_component_info &comp = src->comp_info[info.component_index[i]];
        blocks += (long long)comp.width_in_blocks * comp.height_in_blocks;
    }
    return blocks * (info.Se - info.Ss + 1);
}

} // namespace

ScanWrite writeSpectralProgressive(j_decompress_ptr src, jvirt_barray_ptr *blocks,
                                   j_compress_ptr out, const std::vector<MarkerSegment> &segments,
                                   JpegSink &sink) {
    BlockRows rows(std::size_t(src->num_components));
    for (int c = 0; c < src->num_components; ++c) {
        const jpeg_component_info &comp = src->comp_info[c];
        rows[std::size_t(c)].resize(comp.height_in_blocks);
        for (JDIMENSION y = 0; y < comp.height_in_blocks; ++y)
            rows[std::size_t(c)][y] = (*src->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(src), blocks[c], y, 1, FALSE)[0];
    }
    // The scans are independent of each other (each has its own tables): they are coded at once
    // on the cores there are, the largest first, and written in order once all are ready. A
    // coefficient no scan can code leaves the sink untouched.
    const std::size_t scans = std::size_t(std::max(out->num_scans, 0));
    std::vector<HeldBytes> coded(scans);
    std::vector<char> codable(scans, 0);
    std::vector<std::size_t> order(scans);
    for (std::size_t s = 0; s < scans; ++s)
        order[s] = s;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return scanWork(src, out->scan_info[a]) > scanWork(src, out->scan_info[b]);
    });
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> failures(scans);
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < scans;) {
            const std::size_t s = order[i];
            try {
                const Scan scan{src, rows, out, out->scan_info[s]};
                codable[s] = codeScan(scan, s == 0, coded[s]) ? 1 : 0;
            } catch (...) {
                failures[s] = std::current_exception(); // rethrown by the calling thread
            }
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t threads = std::min<std::size_t>(std::thread::hardware_concurrency(), scans);
    try {
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(work);
    } catch (const std::system_error &) {
        // No thread to be had: the scans are coded here alone.
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    if (std::find(codable.begin(), codable.end(), 0) != codable.end())
        return ScanWrite::CoefficientOutOfRange;

    BitWriter w(sink);
    w.byte(0xFF);
    w.byte(kSoi);
    for (const MarkerSegment &segment : segments) {
        w.segment(segment.marker, segment.data.size());
        for (const std::uint8_t b : segment.data)
            w.byte(b);
    }
    writeFrame(w, out);
    if (!w.flush())
        return ScanWrite::SinkFailed;
    for (HeldBytes &scan : coded) {
        if (!sink.write(scan.bytes.data(), scan.bytes.size()))
            return ScanWrite::SinkFailed;
        scan.bytes = {};
    }
    w.byte(0xFF);
    w.byte(JPEG_EOI);
    return w.flush() ? ScanWrite::Written : ScanWrite::SinkFailed;
}
