// The open screen: modes, pages, the counting screen lock, dirty lines, the
// text grid, the window title and the console hooks.
#pragma once
#include <cstdint>
#include <pthread.h>

struct DisplayDriver;
struct FontDesc;
struct PaletteDesc;
struct RkString;

// A numbered mode (or a custom resolution built on the stack).
struct ModeInfo {
    uint16_t w, h;
    uint8_t depth;
    uint8_t scanline_size;
    uint8_t num_pages;
    const PaletteDesc *palette;
    const FontDesc *font;
    uint16_t text_w, text_h;  // 16 bits, so that wide custom screens keep their grid
    float aspect;  // 0: computed from the size
};
inline constexpr int RK_NUM_MODES = 21;
extern const ModeInfo mode_info[RK_NUM_MODES];

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

// Mode flags of the open operations (passed on to the driver's init).
enum : int {
    RK_MODE_FULLSCREEN = 0x01,
    RK_MODE_OPENGL = 0x02,
    RK_MODE_NO_SWITCH = 0x04,
    RK_MODE_NO_FRAME = 0x08,
    RK_MODE_SHAPED = 0x10,
    RK_MODE_ALWAYS_ON_TOP = 0x20,
    RK_MODE_ALPHA_PRIMITIVES = 0x40,
    RK_MODE_NULL = -1,
};
inline constexpr int RK_MODE_EXITING = static_cast<int>(0x80000000u);

extern ScreenState *__rk_gfx;
extern char *__rk_window_title;
extern uint32_t *__rk_color_conv_16to32;  // 512 entries, filled by the blitters

int rk_GfxScreenRes(int width, int height, int depth, int pages, int flags, int refresh);
int rk_GfxScreen(int mode, int depth, int pages, int flags, int refresh);

void rk_GfxLock();
// Marks lines first..last dirty (negative: 0 and h - 1) when the work page is
// on display, then releases one level of the lock. (1, 0) marks nothing.
void rk_GfxUnlock(int first, int last);

uint8_t *rk_GfxScreenPtr();
// Negative pages stay as they are (both negative: page 0 for both). Returns
// (previous visible page << 8) | previous work page.
int rk_GfxPageSet(int work, int visible);
int rk_GfxFlip(int src, int dst);
int rk_GfxPageCopy(int src, int dst);
// Changes the text grid when the cells come out 8 pixels wide and as high as
// a built-in font (0 or less keeps that side). Returns the previous grid,
// columns | (rows << 16); the grid stays when its cells cannot be allocated
// (error 4).
int rk_GfxWidth(int cols, int rows);
void rk_GfxSetWindowTitle(RkString *title);
void rk_GfxSleep(int ms);
void rk_GfxViewUpdate();
void rk_hScreenInfo(int *w, int *h, int *depth, int *refresh);

