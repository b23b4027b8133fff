// The open screen: modes, opening and closing, pages, the text grid and the
// window title. The screen's record and the screen lock are in
// gfx/core/state.h and gfx/core/lock.h, included here.
#pragma once
#include <cstdint>

#include "rkgfx.h"
#include "gfx/core/display.h"
#include "gfx/core/lock.h"
#include "gfx/core/state.h"

// A numbered mode (or a custom resolution built on the stack).
struct ModeInfo {
    uint16_t w, h;
    uint8_t depth;
    uint8_t scanline_size;
    uint8_t num_pages;
    const PaletteDesc *palette;
    const FontDesc *font;
    uint16_t text_w, text_h;  // 16 bits, so that wide custom screens keep their grid
    float aspect;  // 0: computed from the size
};
inline constexpr int RK_NUM_MODES = 21;

// Counts the changes of character cells made outside the text module's
// fills (printing, scrolling, page copies): with it the module knows when
// cells it filled are still as it left them.
extern unsigned long rk_hCellChanges;
extern const ModeInfo mode_info[RK_NUM_MODES];

// The work of rk_GfxScreenRes and rk_GfxScreen, with `select` choosing and
// starting the driver. The two themselves are defined by the open layer
// (gfx/open/open.cpp): it connects the core with the drivers and with the
// modules above the core, then runs these.
int rk_hScreenRes(DriverSelectFn select, int width, int height, int depth, int pages, int flags, int refresh);
int rk_hScreen(DriverSelectFn select, int mode, int depth, int pages, int flags, int refresh);

