// Opening a screen. rk_GfxScreenRes and rk_GfxScreen (declared with the
// screen in gfx/core/screen.h) are defined here, in the one layer that knows
// both the core and what is built on it: before the core opens a screen they
// fill its hook table and hand it the driver selection.
#pragma once

// Fills the core's hook table, once, in its documented order: text cells,
// key buffer, mouse, line input, console view, clear.
void rk_hOpenRegister();
