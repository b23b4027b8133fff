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
// 1-based; 0 keeps the row or column. A position outside the view's rows
// or the grid's columns is refused (error 1); rk_Locate then keeps the
// position and reports success. Cursor: 1 shows, 0 hides, -1 keeps. The
// result is (row << 8) | column of the new position, with bit 16 set while
// the cursor is shown where that is known.
int rk_Locate(int row, int col, int cursor);
int rk_LocateEx(int row, int col, int cursor, int *current);
int rk_GetX();
void rk_GetXY(int *col, int *row);  // 1-based; null addresses are skipped
void rk_GetSize(int *cols, int *rows);
RkString *rk_Inkey();
int rk_Getkey();
int rk_KeyHit();
int rk_GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
int rk_SetMouse(int x, int y, int cursor, int clip);
// The keyboard and mouse on the terminal, used while no screen is open.
RkString *rk_ConsoleInkey();
int rk_ConsoleGetkey();
int rk_ConsoleKeyHit();
int rk_ConsoleGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
int rk_ConsoleSetMouse(int x, int y, int cursor, int clip);
int rk_IsRedirected(int is_input);
void rk_PrintBufferEx(const void *text, std::size_t len, int mask);
void rk_PrintBufferWstrEx(const uint32_t *text, std::size_t len, int mask);

// Print masks: a line feed after the text; on the graphics screen an empty
// print still settles a pending line wrap.
inline constexpr int RK_PRINT_NEWLINE = 0x1;
inline constexpr int RK_PRINT_SETTLE = 0x8;
// Prints a string (released when temporary), then a line feed with
// RK_PRINT_NEWLINE.
void rk_PrintString(RkString *s, int mask);
void rk_PrintVoid(int mask);
// Pauses the calling thread for ms milliseconds.
void rk_Delay(int ms);

// The console's text view (1-based rows; top <= 0 means the whole screen).
void rk_ConsoleSetView(int top, int bottom);
void rk_ConsoleGetView(int *top, int *bottom);

// Pauses `ms` milliseconds with a select() on no descriptors.
void rk_hPause(int ms);
