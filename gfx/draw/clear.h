// Boxes on the current target and clearing the screen.
#pragma once
#include <cstdint>

// Coordinates in target pixels with x1 <= x2 and y1 <= y2; colour already a
// pixel value; `fill` nonzero fills, otherwise a 16-bit styled outline.
void rk_hGfxBox(int x1, int y1, int x2, int y2, uint32_t color, int fill, uint32_t style);
// Mode 0 whole page, 2 the text view, others the graphics view;
// 0xFFFF0000 (no mode) picks one from the views that are set.
void rk_GfxClear(int mode);
