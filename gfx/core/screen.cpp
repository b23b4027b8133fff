#include "gfx/core/screen.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "gfx/core/builtin.h"
#include "gfx/core/color.h"
#include "gfx/core/hooks.h"
#include "gfx/core/mem.h"
#include "gfx/core/pixel.h"
#include "gfx/core/target.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"

static char window_title_buff[128];
static int screen_id = 1;
unsigned long rk_hCellChanges;
static bool exit_proc_registered;

#define P2 &rk_palette_2
#define P16 &rk_palette_16
#define P64 &rk_palette_64
#define P256 &rk_palette_256
#define F8 &rk_font_8x8
#define F14 &rk_font_8x14
#define F16 &rk_font_8x16
const ModeInfo mode_info[RK_NUM_MODES] = {
    {320, 200, 2, 1, 8, P16, F8, 40, 25, 0},    {640, 200, 1, 2, 1, P16, F8, 80, 25, 0},
    {0, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0}, {0, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0},
    {0, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0}, {0, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0},
    {320, 200, 4, 1, 8, P16, F8, 40, 25, 0},    {640, 200, 4, 2, 4, P16, F8, 80, 25, 0},
    {640, 350, 4, 1, 2, P64, F14, 80, 25, 0},   {640, 350, 1, 1, 2, P2, F14, 80, 25, 0},
    {640, 480, 1, 1, 1, P2, F16, 80, 30, 0},    {640, 480, 4, 1, 1, P256, F16, 80, 30, 0},
    {320, 200, 8, 1, 1, P256, F8, 40, 25, 0},   {320, 240, 8, 1, 1, P256, F8, 40, 30, 0},
    {400, 300, 8, 1, 1, P256, F8, 50, 37, 0},   {512, 384, 8, 1, 1, P256, F16, 64, 24, 0},
    {640, 400, 8, 1, 1, P256, F16, 80, 25, 0},  {640, 480, 8, 1, 1, P256, F16, 80, 30, 0},
    {800, 600, 8, 1, 1, P256, F16, 100, 37, 0}, {1024, 768, 8, 1, 1, P256, F16, 128, 48, 0},
    {1280, 1024, 8, 1, 1, P256, F16, 160, 64, 0},
};
#undef P2
#undef P16
#undef P64
#undef P256
#undef F8
#undef F14
#undef F16

// The console hooks a screen installs: the core's own routines, then those
// of the modules in the hook table.
static ConsoleHooks console_hooks()
{
    ConsoleHooks h{};
    h.color = rk_GfxColor;
    h.width = rk_GfxWidth;
    h.in = rk_GfxIn;
    h.out = rk_GfxOut;
    h.viewupdate = rk_GfxViewUpdate;
    h.pagecopy = rk_GfxPageCopy;
    h.pageset = rk_GfxPageSet;
    rk_hScreenHooksConsole(&h);
    return h;
}

// Frees everything the open screen owns; leaves no screen.
static void close_screen()
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return;
    if (s->driver && s->driver->exit)
        s->driver->exit();
    rk_hScreenHooksClose();
    if (s->page) {
        for (int i = 0; i < s->num_pages; ++i)
            rk_hAlignedFree(s->page[i]);
        std::free(s->page);
    }
    std::free(s->device_palette);
    std::free(s->palette);
    std::free(s->color_association);
    std::free(s->dirty);
    std::free(s->key_state);
    if (s->event_queue) {
        std::free(s->event_queue);
        if (s->event_mutex) {
            pthread_mutex_destroy(s->event_mutex);
            std::free(s->event_mutex);
        }
    }
    std::free(s);
    __rk_gfx = nullptr;
}

// Allocates the pages and the per-screen tables; false when any allocation
// fails (the caller closes the half-built screen).
static bool alloc_screen_buffers(ScreenState *s, int pages)
{
    std::size_t page_bytes, dirty_bytes;
    if (!rk_hSizeMulAdd(s->pitch, s->h, 0, &page_bytes) || !rk_hSizeMulAdd(s->scanline_size, s->h, 0, &dirty_bytes))
        return false;
    s->page = static_cast<uint8_t **>(std::calloc(static_cast<std::size_t>(pages), sizeof(uint8_t *)));
    if (!s->page)
        return false;
    s->num_pages = pages;
    for (int i = 0; i < pages; ++i)
        if (!(s->page[i] = static_cast<uint8_t *>(rk_hAlignedAlloc(page_bytes, false))))
            return false;
    s->framebuffer = s->page[0];
    s->dirty = static_cast<uint8_t *>(std::calloc(dirty_bytes ? dirty_bytes : 1, 1));
    s->device_palette = static_cast<uint32_t *>(std::calloc(256, 4));
    s->palette = static_cast<uint32_t *>(std::calloc(256, 4));
    s->color_association = static_cast<uint8_t *>(std::calloc(16, 1));
    s->key_state = static_cast<uint8_t *>(std::calloc(128, 1));
    s->event_queue = static_cast<int32_t *>(std::calloc(128, 20));
    if (!s->dirty || !s->device_palette || !s->palette || !s->color_association || !s->key_state || !s->event_queue)
        return false;
    s->event_mutex = static_cast<pthread_mutex_t *>(std::malloc(sizeof(pthread_mutex_t)));
    if (!s->event_mutex)
        return false;
    pthread_mutex_init(s->event_mutex, nullptr);
    __rk_color_conv_16to32 = static_cast<uint32_t *>(std::calloc(512, 4));
    return __rk_color_conv_16to32 != nullptr;
}

static int set_mode(DriverSelectFn select, const ModeInfo *record, int mode, int depth, int pages, int refresh,
                    int flags);

// Runs at process exit (and closes a half-opened screen): the console is
// left as it is.
static void exit_proc()
{
    if (__rk_gfx)
        set_mode(nullptr, nullptr, 0, 0, 0, 0, RK_MODE_EXITING);
}

static void default_window_title()
{
    if (__rk_window_title)
        return;
    std::memset(window_title_buff, 0, sizeof window_title_buff);
    char *name = rk_hGetExeName(window_title_buff, 127);
    if (!name)
        name = window_title_buff;
    if (char *dot = std::strrchr(name, '.'))
        *dot = '\0';
    __rk_window_title = name;
}

static int set_mode(DriverSelectFn select, const ModeInfo *record, int mode, int depth, int pages, int refresh,
                    int flags)
{
    if (pages <= 0)
        pages = record ? record->num_pages : 1;
    if (flags >= 0 && (flags & RK_MODE_SHAPED))
        flags |= 0x1C;

    close_screen();
    std::free(__rk_color_conv_16to32);
    __rk_color_conv_16to32 = nullptr;

    ScreenState *s = nullptr;
    if (mode != 0 && record && record->w != 0) {
        __rk_ctx.hooks = console_hooks();
        s = __rk_gfx = static_cast<ScreenState *>(std::calloc(1, sizeof(ScreenState)));
        if (!s) {
            std::memset(&__rk_ctx.hooks, 0, sizeof __rk_ctx.hooks);
            return rk_ErrorSetNum(RK_ERR_STATE);
        }
    } else {
        std::memset(&__rk_ctx.hooks, 0, sizeof __rk_ctx.hooks);
        if (flags != RK_MODE_EXITING) {
            rk_Width(80, 25);
            rk_Cls(0);
        }
        rk_ConsoleSetView(-1, -1);
    }

    if (s) {
        s->id = screen_id++;
        s->mode_num = mode;
        s->w = record->w;
        s->h = record->h;
        s->depth = record->depth;
        if (mode > 13 && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32))
            s->depth = depth;
        if (flags >= 0 && (flags & RK_MODE_OPENGL) && s->depth < 16)
            s->depth = 16;
        s->default_palette = record->palette;
        s->scanline_size = record->scanline_size;
        s->font = record->font;
        s->aspect = record->aspect != 0.0f
                        ? record->aspect
                        : static_cast<float>(static_cast<long double>(s->h) / s->w * 4.0L / 3.0L);
        if (s->depth == 24 || s->depth == 32) {
            s->color_mask = 0xFFFFFFFFu;
            s->depth = 32;
            s->bpp = 4;
        } else if (s->depth == 15 || s->depth == 16) {
            s->color_mask = 0xFFFF;
            s->depth = 16;
            s->bpp = 2;
        } else {
            s->color_mask = (1u << s->depth) - 1;
            s->bpp = (s->depth + 7) / 8;
        }
        s->pitch = s->w * s->bpp;
        if (!alloc_screen_buffers(s, pages)) {
            exit_proc();
            return rk_ErrorSetNum(RK_ERR_STATE);
        }
        if (flags != -1) {
            if (flags & RK_MODE_ALPHA_PRIMITIVES)
                s->flags |= SCREEN_ALPHA_PRIMITIVES;
            if (flags & RK_MODE_OPENGL)
                s->flags |= SCREEN_OPENGL;
        }
        rk_hSetupFuncs(s->bpp);
        rk_hSetupData();
        default_window_title();

        const DisplayDriver *driver =
            select(__rk_window_title, s->w, s->h * s->scanline_size, s->depth, refresh > 0 ? refresh : 0, flags);
        if (!driver) {
            exit_proc();
            return rk_ErrorSetNum(RK_ERR_STATE);
        }
        s->driver = driver;
        rk_GfxPalette(-1, 0, 0, 0);

        s->text_w = record->text_w;
        s->text_h = record->text_h;
        DrawContext *ctx = rk_hGetContext();
        if (ctx->setup_id != s->id) {  // its row table could not be allocated
            exit_proc();
            return rk_ErrorSetNum(RK_ERR_STATE);
        }
        if (!rk_hScreenHooksGrid()) {
            exit_proc();
            return rk_ErrorSetNum(RK_ERR_STATE);
        }
        rk_GfxLock();  // the driver's thread may already be presenting the page
        for (int p = 0; p < s->num_pages; ++p)
            for (int y = 0; y < s->h; ++y)
                ctx->pixel_set(s->page[p] + static_cast<std::size_t>(y) * s->pitch, ctx->bg_color,
                               static_cast<std::size_t>(s->w));
        rk_GfxUnlock(1, 0);

        if (!exit_proc_registered) {
            exit_proc_registered = true;
            rk_hAtExit(exit_proc);
        }
    }
    if (flags != RK_MODE_EXITING)
        rk_ConsoleSetView(-1, -1);
    return rk_ErrorSetNum(RK_OK);
}

int rk_hScreenRes(DriverSelectFn select, int width, int height, int depth, int pages, int flags, int refresh)
{
    switch (depth) {
    case 1: case 2: case 4: case 8: case 15: case 16: case 24: case 32:
        break;
    default:
        return rk_ErrorSetNum(RK_ERR_STATE);
    }
    // The mode record keeps sizes in 16 bits.
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return rk_ErrorSetNum(RK_ERR_STATE);
    ModeInfo record{};
    record.w = static_cast<uint16_t>(width);
    record.h = static_cast<uint16_t>(height);
    record.depth = static_cast<uint8_t>(depth);
    record.scanline_size = 1;
    record.num_pages = 1;
    record.palette = &rk_palette_256;
    record.font = &rk_font_8x8;
    record.text_w = static_cast<uint16_t>(width / rk_font_8x8.w);
    record.text_h = static_cast<uint16_t>(height / rk_font_8x8.h);
    record.aspect = 1.0f;
    int r = set_mode(select, &record, -1, depth, pages, refresh, flags);
    if (r == 0)
        __rk_ctx.con_out_column = 0;
    return r;
}

int rk_hScreen(DriverSelectFn select, int mode, int depth, int pages, int flags, int refresh)
{
    if (static_cast<unsigned>(mode) > RK_NUM_MODES || (mode != 0 && mode_info[mode - 1].w == 0))
        return rk_ErrorSetNum(RK_ERR_STATE);
    if (mode == 0) {
        set_mode(select, nullptr, 0, depth, pages, refresh, flags);
    } else if (set_mode(select, &mode_info[mode - 1], mode, depth, pages, refresh, flags) == 0) {
        __rk_ctx.con_out_column = 0;
    }
    return 0;
}

uint8_t *rk_GfxScreenPtr()
{
    DrawContext *ctx = rk_hGetContext();
    if (!__rk_gfx)
        return nullptr;
    rk_hPrepareTarget(ctx, nullptr);
    return __rk_gfx->page[ctx->work_page];
}

// Points the row table at page `work`.
static void select_work_page(DrawContext *ctx, int work)
{
    ScreenState *s = __rk_gfx;
    ctx->work_page = work;
    for (int y = 0; y < s->h; ++y)
        ctx->line[y] = s->page[work] + static_cast<std::size_t>(y) * s->pitch;
}

int rk_GfxPageSet(int work, int visible)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return -1;
    DrawContext *ctx = rk_hGetContext();
    int prev_visible = s->visible_page, prev_work = ctx->work_page;
    rk_hPrepareTarget(ctx, nullptr);
    if (work < 0 && visible < 0)
        work = visible = 0;
    if (work >= 0 && work < s->num_pages)
        select_work_page(ctx, work);
    if (visible >= 0 && visible < s->num_pages && visible != s->visible_page) {
        rk_GfxLock();
        s->visible_page = visible;
        s->framebuffer = s->page[visible];
        std::memset(s->dirty, 1, static_cast<std::size_t>(s->h) * s->scanline_size);
        rk_GfxUnlock(1, 0);
    }
    // One value that restores both: PageSet(r & 0xFF, r >> 8).
    return (prev_visible << 8) | prev_work;
}

int rk_GfxFlip(int src, int dst)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return rk_ErrorSetNum(RK_ERR_STATE);
    if (s->driver && s->driver->flip) {
        // The driver presents whole frames itself; that is a success.
        s->driver->flip();
        if (s->driver->poll_events)
            s->driver->poll_events();
        return rk_ErrorSetNum(RK_OK);
    }
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    int src_idx = src < 0 ? ctx->work_page : src;
    int dst_idx = dst < 0 ? s->visible_page : dst;
    if (src_idx >= s->num_pages || dst_idx >= s->num_pages)
        return rk_ErrorSetNum(RK_ERR_STATE);
    if (src_idx == dst_idx)
        return rk_ErrorSetNum(RK_OK);
    bool locked = dst_idx == s->visible_page && s->lock_count == 0;
    if (locked)
        rk_GfxLock();
    std::size_t offset = static_cast<std::size_t>(ctx->view_x) * s->bpp;
    std::size_t bytes = static_cast<std::size_t>(ctx->view_w) * s->bpp;
    for (int y = ctx->view_y; y < ctx->view_y + ctx->view_h; ++y) {
        std::size_t row = static_cast<std::size_t>(y) * s->pitch + offset;
        rk_hMemCpy(s->page[dst_idx] + row, s->page[src_idx] + row, bytes);
    }
    if (s->char_cells && s->char_cells[src_idx] && s->char_cells[dst_idx]) {
        std::memcpy(s->char_cells[dst_idx], s->char_cells[src_idx],
                    static_cast<std::size_t>(s->text_w) * s->text_h * 12);
        ++rk_hCellChanges;
    }
    if (locked) {
        if (ctx->view_h > 0)
            std::memset(s->dirty + ctx->view_y, 1, static_cast<std::size_t>(ctx->view_h));
        rk_GfxUnlock(1, 0);
    }
    return rk_ErrorSetNum(RK_OK);
}

int rk_GfxPageCopy(int src, int dst)
{
    return rk_GfxFlip(src, dst);
}

static const FontDesc *builtin_font_for_height(int h)
{
    switch (h) {
    case 8: return &rk_font_8x8;
    case 14: return &rk_font_8x14;
    case 16: return &rk_font_8x16;
    default: return nullptr;
    }
}

int rk_GfxWidth(int cols, int rows)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return 0;
    int prev = s->text_w | (s->text_h << 16);
    if (cols <= 0 && rows <= 0)
        return prev;
    int cell_w = s->font->w, cell_h = s->font->h;
    if (cols > 0)
        cell_w = s->w / cols;
    else
        cols = s->text_w;
    if (rows > 0)
        cell_h = s->h / rows;
    else
        rows = s->text_h;
    const FontDesc *font = builtin_font_for_height(cell_h);
    if (cell_w != 8 || !font)
        return prev;
    const int old_w = s->text_w, old_h = s->text_h;
    const FontDesc *old_font = s->font;
    s->text_h = rows;
    s->text_w = cols;
    s->font = font;
    if (!rk_hScreenHooksGrid()) {
        // No cells for the new grid: the old grid stays as it was.
        s->text_w = old_w;
        s->text_h = old_h;
        s->font = old_font;
        rk_ErrorSetNum(RK_ERR_MEMORY);
        return prev;
    }
    rk_GfxView(RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, 0, 0,
               RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    rk_ConsoleSetView(-1, -1);
    rk_hScreenHooksRegrid();
    return prev;
}

void rk_GfxSetWindowTitle(RkString *title)
{
    std::memset(window_title_buff, 0, sizeof window_title_buff);
    if (title && title->data)
        std::strncpy(window_title_buff, title->data, sizeof window_title_buff - 1);
    __rk_window_title = window_title_buff;
    if (__rk_gfx && __rk_gfx->driver && __rk_gfx->driver->set_window_title)
        __rk_gfx->driver->set_window_title(window_title_buff);
    rk_hStrDelTemp(title);
}

void rk_GfxViewUpdate() {}
