// Lines, box outlines and filled boxes on an image or the screen's work page.
#pragma once

// rk_GfxLine and its line kinds are public (rkgfx.h).
#include "rkgfx.h"
