// Text-runtime console entries. While a graphics screen is open each entry
// calls its console hook (rt/rt.h); otherwise it falls back to a minimal
// console on standard input and output.
#pragma once
#include <cstddef>
#include <cstdint>

struct RkString;

inline constexpr int RK_ARG_OMITTED = static_cast<int>(0xFFFF0000u);

void rk_Cls(int mode = RK_ARG_OMITTED);
// Colour flags: bit 0 foreground not given, bit 1 background not given.
unsigned rk_Color(unsigned fg, unsigned bg, int flags);
int rk_Width(int cols, int rows);
void rk_Sleep(int ms);
int rk_PageSet(int work, int visible);
void rk_ViewUpdate();
int rk_Locate(int row, int col, int cursor);
int rk_LocateEx(int row, int col, int cursor, int *current);
int rk_GetX();
int rk_GetXY();  // (row << 8) | column, 1-based
void rk_GetSize(int *cols, int *rows);
RkString *rk_Inkey();
int rk_Getkey();
int rk_KeyHit();
int rk_GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
int rk_SetMouse(int x, int y, int cursor, int clip);
int rk_IsRedirected(int is_input);
void rk_PrintBufferEx(const void *text, std::size_t len, int mask);
void rk_PrintBufferWstrEx(const uint32_t *text, std::size_t len, int mask);

// The console's text view (1-based rows; top <= 0 means the whole screen).
void rk_ConsoleSetView(int top, int bottom);
void rk_ConsoleGetView(int *top, int *bottom);

// Pauses `ms` milliseconds with a select() on no descriptors.
void rk_hPause(int ms);
