// The open screen: modes, opening and closing, pages, the text grid and the
// window title. The screen's record and the screen lock are in
// gfx/core/state.h and gfx/core/lock.h, included here.
#pragma once
#include <cstdint>

#include "gfx/core/display.h"
#include "gfx/core/lock.h"
#include "gfx/core/state.h"

struct RkString;

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
extern const ModeInfo mode_info[RK_NUM_MODES];

// Opening a screen (mode 0: back to text). Defined by the open layer
// (gfx/open/open.cpp): it connects the core with the drivers and with the
// modules above the core, then runs rk_hScreenRes or rk_hScreen.
int rk_GfxScreenRes(int width, int height, int depth, int pages, int flags, int refresh);
int rk_GfxScreen(int mode, int depth, int pages, int flags, int refresh);
// The work of the two, with `select` choosing and starting the driver.
int rk_hScreenRes(DriverSelectFn select, int width, int height, int depth, int pages, int flags, int refresh);
int rk_hScreen(DriverSelectFn select, int mode, int depth, int pages, int flags, int refresh);

uint8_t *rk_GfxScreenPtr();
// Negative pages stay as they are (both negative: page 0 for both). Returns
// (previous visible page << 8) | previous work page.
int rk_GfxPageSet(int work, int visible);
int rk_GfxFlip(int src, int dst);
int rk_GfxPageCopy(int src, int dst);
// Changes the text grid when the cells come out 8 pixels wide and as high as
// a built-in font (0 or less keeps that side). Returns the previous grid,
// columns | (rows << 16); the grid stays when its cells cannot be allocated
// (error 4).
int rk_GfxWidth(int cols, int rows);
void rk_GfxSetWindowTitle(RkString *title);
void rk_GfxViewUpdate();

