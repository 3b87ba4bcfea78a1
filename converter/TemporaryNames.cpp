// The names of the temporary files of safe replacements, and the removal of those that killed
// writers left behind (see SafeReplace.h).
#include "SafeReplace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <process.h>
#else
#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace safe {

namespace {

constexpr char kPrefix[] = ".glyphtack-";
constexpr char kSuffix[] = ".tmp";
constexpr std::size_t kHexDigits = 8;
// The name: prefix, the writer's process id, '-', a random number, suffix.
constexpr std::size_t kNameLength =
    sizeof kPrefix - 1 + kHexDigits + 1 + kHexDigits + sizeof kSuffix - 1;
long processId() {
#ifdef _WIN32
    return long(_getpid());
#else
    return long(getpid());
#endif
}

bool lowerHex(const std::string &text, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

#ifndef _WIN32
// True unless the system says no process of that id exists (one of another user counts).
bool processRuns(long pid) {
    return pid <= 0 || kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}
#endif

} // namespace

std::string temporaryName(std::uint32_t number) {
    char name[kNameLength + 1];
    std::snprintf(name, sizeof name, "%s%08lx-%08x%s", kPrefix, processId() & 0xffffffffL,
                  unsigned(number), kSuffix);
    return name;
}

bool isTemporaryName(const std::string &name) {
    const std::size_t prefix = sizeof kPrefix - 1;
    const std::size_t dash = prefix + kHexDigits;
    return name.size() == kNameLength && name.compare(0, prefix, kPrefix) == 0 &&
           lowerHex(name, prefix, kHexDigits) && name[dash] == '-' &&
           lowerHex(name, dash + 1, kHexDigits) &&
           name.compare(dash + 1 + kHexDigits, sizeof kSuffix - 1, kSuffix) == 0;
}

long temporaryOwner(const std::string &name) {
    if (!isTemporaryName(name))
        return 0;
    return std::strtol(name.substr(sizeof kPrefix - 1, kHexDigits).c_str(), nullptr, 16);
}

void removeLeftovers(const fs::path &folder) {
#ifdef _WIN32
    // A file that its writer still has open cannot be deleted here.
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, ec)) {
        if (isTemporaryName(entry.path().filename().string()))
            fs::remove(entry.path(), ec);
    }
#else
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = dirfd(dir);
    while (const dirent *entry = readdir(dir)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        // Only our own plain files whose writer is gone: no lock held on it, and its process no
        // longer running; the name must still be the file we locked.
        if (!processRuns(temporaryOwner(entry->d_name)) && fstat(fd, &opened) == 0 &&
            S_ISREG(opened.st_mode) && opened.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
            unlinkat(dirFd, entry->d_name, 0);
        close(fd);
    }
    closedir(dir);
#endif
}

} // namespace safe
