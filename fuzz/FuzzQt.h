// What the Qt-based fuzz targets share: one offscreen application for the whole run, and a
// private folder for the files a target writes.
#pragma once

#include <QString>
#include <QtGlobal>

// The picture budget the fuzz targets give the readers: 256 MB of 32-bit pixels (64 million
// pixels) instead of the program's 2 GB. Within the program's budget a few bytes of RLE, GIF or
// JPEG data may rightly claim a picture of gigabytes, and decoding that takes seconds and
// gigabytes every time; the fuzzer would report each as a hang or a memory blow-up and spend its
// time filling pixels. The refusal of pictures over the budget is the same code either way, and
// test_hostile checks it at the real budget.
inline constexpr qint64 FuzzPictureBudgetBytes = qint64(256) * 1024 * 1024;

// Creates the QGuiApplication (offscreen platform) once; call from LLVMFuzzerInitialize.
void StartFuzzApplication(int *argc, char ***argv);

// A folder of this process's own, removed at exit.
QString FuzzScratchFolder();
