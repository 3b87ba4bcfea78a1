#include "Sidecars.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxMetadataFile = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxAreasFile = std::uint64_t{16} << 20;

bool isFrameHeader(int marker) {
    return marker >= 0xC0 && marker <= 0xC2;
}

// Sampling factors from a frame header's payload: precision, height, width, count, then three
// bytes a component (id, factors, table).
std::vector<Sampling> samplingOf(std::span<const std::uint8_t> frame) {
    if (frame.size() < 6)
        throw std::runtime_error("the frame header in the metadata is cut short");
    const std::size_t count = frame[5];
    if (frame.size() < 6 + 3 * count)
        throw std::runtime_error("the frame header in the metadata is cut short");
    std::vector<Sampling> sampling;
    for (std::size_t c = 0; c < count; ++c) {
        const std::uint8_t factors = frame[6 + 3 * c + 1];
        sampling.push_back({factors >> 4, factors & 0x0F});
    }
    return sampling;
}

int number(std::string_view word) {
    int value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size())
        throw std::runtime_error("the areas file holds a bad number: " + std::string(word));
    return value;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> readWholeFile(const fs::path &path, std::uint64_t limit) {
    std::error_code ec;
    const std::uint64_t size = fs::file_size(path, ec);
    if (ec)
        throw std::runtime_error("cannot read " + path.string());
    if (size > limit)
        throw std::runtime_error(path.string() + " is too large");
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size())))
        throw std::runtime_error("cannot read " + path.string());
    return bytes;
}

SourceMetadata parseMetadata(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        throw std::runtime_error("the metadata file is not a JPEG header");
    SourceMetadata metadata;
    std::size_t at = 2;
    while (at + 1 < bytes.size()) {
        if (bytes[at] != 0xFF)
            throw std::runtime_error("the metadata file is damaged");
        const int marker = bytes[at + 1];
        at += 2;
        if (marker == 0xFF) {
            --at; // a fill byte
            continue;
        }
        if (marker == 0xD9)
            return metadata;
        if (at + 2 > bytes.size())
            break;
        const std::size_t length = std::size_t(bytes[at]) << 8 | bytes[at + 1];
        if (length < 2 || at + length > bytes.size())
            break;
        const std::span<const std::uint8_t> payload = bytes.subspan(at + 2, length - 2);
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE)
            metadata.segments.push_back({marker, {payload.begin(), payload.end()}});
        else if (isFrameHeader(marker))
            metadata.sampling = samplingOf(payload);
        at += length;
    }
    throw std::runtime_error("the metadata file is cut short");
}

std::optional<SourceMetadata> metadataFor(const fs::path &input) {
    fs::path sidecar = input;
    sidecar.replace_extension(".meta");
    std::error_code ec;
    if (!fs::is_regular_file(sidecar, ec))
        return std::nullopt;
    return parseMetadata(readWholeFile(sidecar, kMaxMetadataFile));
}

ChangedAreas parseAreas(std::span<const std::uint8_t> text) {
    const std::string_view all(reinterpret_cast<const char *>(text.data()), text.size());
    ChangedAreas result;
    bool havePatch = false;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos)
            end = all.size();
        const std::vector<std::string_view> w = words(all.substr(start, end - start));
        start = end + 1;
        if (w.empty())
            continue;
        if (w[0] == "patch" && w.size() == 3) {
            result.patch.x = number(w[1]);
            result.patch.y = number(w[2]);
            havePatch = true;
        } else if (w[0] == "area" && w.size() == 5) {
            const Area a{number(w[1]), number(w[2]), number(w[3]), number(w[4])};
            if (a.width < 0 || a.height < 0)
                throw std::runtime_error("the areas file holds a negative size");
            result.areas.push_back(a);
        } else {
            throw std::runtime_error("the areas file holds an unknown line: " + std::string(w[0]));
        }
    }
    if (!havePatch)
        throw std::runtime_error("the areas file does not say where the picture lies");
    return result;
}

ChangedAreas areasFor(const fs::path &input) {
    fs::path sidecar = input;
    sidecar.replace_extension(".areas");
    return parseAreas(readWholeFile(sidecar, kMaxAreasFile));
}
