// nconvert: converts a Windows bitmap to a JPEG file.
//
//   nconvert [-out jpeg] [-q QUALITY] -o OUTPUT INPUT
//
// Options may come in any order; the input file is always the last argument. Exit codes: 0 on
// success, 1 when the input cannot be converted or the output cannot be written (one line on
// stderr), 2 for a bad command line (usage on stderr). The JPEG is written to a temporary file
// beside OUTPUT and renamed over it only when complete, so OUTPUT is either the finished picture
// or left as it was.
#include "BmpReader.h"
#include "JpegWriter.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultQuality = 85;
// The largest bitmap the size limits of the reader allow is below 3 GB; anything far beyond is
// not worth reading into memory.
constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{4} << 30;

struct Options {
    int quality = kDefaultQuality;
    std::string output;
    std::string input;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

int usage(const char *problem) {
    std::fprintf(stderr,
                 "nconvert: %s\n"
                 "usage: nconvert [-out jpeg] [-q QUALITY] -o OUTPUT INPUT\n"
                 "  Converts a BMP/DIB picture to a baseline JPEG.\n"
                 "  -out jpeg   output format; jpeg is the only one\n"
                 "  -q N        quality 0..100 on libjpeg's scale (default %d; 0 counts as 1)\n"
                 "  -o OUTPUT   JPEG file to write; replaced only once the new one is complete\n",
                 problem, kDefaultQuality);
    return 2;
}

Options parseOptions(int argc, char **argv) {
    if (argc < 2)
        throw UsageError("no input file");
    Options options;
    options.input = argv[argc - 1];
    bool haveOutput = false;
    for (int i = 1; i < argc - 1; ++i) {
        const std::string_view option = argv[i];
        if (option != "-out" && option != "-q" && option != "-o")
            throw UsageError(option.starts_with('-')
                                 ? "unknown option " + std::string(option)
                                 : "unexpected argument " + std::string(option));
        if (i + 1 >= argc - 1)
            throw UsageError("missing value for " + std::string(option));
        const std::string_view value = argv[++i];
        if (option == "-out") {
            if (value != "jpeg" && value != "jpg" && value != "JPEG" && value != "JPG")
                throw UsageError("unsupported output format " + std::string(value));
        } else if (option == "-q") {
            int quality = -1;
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), quality);
            if (ec != std::errc() || end != value.data() + value.size() || quality < 0 ||
                quality > 100)
                throw UsageError("quality must be a whole number from 0 to 100, not " +
                                 std::string(value));
            options.quality = quality;
        } else {
            options.output = value;
            haveOutput = true;
        }
    }
    if (!haveOutput)
        throw UsageError("missing -o OUTPUT");
    return options;
}

std::FILE *openFile(const fs::path &path, bool forWriting) {
#ifdef _WIN32
    return _wfopen(path.c_str(), forWriting ? L"wbx" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wbx" : "rb");
#endif
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The input file's bytes: memory-mapped where possible (the pages come straight from the page
// cache, which for a 70 MB bitmap saves a third of the run time), read into memory otherwise.
class InputFile {
public:
    explicit InputFile(const fs::path &path);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    const std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

InputFile::InputFile(const fs::path &path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw std::runtime_error("input is a folder");
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        throw std::runtime_error("cannot read the input: " + ec.message());
    if (size > kMaxInputBytes)
        throw std::runtime_error("input file is too large");
    FilePtr file(openFile(path, false));
    if (!file)
        throw std::runtime_error(std::string("cannot open the input: ") + std::strerror(errno));
#ifndef _WIN32
    if (size > 0) {
        void *map = mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                         fileno(file.get()), 0);
        if (map != MAP_FAILED) {
            data_ = static_cast<const std::uint8_t *>(map);
            size_ = std::size_t(size);
            mapped_ = true;
            return;
        }
    }
#endif
    // Left uninitialised: the read fills it.
    buffer_.reset(new std::uint8_t[std::size_t(size) + 1]);
    size_ = std::fread(buffer_.get(), 1, std::size_t(size), file.get());
    if (std::ferror(file.get()))
        throw std::runtime_error("cannot read the input");
    data_ = buffer_.get();
}

InputFile::~InputFile() {
#ifndef _WIN32
    if (mapped_)
        munmap(const_cast<std::uint8_t *>(data_), size_);
#endif
}

// Name of the file being written, removed if a signal ends the program first.
char g_partialFile[4096];
volatile std::sig_atomic_t g_havePartialFile = 0;

extern "C" void onSignal(int signal) {
#ifndef _WIN32
    if (g_havePartialFile)
        unlink(g_partialFile);
    if (signal == SIGBUS) {
        // The mapped input shrank while it was being read.
        const char message[] = "nconvert: the input file changed while it was being read\n";
        [[maybe_unused]] const auto written = write(2, message, sizeof message - 1);
        _exit(1);
    }
#endif
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A new file beside `output`, named so that it neither clashes nor looks like a picture.
FilePtr createPartialFile(const fs::path &output, fs::path &partial) {
    std::random_device random;
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", unsigned(random()));
        partial = folder / ("." + output.filename().string() + suffix);
        const std::string name = partial.string();
        if (name.size() < sizeof g_partialFile) {
            std::memcpy(g_partialFile, name.c_str(), name.size() + 1);
            g_havePartialFile = 1;
        }
        errno = 0;
        if (std::FILE *file = openFile(partial, true))
            return FilePtr(file);
        g_havePartialFile = 0;
        if (errno != EEXIST)
            break;
    }
    throw std::runtime_error("cannot create a file in " + folder.string() + ": " +
                             std::strerror(errno));
}

void writeOutput(const fs::path &output, const bmp::Image &image, int quality) {
    if (!output.has_filename())
        throw std::runtime_error("output path names no file: " + output.string());
    fs::path partial;
    FilePtr file = createPartialFile(output, partial);
    try {
        writeJpeg(file.get(), image, quality);
#ifndef _WIN32
        // The data must be on disk before the rename makes it the only copy.
        if (fsync(fileno(file.get())) != 0)
            throw std::runtime_error(std::string("cannot write the output: ") +
                                     std::strerror(errno));
#endif
        if (std::fclose(file.release()) != 0)
            throw std::runtime_error(std::string("cannot write the output: ") +
                                     std::strerror(errno));
        std::error_code ec;
        fs::rename(partial, output, ec);
        if (ec)
            throw std::runtime_error("cannot replace " + output.string() + ": " + ec.message());
    } catch (...) {
        file.reset();
        std::error_code ignored;
        fs::remove(partial, ignored);
        g_havePartialFile = 0;
        throw;
    }
    g_havePartialFile = 0;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError &e) {
        return usage(e.what());
    }
    for (int signal : {SIGINT, SIGTERM})
        std::signal(signal, onSignal);
#ifndef _WIN32
    std::signal(SIGHUP, onSignal);
    std::signal(SIGBUS, onSignal);
#endif

    try {
        const InputFile input(options.input);
        const bmp::Image image = bmp::read(input.bytes());
        writeOutput(options.output, image, options.quality);
    } catch (const bmp::Error &e) {
        std::fprintf(stderr, "nconvert: %s is not a usable bitmap: %s\n", options.input.c_str(),
                     e.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "nconvert: %s: not enough memory\n", options.input.c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "nconvert: %s: %s\n", options.input.c_str(), e.what());
        return 1;
    }
    return 0;
}
