// Boxes on the current target, clipped to its view: the outlines and fills
// of the drawing operations, and the view's border and fill.
#pragma once
#include <cstdint>

struct DrawContext;

// Coordinates in target pixels with x1 <= x2 and y1 <= y2; colour already a
// pixel value; `fill` nonzero fills, otherwise a 16-bit styled outline.
void rk_hGfxBox(int x1, int y1, int x2, int y2, uint32_t color, int fill, uint32_t style);
// Fills the view with the background colour through the pixel routines set
// in `ctx`, marks it dirty when on display and puts the last point at its
// centre. The caller holds the screen lock.
void rk_hFillView(DrawContext *ctx);
