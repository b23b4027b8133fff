// Colour values per depth, the current colours, and palettes.
#pragma once
#include <cstdint>

// rk_GfxColor, rk_GfxPalette and rk_GfxPaletteUsing are public (rkgfx.h).
#include "rkgfx.h"

uint32_t rk_hMakeColor(int bpp, uint32_t c, int r, int g, int b);
uint32_t rk_hFixColor(int bpp, uint32_t c);
void rk_hRestorePalette();
// The colour images are created with and transparent puts skip.
uint32_t rk_hTransparentColor(int bpp);
