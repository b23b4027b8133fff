#include "gfx/draw/clear.h"

#include <algorithm>

#include "gfx/core/box.h"
#include "gfx/core/builtin.h"
#include "gfx/core/hooks.h"
#include "gfx/core/lock.h"
#include "gfx/core/target.h"
#include "gfx/text/cells.h"
#include "rt/console.h"
#include "rt/rt.h"

static void centre_last_point(DrawContext *ctx)
{
    ctx->last_x = static_cast<float>(ctx->view_x + (ctx->view_w >> 1));
    ctx->last_y = static_cast<float>(ctx->view_y + (ctx->view_h >> 1));
}

void rk_GfxClear(int mode)
{
    ScreenState *s = __rk_gfx;
    DrawContext *ctx = rk_hGetContext();
    if (!s)
        return;
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, ctx->bg_color);
    rk_GfxLock();

    int top, bottom;
    rk_ConsoleGetView(&top, &bottom);
    --top;
    --bottom;
    if (mode == static_cast<int>(0xFFFF0000u)) {
        if (ctx->flags & CTX_VIEW_SET)
            mode = 1;
        else if (top == 0 && bottom == s->text_h - 1)
            mode = 0;
        else
            mode = 2;
    }
    bool visible = rk_hTargetIsVisible(ctx);
    if (mode == 0) {
        ctx->pixel_set(ctx->line[0], ctx->bg_color, static_cast<std::size_t>(s->w) * s->h);
        rk_hClearCharCells(0, 0, s->text_w, s->text_h, ctx->work_page, ' ', ctx->fg_color, ctx->bg_color);
        centre_last_point(ctx);
        rk_GfxLocate(top + 1, 1, -1);
        if (visible)
            rk_hMarkDirty(0, s->h - 1);
    } else if (mode == 2) {
        int ch = s->font->h;
        int y0 = std::min(top * ch, s->h);
        int rows = std::min((bottom + 1 - top) * ch, s->h - y0);
        if (rows > 0) {
            ctx->pixel_set(ctx->line[y0], ctx->bg_color, static_cast<std::size_t>(s->w) * rows);
            if (visible)
                rk_hMarkDirty(y0, y0 + rows - 1);
        }
        rk_hClearCharCells(0, top, s->text_w, bottom + 1, ctx->work_page, ' ', ctx->fg_color, ctx->bg_color);
        rk_GfxLocate(top + 1, 1, -1);
    } else {
        rk_hFillView(ctx);
    }
    rk_GfxUnlock(1, 0);
}

static void clear_console_hooks(ConsoleHooks *h)
{
    h->cls = rk_GfxClear;
}

static void clear_after_regrid()
{
    rk_GfxClear(0);
}

const ScreenHooks rk_screenHooksClear = {.console = clear_console_hooks, .regrid = clear_after_regrid};
