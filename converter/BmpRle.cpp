#include "BmpRle.h"

#include "BmpReader.h"

#include <algorithm>
#include <cstring>

namespace bmp::detail {

namespace {

// Escape codes that follow a zero count byte.
constexpr unsigned kEndOfLine = 0;
constexpr unsigned kEndOfBitmap = 1;
constexpr unsigned kDelta = 2;

// Runs the codes once. Without `write` it only checks them and allocates nothing, so that a
// short, broken file cannot make us reserve the gigabytes its header claims before we find out.
class RleDecoder {
public:
    RleDecoder(std::span<const std::uint8_t> data, int width, int height, Rle kind, bool write)
        : p_(data.data()), end_(data.data() + data.size()), width_(width), height_(height),
          kind_(kind), pixelSize_(kind == Rle::TwentyFour ? 3 : 1),
          out_(write ? std::size_t(width) * std::size_t(height) * pixelSize_ : 0), write_(write) {}

    std::vector<std::uint8_t> run() {
        for (;;) {
            if (end_ - p_ < 2) {
                // Some writers leave out the final end-of-bitmap code; that is harmless once
                // every row has been written.
                if (y_ >= height_)
                    break;
                throw Error("RLE data is truncated");
            }
            const unsigned count = p_[0];
            const unsigned code = p_[1];
            p_ += 2;
            if (count > 0) {
                encodedRun(count, code);
            } else if (code == kEndOfLine) {
                x_ = 0;
                y_ = std::min(y_ + 1, height_);
            } else if (code == kEndOfBitmap) {
                break;
            } else if (code == kDelta) {
                need(2);
                x_ += p_[0];
                y_ += p_[1];
                p_ += 2;
                if (x_ > width_ || y_ > height_)
                    throw Error("RLE delta moves outside the bitmap");
            } else {
                absoluteRun(code);
            }
        }
        return std::move(out_);
    }

private:
    void need(std::size_t bytes) const {
        if (std::size_t(end_ - p_) < bytes)
            throw Error("RLE data is truncated");
    }

    // Where the next `count` pixels go (null when only checking). Pixels past the right edge are
    // dropped: some writers pad rows to a multiple of 4 pixels. `count` is cut down to the pixels
    // that fit.
    std::uint8_t *claim(unsigned &count) {
        if (y_ >= height_)
            throw Error("RLE data runs past the last row");
        std::uint8_t *at =
            write_ ? out_.data() +
                         (std::size_t(y_) * std::size_t(width_) + std::size_t(x_)) * pixelSize_
                   : nullptr;
        count = std::min(count, unsigned(width_ - x_));
        x_ += int(count);
        return at;
    }

    // `count` pixels of one value (for RLE4, two values taking turns).
    void encodedRun(unsigned count, unsigned value) {
        if (kind_ == Rle::TwentyFour) {
            need(2); // blue came in the code byte; green and red follow
            const std::uint8_t bgr[3] = {std::uint8_t(value), p_[0], p_[1]};
            p_ += 2;
            std::uint8_t *at = claim(count);
            for (unsigned i = 0; at != nullptr && i < count; ++i)
                std::memcpy(at + 3 * i, bgr, 3);
            return;
        }
        std::uint8_t *at = claim(count);
        if (at == nullptr) {
            return;
        }
        if (kind_ == Rle::Eight) {
            std::memset(at, int(value), count);
        } else {
            for (unsigned i = 0; i < count; ++i)
                at[i] = std::uint8_t((i & 1) ? value & 15 : value >> 4);
        }
    }

    // `count` literal pixels, padded to a 16-bit boundary.
    void absoluteRun(unsigned count) {
        const std::size_t bytes = kind_ == Rle::Four ? (count + 1) / 2 : count * pixelSize_;
        need(bytes);
        unsigned kept = count;
        std::uint8_t *at = claim(kept);
        if (at == nullptr) {
            // Only checking.
        } else if (kind_ == Rle::Four) {
            for (unsigned i = 0; i < kept; ++i)
                at[i] = std::uint8_t((i & 1) ? p_[i / 2] & 15 : p_[i / 2] >> 4);
        } else {
            std::memcpy(at, p_, kept * pixelSize_);
        }
        // The padding byte may be missing at the very end of the data.
        p_ += std::min(bytes + (bytes & 1), std::size_t(end_ - p_));
    }

    const std::uint8_t *p_;
    const std::uint8_t *end_;
    const int width_;
    const int height_;
    const Rle kind_;
    const std::size_t pixelSize_;
    std::vector<std::uint8_t> out_;
    const bool write_;
    int x_ = 0;
    int y_ = 0; // counted from the bottom row, as the data is stored
};

} // namespace

std::vector<std::uint8_t> decodeRle(std::span<const std::uint8_t> data, int width, int height,
                                    Rle kind) {
    RleDecoder(data, width, height, kind, false).run();
    return RleDecoder(data, width, height, kind, true).run();
}

} // namespace bmp::detail
