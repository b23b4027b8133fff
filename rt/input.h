// The input statement: a line read from the keyboard (or from redirected
// standard input) into the input context, and the tokeniser that splits it
// into values.
#pragma once
#include <cstddef>

// rk_ConsoleInput, rk_LineInput, rk_FileInput and rk_InputString are public
// (rkgfx.h): the line comes from standard input when it is redirected (the
// prompt is then released unprinted), else through the line-input hook.
#include "rkgfx.h"

// Makes `len` bytes of `text` the input context's line, read from its start.
// 0, or 4 when memory ran out.
int rk_hInputSetLine(const char *text, std::size_t len);

// Takes the next token of the line into buffer (capacity bytes plus a zero
// terminator) and returns its length. In string mode a token may be quoted
// and keeps inner spaces; otherwise spaces and tabs end it.
int rk_FileInputNextToken(char *buffer, int capacity, int is_string);
// One byte of the line (0..255), -1 at its end; and pushing it back.
int hReadChar();
void hUnreadChar(int c);
