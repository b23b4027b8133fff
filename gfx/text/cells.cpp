#include "gfx/text/cells.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gfx/core/context.h"
#include "gfx/core/hooks.h"
#include "gfx/core/screen.h"
#include "rt/rt.h"

// The page of cells last filled whole, with what (a character and its
// colours), while no other change has come (rk_hCellChanges): filling it
// with the same again, as a program that clears the screen every frame
// does, writes nothing.
static struct {
    const uint32_t *cells;
    uint32_t ch, fg, bg;
    unsigned long changes;
} filled;

static void free_cells(uint32_t **cells, int pages)
{
    if (!cells)
        return;
    for (int p = 0; p < pages; ++p)
        std::free(cells[p]);
    std::free(cells);
}

bool rk_hResetCharCells(bool create)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return true;
    filled.cells = nullptr;  // the tables go
    uint32_t **made = nullptr;
    if (create && s->text_w > 0 && s->text_h > 0) {
        // All tables are made before the old ones go, so that a failure
        // leaves the screen with the tables it had.
        const std::size_t cells = static_cast<std::size_t>(s->text_w) * static_cast<std::size_t>(s->text_h);
        made = static_cast<uint32_t **>(std::calloc(static_cast<std::size_t>(s->num_pages), sizeof(uint32_t *)));
        bool complete = made != nullptr;
        for (int p = 0; complete && p < s->num_pages; ++p)
            complete = (made[p] = static_cast<uint32_t *>(std::calloc(cells, 12))) != nullptr;
        if (!complete) {
            free_cells(made, s->num_pages);
            return false;
        }
    }
    free_cells(s->char_cells, s->num_pages);
    s->char_cells = made;
    if (made) {
        DrawContext *ctx = rk_hGetContext();
        rk_hClearCharCells(0, 0, s->text_w, s->text_h, ctx->work_page, ' ', ctx->fg_color, ctx->bg_color);
    }
    return true;
}

// `n` cells of (ch, fg, bg) from `cell` on: the first is written, then the
// filled part is copied onto the rest, doubling each time.
static void fill_cells(uint32_t *cell, std::size_t n, uint32_t ch, uint32_t fg, uint32_t bg)
{
    cell[0] = ch;
    cell[1] = fg;
    cell[2] = bg;
    for (std::size_t done = 1; done < n;) {
        const std::size_t step = std::min(done, n - done);
        std::memcpy(cell + 3 * done, cell, 3 * sizeof *cell * step);
        done += step;
    }
}

void rk_hClearCharCells(int x1, int y1, int x2, int y2, int page, uint32_t ch, uint32_t fg, uint32_t bg)
{
    ScreenState *s = __rk_gfx;
    if (!s || !s->char_cells || page < 0 || page >= s->num_pages || !s->char_cells[page])
        return;
    if (x1 < 0)
        x1 = 0;
    if (y1 < 0)
        y1 = 0;
    if (x2 > s->text_w)
        x2 = s->text_w;
    if (y2 > s->text_h)
        y2 = s->text_h;
    if (x1 >= x2 || y1 >= y2)
        return;
    const uint32_t *cells = s->char_cells[page];
    if (filled.cells == cells && filled.ch == ch && filled.fg == fg && filled.bg == bg &&
        filled.changes == rk_hCellChanges)
        return;
    const bool whole = x1 == 0 && y1 == 0 && x2 == s->text_w && y2 == s->text_h;
    filled = {whole ? cells : nullptr, ch, fg, bg, rk_hCellChanges};
    // Whole rows lie back to back: then the rectangle is one run of cells.
    const bool whole_rows = x1 == 0 && x2 == s->text_w;
    const std::size_t run = static_cast<std::size_t>(x2 - x1) * (whole_rows ? y2 - y1 : 1);
    for (int y = y1; y < (whole_rows ? y1 + 1 : y2); ++y)
        fill_cells(s->char_cells[page] + 3 * (static_cast<std::size_t>(y) * s->text_w + x1), run, ch, fg, bg);
}

int rk_GfxLocateRaw(int row, int col)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return 0;
    if (row >= 0)
        s->cursor_y = row;
    if (col >= 0)
        s->cursor_x = col;
    return ((s->cursor_y & 0xFF) << 8) | (s->cursor_x & 0xFF);
}

int rk_GfxLocate(int row, int col, int cursor)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return 0;
    s->flags &= ~SCREEN_WRAP_PENDING;
    int r = rk_GfxLocateRaw(row > 0 ? row - 1 : -1, col > 0 ? col - 1 : -1) + 257;
    __rk_ctx.con_out_column = s->cursor_x;
    return r;
}

static void cells_console_hooks(ConsoleHooks *h)
{
    h->locate = rk_GfxLocate;
}

static bool cells_for_grid()
{
    return rk_hResetCharCells(true);
}

static void cells_close()
{
    (void)rk_hResetCharCells(false);
}

const ScreenHooks rk_screenHooksCells = {.console = cells_console_hooks, .grid = cells_for_grid, .close = cells_close};
