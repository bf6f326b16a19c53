// Host-side generator for the application icon (VLMApp.ico) and the image-list
// strips of button glyphs (ILButton.bmp at 16 pixels, ILButton125/150/200.bmp
// for the larger display scales). The pictures are drawn from simple
// geometry so they can be tweaked here instead of in a paint program.
//
// Usage: MakeImages <output-folder>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// 0xAARRGGBB; alpha 0 marks a transparent pixel, anything else is opaque.
using Colour = std::uint32_t;
constexpr Colour kClear = 0;

constexpr Colour rgb(int r, int g, int b) { return 0xFF000000u | (Colour(r) << 16) | (Colour(g) << 8) | Colour(b); }
constexpr int red(Colour c) { return int(c >> 16) & 0xFF; }
constexpr int green(Colour c) { return int(c >> 8) & 0xFF; }
constexpr int blue(Colour c) { return int(c) & 0xFF; }

struct Canvas {
    int w, h;
    std::vector<Colour> px;
    Canvas(int width, int height) : w(width), h(height), px(std::size_t(width * height), kClear) {}
    Colour& at(int x, int y) { return px[std::size_t(y * w + x)]; }
    Colour at(int x, int y) const { return px[std::size_t(y * w + x)]; }

    // Calls paint(x, y) with pixel-centre coordinates; a non-clear result is stored.
    template <class F>
    void shade(int x0, int y0, int x1, int y1, F paint) {
        for (int y = std::max(y0, 0); y < std::min(y1, h); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, w); ++x)
                if (Colour c = paint(x + 0.5, y + 0.5); c != kClear) at(x, y) = c;
    }
    void fill(int x0, int y0, int x1, int y1, Colour c) {
        shade(x0, y0, x1, y1, [c](double, double) { return c; });
    }
};

// Distance from point p to the segment a-b.
double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// ---- drawing ---------------------------------------------------------------

constexpr Colour kOutline = rgb(36, 36, 44);

struct PanelTones {
    Colour light, face, dark;
};

// An outlined face, lit along its top edge and shaded along its bottom one;
// withSides bevels the left and right edges the same way.
void panel(Canvas& c, int x0, int y0, int x1, int y1, PanelTones t, bool withSides) {
    c.fill(x0, y0, x1, y1, kOutline);
    ++x0, ++y0, --x1, --y1;
    c.fill(x0, y0, x1, y1, t.face);
    c.fill(x0, y0, x1, y0 + 1, t.light);
    if (withSides) c.fill(x0, y0, x0 + 1, y1, t.light);
    c.fill(x0, y1 - 1, x1, y1, t.dark);
    if (withSides) c.fill(x1 - 1, y0 + 1, x1, y1, t.dark);
}

void drawComputer(Canvas& c) {
    const Colour light = rgb(240, 234, 216), face = rgb(214, 206, 182), dark = rgb(158, 150, 128);

    // Monitor: outlined beige frame, bevelled light top-left and dark bottom-right.
    panel(c, 1, 1, 26, 21, {light, face, dark}, true);

    // Screen: sunken edge, blue getting lighter towards the top, one glare streak.
    c.fill(4, 4, 23, 17, dark);
    c.fill(5, 5, 23, 17, light);
    c.fill(5, 5, 22, 16, kOutline);
    c.shade(6, 6, 22, 16, [](double x, double y) {
        if (std::abs((x + y) - 17.0) < 1.0 && y < 10) return rgb(150, 190, 245);
        return y < 9 ? rgb(60, 110, 210) : y < 12 ? rgb(40, 84, 186) : rgb(28, 60, 156);
    });
    c.fill(20, 18, 22, 19, rgb(60, 200, 80));  // power light

    // Neck and foot.
    c.fill(10, 21, 17, 23, kOutline);
    c.fill(11, 21, 16, 22, dark);

    // Flat case under the monitor, lit only along its top, with a drive slot.
    panel(c, 2, 23, 26, 30, {light, face, dark}, false);
    c.fill(5, 26, 13, 27, kOutline);
}

void drawDisc(Canvas& c) {
    constexpr double cx = 23.0, cy = 23.0, r = 8.9, hole = 1.9;
    c.shade(14, 14, 32, 32, [](double x, double y) -> Colour {
        const double d = std::hypot(x - cx, y - cy);
        if (d > r) return kClear;
        if (d > r - 1.0) return kOutline;
        if (d < hole) return kClear;  // punched out below
        if (d < hole + 1.0) return kOutline;
        if (d < 4.0) return rgb(226, 230, 238);  // clear hub ring
        // Silver surface tinted with a rainbow that sweeps with the angle; a few
        // discrete hues keep the icon palette small and the pixels clean.
        const double a = std::atan2(y - cy, x - cx);
        const int sector = int(std::floor((a + std::numbers::pi) / (2 * std::numbers::pi) * 12)) % 12;
        static constexpr Colour tint[12] = {
            rgb(255, 120, 120), rgb(255, 190, 110), rgb(250, 240, 120), rgb(150, 230, 130),
            rgb(120, 220, 220), rgb(130, 160, 255), rgb(200, 140, 250), rgb(255, 130, 210),
            rgb(255, 150, 120), rgb(240, 230, 140), rgb(140, 220, 200), rgb(150, 170, 255),
        };
        // A light diagonal band through the centre reads as a reflection.
        const bool glare = std::abs((x - cx) - (y - cy)) < 1.2;
        const int silver = glare ? 248 : d > 6.3 ? 184 : 206;
        const double mix = glare ? 0.1 : 0.6;
        const Colour t = tint[sector];
        return rgb(int(silver + (red(t) - silver) * mix), int(silver + (green(t) - silver) * mix),
                   int(silver + (blue(t) - silver) * mix));
    });
    // Whatever lies behind the hole is a jumble of computer parts at this size;
    // letting the desktop show through reads as a hole far more clearly.
    for (int y = 20; y < 26; ++y)
        for (int x = 20; x < 26; ++x)
            if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < hole) c.at(x, y) = kClear;
}

Canvas drawIcon() {
    Canvas c(32, 32);
    drawComputer(c);
    drawDisc(c);
    return c;
}

constexpr Colour kKey = rgb(255, 0, 255);

// The glyphs are drawn in a 16-unit square; a glyph of size pixels maps each
// pixel centre into it, so that every scale gets the same shapes with edges
// as sharp as at 16 pixels.
template <class F>
void shadeGlyph(Canvas& c, int ox, int size, F paint) {
    const double unit = 16.0 / size;
    c.shade(ox, 0, ox + size, size, [=](double x, double y) { return paint((x - ox) * unit, y * unit); });
}

void drawCross(Canvas& c, int ox, int size) {
    shadeGlyph(c, ox, size, [](double x, double y) -> Colour {
        const double d = std::min(segmentDistance(x, y, 3, 3, 13, 13), segmentDistance(x, y, 13, 3, 3, 13));
        return d <= 1.0 ? rgb(228, 36, 36) : d <= 1.9 ? rgb(140, 0, 0) : kClear;
    });
}

struct ButtonTones {
    Colour rim, body, highlight, arrow;
};

void drawButton(Canvas& c, int ox, int size, ButtonTones tones) {
    shadeGlyph(c, ox, size, [tones](double x, double y) -> Colour {
        const double d = std::hypot(x - 8.0, y - 8.0);
        if (d > 7.1) return kClear;
        if (d > 6.1) return tones.rim;
        // Arrow pointing right: a short shaft into a triangular head.
        const double dy = std::abs(y - 8.0);
        if ((x > 3.5 && x < 8.5 && dy < 1.5) || (x > 7.5 && x < 12.5 && dy < 12.5 - x)) return tones.arrow;
        // A lit crescent along the upper-left inside of the rim.
        return d > 4.6 && (x - 8.0) + (y - 8.0) < -3.5 ? tones.highlight : tones.body;
    });
}

// The strip of the three glyphs, each size by size pixels.
Canvas drawGlyphs(int size) {
    Canvas c(3 * size, size);
    drawCross(c, 0, size);
    drawButton(c, size, size, {rgb(20, 100, 30), rgb(50, 170, 60), rgb(110, 210, 110), rgb(255, 255, 255)});
    drawButton(c, 2 * size, size, {rgb(96, 96, 96), rgb(150, 150, 150), rgb(190, 190, 190), rgb(238, 238, 238)});
    for (Colour& p : c.px)
        if (p == kClear) p = kKey;
    return c;
}

// ---- file formats ------------------------------------------------------------

struct Bytes {
    std::vector<std::uint8_t> v;
    void u8(unsigned x) { v.push_back(std::uint8_t(x)); }
    void u16(unsigned x) {
        u8(x & 0xFF);
        u8(x >> 8);
    }
    void u32(std::uint32_t x) {
        u16(x & 0xFFFF);
        u16(x >> 16);
    }
    // A colour as the file formats store it: blue, green, red, a zero byte.
    void bgr0(Colour c) {
        u8(unsigned(blue(c)));
        u8(unsigned(green(c)));
        u8(unsigned(red(c)));
        u8(0);
    }
    void pad4() {
        while (v.size() % 4) u8(0);
    }
};

void infoHeader(Bytes& b, int width, int height, int bits, std::uint32_t imageSize) {
    b.u32(40);
    b.u32(std::uint32_t(width));
    b.u32(std::uint32_t(height));
    b.u16(1);  // planes
    b.u16(unsigned(bits));
    b.u32(0);  // BI_RGB
    b.u32(imageSize);
    b.u32(0);  // resolution is meaningless for these images
    b.u32(0);
    b.u32(0);  // colours used: 0 means "all" for the bit depth
    b.u32(0);
}

std::vector<std::uint8_t> encodeIcon(const Canvas& c) {
    // Index 0 is black so that transparent pixels (XOR value 0 under an AND bit
    // of 1) leave the screen untouched.
    std::vector<Colour> palette{rgb(0, 0, 0)};
    std::map<Colour, unsigned> index{{rgb(0, 0, 0), 0}};
    for (Colour p : c.px)
        if (p != kClear && index.emplace(p, unsigned(palette.size())).second) palette.push_back(p);
    if (palette.size() > 256) throw std::runtime_error("icon uses more than 256 colours");
    palette.resize(256, rgb(0, 0, 0));

    Bytes img;
    const std::uint32_t xorSize = std::uint32_t(c.h * ((c.w + 3) / 4 * 4));
    const std::uint32_t andSize = std::uint32_t(c.h * ((c.w + 31) / 32 * 4));
    infoHeader(img, c.w, c.h * 2, 8, xorSize + andSize);  // height covers XOR and AND halves
    for (Colour p : palette) img.bgr0(p);
    for (int y = c.h - 1; y >= 0; --y) {
        for (int x = 0; x < c.w; ++x) img.u8(c.at(x, y) == kClear ? 0 : index.at(c.at(x, y)));
        img.pad4();
    }
    for (int y = c.h - 1; y >= 0; --y) {
        for (int x = 0; x < c.w; x += 8) {
            unsigned bits = 0;
            for (int i = 0; i < 8 && x + i < c.w; ++i)
                if (c.at(x + i, y) == kClear) bits |= 0x80u >> i;
            img.u8(bits);
        }
        img.pad4();
    }

    Bytes file;
    file.u16(0);  // reserved
    file.u16(1);  // resource type: icon
    file.u16(1);  // image count
    file.u8(unsigned(c.w));
    file.u8(unsigned(c.h));
    file.u8(0);  // colour count: 0 for 256
    file.u8(0);
    file.u16(1);  // planes
    file.u16(8);  // bits per pixel
    file.u32(std::uint32_t(img.v.size()));
    file.u32(6 + 16);  // image data follows the single directory entry
    file.v.insert(file.v.end(), img.v.begin(), img.v.end());
    return file.v;
}

std::vector<std::uint8_t> encodeBitmap(const Canvas& c) {
    const std::uint32_t imageSize = std::uint32_t(c.w * c.h * 4);
    Bytes b;
    b.u8('B');
    b.u8('M');
    b.u32(14 + 40 + imageSize);
    b.u32(0);        // reserved
    b.u32(14 + 40);  // pixel data offset
    infoHeader(b, c.w, c.h, 32, imageSize);
    for (int y = c.h - 1; y >= 0; --y)
        for (int x = 0; x < c.w; ++x) b.bgr0(c.at(x, y));  // alpha unused; the key colour provides the mask
    return b.v;
}

void save(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        save(dir / "VLMApp.ico", encodeIcon(drawIcon()));
        // One strip per common display scale (100, 125, 150 and 200 %).
        for (const auto& [size, name] : {std::pair{16, "ILButton.bmp"}, std::pair{20, "ILButton125.bmp"},
                                         std::pair{24, "ILButton150.bmp"}, std::pair{32, "ILButton200.bmp"}})
            save(dir / name, encodeBitmap(drawGlyphs(size)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "MakeImages: %s\n", e.what());
        return 1;
    }
    return 0;
}
