// Draw targets: the coordinate pipeline, the clipping view, image buffers and
// the emulated VGA palette ports. The drawing state and its target are in
// gfx/core/context.h, included here.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/context.h"

// Flags word of the drawing operations.
inline constexpr uint32_t RK_FLAG_COORD_MASK = 7;
inline constexpr uint32_t RK_FLAG_NO_COLOR2 = 0x40000000;
inline constexpr uint32_t RK_FLAG_NO_COLOR = 0x80000000;
inline constexpr int RK_VIEW_OMITTED = -32768;

void rk_hFixRelative(DrawContext *ctx, uint32_t flags, float *x1, float *y1, float *x2, float *y2);
void rk_hTranslateCoord(const DrawContext *ctx, float fx, float fy, int *x, int *y);
void rk_hFixCoordsOrder(int *x1, int *y1, int *x2, int *y2);
// Rounds half away from zero and saturates to the 32-bit range (NaN gives 0).
int rk_hRoundCoord(float v);

void rk_GfxView(int x1, int y1, int x2, int y2, uint32_t fill, uint32_t border, uint32_t flags);

// Null for bad arguments, without a screen, or when memory runs out.
void *rk_GfxImageCreate(int width, int height, uint32_t color, int depth, uint32_t flags);
// `current` selects the 32-byte header form; false makes a compact image.
void *gfx_imagecreate(int width, int height, uint32_t color, int depth, uint32_t flags, bool current);
void rk_GfxImageDestroy(void *image);

int rk_GfxIn(unsigned short port);
int rk_GfxOut(unsigned short port, int value);
