// Strings drawn at a pixel position with the screen's built-in font or with
// a font held in an image.
#pragma once
#include <cstdint>

#include "gfx/draw/put.h"

struct RkString;

// Draws `text` (released here) with its top-left corner at (x, y) on
// `target` (null: the screen's work page). flags: bits 0-2 coordinate mode,
// bit 31 use the foreground colour. With `font` null the screen's built-in
// font writes the set glyph bits in the colour; otherwise each glyph of the
// font image goes to `blender` as one rectangle with the colour, alpha and
// user_parameter passed through. Mode 6 takes the colour as a pixel value.
// Returns and records 1 for a missing string, a malformed font image or a
// missing blender, otherwise 0.
int rk_GfxDrawString(void *target, float x, float y, uint32_t flags, RkString *text, uint32_t color,
                     const void *font, int mode, BlenderFn blender, uint32_t alpha, void *user_parameter);
