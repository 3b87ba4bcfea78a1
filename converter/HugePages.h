// A kept photo's coefficients fill a few arrays of tens of megabytes; faulting them in page by
// page costs about as much as decoding them. A program that keeps photos opts in once at start:
// its large blocks then come from the one heap, stay there when freed, and the part of the heap
// about to hold a photo's arrays is backed by huge pages where the system has them.
#pragma once

#include <cstddef>

// Opts the process in; call it at start, before other threads. Elsewhere a no-op.
void keepLargeArraysInHugePages();

// Makes room in the heap for `bytes` of arrays about to be allocated, backed by huge pages. Does
// nothing in a process that did not opt in, or for less than a huge page.
void makeRoomInHugePages(std::size_t bytes);
