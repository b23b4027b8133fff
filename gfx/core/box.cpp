#include "gfx/core/box.h"

#include <algorithm>

#include "gfx/core/context.h"
#include "gfx/core/lock.h"
#include "gfx/core/pixel.h"

static bool pattern_bit(uint32_t style, long long k)
{
    return (style >> (15 - (k & 15))) & 1;
}

// One horizontal edge of an outline, pixels cx1..cx2 of `row`; k0 is the
// walk position of column x1.
static void box_hline(DrawContext *ctx, int row, int x1, int cx1, int cx2, uint32_t color, uint32_t style, long long k0)
{
    if (style == 0xFFFF) {
        ctx->pixel_set(ctx->line[row] + static_cast<std::size_t>(cx1) * ctx->target_bpp, color,
                       static_cast<std::size_t>(cx2 - cx1 + 1));
        return;
    }
    for (int x = cx1; x <= cx2; ++x)
        if (pattern_bit(style, k0 + (static_cast<long long>(x) - x1)))
            ctx->put_pixel(ctx, x, row, color);
}

static void box_vline(DrawContext *ctx, int col, int y1, int cy1, int cy2, uint32_t color, uint32_t style, long long k0)
{
    if (style == 0xFFFF && rk_hSolidColumn4(ctx, col, cy1, cy2, color))
        return;
    for (int y = cy1; y <= cy2; ++y)
        if (pattern_bit(style, k0 + (static_cast<long long>(y) - y1)))
            ctx->put_pixel(ctx, col, y, color);
}

void rk_hGfxBox(int x1, int y1, int x2, int y2, uint32_t color, int fill, uint32_t style)
{
    DrawContext *ctx = rk_hGetContext();
    long long vx2 = static_cast<long long>(ctx->view_x) + ctx->view_w - 1;
    long long vy2 = static_cast<long long>(ctx->view_y) + ctx->view_h - 1;
    if (ctx->view_w <= 0 || ctx->view_h <= 0 || x2 < ctx->view_x || y2 < ctx->view_y || x1 > vx2 || y1 > vy2)
        return;
    int cx1 = std::max(x1, ctx->view_x), cy1 = std::max(y1, ctx->view_y);
    int cx2 = static_cast<int>(std::min<long long>(x2, vx2)), cy2 = static_cast<int>(std::min<long long>(y2, vy2));
    style &= 0xFFFF;

    rk_GfxLock();
    if (fill) {
        auto count = static_cast<std::size_t>(cx2 - cx1 + 1);
        // Whole rows without padding lie back to back: one span for all.
        if (count * ctx->target_bpp == static_cast<std::size_t>(ctx->target_pitch))
            ctx->pixel_set(ctx->line[cy1], color, count * static_cast<std::size_t>(cy2 - cy1 + 1));
        else
            for (int y = cy1; y <= cy2; ++y)
                ctx->pixel_set(ctx->line[y] + static_cast<std::size_t>(cx1) * ctx->target_bpp, color, count);
    } else {
        // The pattern runs along the whole perimeter, clipped parts included:
        // bottom row, top row, right column, left column.
        long long w = static_cast<long long>(x2) - x1 + 1, h = static_cast<long long>(y2) - y1 + 1;
        if (y2 <= vy2)
            box_hline(ctx, y2, x1, cx1, cx2, color, style, 0);
        if (y1 >= ctx->view_y)
            box_hline(ctx, y1, x1, cx1, cx2, color, style, w);
        if (x2 <= vx2)
            box_vline(ctx, x2, y1, cy1, cy2, color, style, 2 * w);
        if (x1 >= ctx->view_x)
            box_vline(ctx, x1, y1, cy1, cy2, color, style, 2 * w + h);
    }
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(cy1, cy2);
    rk_GfxUnlock(1, 0);
}

void rk_hFillView(DrawContext *ctx)
{
    bool visible = rk_hTargetIsVisible(ctx);
    for (int y = ctx->view_y; y < ctx->view_y + ctx->view_h; ++y)
        ctx->pixel_set(ctx->line[y] + static_cast<std::size_t>(ctx->view_x) * ctx->target_bpp, ctx->bg_color,
                       static_cast<std::size_t>(ctx->view_w));
    ctx->last_x = static_cast<float>(ctx->view_x + (ctx->view_w >> 1));
    ctx->last_y = static_cast<float>(ctx->view_y + (ctx->view_h >> 1));
    if (visible)
        rk_hMarkDirty(ctx->view_y, ctx->view_y + ctx->view_h - 1);
}
