// The built-in fonts and default palettes, unpacked once per process into
// one data area by rk_hSetupData.
#pragma once
#include <cstdint>

// A bitmap font: 256 glyphs of `h` rows, one byte per row for width 8; bit 0
// of a row byte is the leftmost pixel.
struct FontDesc {
    int32_t w;
    int32_t h;
    const uint8_t *data;
};

// A default palette: `colors` entries of three bytes R, G, B (0..255).
struct PaletteDesc {
    int32_t colors;
    const uint8_t *data;
};

inline constexpr int RK_INTERNAL_DATA_SIZE = 10742;
extern uint8_t internal_data[RK_INTERNAL_DATA_SIZE];

extern const FontDesc rk_font_8x8, rk_font_8x14, rk_font_8x16;
extern const PaletteDesc rk_palette_2, rk_palette_16, rk_palette_64, rk_palette_256;

// Fills internal_data on its first call; later calls do nothing.
void rk_hSetupData();
