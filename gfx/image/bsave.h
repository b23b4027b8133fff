// Saving the screen's work page or an image buffer: a Windows bitmap (24 bits,
// or 8 bits with a colour table for 1-byte pixels) when the name ends in
// ".bmp" (any case), a PNG (8-bit RGB, or a 256-colour palette for 1-byte
// pixels) when it ends in ".png" (any case), else the raw memory-image format.
#pragma once

// rk_GfxBsave is public (rkgfx.h).
#include "rkgfx.h"
