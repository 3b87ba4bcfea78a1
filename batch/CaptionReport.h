#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

struct PictureResult;

// Whether the file at `path` is a complete picture of `format` ("bmp", "jpg", "png"): not empty,
// and its format's end present: a JPG's end-of-image marker as its last two bytes (or, for a JPG
// made from the JPEG `input` whose file ends in a maker's trailer, that trailer's last bytes), a
// PNG's IEND chunk as its last twelve, a BMP's size in its header equal to the file's. A file
// cut short by a run that was stopped is not complete.
bool IsCompleteOutput(const QString &path, const QString &format, const QString &input = {});

// The --report file: one JSON object a line for each picture, added as each one ends and written
// out at once, so the lines so far survive a run that is stopped. A report that exists is added
// to; its folder is made when missing. Safe to use from several threads at once.
class CaptionReport {
public:
    // Opens the report; false, with the reason in error(), when it cannot be written.
    bool open(const QString &path);
    QString error() const { return file_.errorString(); }
    // Adds the picture's line; does nothing when no report was opened.
    void add(const PictureResult &result);

private:
    QMutex mutex_;
    QFile file_;
};
