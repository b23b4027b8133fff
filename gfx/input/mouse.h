// The pointer state of the open screen, polled from its display driver.
#pragma once

// rk_GfxGetMouse and rk_GfxSetMouse are public (rkgfx.h).
#include "rkgfx.h"

struct ScreenHooks;

// The mouse's screen hooks: its console entries.
extern const ScreenHooks rk_screenHooksMouse;
