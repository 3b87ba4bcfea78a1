// nconvert: converts a Windows bitmap to a JPEG file.
//
//   nconvert [-out jpeg] [-q QUALITY] -o OUTPUT INPUT
//   nconvert [-out jpeg] -keep SOURCE -o OUTPUT INPUT
//
// Options may come in any order; the input file is always the last argument. With -keep, OUTPUT
// is SOURCE (a JPEG) with only the MCUs that meet the changed areas (INPUT with the extension
// ".areas") encoded anew from INPUT's pixels, every other block kept as it was (KeepBlocks.h).
// Exit codes: 0 on success, 1 when the input cannot be converted or the output cannot be written
// (one line on stderr), 2 for a bad command line (usage on stderr), 3 when SOURCE's blocks
// cannot be kept (a CMYK photo, ...; one line on stderr), nothing written. The JPEG is written to a
// temporary file beside OUTPUT and renamed over it only when complete, so OUTPUT is either the
// finished picture or left as it was (SafeReplace.h: links, permissions, leftovers). A colour
// profile embedded in the bitmap's V5 header goes into the JPEG; so does camera data found beside
// the input as INPUT with the extension ".exif" (an APP1 EXIF block), with its orientation set
// upright. What the source held after its first picture follows the new one (MultiPicture.h).
#include "BmpReader.h"
#include "Decision.h"
#include "Exif.h"
#include "HugePages.h"
#include "InputBitmap.h"
#include "JpegWriter.h"
#include "KeepBlocks.h"
#include "MultiPicture.h"
#include "SafeReplace.h"
#include "Sidecars.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultQuality = 85;
// The largest source JPEG whose blocks are kept.
constexpr std::uint64_t kMaxSourceJpeg = std::uint64_t{2} << 30;

struct Options {
    int quality = kDefaultQuality;
    std::string output;
    std::string input;
    std::string keep; // the source JPEG whose blocks are kept; empty: encode the whole picture
    std::optional<safe::Decision> expected;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

int usage(const char *problem) {
    std::fprintf(stderr,
                 "nconvert: %s\n"
                 "usage: nconvert [-out jpeg] [-q QUALITY] [-expect WHAT] -o OUTPUT INPUT\n"
                 "       nconvert [-out jpeg] -keep SOURCE [-expect WHAT] -o OUTPUT INPUT\n"
                 "  Converts a BMP/DIB picture to a baseline JPEG.\n"
                 "  -out jpeg   output format; jpeg is the only one\n"
                 "  -q N        quality 0..100 on libjpeg's scale (default %d; 0 counts as 1)\n"
                 "  -o OUTPUT   JPEG file to write; replaced only once the new one is complete\n"
                 "              (a link to a file is written through)\n"
                 "  -expect WHAT what OUTPUT must still be: absent, or DEVICE:INODE of the file\n"
                 "              at its end; anything else there is left as it is (exit 1)\n"
                 "  From -q 90 up the colour keeps its full resolution (4:4:4), below it is\n"
                 "  halved (4:2:0). A colour profile in the bitmap is kept; camera data in\n"
                 "  INPUT's name with the extension .exif (an EXIF block) is added, upright;\n"
                 "  INPUT.meta (a JPEG header of segments to carry) takes the place of both.\n"
                 "  -keep SOURCE  write the JPEG SOURCE again, its blocks kept as they are but\n"
                 "              where the areas listed in INPUT.areas changed (INPUT holds the\n"
                 "              stamped pixels there); exit 3 when they cannot be kept\n"
                 "  -o-hex BYTES, -keep-hex BYTES  a file name given as its bytes in hexadecimal\n"
                 "              (for names that are not text in any encoding)\n",
                 problem, kDefaultQuality);
    return 2;
}

// The bytes written in hexadecimal, two digits each.
std::string fromHex(std::string_view digits) {
    const auto value = [&](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw UsageError("not a hexadecimal file name: " + std::string(digits));
    };
    if (digits.empty() || digits.size() % 2 != 0)
        throw UsageError("not a hexadecimal file name: " + std::string(digits));
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const char byte = char(value(digits[i]) * 16 + value(digits[i + 1]));
        if (byte == '\0')
            throw UsageError("a file name cannot hold a zero byte");
        bytes += byte;
    }
    return bytes;
}

Options parseOptions(int argc, char **argv) {
    if (argc < 2)
        throw UsageError("no input file");
    Options options;
    options.input = argv[argc - 1];
    bool haveOutput = false;
    for (int i = 1; i < argc - 1; ++i) {
        const std::string_view option = argv[i];
        if (option != "-out" && option != "-q" && option != "-o" && option != "-keep" &&
            option != "-expect" && option != "-o-hex" && option != "-keep-hex")
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
        } else if (option == "-keep") {
            options.keep = value;
        } else if (option == "-keep-hex") {
            options.keep = fromHex(value);
        } else if (option == "-o-hex") {
            options.output = fromHex(value);
            haveOutput = true;
        } else if (option == "-expect") {
            options.expected = safe::Decision::parse(value);
            if (!options.expected)
                throw UsageError("-expect takes absent or DEVICE:INODE, not " + std::string(value));
        } else {
            options.output = value;
            haveOutput = true;
        }
    }
    if (!haveOutput)
        throw UsageError("missing -o OUTPUT");
    return options;
}

// Name of the file being written, removed if a signal ends the program first. It is set before
// the file is created under it, so that no moment exists in which the file is there unmarked;
// the name carries this process's id, so it can only ever be a file of this process.
char g_partialFile[4096];
volatile std::sig_atomic_t g_havePartialFile = 0;

extern "C" void markPartial(const char *name) {
    g_havePartialFile = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst); // the handler never sees half a name
    const std::size_t length = std::strlen(name);
    if (length < sizeof g_partialFile) {
        std::memcpy(g_partialFile, name, length + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        g_havePartialFile = 1;
    }
}

extern "C" void onSignal(int signal) {
#ifndef _WIN32
    if (g_havePartialFile)
        unlink(g_partialFile);
#endif
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The JPEG's bytes go into the replacement's temporary file.
class ReplacementSink : public JpegSink {
public:
    explicit ReplacementSink(safe::Replacement &replacement) : replacement_(replacement) {}
    bool write(const std::uint8_t *data, std::size_t size) override {
        return replacement_.write(data, size);
    }

private:
    safe::Replacement &replacement_;
};

// The camera data that goes with the input: the file beside it with the extension ".exif"
// (" 123.bmp" and " 123.exif"), made upright; empty when there is none or it cannot be used.
std::vector<std::uint8_t> cameraDataFor(const fs::path &input) {
    fs::path sidecar = input;
    sidecar.replace_extension(".exif");
    std::error_code ec;
    if (!fs::is_regular_file(sidecar, ec) || fs::file_size(sidecar, ec) > exif::kMaxBlock || ec)
        return {};
    std::ifstream file(sidecar, std::ios::binary);
    const std::vector<std::uint8_t> block((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    return exif::upright(block);
}

// The output is made ready first, so that a name that cannot be written is refused before the
// input is read.
void convert(const Options &options) {
    safe::Replacement replacement(options.output, options.expected ? &*options.expected : nullptr,
                                  markPartial);
    try {
        InputBitmap input(options.input);
        ReplacementSink replacementSink(replacement);
        std::optional<SourceMetadata> source = metadataFor(options.input);
        // The source's pictures after its first one follow the new first picture.
        const std::optional<PicturesAfter> after = picturesAfterFor(options.input);
        CountingSink counted(replacementSink);
        JpegSink &sink = after ? static_cast<JpegSink &>(counted) : replacementSink;
        try {
            if (!options.keep.empty()) {
                const std::vector<std::uint8_t> original =
                    readWholeFile(options.keep, kMaxSourceJpeg);
                KeepRequest request{original, areasFor(options.input), std::nullopt};
                if (source)
                    request.segments = std::move(source->segments);
                writeKeptJpeg(sink, input, request);
            } else {
                const std::vector<std::uint8_t> profile = input.profile(kMaxIccProfile);
                const std::vector<std::uint8_t> camera = cameraDataFor(options.input);
                JpegMetadata metadata{profile, camera, {}, {}};
                if (source) {
                    metadata.segments = std::move(source->segments);
                    metadata.sampling = std::move(source->sampling);
                }
                writeJpeg(sink, input, options.quality, metadata);
            }
            if (after)
                writePicturesAfter(*after, counted, replacement);
        } catch (const JpegSinkFailed &) {
            replacement.throwFailure();
        }
        replacement.commit();
    } catch (...) {
        g_havePartialFile = 0;
        throw;
    }
    g_havePartialFile = 0;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// In the sanitizer build only: a converter started with another effective user than its real one
// cannot be inspected by LeakSanitizer (which then fails it every time) and cannot read its
// options from the environment either; its leak check is off in that case alone.
extern "C" const char *__asan_default_options() {
    return getuid() != geteuid() ? "detect_leaks=0" : "";
}
#endif

int main(int argc, char **argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError &e) {
        return usage(e.what());
    }
    if (!options.keep.empty())
        keepLargeArraysInHugePages();
    for (int signal : {SIGINT, SIGTERM})
        std::signal(signal, onSignal);
#ifndef _WIN32
    std::signal(SIGHUP, onSignal);
#endif

    try {
        convert(options);
    } catch (const safe::Failure &e) {
        // Said of the output, which is what the user chose.
        std::fprintf(stderr, "nconvert: %s\n", e.what());
        return 1;
    } catch (const CannotKeep &e) {
        // Said of the photo, whose copy the program may have handed over under a name of its
        // own.
        std::fprintf(stderr, "nconvert: the photo's blocks cannot be kept: %s\n", e.what());
        return 3;
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
