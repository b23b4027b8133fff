// Runtime base: the global context record, context slots, error number,
// the program's arguments and its end. The lowest module: it uses no other.
#pragma once
#include <cstddef>
#include <cstdint>

#include "rkgfx.h"

// The 27 routines through which the text runtime's console operations reach
// the graphics layer while a screen is open. All null while none is open.
struct ConsoleHooks {
    RkString *(*inkey)();
    int (*getkey)();
    int (*keyhit)();
    void (*cls)(int mode);
    unsigned (*color)(unsigned fg, unsigned bg, int flags);
    int (*locate)(int row, int col, int cursor);
    int (*width)(int cols, int rows);
    int (*getx)();
    int (*gety)();
    void (*getxy)(int *col, int *row);
    void (*getsize)(int *cols, int *rows);
    void (*printbuffer)(const void *text, std::size_t len, int mask);
    void (*printbufferwstr)(const uint32_t *text, std::size_t len, int mask);
    char *(*readstr)(char *buffer, int size);
    int (*multikey)(int scancode);
    int (*getmouse)(int *x, int *y, int *wheel, int *buttons, int *clip);
    int (*setmouse)(int x, int y, int cursor, int clip);
    int (*in)(unsigned short port);
    int (*out)(unsigned short port, int value);
    void (*viewupdate)();
    int (*lineinput)(RkString *prompt, void *dst, int dst_len, int fill, int question, int newline);
    int (*lineinputwstr)(const uint32_t *prompt, uint32_t *dst, int max_chars, int question, int newline);
    uint32_t (*readxy)(int col, int row, int mode);
    void (*sleep)(int ms);
    int (*isredir)(int is_input);
    int (*pagecopy)(int src, int dst);
    int (*pageset)(int work, int visible);
};
static_assert(sizeof(ConsoleHooks) == 27 * sizeof(void *));

inline constexpr int RK_CTX_SLOTS = 5;
inline constexpr int RK_CTX_SLOT_DRAW = 4;  // the DrawContext

// The runtime's global context record, zeroed at start-up.
struct RkContext {
    int argc;
    char **argv;
    ConsoleHooks hooks;
    void *slot[RK_CTX_SLOTS];
    int con_out_column;  // console output column
    int option;          // third argument of rk_Init
};
extern RkContext __rk_ctx;

// Context slots 0..4: a zeroed block of `size` bytes allocated on first
// request (null when the index is out of range or the allocation fails).
void *rk_TlsGetCtx(int index, std::size_t size);
void rk_TlsDelCtx(int index);
void rk_TlsFreeCtxTb();
// What frees the memory a slot's block points to (its owner sets it when it
// fills the block); called by rk_TlsDelCtx before the block goes, and
// forgotten with it.
void rk_hTlsSetRelease(int index, void (*release)(void *block));

// Registers a routine to run at process exit, before the runtime's own
// shutdown. Returns 0, or -1 when it could not be registered.
int rk_hAtExit(void (*proc)());

// The executable's file name (the part after the last '/') read from /proc
// into buf; null on any failure.
char *rk_hGetExeName(char *buf, int size);
