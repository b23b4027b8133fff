// Colour values per depth, the current colours, and palettes.
#pragma once
#include <cstdint>

// Colour flags: bit 0 foreground not given, bit 1 background not given.
unsigned rk_GfxColor(unsigned fg, unsigned bg, int flags);
void rk_GfxPalette(int index, int color, int green, int blue);
void rk_GfxPaletteUsing(const int32_t *colors);
uint32_t rk_hMakeColor(int bpp, uint32_t c, int r, int g, int b);
uint32_t rk_hFixColor(int bpp, uint32_t c);
void rk_hRestorePalette();
// The colour images are created with and transparent puts skip.
uint32_t rk_hTransparentColor(int bpp);
