#pragma once

// CMYK pixels as libjpeg hands them out (four bytes a pixel, C M Y K) turned into RGB: through
// the photo's own ICC profile with Little CMS where it has a usable CMYK one, into sRGB with the
// profile's perceptual intent; otherwise by the plain device formula (each ink taking away its
// share of light), which is what a photo without a profile is meant to be read with.

#include <QByteArray>
#include <QRgb>

#include <memory>

class CmykToRgb {
public:
    // `inverted`: the file stores ink amounts inverted (0 is full ink), as Adobe's programs
    // write them (the file carries an Adobe segment).
    CmykToRgb(const QByteArray &iccProfile, bool inverted);
    ~CmykToRgb();
    CmykToRgb(const CmykToRgb &) = delete;
    CmykToRgb &operator=(const CmykToRgb &) = delete;

    // Converts `count` pixels into opaque RGB32 values.
    void convert(const uchar *cmyk, QRgb *out, int count) const;
    // True when the photo's profile is used.
    bool usesProfile() const { return transform_ != nullptr; }

private:
    void *transform_ = nullptr; // a Little CMS transform
    bool inverted_;
};
