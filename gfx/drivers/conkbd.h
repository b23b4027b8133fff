// The console keyboard: on a Linux console the keyboard in medium-raw mode,
// polled by the terminal layer's background thread, feeding a ring of key
// codes, the held-key table, a console graphics driver's key handler and
// virtual-console switching; on any other terminal only the held-key table,
// read from the X server the terminal runs on.
//
// It plugs into the terminal layer's handler slots 17 to 20; a graphics
// driver hands it to the terminal layer with
// rk_hConsoleSetKeyboard(&rk_console_keyboard) before rk_hConsoleGfxMode.
#pragma once
#include <cstdint>

#include "rkgfx.h"  // rk_ConsoleMultikey
#include "rt/term.h"

// Linux key code -> PC scancode.
extern const uint8_t kernel_to_scancode[128];
// Keypad characters by keypad value (0-9, +, -, *, /, Enter, comma, period)
// with Num Lock on, and without it.
extern const uint8_t pad_numlock_ascii[17];
extern const uint8_t pad_ascii[17];

extern const RkConsoleKeyboardOps rk_console_keyboard;
