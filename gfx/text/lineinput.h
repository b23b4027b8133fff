// Line input on the graphics screen: the line-input hooks and a simple
// block-cursor reader.
#pragma once
#include <cstdint>

struct RkString;
struct ScreenHooks;

// Reads a line with the soft cursor after the prompt (released when
// temporary; "? " follows it with `question`) and assigns it to the
// destination (see rk_StrAssign); a line feed follows with `newline`.
// 0, or 4 when no string could be allocated.
int rk_GfxLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline);
// The same with a zero-terminated 32-bit prompt; the typed bytes are widened
// into dst, at most dst_size - 1 of them, and zero-terminated.
int rk_GfxLineInputWstr(const uint32_t *prompt, uint32_t *dst, int dst_size, int question, int newline);
// Reads keys at the text cursor behind a block cursor until Enter; stores at
// most size - 1 of them (Enter included when it fits) zero-terminated.
// Null without a screen.
char *rk_GfxReadStr(char *buffer, int size);

// Line input's screen hooks: its console entries.
extern const ScreenHooks rk_screenHooksLineInput;
