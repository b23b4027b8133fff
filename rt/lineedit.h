// The line editor: reads keys through rk_KeyHit and rk_Inkey and echoes
// through the console print, locate and cursor queries, so it works on the
// graphics screen and on the terminal alike.
#pragma once
#include <cstddef>

// rk_ConReadLineEx, rk_ConReadLine and rk_ConsoleLineInput are public (rkgfx.h).
#include "rkgfx.h"

// Moves the 1-based cursor (column, row) by delta cells along text that
// wraps at `columns`, and locates there. Just past the last cell of the
// grid the screen scrolls up one row and the cursor goes to column 1 of the
// last row.
void DoMove(int *column, int *row, int delta, int columns, int rows);

// A whole line input: settles a pending wrap, prints the prompt (narrow, or
// 32-bit characters with `wide`; nothing when null) and "? " after it with
// `question`, reads the line, and prints a line feed with `newline`.
// Returns the line as a temporary, or null when none could be allocated.
RkString *rk_hReadInputLine(const void *prompt, std::size_t prompt_len, bool wide, int question, int newline,
                            int soft_cursor);
// rk_hReadInputLine with a runtime-string prompt (released when temporary),
// the line assigned to the destination with rk_StrAssign. Returns 0, or 4
// when memory ran out (nothing is assigned then).
int rk_hLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline, int soft_cursor);
