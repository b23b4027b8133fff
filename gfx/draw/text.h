// Strings drawn at a pixel position with the screen's built-in font or with
// a font held in an image.
#pragma once
#include <cstdint>

#include "gfx/draw/put.h"
#include "rkgfx.h"  // rk_GfxDrawString
