// The counting screen lock. Its outermost level holds the driver's lock, so
// that the driver's thread never presents a frame drawn in part; releasing a
// level marks the lines drawn under it.
#pragma once

// rk_GfxLock and rk_GfxUnlock are public (rkgfx.h).
#include "rkgfx.h"
