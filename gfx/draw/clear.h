// Clearing the screen: the whole page, the text view or the graphics view,
// with the text cells under them.
#pragma once

struct ScreenHooks;

// Mode 0 whole page, 2 the text view, others the graphics view;
// 0xFFFF0000 (no mode) picks one from the views that are set.
void rk_GfxClear(int mode);

// The clear's screen hooks: the console's clear, and the whole page cleared
// once a changed text grid is in place.
extern const ScreenHooks rk_screenHooksClear;
