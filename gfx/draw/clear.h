// Clearing the screen: the whole page, the text view or the graphics view,
// with the text cells under them.
#pragma once

#include "rkgfx.h"  // rk_GfxClear

struct ScreenHooks;

// The clear's screen hooks: the console's clear, and the whole page cleared
// once a changed text grid is in place.
extern const ScreenHooks rk_screenHooksClear;
