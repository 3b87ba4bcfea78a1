#include "workspace/CmykColour.h"

#include <lcms2.h>

namespace {

// QImage's RGB32 in memory: B G R A on a little-endian machine, A R G B on a big-endian one.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number Rgb32Layout = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number Rgb32Layout = TYPE_ARGB_8;
#endif

// Little CMS reports through a handler of its own; a profile it cannot use simply gives no
// transform, so its words are not needed.
void quiet(cmsContext, cmsUInt32Number, const char *) {}

} // namespace

CmykToRgb::CmykToRgb(const QByteArray &iccProfile, bool inverted) : inverted_(inverted) {
    if (iccProfile.isEmpty()) {
        return;
    }
    static const bool quietened = (cmsSetLogErrorHandler(quiet), true);
    (void)quietened;
    const cmsHPROFILE source =
        cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size()));
    if (source == nullptr) {
        return;
    }
    if (cmsGetColorSpace(source) == cmsSigCmykData) {
        const cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        // The alpha byte of each output pixel is filled in before the transform, which leaves it
        // as it finds it.
        transform_ =
            cmsCreateTransform(source, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb, Rgb32Layout,
                               INTENT_PERCEPTUAL, cmsFLAGS_BLACKPOINTCOMPENSATION);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(source);
}

CmykToRgb::~CmykToRgb() {
    if (transform_ != nullptr) {
        cmsDeleteTransform(transform_);
    }
}

void CmykToRgb::convert(const uchar *cmyk, QRgb *out, int count) const {
    if (transform_ != nullptr) {
        for (int i = 0; i < count; ++i) {
            out[i] = 0xFF000000u;
        }
        cmsDoTransform(transform_, cmyk, out, cmsUInt32Number(count));
        return;
    }
    for (int i = 0; i < count; ++i, cmyk += 4) {
        // What is left of the light: (1 - ink) for each colour's ink and for black.
        const int light = inverted_ ? cmyk[3] : 255 - cmyk[3];
        const auto channel = [&](uchar ink) {
            const int own = inverted_ ? ink : 255 - ink;
            return (own * light + 127) / 255;
        };
        out[i] = qRgb(channel(cmyk[0]), channel(cmyk[1]), channel(cmyk[2]));
    }
}
