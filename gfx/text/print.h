// Printing on the graphics screen: the text runtime's output drawn as a grid
// of character cells with the screen's font, and the text cursor queries.
#pragma once
#include <cstddef>
#include <cstdint>

struct ConOutput;
struct ScreenHooks;

// Prints len bytes at the text cursor. Mask bit 0x8 makes an empty print
// still settle a pending line wrap.
void rk_GfxPrintBufferEx(const void *text, std::size_t len, int mask);
void rk_GfxPrintBuffer(const char *text, int mask);
// Characters above 255 print as '?', the others as their low byte.
void rk_GfxPrintBufferWstrEx(const uint32_t *text, std::size_t len, int mask);
void rk_GfxPrintBufferWstr(const uint32_t *text, int mask);

// The output window's routines: draw count glyphs at the window's cursor
// (a lone 0xFF draws the cursor mark, an underline) and record them in the
// work page's cells; scroll rows left..right, top..bottom up by rows.
int rk_hHookConWrite(ConOutput *w, const char *text, int count);
void rk_hHookConScroll(ConOutput *w, int left, int top, int right, int bottom, int rows);

// The 1-based text cursor and the grid size; null addresses are skipped.
int rk_GfxGetX();
int rk_GfxGetY();
void rk_GfxGetXY(int *col, int *row);
void rk_GfxGetSize(int *cols, int *rows);
// Reads the work page's cell at 1-based (col, row): mode 0 the character,
// else its colours (mode 2 the background in 16 and 32 bits). 0 outside
// the grid or without a screen.
uint32_t rk_GfxReadXY(int col, int row, int mode);

// The console view's screen hooks: the console's printing, its text cursor
// and grid queries and its cell reading.
extern const ScreenHooks rk_screenHooksPrint;
