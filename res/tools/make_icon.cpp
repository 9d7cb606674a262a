// Draws the application icon: the brand mark (two white rings and a gold dot) on a dark
// rounded square, at 16, 20, 24, 32, 48, 64 and 256 pixels, written as one .ico file with
// 32-bit images. Built and run on the build machine; usage: make_icon <output.ico>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;  // straight colour, 0 ... 1
};

constexpr Rgba BACKGROUND = {0x1E / 255.0, 0x1E / 255.0, 0x1E / 255.0, 1.0};
constexpr Rgba RING = {1.0, 1.0, 1.0, 1.0};
constexpr Rgba DOT = {0xC4 / 255.0, 0x93 / 255.0, 0x3F / 255.0, 1.0};  // #C4933F

constexpr int SIZES[] = {16, 20, 24, 32, 48, 64, 256};

// The mark in design units of a 160-unit box: large ring at (65, 80) radius 50, small ring at
// (125, 80) radius 32, both 10 units wide; dot at (65, 80) radius 14. The drawn shapes span
// x 10 ... 162 and y 25 ... 135.
struct Mark {
    double originX, originY, unit;
};

Mark FitMark(int size)
{
    const double unit = 0.84 * size / 152.0;  // the mark's 152-unit width takes 84 % of the icon
    return {size / 2.0 - 86.0 * unit, size / 2.0 - 80.0 * unit, unit};
}

bool InRoundedSquare(double x, double y, int size)
{
    const double radius = 0.2 * size;
    const double cx = std::fmin(std::fmax(x, radius), size - radius);
    const double cy = std::fmin(std::fmax(y, radius), size - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// Colour of one sample point (premultiplied is not needed: every shape is opaque).
Rgba Sample(double x, double y, int size, const Mark& m)
{
    if (!InRoundedSquare(x, y, size)) return {0, 0, 0, 0};
    const double ux = (x - m.originX) / m.unit;
    const double uy = (y - m.originY) / m.unit;
    const double large = std::hypot(ux - 65.0, uy - 80.0);
    const double small = std::hypot(ux - 125.0, uy - 80.0);
    if (large <= 14.0) return DOT;
    if (std::fabs(large - 50.0) <= 5.0 || std::fabs(small - 32.0) <= 5.0) return RING;
    return BACKGROUND;
}

// BGRA rows top-down, straight alpha, averaged over a grid of samples per pixel.
std::vector<uint8_t> Render(int size)
{
    const int grid = size <= 64 ? 8 : 4;
    const Mark mark = FitMark(size);
    std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * 4);
    for (int py = 0; py < size; py++) {
        for (int px = 0; px < size; px++) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < grid; sy++) {
                for (int sx = 0; sx < grid; sx++) {
                    const Rgba c = Sample(px + (sx + 0.5) / grid, py + (sy + 0.5) / grid, size, mark);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            }
            uint8_t* out = &pixels[(static_cast<size_t>(py) * size + px) * 4];
            if (a > 0) {
                out[0] = static_cast<uint8_t>(std::lround(255.0 * b / a));
                out[1] = static_cast<uint8_t>(std::lround(255.0 * g / a));
                out[2] = static_cast<uint8_t>(std::lround(255.0 * r / a));
            }
            out[3] = static_cast<uint8_t>(std::lround(255.0 * a / (grid * grid)));
        }
    }
    return pixels;
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: BITMAPINFOHEADER (double height), bottom-up BGRA rows, then the AND mask.
std::vector<uint8_t> IconImage(int size)
{
    const std::vector<uint8_t> pixels = Render(size);
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    for (int i = 0; i < 6; i++) Put32(out, 0);  // BI_RGB, size, resolution, colours
    for (int y = size - 1; y >= 0; y--)
        out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y) * size * 4,
                   pixels.begin() + static_cast<std::ptrdiff_t>(y + 1) * size * 4);
    const int maskStride = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; y--) {
        std::vector<uint8_t> row(static_cast<size_t>(maskStride), 0);
        for (int x = 0; x < size; x++)
            if (pixels[(static_cast<size_t>(y) * size + x) * 4 + 3] == 0) row[x / 8] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_icon <output.ico>\n");
        return 2;
    }
    constexpr int count = sizeof(SIZES) / sizeof(SIZES[0]);
    std::vector<std::vector<uint8_t>> images;
    for (int size : SIZES) images.push_back(IconImage(size));

    std::vector<uint8_t> file;
    Put16(file, 0);
    Put16(file, 1);  // icon
    Put16(file, count);
    uint32_t offset = 6 + 16 * count;
    for (int i = 0; i < count; i++) {
        file.push_back(static_cast<uint8_t>(SIZES[i] >= 256 ? 0 : SIZES[i]));
        file.push_back(static_cast<uint8_t>(SIZES[i] >= 256 ? 0 : SIZES[i]));
        file.push_back(0);  // colour count
        file.push_back(0);
        Put16(file, 1);
        Put16(file, 32);
        Put32(file, static_cast<uint32_t>(images[i].size()));
        Put32(file, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

    FILE* out = fopen(argv[1], "wb");
    if (!out) {
        perror(argv[1]);
        return 1;
    }
    const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    if (fclose(out) != 0 || !written) {
        fprintf(stderr, "make_icon: could not write %s\n", argv[1]);
        remove(argv[1]);
        return 1;
    }
    return 0;
}
