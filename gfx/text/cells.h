// Character cells of the graphics screen's text grid and the text cursor.
#pragma once
#include <cstdint>

#include "rkgfx.h"  // rk_GfxLocate

struct ScreenHooks;

// Frees every page's cell table; with `create`, makes new zeroed tables for
// the current grid and fills the work page's with spaces in the current
// colours. False when the new tables cannot be allocated: the old ones stay.
[[nodiscard]] bool rk_hResetCharCells(bool create);
// Fills cells [x1, x2) x [y1, y2) of `page` (ends exclusive).
void rk_hClearCharCells(int x1, int y1, int x2, int y2, int page, uint32_t ch, uint32_t fg, uint32_t bg);

// 0-based; negative keeps. Result (row << 8) | column, 8 bits each.
int rk_GfxLocateRaw(int row, int col);

// The cells' screen hooks: the console's locate, new cells for every grid
// set, and none left when the screen closes.
extern const ScreenHooks rk_screenHooksCells;
