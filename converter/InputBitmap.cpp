#include "InputBitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The largest bitmap the size limits of the reader allow is below 3 GB; anything far beyond is
// not worth reading.
constexpr std::uint64_t kMaxInputBytes = std::uint64_t{4} << 30;
// Enough for any header with its colour table and masks; more when a file header puts the
// pixels further on.
constexpr std::uint64_t kHeadBytes = 64 * 1024;

std::uint32_t pixelOffsetField(const std::vector<std::uint8_t> &head) {
    return std::uint32_t(head[10]) | std::uint32_t(head[11]) << 8 | std::uint32_t(head[12]) << 16 |
           std::uint32_t(head[13]) << 24;
}

} // namespace

InputBitmap::InputBitmap(const std::filesystem::path &path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw std::runtime_error("input is a folder");
#ifdef _WIN32
    fd_ = _wopen(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd_ < 0)
        throw std::runtime_error(std::string("cannot open the input: ") + std::strerror(errno));
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        throw std::runtime_error("cannot read the input: " + ec.message());
    if (size > kMaxInputBytes)
        throw std::runtime_error("input file is too large");
    size_ = size;

    std::vector<std::uint8_t> head(std::size_t(std::min<std::uint64_t>(size_, kHeadBytes)));
    if (!readAt(0, head.data(), head.size()))
        throw std::runtime_error("cannot read the input");
    if (head.size() >= 14 && head[0] == 'B' && head[1] == 'M') {
        const std::uint64_t pixels = std::min<std::uint64_t>(pixelOffsetField(head), size_);
        if (pixels > head.size()) {
            const std::size_t had = head.size();
            head.resize(std::size_t(pixels));
            if (!readAt(had, head.data() + had, head.size() - had))
                throw std::runtime_error("cannot read the input");
        }
    }
    image_ = bmp::readLayout(head, size_);
    streamed_ = image_.has_value();
    if (!streamed_) {
        whole_.resize(std::size_t(size_));
        if (!readAt(0, whole_.data(), whole_.size()))
            throw std::runtime_error("cannot read the input");
        image_.emplace(bmp::read(whole_));
    }
    scratch_.resize(image_->rowBytes() * kMaxRows);
}

InputBitmap::~InputBitmap() {
#ifdef _WIN32
    _close(fd_);
#else
    close(fd_);
#endif
}

bool InputBitmap::readAt(std::uint64_t offset, std::uint8_t *buffer, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        if (_lseeki64(fd_, std::int64_t(offset), SEEK_SET) < 0)
            return false;
        const int done = _read(fd_, buffer, unsigned(std::min<std::size_t>(size, 1u << 30)));
#else
        const ssize_t done = pread(fd_, buffer, size, off_t(offset));
#endif
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        buffer += done;
        size -= std::size_t(done);
        offset += std::uint64_t(done);
    }
    return true;
}

std::vector<std::uint8_t> InputBitmap::profile(std::size_t limit) {
    const bmp::Image &image = *image_;
    std::vector<std::uint8_t> bytes;
    if (image.profileSize() == 0 || image.profileSize() > limit)
        return bytes;
    bytes.resize(image.profileSize());
    if (!readAt(image.profileOffset(), bytes.data(), bytes.size()))
        bytes.clear();
    return bytes;
}

bool InputBitmap::fetch(int first, int count, const std::uint8_t **rows) {
    const bmp::Image &image = *image_;
    const std::size_t rowBytes = image.rowBytes();
    if (!streamed_) {
        for (int i = 0; i < count; ++i)
            rows[i] = image.row(first + i, scratch_.data() + std::size_t(i) * rowBytes);
        return true;
    }
    // The band's stored rows lie together in the file, in either order.
    const std::uint64_t a = image.rowOffset(first);
    const std::uint64_t b = image.rowOffset(first + count - 1);
    const std::uint64_t low = std::min(a, b);
    const std::size_t bytes = std::size_t(std::max(a, b) - low) + image.storedRowBytes();
    if (band_.size() < bytes)
        band_.resize(bytes);
    if (!readAt(low, band_.data(), bytes))
        return false;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t *stored = band_.data() + (image.rowOffset(first + i) - low);
        rows[i] = image.convertRow(stored, scratch_.data() + std::size_t(i) * rowBytes);
    }
    return true;
}
