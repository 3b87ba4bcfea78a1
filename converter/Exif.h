// The camera data (EXIF) that a JPEG carries in its APP1 marker, made ready to go into a new JPEG
// of the same picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace exif {

// The largest APP1 payload one marker can hold.
inline constexpr std::size_t kMaxBlock = 65533;

// The block ("Exif\0\0" followed by the TIFF structure) with its Orientation tag set to 1, top
// left: the picture it goes with is already upright. Empty when the block cannot go into a JPEG:
// not an EXIF block, a TIFF header or first directory out of bounds, or larger than one marker.
std::vector<std::uint8_t> upright(std::span<const std::uint8_t> block);

} // namespace exif
