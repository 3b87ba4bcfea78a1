// A kept photo's coefficients fill a few arrays of tens of megabytes; faulting them in page by
// page costs about as much as decoding them. glibc's malloc backs large allocations with huge
// pages when its hugetlb tunable is set, and reads it only at start: so a program that keeps
// photos starts itself once more with it set, unless tunables were chosen for it already.
#pragma once

// Starts the running program again with glibc's hugetlb malloc tunable set, from the start of
// main with the same arguments; returns (and goes on as it is) where that is not possible or
// not needed.
void restartWithHugePages(char **argv);
