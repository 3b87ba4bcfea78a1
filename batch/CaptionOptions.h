#pragma once

#include "text/Caption.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>
#include <filesystem>
#include <optional>

// Where a caption goes on a picture: one of nine places, a margin in from the edges.
enum class CaptionAnchor {
    TopLeft,
    Top,
    TopRight,
    Left,
    Center,
    Right,
    BottomLeft,
    Bottom,
    BottomRight
};

// Everything `glyphtack caption` was asked to do.
struct CaptionOptions {
    Caption caption;
    CaptionAnchor anchor = CaptionAnchor::BottomRight;
    int margin = 10;
    std::optional<QPoint> at;  // the caption's top-left corner, in pixels of the picture
    std::optional<int> width;  // the caption's width (the text wraps at it), in pixels
    std::optional<int> height; // the caption's height (a plate fills at least this), in pixels
    std::optional<double> heightShare; // the font's size as a share of the picture's height
    std::optional<int> quality;        // fixed JPG quality; none: smart, estimated from each input
    bool keepBlocks = true; // a JPEG written as JPG keeps its own blocks but the caption's
    QString format;         // "bmp", "jpg" or "png"; empty: each input's own
    // Every file name as its bytes, as it was given (platform/FileNames.h).
    std::filesystem::path outFolder;
    QByteArray namePattern = "{name}.{ext}"; // bytes, as the names it makes
    bool overwrite = false;
    int jobs = 0; // pictures at once; by default one per CPU this process may use
    QList<std::filesystem::path> files; // shared by copies of the options: one list however many
    // Work on a whole archive (batch/CaptionList.h): a list of pictures from a file, this run's
    // share of it, pictures already done, and a line per picture in a report.
    std::filesystem::path filesFrom; // "-" for standard input
    bool nulSeparated = false;       // the list's paths end with NUL rather than a line break
    int shard = 0;                   // this run takes shard `shard` of `shards` (0 to shards - 1)
    int shards = 1;
    bool skipExisting = false;
    std::filesystem::path reportPath;
    QString dateFormat = QStringLiteral("yyyy-MM-dd"); // {date} in the text
};

// The outcome of reading the command line: the options, or the text to show and how to end.
struct ParsedCaptionCommand {
    std::optional<CaptionOptions> options;
    QString message;  // help, or what is wrong with the command line
    int exitCode = 0; // when there are no options: 0 after --help, 2 for a bad command line
};

// Reads the arguments that follow "caption", as the bytes they are: file names keep theirs, the
// other values are read as text.
ParsedCaptionCommand ParseCaptionCommand(const QList<QByteArray> &arguments);

// The text --help shows.
QString CaptionCommandHelp();
