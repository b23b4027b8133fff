// Image puts: a rectangle of an image copied onto the current target through
// a per-rectangle blender routine, and the blenders this layer provides.
#pragma once
#include <cstdint>

#include "gfx/core/target.h"
#include "gfx/draw/blend.h"

inline constexpr int RK_NO_RECT = static_cast<int>(0xFFFF0000u);
inline constexpr int RK_PUT_ALPHA = 6;  // put mode that turns 8-bit images into alpha masks

// Puts `image` (either header form) with its top-left corner at (x, y) on
// `target` (null: the screen's work page). sx1 = RK_NO_RECT puts the whole
// image, otherwise the source rectangle (sx1, sy1)-(sx2, sy2) clamped to it.
// coord_mode bit 1: (x, y) relative to the last point; bit 0: the second
// corner relative to the first. Records error 1 for a missing image, no
// screen, a missing blender or mismatched pixel sizes, 0 otherwise.
void rk_GfxPut(void *target, float x, float y, const void *image, int sx1, int sy1, int sx2, int sy2, int coord_mode,
               int mode, BlenderFn blender, uint32_t alpha, intptr_t user_function, void *user_parameter);

// Skips source pixels of the mask colour (0, 0xF81F, or 0x??FF00FF whatever
// its alpha); 32-bit pixels are written with a zero alpha byte. Uses the
// current target's pixel size.
void rk_hPutTrans(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                  uint32_t alpha, intptr_t user_function, void *user_parameter);
// 8-bit source onto 32-bit pixels: the source byte becomes the alpha byte.
void rk_hPutAlphaMask(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                      uint32_t alpha, intptr_t user_function, void *user_parameter);
