// Lines, box outlines and filled boxes on an image or the screen's work page.
#pragma once
#include <cstdint>

// Line kinds.
inline constexpr int RK_LINE = 0;
inline constexpr int RK_LINE_FILLED_BOX = 2;  // any other kind is a box outline

// Draws from (x1, y1) to (x2, y2) in user coordinates on `target` (an image,
// or null for the screen). The low 16 bits of `style` are the repeating
// pattern, bit 15 at the first endpoint. `flags` holds the coordinate mode
// and RK_FLAG_NO_COLOR (use the foreground colour).
void rk_GfxLine(const void *target, float x1, float y1, float x2, float y2, uint32_t color, int kind, uint32_t style,
                uint32_t flags);
