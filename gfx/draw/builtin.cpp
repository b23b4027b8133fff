#include "gfx/draw/builtin.h"

#include <cstring>

uint8_t internal_data[RK_INTERNAL_DATA_SIZE];

const FontDesc rk_font_8x8{8, 8, internal_data + 0};
const FontDesc rk_font_8x14{8, 14, internal_data + 2048};
const FontDesc rk_font_8x16{8, 16, internal_data + 5632};
const PaletteDesc rk_palette_2{2, internal_data + 9728};
const PaletteDesc rk_palette_16{16, internal_data + 9734};
const PaletteDesc rk_palette_64{64, internal_data + 9782};
const PaletteDesc rk_palette_256{256, internal_data + 9974};

// Until the compressed font block lands, the palettes are computed here
// from the hardware rules they come from; the glyph area stays blank.
static uint8_t dac_to_8bit(int v)
{
    return static_cast<uint8_t>(v * 255 / 63);
}

static void put_rgb(uint8_t *p, int r, int g, int b)
{
    p[0] = dac_to_8bit(r);
    p[1] = dac_to_8bit(g);
    p[2] = dac_to_8bit(b);
}

static void build_palettes(uint8_t *area)
{
    uint8_t *p2 = area + 9728, *p16 = area + 9734, *p64 = area + 9782, *p256 = area + 9974;
    put_rgb(p2, 0, 0, 0);
    put_rgb(p2 + 3, 63, 63, 63);
    // CGA colours: bit 0 blue, 1 green, 2 red at 2/3, bit 3 adds 1/3 to each;
    // colour 6 is brown (green halved).
    for (int i = 0; i < 16; ++i) {
        int hi = (i & 8) ? 21 : 0;
        int r = ((i & 4) ? 42 : 0) + hi, g = ((i & 2) ? 42 : 0) + hi, b = ((i & 1) ? 42 : 0) + hi;
        if (i == 6)
            g = 21;
        put_rgb(p16 + 3 * i, r, g, b);
    }
    // EGA: bits 0-2 give 2/3 of blue, green, red; bits 3-5 add 1/3.
    for (int i = 0; i < 64; ++i) {
        int b = ((i & 1) ? 42 : 0) + ((i & 8) ? 21 : 0);
        int g = ((i & 2) ? 42 : 0) + ((i & 16) ? 21 : 0);
        int r = ((i & 4) ? 42 : 0) + ((i & 32) ? 21 : 0);
        put_rgb(p64 + 3 * i, r, g, b);
    }
    // VGA: the 16 CGA colours, a grey ramp, 9 hue rings, 8 blacks.
    std::memcpy(p256, p16, 48);
    static constexpr int grey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
    for (int i = 0; i < 16; ++i)
        put_rgb(p256 + 3 * (16 + i), grey[i], grey[i], grey[i]);
    static constexpr int level[9][5] = {
        {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
        {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
        {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
    };
    // Each ring walks blue -> magenta -> red -> yellow -> green -> cyan.
    static constexpr int ring[24][3] = {
        {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
        {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
        {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
    };
    for (int set = 0; set < 9; ++set)
        for (int k = 0; k < 24; ++k) {
            const int *l = level[set];
            put_rgb(p256 + 3 * (32 + set * 24 + k), l[ring[k][0]], l[ring[k][1]], l[ring[k][2]]);
        }
    std::memset(p256 + 3 * 248, 0, 24);
}

void rk_hSetupData()
{
    static bool done;
    if (done)
        return;
    build_palettes(internal_data);
    done = true;
}
