// The input statement: a line read from the keyboard (or from redirected
// standard input) into the input context, and the tokeniser that splits it
// into values.
#pragma once
#include <cstddef>

struct RkString;

// Reads a line into the input context: from standard input when it is
// redirected (the prompt is then released unprinted), else through the
// line-input hook with the prompt. Returns the line input's result.
int rk_ConsoleInput(RkString *prompt, int question, int newline);
// The line-input hook, or the terminal's line input without a screen.
int rk_LineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline);
// Reads one line of file `fnum` (0: standard input) into the input context.
// 0; 1 for a file number that is not open; 3 at the end of the input.
int rk_FileInput(int fnum);
// Makes `len` bytes of `text` the input context's line, read from its start.
// 0, or 4 when memory ran out.
int rk_hInputSetLine(const char *text, std::size_t len);

// Assigns the next value of the line (a string) to the destination, as
// rk_StrAssign does. 0, or 4 when memory ran out (the value is then still
// the next one).
int rk_InputString(void *dst, int dst_size, int fill);

// Takes the next token of the line into buffer (capacity bytes plus a zero
// terminator) and returns its length. In string mode a token may be quoted
// and keeps inner spaces; otherwise spaces and tabs end it.
int rk_FileInputNextToken(char *buffer, int capacity, int is_string);
// One byte of the line (0..255), -1 at its end; and pushing it back.
int hReadChar();
void hUnreadChar(int c);
