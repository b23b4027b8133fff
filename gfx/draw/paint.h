// Flood fill: the 4-connected region of non-border pixels around a point,
// filled with a solid colour or an 8x8 tile of raw pixels.
#pragma once

// rk_GfxPaint is public (rkgfx.h).
#include "rkgfx.h"
