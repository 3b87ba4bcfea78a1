#pragma once

// What a JPEG file says about itself before its image data: the frame, the quantization tables,
// and the metadata segments (APPn and COM) in the order the file holds them.

#include <QByteArray>
#include <QList>
#include <QPoint>

struct JpegSegment {
    quint8 marker = 0;  // 0xE0..0xEF (APPn) or 0xFE (COM)
    QByteArray payload; // without the marker and the two length bytes
};

struct JpegHeader {
    bool valid = false;        // SOI, then segments up to SOS with an SOF, all in bounds
    int width = 0, height = 0; // from SOF: the stored frame
    int components = 0;        // 1, 3 or 4
    QList<QPoint> sampling;    // per component: h and v sampling factors (x = h, y = v)
    bool progressive = false, arithmetic = false;
    int precision = 8;
    int restartInterval = 0;
    int adobeTransform = -1;     // from an APP14 "Adobe" segment, -1 when none
    QList<JpegSegment> segments; // every APPn and COM segment before the first SOS, in file order
    int orientation = 1; // IFD0 Orientation of the first APP1 "Exif\0\0" segment, 1..8; else 1
    QList<quint16> lumaQuantTable;   // the table of component 0, natural (row-major) order
    QList<quint16> chromaQuantTable; // the table of component 1, natural order; empty if none
    QList<int> quantTableOf;         // per component: the number of the table it uses
    int mcuWidth() const;            // 8 * largest h (one component: 8)
    int mcuHeight() const;           // 8 * largest v
};

// Reads only up to the first SOS; never reads outside `file`, whatever it holds.
JpegHeader ReadJpegHeader(const QByteArray &file);

// The quality (1..100) the file was most likely written at, from how its tables scale the
// standard luminance and chrominance tables, as the picture uses them: component 0's table is a
// luminance table, and component 1's a chrominance one unless it is the same table (an RGB JPEG
// whose components share one table reads as that table's quality); 0 when it has no table.
int EstimateJpegQuality(const JpegHeader &header);
