// Image puts: a rectangle of an image copied onto the current target through
// a per-rectangle blender routine, and the blenders this layer provides.
#pragma once
#include <cstdint>

#include "gfx/core/target.h"
#include "gfx/draw/blend.h"
#include "rkgfx.h"  // rk_GfxPut with its blenders rk_hPutTrans and rk_hPutAlphaMask
