// Line input on the graphics screen: the line-input hooks and a simple
// block-cursor reader.
#pragma once

// rk_GfxLineInput, rk_GfxLineInputWstr and rk_GfxReadStr are public (rkgfx.h).
#include "rkgfx.h"

struct ScreenHooks;

// Line input's screen hooks: its console entries.
extern const ScreenHooks rk_screenHooksLineInput;
