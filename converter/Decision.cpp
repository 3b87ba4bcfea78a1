#include "Decision.h"

#include "SafeReplace.h"

#include <charconv>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace safe {

namespace {

bool readNumber(std::string_view text, std::uint64_t &number) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::string Decision::text() const {
    if (absent)
        return "absent";
    return std::to_string(device) + ":" + std::to_string(inode);
}

std::optional<Decision> Decision::parse(std::string_view text) {
    if (text == "absent")
        return Decision{};
    const std::size_t colon = text.find(':');
    Decision decision;
    decision.absent = false;
    if (colon == std::string_view::npos || !readNumber(text.substr(0, colon), decision.device) ||
        !readNumber(text.substr(colon + 1), decision.inode))
        return std::nullopt;
    return decision;
}

Decision decide(const fs::path &path) {
    const fs::path target = resolve(path);
    Decision decision;
#ifdef _WIN32
    // No inode to hold on to here: a file that stands at the name counts as decided.
    std::error_code ec;
    decision.absent = !fs::exists(target, ec);
#else
    struct stat info {};
    if (lstat(target.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw failureFor(errno, path);
        return decision;
    }
    decision.absent = false;
    decision.device = std::uint64_t(info.st_dev);
    decision.inode = std::uint64_t(info.st_ino);
#endif
    return decision;
}

void checkDecision(const fs::path &path, const Decision &decided) {
    Decision now;
    try {
        now = decide(path);
    } catch (const Failure &) {
        now.absent = false; // something that cannot be written over: not what was decided
    }
    if (now == decided)
        return;
    throw Failure(Problem::Changed,
                  decided.absent
                      ? "a file appeared at " + path.string() + " meanwhile; nothing was written"
                      : path.string() + " is no longer the file that was to be replaced; "
                                        "nothing was written");
}

} // namespace safe
