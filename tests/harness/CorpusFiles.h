#pragma once

// The shared image corpus as the tests read it: its index, the renderings it holds of its own
// files, ImageMagick's decoding of a file made at test time, and how far two renderings differ.

#include <QImage>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

struct CorpusEntry {
    QString path; // relative to the corpus folder
    QString kind; // valid, questionable, malformed, reference or expected
};

// The entries of INDEX.tsv; empty when there is no index.
QList<CorpusEntry> ReadCorpusIndex(const QString &corpus);

// What the corpus itself says a file decodes to: a rendering of it (a "-output" picture beside
// it, one of the same name in a "reference" folder beside its own, or a picture of the same name
// beside it), or for the GIF test suite the expected first frame, or that it must not load.
struct CorpusExpectation {
    QImage image; // null when expectsError
    bool expectsError = false;
    QString source; // the file the expectation was read from
};
QMap<QString, CorpusExpectation> CorpusExpectations(const QString &corpus,
                                                    const QList<CorpusEntry> &entries);

// ImageMagick's decoding of one file, asked of its "convert" program.
struct MagickDecoding {
    QImage image;   // null when ImageMagick could not decode the file
    QString errors; // what it wrote on its error output
    QPoint at;      // for a GIF: where its first image lies on the canvas
};

// The "convert" program of ImageMagick, or empty when it is not installed.
QString MagickProgram();

// ImageMagick's decodings of the files (absolute paths): the first image (of a GIF only the
// image, without the canvas around it, whose colour readers choose differently), EXIF orientation
// applied, and for bitmaps (BM files and packed DIBs) the alpha channel ignored, as the program's
// own bitmap reader ignores it. One run of the program reads up to perRun files, several runs go
// at once. ImageMagick stops reporting after many messages in one run: where a file's messages
// matter, give it a run of its own (perRun 1).
QMap<QString, MagickDecoding> DecodeWithMagick(const QStringList &files, int perRun = 40);

// How far a picture is from a reference rendering of it, with the reference's transparent parts
// put on white (as the program shows them), or left out of the count (skipTransparent: pixels
// the reference leaves wholly transparent). Pixel by pixel the difference is the largest of the
// three channel differences (0..255).
struct PixelDifference {
    bool sameSize = false;
    int largest = 0;
    double mean = 0;       // over the pixels counted
    double shareOver3 = 0; // share of those pixels (0..1) more than 3 levels apart
    double shareOver8 = 0; // share of those pixels more than 8 levels apart
    // True when, channel by channel, the picture's levels are the reference's renamed in the
    // same order: each level of the reference shows as levels at most 1 apart, higher levels as
    // no lower ones, and the picture keeps at least half as many distinct levels. Readers that
    // scale channels narrower or wider than 8 bits differently (shifting, repeating the bits,
    // rounding) agree in this way.
    bool levelsInOrder = false;
};
PixelDifference ComparePictures(const QImage &picture, const QImage &reference,
                                bool skipTransparent = false);
