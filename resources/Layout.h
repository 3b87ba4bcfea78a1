#pragma once

#include <QRect>

// The window layout, in twips relative to each control's container.
namespace Layout {

constexpr int TwipsPerPixel = 15;

struct Twips {
    int left, top, width, height;
    // The same rectangle in pixels at 15 twips to the pixel.
    constexpr QRect pixels() const {
        return QRect(px(left), px(top), px(width), px(height));
    }
    static constexpr int px(int twips) { return (twips + TwipsPerPixel / 2) / TwipsPerPixel; }
};

constexpr int ClientWidth = 15960;
constexpr int ClientHeight = 5790;

constexpr Twips Picture2{120, 135, 7530, 5325};
constexpr Twips Picture1{0, 0, 2340, 3435};
constexpr Twips Text1{0, 2190, 2205, 1035};
constexpr Twips RichTextBox1{120, 90, 2205, 1035};
constexpr Twips HScroll1{120, 5430, 7530, 255};
constexpr Twips VScroll1{7650, 120, 255, 5565};
constexpr Twips PushButton1{8040, 120, 3840, 405};
constexpr Twips PushButton7{12000, 120, 3840, 405};
constexpr Twips PushButton2{8040, 630, 3840, 405};
constexpr Twips PushButton3{12000, 630, 3840, 405};
constexpr Twips PushButton5{8040, 1140, 3840, 405};
constexpr Twips PushButton8{12000, 1140, 3840, 405};
constexpr Twips PushButton13{8040, 1650, 3840, 405};
constexpr Twips PushButton12{12000, 1650, 3840, 405};
constexpr Twips PushButton4{8040, 2160, 3840, 405};
constexpr Twips PushButton6{12000, 2160, 3840, 405};
constexpr Twips Frame1{8040, 2670, 7800, 855};
constexpr Twips PushButton10{120, 300, 3750, 405};
constexpr Twips PushButton11{3960, 300, 3750, 405};
constexpr Twips Frame2{8040, 3630, 7800, 2055};
constexpr Twips Option21{240, 300, 1515, 255};
constexpr Twips Option22{240, 650, 1455, 255};
constexpr Twips Frame4{480, 960, 6840, 885};
constexpr Twips Slider1{120, 240, 6600, 540};
constexpr Twips PushButton9{6720, 270, 600, 405};
constexpr Twips Zoom_Ori{10000, 10000, 735, 375};
constexpr Twips Creator{120, 11220, 495, 435};

// The viewport's sunken border, in pixels on each side.
constexpr int ViewportBorder = 2;

} // namespace Layout
