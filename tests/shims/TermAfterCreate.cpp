// Loaded into the converter by a test (LD_PRELOAD): the moment the converter has created one of
// its temporary files, SIGTERM arrives, as a scheduler's stop might at the worst time. The file
// must not outlive the converter.
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>

namespace {

bool IsTemporaryFile(const char *path, int flags) {
    const char *slash = std::strrchr(path, '/');
    const char *name = slash != nullptr ? slash + 1 : path;
    return (flags & O_CREAT) != 0 && (flags & O_EXCL) != 0 &&
           std::strncmp(name, ".glyphtack-", 11) == 0;
}

mode_t ModeOf(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 ? mode_t(va_arg(arguments, int)) : 0;
}

int Made(int fd, const char *path, int flags) {
    if (fd >= 0 && IsTemporaryFile(path, flags)) {
        std::raise(SIGTERM);
    }
    return fd;
}

template <class Function> Function Next(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto next = Next<int (*)(const char *, int, ...)>("open");
    return Made(next(path, flags, mode), path, flags);
}

int open64(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto next = Next<int (*)(const char *, int, ...)>("open64");
    return Made(next(path, flags, mode), path, flags);
}

int openat(int folder, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto next = Next<int (*)(int, const char *, int, ...)>("openat");
    return Made(next(folder, path, flags, mode), path, flags);
}

int openat64(int folder, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = ModeOf(flags, arguments);
    va_end(arguments);
    static const auto next = Next<int (*)(int, const char *, int, ...)>("openat64");
    return Made(next(folder, path, flags, mode), path, flags);
}
}
