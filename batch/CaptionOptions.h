#pragma once

#include "text/Caption.h"

#include <QPoint>
#include <QString>
#include <QStringList>
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
    QString outFolder;
    QString namePattern = QStringLiteral("{name}.{ext}");
    bool overwrite = false;
    int jobs = 0; // pictures at once; 0: one per core
    QStringList files;
    // Work on a whole archive (batch/CaptionList.h): a list of pictures from a file, this run's
    // share of it, pictures already done, and a line per picture in a report.
    QString filesFrom;         // "-" for standard input
    bool nulSeparated = false; // the list's paths end with NUL rather than a line break
    int shard = 0;             // this run takes shard `shard` of `shards` (0 to shards - 1)
    int shards = 1;
    bool skipExisting = false;
    QString reportPath;
    QString dateFormat = QStringLiteral("yyyy-MM-dd"); // {date} in the text
};

// The outcome of reading the command line: the options, or the text to show and how to end.
struct ParsedCaptionCommand {
    std::optional<CaptionOptions> options;
    QString message;  // help, or what is wrong with the command line
    int exitCode = 0; // when there are no options: 0 after --help, 2 for a bad command line
};

// Reads the arguments that follow "caption".
ParsedCaptionCommand ParseCaptionCommand(const QStringList &arguments);

// The text --help shows.
QString CaptionCommandHelp();
