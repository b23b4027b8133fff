#include "gfx/text/print.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "gfx/core/builtin.h"
#include "gfx/core/hooks.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/text/cells.h"
#include "rt/conprint.h"
#include "rt/console.h"
#include "rt/rt.h"

// The printer's side of an output window: the drawing context and the pixel
// rows [first, end) touched during this print (first == end: none yet).
struct PrintOwner {
    DrawContext *ctx;
    int first, end;
};

static void touch_rows(PrintOwner *o, int first, int end)
{
    if (o->first == o->end) {
        o->first = first;
        o->end = end;
    } else {
        o->first = std::min(o->first, first);
        o->end = std::max(o->end, end);
    }
}

static uint32_t *cell_at(ScreenState *s, int page, int col, int row)
{
    if (!s->char_cells || page < 0 || page >= s->num_pages || !s->char_cells[page])
        return nullptr;
    return s->char_cells[page] + 3 * (static_cast<std::size_t>(row) * s->text_w + col);
}

int rk_hHookConWrite(ConOutput *w, const char *text, int count)
{
    ScreenState *s = __rk_gfx;
    auto *o = static_cast<PrintOwner *>(w->owner);
    DrawContext *ctx = o->ctx;
    const FontDesc *f = s->font;
    int gw = f->w, gh = f->h, row_bytes = (gw + 7) / 8;
    int px = w->x * gw, py = w->y * gh;
    // Cells outside the grid or the page are skipped, never written.
    if (w->y < 0 || w->y >= s->text_h || py + gh > s->h)
        return 1;
    auto bytes = reinterpret_cast<const uint8_t *>(text);
    bool mark = count == 1 && bytes[0] == 0xFF;
    for (int i = 0; i < count; ++i) {
        int col = w->x + i, x0 = px + i * gw;
        if (col < 0 || col >= s->text_w || x0 + gw > s->w)
            continue;
        if (mark) {
            for (int k = 0; k < gw; ++k)
                ctx->put_pixel(ctx, x0 + k, py + gh - 1, ctx->fg_color);
        } else {
            const uint8_t *glyph = f->data + static_cast<std::size_t>(bytes[i]) * gh * row_bytes;
            for (int r = 0; r < gh; ++r)
                for (int k = 0; k < gw; ++k) {
                    bool on = (glyph[r * row_bytes + k / 8] >> (k % 8)) & 1;
                    ctx->put_pixel(ctx, x0 + k, py + r, on ? ctx->fg_color : ctx->bg_color);
                }
        }
        if (uint32_t *cell = cell_at(s, ctx->work_page, col, w->y)) {
            cell[0] = bytes[i];
            cell[1] = ctx->fg_color;
            cell[2] = ctx->bg_color;
            ++rk_hCellChanges;
        }
    }
    touch_rows(o, py, py + gh);
    return 1;
}

void rk_hHookConScroll(ConOutput *w, int left, int top, int right, int bottom, int rows)
{
    ScreenState *s = __rk_gfx;
    auto *o = static_cast<PrintOwner *>(w->owner);
    DrawContext *ctx = o->ctx;
    int gw = s->font->w, gh = s->font->h;
    rows = std::min(rows, bottom - top + 1);
    int y0 = top * gh;
    int height = std::min((bottom - top + 1) * gh, s->h - y0);
    int shift = rows * gh;
    auto width = static_cast<std::size_t>(std::min((right - left + 1) * gw, s->w));
    if (height > 0) {
        int kept = shift < height ? height - shift : 0;
        for (int k = 0; k < kept; ++k)
            rk_hPixelCpy(ctx->line[y0 + k], ctx->line[y0 + shift + k], width);
        for (int k = kept; k < height; ++k)
            ctx->pixel_set(ctx->line[y0 + k], ctx->bg_color, width);
        touch_rows(o, y0, y0 + height);
    }

    int first_freed = std::max(top, bottom - rows + 1);
    if (rows <= bottom - top && s->char_cells && s->char_cells[ctx->work_page]) {
        auto n = static_cast<std::size_t>(right - left + 1) * 12;
        for (int r = top; r < first_freed; ++r)
            std::memmove(cell_at(s, ctx->work_page, left, r), cell_at(s, ctx->work_page, left, r + rows), n);
        ++rk_hCellChanges;
    }
    rk_hClearCharCells(left, first_freed, right + 1, bottom + 1, ctx->work_page, ' ', ctx->fg_color,
                       ctx->bg_color);
    w->y = bottom;
}

void rk_GfxPrintBufferEx(const void *text, std::size_t len, int mask)
{
    ScreenState *s = __rk_gfx;
    if ((len == 0 && !(mask & 0x8)) || !s || s->text_w <= 0 || s->text_h <= 0)
        return;
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF000000u);
    rk_GfxLock();

    int cols, rows, top, bottom;
    rk_GfxGetSize(&cols, &rows);
    rk_ConsoleGetView(&top, &bottom);
    PrintOwner owner{ctx, 0, 0};
    // A cursor stored far outside the grid behaves as one just beyond it;
    // the bound keeps the engine's cursor arithmetic from overflowing.
    ConOutput w{&owner, rk_hHookConScroll, rk_hHookConWrite, 0, top - 1, cols - 1, bottom - 1,
                std::min(s->cursor_x, 0xFFFF), std::min(s->cursor_y, 0xFFFF)};

    if (s->flags & SCREEN_WRAP_PENDING) {
        s->flags &= ~SCREEN_WRAP_PENDING;
        w.x = w.left;
        ++w.y;
        if (w.bottom != -1 && w.bottom < w.y)
            w.scroll(&w, w.left, w.top, w.right, w.bottom, w.y - w.bottom);
    }
    rk_ConPrintTTY(&w, static_cast<const char *>(text), len, true);

    // A line that ends exactly at the bottom right parks the cursor on its
    // last cell: the scroll waits until something more is printed.
    if (w.bottom != -1 && w.x == w.left && w.y == w.bottom + 1) {
        w.x = w.right;
        w.y = w.bottom;
        s->flags |= SCREEN_WRAP_PENDING;
    } else if (w.bottom != -1 && w.y > w.bottom) {
        w.scroll(&w, w.left, w.top, w.right, w.bottom, w.y - w.bottom);
    }
    rk_GfxLocateRaw(w.y, w.x);

    if (owner.end > owner.first && rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(owner.first, owner.end - 1);
    rk_GfxUnlock(1, 0);
}

void rk_GfxPrintBuffer(const char *text, int mask)
{
    rk_GfxPrintBufferEx(text, text ? std::strlen(text) : 0, mask);
}

void rk_GfxPrintBufferWstrEx(const uint32_t *text, std::size_t len, int mask)
{
    // Converted in pieces: printing a text in two parts draws the same as
    // printing it at once, a parked cursor settling at the second part.
    char chunk[1024] = {};
    do {
        std::size_t n = std::min(len, sizeof chunk);
        for (std::size_t i = 0; i < n; ++i)
            chunk[i] = text[i] > 255 ? '?' : static_cast<char>(text[i]);
        rk_GfxPrintBufferEx(chunk, n, mask);
        text += n;
        len -= n;
    } while (len > 0);
}

void rk_GfxPrintBufferWstr(const uint32_t *text, int mask)
{
    std::size_t len = 0;
    while (text && text[len])
        ++len;
    rk_GfxPrintBufferWstrEx(text, len, mask);
}

// A stored position may be anything rk_GfxLocateRaw was given.
static int one_based(int v)
{
    return v < INT_MAX ? v + 1 : INT_MAX;
}

int rk_GfxGetX()
{
    return __rk_gfx ? one_based(__rk_gfx->cursor_x) : 0;
}

int rk_GfxGetY()
{
    return __rk_gfx ? one_based(__rk_gfx->cursor_y) : 0;
}

void rk_GfxGetXY(int *col, int *row)
{
    if (col)
        *col = rk_GfxGetX();
    if (row)
        *row = rk_GfxGetY();
}

void rk_GfxGetSize(int *cols, int *rows)
{
    ScreenState *s = __rk_gfx;
    if (cols)
        *cols = s ? s->text_w : 0;
    if (rows)
        *rows = s ? s->text_h : 0;
}

// A 5-6-5 pixel as 0xFFRRGGBB, each field widened by repeating its top bits.
static uint32_t widen_565(uint32_t c)
{
    uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

uint32_t rk_GfxReadXY(int col, int row, int mode)
{
    ScreenState *s = __rk_gfx;
    if (!s || col < 1 || col > s->text_w || row < 1 || row > s->text_h)
        return 0;
    const uint32_t *cell = cell_at(s, rk_hGetContext()->work_page, col - 1, row - 1);
    if (!cell)
        return 0;
    if (mode == 0)
        return cell[0];
    uint32_t fg = cell[1], bg = cell[2];
    if (s->depth <= 4)
        return fg + bg * 16;
    if (s->depth <= 8)
        return fg + bg * 256;
    uint32_t c = mode == 2 ? bg : fg;
    return s->depth == 16 ? widen_565(c) : c;
}

static void print_console_hooks(ConsoleHooks *h)
{
    h->getx = rk_GfxGetX;
    h->gety = rk_GfxGetY;
    h->getxy = rk_GfxGetXY;
    h->getsize = rk_GfxGetSize;
    h->printbuffer = rk_GfxPrintBufferEx;
    h->printbufferwstr = rk_GfxPrintBufferWstrEx;
    h->readxy = rk_GfxReadXY;
}

const ScreenHooks rk_screenHooksPrint = {.console = print_console_hooks};
