// Printing on the graphics screen: the text runtime's output drawn as a grid
// of character cells with the screen's font, and the text cursor queries.
#pragma once
#include <cstddef>
#include <cstdint>

#include "rkgfx.h"  // printing, the text cursor and the grid on the screen

struct ConOutput;
struct ScreenHooks;

// The output window's routines: draw count glyphs at the window's cursor
// (a lone 0xFF draws the cursor mark, an underline) and record them in the
// work page's cells; scroll rows left..right, top..bottom up by rows.
int rk_hHookConWrite(ConOutput *w, const char *text, int count);
void rk_hHookConScroll(ConOutput *w, int left, int top, int right, int bottom, int rows);

// The console view's screen hooks: the console's printing, its text cursor
// and grid queries and its cell reading.
extern const ScreenHooks rk_screenHooksPrint;
