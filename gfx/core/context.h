// The drawing state's target: the context of the process, the target it
// draws on (the screen's work page or an image buffer) and the image headers
// it reads.
#pragma once
#include <cstdint>

#include "gfx/core/state.h"

// Image buffer, current form: 32-byte header then rows padded to 16 bytes.
// The compact form has a 4-byte header (bits 0-2 bytes per pixel, width in
// bits 3-15, height in the next 16 bits) and unpadded rows.
struct ImageHeader {
    uint32_t type;  // 7 marks the current form
    uint32_t bpp;
    uint32_t width;
    uint32_t height;
    uint32_t pitch;
    uint32_t reserved1;
    uint32_t reserved2[2];
};
static_assert(sizeof(ImageHeader) == 32);
inline constexpr uint32_t RK_IMAGE_TYPE = 7;

// Geometry of an image of either form as the drawing layer reads it.
struct ImageGeometry {
    int bpp, width, height, pitch;
    uint8_t *pixels;
    bool compact;
};
// Reads either header form at any address into `g`; a compact header's
// pixel size of 0 stands for `compact_bpp`. False when the header describes
// no drawable image: pixel sizes other than 1, 2 and 4, sizes beyond the
// 32-bit range, or rows longer than the pitch (`g` is filled all the same).
bool rk_hReadImageHeader(const void *image, int compact_bpp, ImageGeometry *g);
// The geometry of `image` as a draw target: compact images take the open
// screen's pixel size, so they must have been made for pixels at least as
// large (false otherwise, or with no screen open).
bool rk_hImageGeometry(const void *image, ImageGeometry *g);

DrawContext *rk_hGetContext();
// Makes `image` (null: the screen's work page) the current target and
// returns it; null for an image whose row table cannot grow, and the context
// then stays on its previous target.
const void *rk_hPrepareTarget(DrawContext *ctx, const void *image);
// rk_hPrepareTarget for the drawing operations: false, with error 4
// recorded, when the image cannot be made the target (draw nothing then).
[[nodiscard]] bool rk_hSelectTarget(DrawContext *ctx, const void *image);
void rk_hSetPixelTransfer(DrawContext *ctx, uint32_t color);
// True when the current target's rows are those of the page on display.
bool rk_hTargetIsVisible(const DrawContext *ctx);
// Marks rows first..last (clamped to the screen) of the page on display.
void rk_hMarkDirty(int first, int last);
