// Circles, ellipses and elliptic arcs on an image or the screen's work page.
#pragma once

// rk_GfxEllipse and RK_ELLIPSE_FULL are public (rkgfx.h).
#include "rkgfx.h"
