#include "HugePages.h"

#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <sys/auxv.h>
#include <unistd.h>
#endif

void restartWithHugePages(char **argv) {
#if defined(__linux__) && defined(__GLIBC__)
    // Started with another effective user than the real one, the C library drops such settings
    // at start: a restart would only start again without them, over and over.
    if (getauxval(AT_SECURE) != 0 || std::getenv("GLIBC_TUNABLES") != nullptr ||
        setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    unsetenv("GLIBC_TUNABLES"); // not restarted: go on as it is
#else
    (void)argv;
#endif
}
