// The software cursor: an arrow drawn into the framebuffer of the open screen
// just before a driver converts the changed lines and taken away just after,
// for displays that have no cursor of their own (the framebuffer device).
#pragma once
#include <cstdint>

// The arrow, one word per row from the top: pixel j of a row is bits 2j and
// 2j + 1 (0 transparent, 1 white, 2 black, 3 shadow). The hot spot is the
// top-left pixel.
inline constexpr int RK_CURSOR_W = 13;
inline constexpr int RK_CURSOR_H = 22;
extern const uint32_t cursor_data[RK_CURSOR_H];

// Allocates the area under the cursor for the open screen's pixel size and
// picks white and black. 0, or -1 without a screen or memory; put and unput
// then do nothing.
int rk_hSoftCursorInit();
void rk_hSoftCursorExit();
// On palette screens: white and black become the nearest entries of the
// palette in effect.
void rk_hSoftCursorPaletteChanged();
// Squared distance between palette entry `index` in effect and (r, g, b).
int rk_hColorDistance(int index, int red, int green, int blue);
// Saves the pixels under the cursor at (x, y), draws the arrow and marks its
// lines dirty; unput puts the saved pixels back and marks them dirty again.
// Both run under the driver lock.
void rk_hSoftCursorPut(int x, int y);
void rk_hSoftCursorUnput(int x, int y);
