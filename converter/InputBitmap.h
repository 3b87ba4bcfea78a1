// The converter's input: a bitmap file, checked, whose rows are handed to the encoder a band at
// a time from the top.
#pragma once

#include "BmpReader.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// The rows a JPEG is made of, handed out a band at a time from the top.
class RowSource {
public:
    static constexpr int kMaxRows = 16;
    virtual ~RowSource() = default;
    virtual const bmp::Image &image() const = 0;
    // Points rows[0 .. count) at the pixels of rows first .. first + count - 1 (count at most
    // kMaxRows), valid until the next call. False when they could not be read.
    virtual bool fetch(int first, int count, const std::uint8_t **rows) = 0;
};

// Uncompressed rows are read from the file as they are needed, so the converter holds no more
// than a band of the picture; run-length compressed bitmaps are read whole and decoded. Throws
// bmp::Error for a file that is not a usable bitmap, std::runtime_error when it cannot be read.
class InputBitmap : public RowSource {
public:
    explicit InputBitmap(const std::filesystem::path &path);
    ~InputBitmap() override;
    InputBitmap(const InputBitmap &) = delete;
    InputBitmap &operator=(const InputBitmap &) = delete;

    const bmp::Image &image() const override { return *image_; }
    bool fetch(int first, int count, const std::uint8_t **rows) override;
    // The embedded colour profile's bytes; empty when there is none, when it is longer than
    // `limit` or when it cannot be read.
    std::vector<std::uint8_t> profile(std::size_t limit);

private:
    bool readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t size);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::vector<std::uint8_t> whole_; // the whole file, for compressed bitmaps
    std::optional<bmp::Image> image_;
    bool streamed_ = false;
    std::vector<std::uint8_t> band_;    // the stored rows of one band
    std::vector<std::uint8_t> scratch_; // rows converted for the encoder
};
