/* SPDX-License-Identifier: GPL-2.0-or-later */
/* rkgfx: Malwerk's software graphics runtime. The one public header: every
 * operation a program calls and the types those calls take, with C linkage,
 * for C11 and C++17 alike. Everything else stays inside the library.
 *
 * Every operation records its result as the runtime error number
 * (rk_ErrorGetNum): RK_OK, or one of the RK_ERR_ codes. Colours are
 * 0xRRGGBB (0xAARRGGBB on 32-bit screens); coordinates are floats. A
 * `target` of null draws on the screen's work page, otherwise on an image
 * made by rk_GfxImageCreate. A "temporary" string (rk_StrAllocTempDesc) is
 * released by the operation it is handed to. */
#ifndef RKGFX_H
#define RKGFX_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#define RK_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Runtime base: start-up, end, error number, strings ---------------- */

/* Result codes recorded as the runtime error number. */
typedef enum RkError {
    RK_OK = 0,
    RK_ERR_STATE = 1,    /* not possible now or with these arguments */
    RK_ERR_FILE = 2,     /* file cannot be opened or created */
    RK_ERR_CONTENTS = 3, /* bad or truncated contents, failed read or write */
    RK_ERR_MEMORY = 4    /* memory ran out: for a string, or for an operation's own work */
} RkError;

/* The runtime error number of the calling thread. Set returns its argument. */
RK_API int rk_ErrorSetNum(int err);
RK_API int rk_ErrorGetNum(void);

/* Stores the program's arguments; call first in main. */
RK_API void rk_Init(int argc, char **argv, int option);
/* Closes the screen, restores the terminal and ends the process. */
RK_API __attribute__((noreturn)) void rk_End(int code);

/* A dynamic string: text (NUL-terminated when not null), length and
 * capacity. A temporary is a string handed to an operation that releases it
 * before it returns; `temp` marks such strings. */
typedef struct RkString {
    char *data;
    int len;
    int size;
    bool temp;
} RkString;

/* A temporary string holding a copy of `text` (null on allocation failure). */
RK_API __attribute__((warn_unused_result)) RkString *rk_StrAllocTempDesc(const char *text);
RK_API __attribute__((warn_unused_result)) RkString *rk_StrAllocTempBytes(const char *bytes, size_t len);
/* Releases `s` if it is a temporary (as rk_Inkey returns); others are left alone. */
RK_API void rk_hStrDelTemp(RkString *s);
/* Replaces the contents of `dst` with `len` bytes of `src`; 0, or 4 when
 * the memory could not be allocated (dst is then unchanged). */
RK_API int rk_StrAssignBytes(RkString *dst, const char *src, size_t len);
/* Frees the text of a non-temporary string and empties it. */
RK_API void rk_StrDelete(RkString *s);
/* Assigns `src` (released when it is a temporary) to a destination: with
 * dst_size -1 an RkString; otherwise a byte buffer of dst_size bytes, either
 * zero-terminated (the text cut to fit) or, with `fill`, a fixed-length
 * field padded with spaces. 0, or 4 when memory ran out. */
RK_API int rk_StrAssign(void *dst, int dst_size, RkString *src, int fill);

/* ---- Opening a screen, pages, the screen lock --------------------------- */

/* Mode flags of rk_GfxScreenRes and rk_GfxScreen. */
enum {
    RK_MODE_FULLSCREEN = 0x01,
    RK_MODE_OPENGL = 0x02, /* an OpenGL context on the window: rk_GfxGetGLProcAddress */
    RK_MODE_NO_SWITCH = 0x04,
    RK_MODE_NO_FRAME = 0x08,
    RK_MODE_SHAPED = 0x10,
    RK_MODE_ALWAYS_ON_TOP = 0x20,
    RK_MODE_ALPHA_PRIMITIVES = 0x40,
    RK_MODE_STENCIL_BUFFER = 0x10000,      /* 8 stencil bits unless preset */
    RK_MODE_ACCUMULATION_BUFFER = 0x20000, /* a 32-bit accumulation buffer unless preset */
    RK_MODE_MULTISAMPLE = 0x40000          /* 4 samples unless preset */
};

/* Opens a screen of width x height pixels of `depth` bits (mode 0 of
 * rk_GfxScreen: back to text); pages 0 for one, refresh 0 for the default.
 * 0 on success. The driver named by __rk_gfx_driver_name, else by "RIVEZ",
 * is tried first ("null": a screen in memory only), then X11, OpenGL and
 * the Linux framebuffer. */
RK_API int rk_GfxScreenRes(int width, int height, int depth, int pages, int flags, int refresh);
RK_API int rk_GfxScreen(int mode, int depth, int pages, int flags, int refresh);
/* A program may name the driver to try first here, before "RIVEZ". */
RK_API extern const char *__rk_gfx_driver_name;

/* The work page's pixels, rows one pitch (width times bytes per pixel) apart. */
RK_API uint8_t *rk_GfxScreenPtr(void);
/* Negative pages stay as they are (both negative: page 0 for both). Returns
 * (previous visible page << 8) | previous work page. */
RK_API int rk_GfxPageSet(int work, int visible);
/* Copies the view of page src onto page dst (negative: the work page and
 * the visible page); on an OpenGL screen swaps the buffers instead. */
RK_API int rk_GfxFlip(int src, int dst);
RK_API int rk_GfxPageCopy(int src, int dst);
/* Changes the text grid when the cells come out 8 pixels wide and as high as
 * a built-in font (0 or less keeps that side). Returns the previous grid,
 * columns | (rows << 16); the grid stays when its cells cannot be allocated
 * (error 4). */
RK_API int rk_GfxWidth(int cols, int rows);
RK_API void rk_GfxSetWindowTitle(RkString *title);
RK_API void rk_GfxViewUpdate(void);

/* The counting screen lock: the driver never shows a frame drawn in part.
 * Unlock marks lines first..last dirty (negative: all) when the work page is
 * on display, then releases one level; (1, 0) marks nothing. */
RK_API void rk_GfxLock(void);
RK_API void rk_GfxUnlock(int first, int last);

/* ---- Colours, views, images --------------------------------------------- */

/* Colour flags: bit 0 foreground not given, bit 1 background not given. */
RK_API unsigned rk_GfxColor(unsigned fg, unsigned bg, int flags);
RK_API void rk_GfxPalette(int index, int color, int green, int blue);
RK_API void rk_GfxPaletteUsing(const int32_t *colors);

/* Flags word of the drawing operations: bits 0-2 the coordinate mode. */
#define RK_FLAG_COORD_MASK 7u
#define RK_FLAG_NO_COLOR2 0x40000000u /* the second colour was not given */
#define RK_FLAG_NO_COLOR 0x80000000u  /* the colour was not given: the foreground */
#define RK_VIEW_OMITTED (-32768)
#define RK_ARG_OMITTED (-65536) /* 0xFFFF0000: an omitted integer argument */

/* The clipping view (x1, y1)-(x2, y2) in screen pixels (all four
 * RK_VIEW_OMITTED: the whole screen); flags bit 0 keeps the view's origin at
 * the screen's. Filled with `fill` unless flags has RK_FLAG_NO_COLOR, framed
 * with `border` unless it has RK_FLAG_NO_COLOR2. */
RK_API void rk_GfxView(int x1, int y1, int x2, int y2, uint32_t fill, uint32_t border, uint32_t flags);
/* An image of width x height pixels of `depth` bits (0 or less: the
 * screen's) filled with `color` (RK_FLAG_NO_COLOR in flags: the transparent
 * colour). Null for bad arguments, without a screen, or when memory
 * runs out. */
RK_API void *rk_GfxImageCreate(int width, int height, uint32_t color, int depth, uint32_t flags);
RK_API void rk_GfxImageDestroy(void *image);

/* ---- Drawing ------------------------------------------------------------ */

/* Mode 0 whole page, 2 the text view, others the graphics view;
 * RK_ARG_OMITTED picks one from the views that are set. */
RK_API void rk_GfxClear(int mode);

/* Line kinds: a line, a filled box, any other value a box outline. */
enum { RK_LINE = 0, RK_LINE_BOX = 1, RK_LINE_FILLED_BOX = 2 };
/* From (x1, y1) to (x2, y2). The low 16 bits of `style` are the repeating
 * pattern (0xFFFF solid), bit 15 at the first endpoint. */
RK_API void rk_GfxLine(const void *target, float x1, float y1, float x2, float y2, uint32_t color, int kind,
                       uint32_t style, uint32_t flags);

/* The end angle that, with a start angle of 0, selects the full ellipse
 * rather than an arc: one unit in the last place above the float nearest
 * to 2 pi. */
#define RK_ELLIPSE_FULL 0x1.921FB8p+2f
/* Centre (x, y); aspect is vertical over horizontal radius (0: the
 * screen's); angles in radians counter-clockwise, a negative one also draws
 * a radius line. `fill` fills full ellipses only. */
RK_API void rk_GfxEllipse(const void *target, float x, float y, float radius, uint32_t color, float aspect,
                          float start, float end, int fill, uint32_t flags);

/* Flood fill of the 4-connected region of non-border pixels around (x, y).
 * Mode 0 fills solid, 1 with the tile taken from `tile` (up to 256 raw
 * bytes, 8 rows of 8 pixels), any other value with an all-zero tile.
 * RK_FLAG_NO_COLOR2 makes the fill colour the border. When the fill's
 * bookkeeping cannot be allocated, nothing is written and error 4 is
 * recorded. */
RK_API void rk_GfxPaint(void *target, float x, float y, uint32_t fill_color, uint32_t border_color, RkString *tile,
                        int mode, uint32_t flags);

/* A blender writes a rectangle that already lies inside both images. Rows
 * follow each other at the given pitches (bytes); height is at least 1. The
 * last three words come from the caller unchanged. */
typedef void (*RkBlenderFn)(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                            uint32_t alpha, intptr_t user_function, void *user_parameter);
/* Skips source pixels of the mask colour (0, 0xF81F, or 0x??FF00FF whatever
 * its alpha); 32-bit pixels are written with a zero alpha byte. Uses the
 * current target's pixel size. */
RK_API void rk_hPutTrans(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                         uint32_t alpha, intptr_t user_function, void *user_parameter);
/* 8-bit source onto 32-bit pixels: the source byte becomes the alpha byte. */
RK_API void rk_hPutAlphaMask(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                             uint32_t alpha, intptr_t user_function, void *user_parameter);

#define RK_NO_RECT (-65536) /* sx1 of rk_GfxPut: the whole image */
enum { RK_PUT_ALPHA = 6 };  /* put mode that turns 8-bit images into alpha masks */
/* Puts `image` with its top-left corner at (x, y). sx1 = RK_NO_RECT puts the
 * whole image, otherwise the source rectangle (sx1, sy1)-(sx2, sy2) clamped
 * to it. coord_mode bit 1: (x, y) relative to the last point; bit 0: the
 * second corner relative to the first. Error 1 for a missing image, no
 * screen, a missing blender or mismatched pixel sizes. */
RK_API void rk_GfxPut(void *target, float x, float y, const void *image, int sx1, int sy1, int sx2, int sy2,
                      int coord_mode, int mode, RkBlenderFn blender, uint32_t alpha, intptr_t user_function,
                      void *user_parameter);

/* Draws `text` with its top-left corner at (x, y); flags bits 0-2 the
 * coordinate mode, RK_FLAG_NO_COLOR the foreground colour. With `font` null
 * the screen's built-in font writes the set glyph bits in the colour;
 * otherwise each glyph of the font image goes to `blender` as one rectangle
 * with the colour, alpha and user_parameter passed through. Mode 6 takes the
 * colour as a pixel value. 1 for a missing string, a malformed font image or
 * a missing blender, else 0. */
RK_API int rk_GfxDrawString(void *target, float x, float y, uint32_t flags, RkString *text, uint32_t color,
                            const void *font, int mode, RkBlenderFn blender, uint32_t alpha, void *user_parameter);

/* ---- Image files -------------------------------------------------------- */

/* Loads a Windows bitmap, a PNG or a raw memory image into the work page
 * (`dest` null) or into `dest`: an image, or plain memory that receives a
 * 32-byte image header and the picture's rows. A bitmap's colour table goes
 * into `user_palette` (at least 2^depth entries, 6 bits per channel) when
 * given, else into the screen's palette. 0, or 1 (no screen open; a
 * true-colour bitmap into a paletted destination), 2 (cannot open, or not a
 * regular file) or 3 (bad or truncated contents, a size that cannot be
 * handled, or no memory to load). A PNG is composited over white; a PNG
 * that fails changes nothing. */
RK_API int rk_GfxBload(RkString *filename, void *dest, uint32_t *user_palette);
/* Saves the work page (`source` null) or an image: a 24-bit bitmap (8 bits
 * with a colour table for 1-byte pixels) for names ending in ".bmp", a PNG
 * for ".png" (any case), else `size` bytes in the raw format.
 * `user_palette` replaces the screen's palette for 8-bit pictures. 0, or 1
 * (no screen where one is needed), 2 (cannot create; a raw save of an image
 * with size 0) or 3 (failed write). A request that cannot succeed is refused
 * before the file is opened, so an existing file is left as it was. */
RK_API int rk_GfxBsave(RkString *filename, const void *source, uint32_t size, const uint32_t *user_palette);
/* Converts `width` pixels of depth src_depth (8 or less: palette indices;
 * 24 or 32: true colour, red first when `red_first`, else blue first) into
 * the pixel format of dst_depth bits. Other depths convert nothing. */
RK_API void rk_GfxImageConvertRow(const void *src, int src_depth, void *dst, int dst_depth, int width,
                                  int red_first);

/* ---- Keyboard and mouse ------------------------------------------------- */

/* Key codes beside the characters 1..255. An extended key without a name is
 * (scan code << 8) | 0xFF. */
enum {
    RK_KEY_CLOSE = 256, /* the window's close button */
    RK_KEY_UP = 257,
    RK_KEY_DOWN = 258,
    RK_KEY_LEFT = 259,
    RK_KEY_RIGHT = 260,
    RK_KEY_INSERT = 261,
    RK_KEY_DELETE = 262,
    RK_KEY_HOME = 263,
    RK_KEY_END = 264,
    RK_KEY_PAGE_UP = 265,
    RK_KEY_PAGE_DOWN = 266,
    RK_KEY_F1 = 267, /* F1..F10 are 267..276 */
    RK_KEY_F10 = 276
};

/* The oldest key as a temporary string: "" for none, one character for
 * codes 1..255, else 255 and a second character naming it. */
RK_API RkString *rk_Inkey(void);
/* Waits for a key and returns its code. */
RK_API int rk_Getkey(void);
/* 1 when a key is waiting (it stays in the buffer). */
RK_API int rk_KeyHit(void);
/* x and y in screen pixels, wheel, buttons (1 left, 2 right, 4 middle), and
 * whether the pointer is confined; any address may be null. 0, or 1 with all
 * set to -1 when there is no pointer state. */
RK_API int rk_GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
/* Moves the pointer (negative x: stays), shows or hides it and confines or
 * releases it (negative: as is). */
RK_API int rk_SetMouse(int x, int y, int cursor, int clip);

/* The same on the graphics screen directly; without a screen rk_GfxInkey
 * gives "" and rk_GfxGetkey 0 at once. rk_GfxInkey gives null (error 4) when
 * the string cannot be allocated: the key stays waiting. */
RK_API RkString *rk_GfxInkey(void);
RK_API int rk_GfxGetkey(void);
RK_API int rk_GfxKeyHit(void);
/* -1 while the key with this scan code is held, else 0. */
RK_API int rk_GfxMultikey(int scancode);
/* Pauses ms milliseconds; a key ends pauses of 100 ms and more, -1 waits for one. */
RK_API void rk_GfxSleep(int ms);
RK_API int rk_GfxGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
RK_API int rk_GfxSetMouse(int x, int y, int cursor, int clip);

/* The keyboard and mouse of the terminal, used while no screen is open. */
RK_API RkString *rk_ConsoleInkey(void);
RK_API int rk_ConsoleGetkey(void);
RK_API int rk_ConsoleKeyHit(void);
RK_API int rk_ConsoleGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip);
RK_API int rk_ConsoleSetMouse(int x, int y, int cursor, int clip);
/* Without a screen: -1 while the key with this scan code (masked to 0..127)
 * is held, else 0; 0 without a terminal. Starts the keyboard on first use. */
RK_API int rk_ConsoleMultikey(int scancode);
RK_API int rk_IsRedirected(int is_input);

/* ---- Text on the screen or the terminal --------------------------------- */

/* Print masks: a line feed after the text; on the graphics screen an empty
 * print still settles a pending line wrap. */
enum { RK_PRINT_NEWLINE = 0x1, RK_PRINT_SETTLE = 0x8 };

RK_API void rk_Cls(int mode);
/* Colour flags: bit 0 foreground not given, bit 1 background not given. */
RK_API unsigned rk_Color(unsigned fg, unsigned bg, int flags);
RK_API int rk_Width(int cols, int rows);
/* Pauses ms milliseconds; a key may end it early (rk_GfxSleep). */
RK_API void rk_Sleep(int ms);
/* Pauses the calling thread for ms milliseconds. */
RK_API void rk_Delay(int ms);
RK_API int rk_PageSet(int work, int visible);
RK_API void rk_ViewUpdate(void);
/* 1-based; 0 keeps the row or column. A position outside the view's rows
 * or the grid's columns is refused (error 1); rk_Locate then keeps the
 * position and reports success. Cursor: 1 shows, 0 hides, -1 keeps. The
 * result is (row << 8) | column of the new position, with bit 16 set while
 * the cursor is shown where that is known. */
RK_API int rk_Locate(int row, int col, int cursor);
RK_API int rk_LocateEx(int row, int col, int cursor, int *current);
RK_API int rk_GetX(void);
RK_API void rk_GetXY(int *col, int *row); /* 1-based; null addresses are skipped */
RK_API void rk_GetSize(int *cols, int *rows);
RK_API void rk_PrintBufferEx(const void *text, size_t len, int mask);
RK_API void rk_PrintBufferWstrEx(const uint32_t *text, size_t len, int mask);
/* Prints a string (released when temporary), then a line feed with
 * RK_PRINT_NEWLINE. */
RK_API void rk_PrintString(RkString *s, int mask);
RK_API void rk_PrintVoid(int mask);
/* Rings the terminal bell: byte 7 on standard output. */
RK_API void rk_Beep(void);
/* The text view (1-based rows; top <= 0 means the whole screen). */
RK_API void rk_ConsoleSetView(int top, int bottom);
RK_API void rk_ConsoleGetView(int *top, int *bottom);

/* Printing on the graphics screen directly. */
RK_API void rk_GfxPrintBufferEx(const void *text, size_t len, int mask);
RK_API void rk_GfxPrintBuffer(const char *text, int mask);
/* Characters above 255 print as '?', the others as their low byte. */
RK_API void rk_GfxPrintBufferWstrEx(const uint32_t *text, size_t len, int mask);
RK_API void rk_GfxPrintBufferWstr(const uint32_t *text, int mask);
RK_API int rk_GfxLocate(int row, int col, int cursor);
RK_API int rk_GfxGetX(void);
RK_API int rk_GfxGetY(void);
RK_API void rk_GfxGetXY(int *col, int *row);
RK_API void rk_GfxGetSize(int *cols, int *rows);
/* The work page's cell at 1-based (col, row): mode 0 the character, else
 * its colours. 0 outside the grid or without a screen. */
RK_API uint32_t rk_GfxReadXY(int col, int row, int mode);

/* ---- Line input --------------------------------------------------------- */

/* Reads a line (after `prompt`, "? " with `question`, a line feed after it
 * with `newline`) whose values rk_InputString then takes one by one. */
RK_API int rk_ConsoleInput(RkString *prompt, int question, int newline);
/* Reads a line into a destination as rk_StrAssign assigns. 0, or 4 when no
 * string could be allocated. */
RK_API int rk_LineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline);
RK_API int rk_ConsoleLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline);
RK_API int rk_GfxLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline);
/* With a zero-terminated 32-bit prompt; the typed bytes are widened into
 * dst, at most dst_size - 1 of them, and zero-terminated. */
RK_API int rk_GfxLineInputWstr(const uint32_t *prompt, uint32_t *dst, int dst_size, int question, int newline);
/* Reads one line of file `fnum` (0: standard input) for rk_InputString:
 * 0; 1 for a file number that is not open; 3 at the end of the input. */
RK_API int rk_FileInput(int fnum);
/* Assigns the next value of the line read as rk_StrAssign does. 0, or 4
 * when memory ran out (the value is then still the next one). */
RK_API int rk_InputString(void *dst, int dst_size, int fill);
/* Edits `string` (its text is printed first and may be empty or null; a
 * temporary is released) until Enter, always inserting. With soft_cursor the
 * insertion point is marked by printing byte 0xFF. Returns a temporary with
 * the text, null when no string could be allocated (the line is then read
 * to its end and dropped). */
RK_API RkString *rk_ConReadLineEx(RkString *string, int soft_cursor);
RK_API RkString *rk_ConReadLine(int soft_cursor);
/* Reads keys at the text cursor behind a block cursor until Enter; stores at
 * most size - 1 of them (Enter included when it fits) zero-terminated. Null
 * without a screen. */
RK_API char *rk_GfxReadStr(char *buffer, int size);

/* ---- OpenGL ------------------------------------------------------------- */

/* A GL function by name while a screen opened with RK_MODE_OPENGL is open,
 * else null. GL itself is loaded at run time ("libGL.so.1"). */
RK_API void *rk_GfxGetGLProcAddress(const char *name);
/* Wanted buffer sizes of the next OpenGL screen; 0 lets the driver choose.
 * Every open completes them and keeps the completed values. */
typedef struct RkGLParams {
    int32_t color_bits, red_bits, green_bits, blue_bits, alpha_bits;
    int32_t depth_bits, stencil_bits;
    int32_t accum_bits, accum_red_bits, accum_green_bits, accum_blue_bits, accum_alpha_bits;
    int32_t num_samples;
} RkGLParams;
RK_API extern RkGLParams __rk_gl_params;

#ifdef __cplusplus
}

/* C++ conveniences. */
inline void rk_Cls() { rk_Cls(RK_ARG_OMITTED); }
#endif

#endif
