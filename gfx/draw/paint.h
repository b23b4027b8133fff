// Flood fill: the 4-connected region of non-border pixels around a point,
// filled with a solid colour or an 8x8 tile of raw pixels.
#pragma once
#include <cstdint>

struct RkString;

// Mode 0 fills solid, 1 with the tile taken from `tile` (up to 256 raw
// bytes, 8 rows of 8 pixels), any other value with an all-zero tile.
// Flags: coordinate mode in bits 0-2, RK_FLAG_NO_COLOR uses the foreground
// colour, RK_FLAG_NO_COLOR2 makes the fill colour the border. The temporary
// `tile` is released. When the fill's bookkeeping (or the target's row
// table) cannot be allocated, nothing is written and error 4 is recorded.
void rk_GfxPaint(void *target, float x, float y, uint32_t fill_color, uint32_t border_color, RkString *tile,
                 int mode, uint32_t flags);
