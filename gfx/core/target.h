// Draw targets: the coordinate pipeline, the clipping view, image buffers and
// the emulated VGA palette ports. The drawing state and its target are in
// gfx/core/context.h, included here.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/context.h"
#include "rkgfx.h"  // the flags word, rk_GfxView, rk_GfxImageCreate/Destroy

void rk_hFixRelative(DrawContext *ctx, uint32_t flags, float *x1, float *y1, float *x2, float *y2);
void rk_hTranslateCoord(const DrawContext *ctx, float fx, float fy, int *x, int *y);
void rk_hFixCoordsOrder(int *x1, int *y1, int *x2, int *y2);
// Rounds half away from zero and saturates to the 32-bit range (NaN gives 0).
int rk_hRoundCoord(float v);

// rk_GfxImageCreate; `current` selects the 32-byte header form; false makes a compact image.
void *gfx_imagecreate(int width, int height, uint32_t color, int depth, uint32_t flags, bool current);

int rk_GfxIn(unsigned short port);
int rk_GfxOut(unsigned short port, int value);
