#include "MultiPicture.h"

#include "Sidecars.h"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxAfter = std::uint64_t{2} << 30;
constexpr std::uint64_t kMaxFieldsFile = std::uint64_t{1} << 20;
// A head larger than this holds no MPF segment the program wrote: it is not looked at further.
constexpr std::size_t kMaxHead = std::size_t{64} << 20;
constexpr std::uint8_t kMpf[] = {'M', 'P', 'F', 0};

std::uint64_t number(std::string_view word) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size() || word.empty())
        throw std::runtime_error("the MPF fields file holds a bad number: " + std::string(word));
    return value;
}

} // namespace

std::vector<MpfField> parseMpfFields(std::span<const std::uint8_t> text) {
    const std::string_view all(reinterpret_cast<const char *>(text.data()), text.size());
    std::vector<MpfField> fields;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos)
            end = all.size();
        std::string_view line = all.substr(start, end - start);
        start = end + 1;
        std::vector<std::string_view> words;
        for (std::size_t i = 0; i < line.size();) {
            const std::size_t from = line.find_first_not_of(" \t\r", i);
            if (from == std::string_view::npos)
                break;
            const std::size_t to = std::min(line.find_first_of(" \t\r", from), line.size());
            words.push_back(line.substr(from, to - from));
            i = to;
        }
        if (words.empty())
            continue;
        if (words[0] == "first" && words.size() == 2)
            fields.push_back({std::size_t(number(words[1])), true, 0});
        else if (words[0] == "after" && words.size() == 3)
            fields.push_back({std::size_t(number(words[1])), false, number(words[2])});
        else
            throw std::runtime_error("the MPF fields file holds an unknown line: " +
                                     std::string(words[0]));
    }
    return fields;
}

std::optional<PicturesAfter> picturesAfterFor(const fs::path &input) {
    fs::path bytes = input, fields = input;
    bytes.replace_extension(".after");
    fields.replace_extension(".mpf");
    std::error_code ec;
    const bool haveBytes = fs::is_regular_file(bytes, ec);
    const bool haveFields = fs::is_regular_file(fields, ec);
    if (!haveBytes && !haveFields)
        return std::nullopt;
    PicturesAfter after;
    if (haveBytes)
        after.bytes = readWholeFile(bytes, kMaxAfter);
    if (haveFields)
        after.fields = parseMpfFields(readWholeFile(fields, kMaxFieldsFile));
    return after;
}

bool CountingSink::write(const std::uint8_t *data, std::size_t size) {
    if (!headDone_) {
        head_.insert(head_.end(), data, data + size);
        readHead();
    }
    count_ += size;
    return next_.write(data, size);
}

// Walks the segments of the head received so far, from where the last walk stopped.
void CountingSink::readHead() {
    while (!headDone_ && scan_ + 4 <= head_.size()) {
        const std::uint8_t *at = head_.data() + scan_;
        if (at[0] != 0xFF || at[1] == 0xDA || head_.size() > kMaxHead) {
            headDone_ = true; // the first scan: the head is complete
            break;
        }
        if (at[1] == 0xD8) {
            scan_ += 2;
            continue;
        }
        const std::size_t length = std::size_t(at[2]) << 8 | at[3];
        if (length < 2 || scan_ + 2 + length > head_.size())
            return; // the rest of the segment is still to come
        if (at[1] == 0xE2 && mpfLength_ == 0 && length >= 2 + 6 &&
            std::memcmp(at + 4, kMpf, sizeof kMpf) == 0) {
            mpfAt_ = scan_ + 4;
            mpfLength_ = length - 2;
            mpfStart_.assign(at + 4, at + 10);
        }
        scan_ += 2 + length;
    }
    if (headDone_) {
        head_.clear();
        head_.shrink_to_fit();
    }
}

void writePicturesAfter(const PicturesAfter &after, CountingSink &sink,
                        safe::Replacement &replacement) {
    const std::uint64_t length = sink.count();
    if (!after.fields.empty()) {
        if (sink.mpfLength() == 0)
            throw std::runtime_error("the written picture holds no MPF index to point at the "
                                     "pictures after it");
        const bool bigEndian = sink.mpfStart()[4] == 'M';
        const std::uint64_t tiff = sink.mpfAt() + sizeof kMpf;
        for (const MpfField &field : after.fields) {
            const std::uint64_t value = field.first ? length : length + field.after - tiff;
            if (field.at < sizeof kMpf || field.at + 4 > sink.mpfLength() ||
                field.after > after.bytes.size() || value > 0xFFFFFFFFu)
                throw std::runtime_error("the pictures after the first cannot be indexed");
            std::uint8_t bytes[4];
            for (int i = 0; i < 4; ++i) {
                const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
                bytes[i] = std::uint8_t(value >> shift);
            }
            if (!replacement.writeAt(sink.mpfAt() + field.at, bytes, sizeof bytes))
                replacement.throwFailure();
        }
    }
    if (!after.bytes.empty() && !sink.write(after.bytes.data(), after.bytes.size()))
        throw JpegSinkFailed();
}
