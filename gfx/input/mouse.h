// The pointer state of the open screen, polled from its display driver.
#pragma once

struct ScreenHooks;

// x and y in screen pixels, the driver's wheel position, buttons (1 left,
// 2 right, 4 middle) and whether the pointer is confined to the window.
// Any of the five addresses may be null. Returns 0, or 1 with all five set to
// -1 when there is no screen or the driver has no pointer state.
int rk_GfxGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
// Moves the pointer (negative x: stays), shows or hides it (negative: as
// is) and confines or releases it (negative: as is). 1 when there is no
// screen or the driver cannot.
int rk_GfxSetMouse(int x, int y, int cursor, int clip);

// The mouse's screen hooks: its console entries.
extern const ScreenHooks rk_screenHooksMouse;
