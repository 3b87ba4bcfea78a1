#include "HugePages.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace {

std::atomic<bool> optedIn{false};

} // namespace

void keepLargeArraysInHugePages() {
#if defined(__linux__) && defined(__GLIBC__)
    // One heap for every thread, no mapping of its own for a large block and nothing given back
    // when freed: the room made for one photo serves its arrays, and the next photo's after it.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
    optedIn = true;
#endif
}

void makeRoomInHugePages(std::size_t bytes) {
#if defined(__linux__) && defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    if (!optedIn || bytes < 2 * huge)
        return;
    // The heap grows to hold the block, which is freed at once: the arrays allocated next are
    // carved from the same addresses. Only the advice is kept; no page is touched here.
    void *room = std::malloc(bytes);
    if (room == nullptr)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(room);
    const std::uintptr_t first = (start + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (start + bytes) & ~(huge - 1);
    if (end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    std::free(room);
#else
    (void)bytes;
#endif
}
