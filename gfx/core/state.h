// The two records the core works on: the open screen (__rk_gfx, null while
// none is open) and the drawing state, with their flags. Records only: the
// operations on them are in the modules above (context, lock, target,
// screen).
#pragma once
#include <cstddef>
#include <cstdint>
#include <pthread.h>

#include "rkgfx.h"

struct DisplayDriver;
struct FontDesc;
struct PaletteDesc;

struct ScreenState {
    int id;
    int mode_num;  // 1..21, or -1 for a custom resolution
    uint8_t **page;
    int num_pages;
    int visible_page;
    uint8_t *framebuffer;  // the visible page: the only one drivers read
    int w, h;
    int depth;  // 1, 2, 4, 8, 16 or 32
    int bpp;
    int pitch;
    uint32_t *palette;         // 256 default colours 0x00BBGGRR
    uint32_t *device_palette;  // 256 colours in effect 0x00BBGGRR
    uint8_t *color_association;  // 16 attribute -> default colour
    uint8_t *dirty;            // h * scanline_size flags
    const DisplayDriver *driver;
    uint32_t color_mask;
    const PaletteDesc *default_palette;
    int scanline_size;
    int cursor_x, cursor_y;
    const FontDesc *font;
    int text_w, text_h;
    float aspect;
    uint8_t *key_state;  // 128 scancodes
    int refresh_rate;
    uint32_t **char_cells;  // per page: text_w * text_h cells of 3 words
    int32_t *event_queue;   // 128 records of 5 words
    int event_head, event_tail;
    pthread_mutex_t *event_mutex;
    uint32_t flags;
    int lock_count;
};

enum : uint32_t {
    SCREEN_WRAP_PENDING = 0x00000004,
    SCREEN_ALPHA_PRIMITIVES = 0x00000008,
    SCREEN_HAS_MMX = 0x01000000,
    SCREEN_OPENGL = 0x20000000,
};

// The mode flags of the open operations (passed on to the driver's init) are
// public (rkgfx.h); this one marks the close at process exit.
inline constexpr int RK_MODE_EXITING = static_cast<int>(0x80000000u);

extern ScreenState *__rk_gfx;
extern char *__rk_window_title;
extern uint32_t *__rk_color_conv_16to32;  // 512 entries, filled by the blitters

struct DrawContext;
using PutPixelFn = void (*)(DrawContext *ctx, int x, int y, uint32_t color);
using GetPixelFn = uint32_t (*)(DrawContext *ctx, int x, int y);
using PixelSetFn = void (*)(void *dst, uint32_t color, std::size_t count);

// The single drawing state of the process (context slot 4).
struct DrawContext {
    int setup_id;          // id of the screen this context was set up for
    int work_page;         // page drawn on when the target is the screen
    uint8_t **line;        // row r of the current target starts at line[r]
    int max_lines;         // capacity of line
    int image_rows;        // leading entries of line last set to an image's rows; the others hold the work page's
    int target_bpp;
    int target_pitch;
    const void *last_target;  // image last prepared; null = the screen
    float last_x, last_y;     // last graphics point, user coordinates
    int view_x, view_y, view_w, view_h;  // clipping view, target pixels
    int saved_view[4];     // the screen's view while an image is the target
    uint32_t fg_color, bg_color;  // pixel values
    PutPixelFn put_pixel;
    GetPixelFn get_pixel;
    PixelSetFn pixel_set;
    const void *trans_putters;  // transparent-put routine table, filled on first use
    uint32_t flags;
};

enum : uint32_t {
    CTX_FRESH = 0x01,        // screen geometry must be loaded at the next screen preparation
    CTX_IMAGE = 0x02,        // an image is the target; the screen's view is saved
    CTX_VIEW_SET = 0x10,     // a view was set with rk_GfxView
    CTX_VIEW_SCREEN = 0x20,  // that view is in screen mode: no origin offset
};
