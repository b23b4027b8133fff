// The terminal engine: walks printed text, handles the control bytes and
// hands runs of printable bytes to an output window's write routine,
// wrapping at its right edge and scrolling lazily at its bottom.
#pragma once
#include <cstddef>

#include "rkgfx.h"  // rk_Beep

struct ConOutput;
using ConScrollFn = void (*)(ConOutput *w, int left, int top, int right, int bottom, int rows);
using ConWriteFn = int (*)(ConOutput *w, const char *text, int count);

// One output window, built by the caller for each print. Cells are 0-based.
struct ConOutput {
    void *owner;  // the window's own data, for its routines
    ConScrollFn scroll;  // scrolls the area up by rows and puts y on bottom
    ConWriteFn write;    // writes count bytes at (x, y); 1 on success
    int left, top, right, bottom;  // bottom -1: the window never scrolls
    int x, y;
};

// Prints len bytes. With lf_returns a line feed also returns to the left edge.
void rk_ConPrintTTY(ConOutput *w, const char *text, std::size_t len, bool lf_returns);
// Writes printable bytes, wrapping at the right edge and scrolling first
// when the cursor lies below the bottom.
void rk_ConPrintRaw(ConOutput *w, const char *text, std::size_t len);
