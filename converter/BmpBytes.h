// Little-endian numbers in bitmap files, for BmpReader.cpp and BmpRows.cpp.
#pragma once

#include <cstdint>

namespace bmp::detail {

inline std::uint16_t u16(const std::uint8_t *p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
inline std::uint32_t u32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline std::int32_t i32(const std::uint8_t *p) {
    return std::int32_t(u32(p));
}

} // namespace bmp::detail
