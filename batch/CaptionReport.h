#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <filesystem>

struct PictureResult;

// Whether the file at `path` is a complete picture of `format` ("bmp", "jpg", "png"): a plain file
// (not reached through a link) whose header reads as a picture of that format with a size, and
// whose format's end is present: a JPG's end-of-image marker as its last two bytes (or, for a JPG
// made from the JPEG `input` whose file ends in a maker's trailer, that trailer's last bytes), a
// PNG's IEND chunk as its last twelve, a BMP's size in its header equal to the file's. A file cut
// short is not complete.
bool IsCompleteOutput(const std::filesystem::path &path, const QString &format,
                      const std::filesystem::path &input = {});

// The --report file: one JSON object a line for each picture, added as each one ends and written
// out at once, so the lines so far survive a run that is stopped. A report that exists is added
// to; its folder is made when missing. A name that is not UTF-8 is given as text for a person
// and, in "input_bytes" or "output_bytes", as its very bytes in base64. Once a line cannot be
// written no more are added, and the run learns why from error(). Safe to use from several
// threads at once.
class CaptionReport {
public:
    // Opens the report; false, with the reason in error(), when it cannot be written.
    bool open(const std::filesystem::path &path);
    // Adds the picture's line; does nothing when no report was opened or one write failed.
    void add(const PictureResult &result);
    // Makes the lines written so far durable and closes the report; false, with the reason in
    // error(), when a line could not be written or the report cannot be completed.
    bool close();
    bool failed() const;
    QString error() const;

private:
    mutable QMutex mutex_;
    QFile file_;
    QString error_;
};
