// Files the program leaves beside the converter's input bitmap to say more than the command line
// does: the metadata of the JPEG the picture came from (INPUT with the extension ".meta") and,
// for a save that keeps a JPEG's own blocks, the areas the stamps changed (".areas").
#pragma once

#include "JpegWriter.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

// The ".meta" file is a small JPEG header: the start of image, the segments to carry (APPn and
// COM, each with its two length bytes), optionally a frame header (SOF0..SOF2) whose
// components' sampling factors the encoder keeps when they are finer than its own, then the end
// of image. Anything else in it is skipped.
struct SourceMetadata {
    std::vector<MarkerSegment> segments;
    std::vector<Sampling> sampling;
};
// Throws std::runtime_error when the bytes are not such a header.
SourceMetadata parseMetadata(std::span<const std::uint8_t> bytes);
// The file beside `input`, or nothing when there is none.
std::optional<SourceMetadata> metadataFor(const std::filesystem::path &input);

// A rectangle in pixels of the source JPEG's stored frame.
struct Area {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The ".areas" file, text, one item a line:
//   patch X Y          where the input bitmap's top-left pixel lies in the source's stored frame
//   area X Y W H       a rectangle the stamps changed (any number of these)
struct ChangedAreas {
    Area patch; // its size is the bitmap's
    std::vector<Area> areas;
};
// Throws std::runtime_error for a line that is not one of the above, or a negative size.
ChangedAreas parseAreas(std::span<const std::uint8_t> text);
// The file beside `input`; throws std::runtime_error when it is missing or unreadable.
ChangedAreas areasFor(const std::filesystem::path &input);

// The whole of a file, or std::runtime_error; at most `limit` bytes.
std::vector<std::uint8_t> readWholeFile(const std::filesystem::path &path, std::uint64_t limit);
