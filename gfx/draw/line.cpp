#include "gfx/draw/line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "gfx/core/box.h"
#include "gfx/core/color.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"

// The low 16 bits of `style` in reverse bit order, so that a straight line
// walked from its other end keeps its pattern anchored at the first endpoint.
static uint32_t reverse_mask(uint32_t style)
{
    uint32_t r = 0;
    for (int i = 0; i < 16; ++i)
        if (style & (1u << i))
            r |= 0x8000u >> i;
    return r;
}

enum : int { OUT_LEFT = 1, OUT_RIGHT = 2, OUT_BELOW = 4, OUT_ABOVE = 8 };

static int outcode(const DrawContext *ctx, int x, int y)
{
    int c = 0;
    if (x < ctx->view_x)
        c = OUT_LEFT;
    else if (x >= static_cast<long long>(ctx->view_x) + ctx->view_w)
        c = OUT_RIGHT;
    if (y < ctx->view_y)
        c |= OUT_ABOVE;
    else if (y >= static_cast<long long>(ctx->view_y) + ctx->view_h)
        c |= OUT_BELOW;
    return c;
}

// A coordinate interpolated along the segment from a to b, truncated toward
// zero. The exact value always lies between a and b; keeping it there
// absorbs rounding in the slope, so every clipping move shrinks the
// segment and the clipping loop always ends.
static int along(double v, int a, int b)
{
    double t = std::trunc(v);
    return static_cast<int>(std::clamp(t, static_cast<double>(std::min(a, b)), static_cast<double>(std::max(a, b))));
}

// Cohen-Sutherland against the view. The point being moved is always the
// first one, so the points may come back exchanged. False: nothing visible.
static bool clip_line(const DrawContext *ctx, int *x1, int *y1, int *x2, int *y2)
{
    if (ctx->view_w <= 0 || ctx->view_h <= 0)
        return false;
    const int right = ctx->view_x + ctx->view_w - 1, bottom = ctx->view_y + ctx->view_h - 1;
    for (;;) {
        int c1 = outcode(ctx, *x1, *y1), c2 = outcode(ctx, *x2, *y2);
        if (!(c1 | c2))
            return true;
        if (c1 & c2)
            return false;
        if (!c1) {
            std::swap(*x1, *x2);
            std::swap(*y1, *y2);
            c1 = c2;
        }
        double m = *x1 == *x2 ? 1.0
                              : static_cast<double>(static_cast<long long>(*y2) - *y1) /
                                    static_cast<double>(static_cast<long long>(*x2) - *x1);
        if (c1 & OUT_LEFT) {
            *y1 = along(*y1 + m * (static_cast<double>(ctx->view_x) - *x1), *y1, *y2);
            *x1 = ctx->view_x;
        } else if (c1 & OUT_RIGHT) {
            *y1 = along(*y1 + m * (static_cast<double>(right) - *x1), *y1, *y2);
            *x1 = right;
        } else if (c1 & OUT_ABOVE) {
            if (*x1 != *x2)
                *x1 = along(*x1 + (static_cast<double>(ctx->view_y) - *y1) / m, *x1, *x2);
            *y1 = ctx->view_y;
        } else {
            if (*x1 != *x2)
                *x1 = along(*x1 + (static_cast<double>(bottom) - *y1) / m, *x1, *x2);
            *y1 = bottom;
        }
    }
}

// A vertical or horizontal run from `from` to `to` along one axis. Walking
// it backwards with the reversed pattern, started at the matching bit,
// writes the same pixels as walking it from `from` with bit 15 there.
static void draw_straight(DrawContext *ctx, int fixed, int from, int to, bool horizontal, uint32_t color,
                          uint32_t style)
{
    int bit = 15;
    if (from > to) {
        bit = (from - to) & 15;
        style = reverse_mask(style);
        std::swap(from, to);
    }
    if (horizontal && style == 0xFFFF) {
        ctx->pixel_set(ctx->line[fixed] + static_cast<std::size_t>(from) * ctx->target_bpp, color,
                       static_cast<std::size_t>(to - from + 1));
        return;
    }
    if (style == 0xFFFF && rk_hSolidColumn4(ctx, fixed, from, to, color))
        return;
    for (int i = from; i <= to; ++i) {
        if ((style >> bit) & 1) {
            if (horizontal)
                ctx->put_pixel(ctx, i, fixed, color);
            else
                ctx->put_pixel(ctx, fixed, i, color);
        }
        bit = (bit - 1) & 15;
    }
}

// Bresenham from the first endpoint to the second, along the major axis.
// A zero error steps the minor axis, so the pixel set depends on the
// direction of the line.
static void draw_sloped(DrawContext *ctx, int x1, int y1, int x2, int y2, uint32_t color, uint32_t style)
{
    long long dx = std::llabs(static_cast<long long>(x2) - x1), dy = std::llabs(static_cast<long long>(y2) - y1);
    int x = x1, y = y1, bit = 15;
    bool x_major = dx >= dy;
    long long major = x_major ? dx : dy, minor = x_major ? dy : dx;
    int *along_major = x_major ? &x : &y, *along_minor = x_major ? &y : &x;
    int step_major = (x_major ? x2 >= x1 : y2 >= y1) ? 1 : -1;
    int step_minor = (x_major ? y2 >= y1 : x2 >= x1) ? 1 : -1;
    long long e = 2 * minor - major;
    for (long long i = 0;; ++i) {
        if ((style >> bit) & 1)
            ctx->put_pixel(ctx, x, y, color);
        bit = (bit - 1) & 15;
        if (i == major)
            break;
        if (e >= 0) {
            *along_minor += step_minor;
            e -= 2 * major;
        }
        e += 2 * minor;
        *along_major += step_major;
    }
}

void rk_GfxLine(const void *target, float x1, float y1, float x2, float y2, uint32_t color, int kind, uint32_t style,
                uint32_t flags)
{
    DrawContext *ctx = rk_hGetContext();
    if (!__rk_gfx)
        return;
    if (!rk_hSelectTarget(ctx, target))
        return;
    if (!(flags & RK_FLAG_NO_COLOR))
        color = rk_hFixColor(ctx->target_bpp, color);
    else
        color = ctx->fg_color;
    rk_hSetPixelTransfer(ctx, color);
    style &= 0xFFFF;
    rk_hFixRelative(ctx, flags, &x1, &y1, &x2, &y2);
    int ix1, iy1, ix2, iy2;
    rk_hTranslateCoord(ctx, x1, y1, &ix1, &iy1);
    rk_hTranslateCoord(ctx, x2, y2, &ix2, &iy2);

    if (kind != RK_LINE) {
        rk_hFixCoordsOrder(&ix1, &iy1, &ix2, &iy2);
        rk_hGfxBox(ix1, iy1, ix2, iy2, color, kind == RK_LINE_FILLED_BOX, style);
        return;
    }
    if (!clip_line(ctx, &ix1, &iy1, &ix2, &iy2))
        return;

    rk_GfxLock();
    if (ix1 == ix2)
        draw_straight(ctx, ix1, iy1, iy2, false, color, style);
    else if (iy1 == iy2)
        draw_straight(ctx, iy1, ix1, ix2, true, color, style);
    else
        draw_sloped(ctx, ix1, iy1, ix2, iy2, color, style);
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(std::min(iy1, iy2), std::max(iy1, iy2));
    rk_GfxUnlock(1, 0);
}
