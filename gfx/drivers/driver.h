// Display drivers: the list they are chosen from, the Null driver, the
// selection that opening a screen runs, and the screen information asked of
// them. The table each driver fills is the core's (gfx/core/display.h).
#pragma once
#include <cstdint>

#include "gfx/core/display.h"
#include "rkgfx.h"

inline constexpr int RK_MAX_DRIVERS = 3;
// Null-terminated, in the order drivers are tried.
extern const DisplayDriver *__rk_gfx_drivers_list[RK_MAX_DRIVERS + 1];
extern const DisplayDriver __rk_gfxDriverNull;
// A program may name a driver in advance of "RIVEZ": __rk_gfx_driver_name
// (rkgfx.h).

// Chooses and opens a driver for the open screen; null when every pass fails.
const DisplayDriver *rk_hSelectDriver(const char *title, int w, int h, int depth, int refresh, int flags);

// Size, depth and refresh rate of the desktop or device: the answer of the
// first driver in the list that has one; all 0 when none does. Null
// addresses are skipped.
void rk_hScreenInfo(int *w, int *h, int *depth, int *refresh);
