#include "Exif.h"

#include <cstring>

namespace exif {

namespace {

constexpr std::uint8_t kHeader[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::size_t kEntrySize = 12;

// Reads and writes the TIFF structure's numbers in its own byte order.
struct Tiff {
    std::uint8_t *data;
    std::size_t size;
    bool bigEndian;

    std::uint32_t get(std::size_t offset, int bytes) const {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::uint32_t byte = data[offset + std::size_t(i)];
            value |= bigEndian ? byte << (8 * (bytes - 1 - i)) : byte << (8 * i);
        }
        return value;
    }
    void put(std::size_t offset, int bytes, std::uint32_t value) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
            data[offset + std::size_t(i)] = std::uint8_t(value >> shift);
        }
    }
};

} // namespace

std::vector<std::uint8_t> upright(std::span<const std::uint8_t> block) {
    constexpr std::size_t header = sizeof kHeader;
    if (block.size() > kMaxBlock || block.size() < header + 8 ||
        std::memcmp(block.data(), kHeader, header) != 0)
        return {};
    std::vector<std::uint8_t> out(block.begin(), block.end());
    Tiff tiff{out.data() + header, out.size() - header, false};
    if (tiff.data[0] == 'M' && tiff.data[1] == 'M')
        tiff.bigEndian = true;
    else if (tiff.data[0] != 'I' || tiff.data[1] != 'I')
        return {};
    if (tiff.get(2, 2) != 42)
        return {};
    const std::uint64_t directory = tiff.get(4, 4);
    if (directory < 8 || directory + 2 > tiff.size)
        return {};
    const std::uint64_t count = tiff.get(std::size_t(directory), 2);
    if (directory + 2 + count * kEntrySize > tiff.size)
        return {};
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t entry = std::size_t(directory + 2 + i * kEntrySize);
        if (tiff.get(entry, 2) != kOrientationTag || tiff.get(entry + 4, 4) != 1)
            continue;
        // A single value sits in the entry itself, at the start of its value field.
        const std::uint32_t type = tiff.get(entry + 2, 2);
        if (type == kShort) {
            tiff.put(entry + 8, 2, 1);
            tiff.put(entry + 10, 2, 0);
        } else if (type == kLong) {
            tiff.put(entry + 8, 4, 1);
        }
    }
    return out;
}

} // namespace exif
