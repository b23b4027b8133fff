#include "gfx/draw/ellipse.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/line.h"

static_assert(std::bit_cast<uint32_t>(RK_ELLIPSE_FULL) == 0x40C90FDCu);

__extension__ using i128 = __int128;

static constexpr double kTwoPi = 6.283185307179586;
// Beyond this, one more pixel of radius changes nothing a view can show
// (no angle a float can hold brings such a point within 2^32 pixels of the
// centre on the other axis), so larger radii are drawn as this one.
static constexpr double kMaxRadius = 0x1p60;
// Up to this radius the error terms are evaluated exactly in 128 bits.
static constexpr double kExactRadius = 0x1p30;
// Angles beyond this many radians are first reduced modulo a turn: adding
// whole turns one float addition at a time would stall or take too long.
static constexpr float kMaxAngle = 4096.0f;
// Arcs with more steps than this skip the stretches far outside the view.
static constexpr double kArcStepBudget = 0x1p20;

// Truncation toward zero, saturated so that sums with 32-bit coordinates
// cannot overflow; NaN gives 0.
static long long trunc_sat(double v)
{
    if (std::isnan(v))
        return 0;
    return static_cast<long long>(std::clamp(std::trunc(v), -0x1p62, 0x1p62));
}

static long long round_half_away(float v)
{
    return trunc_sat(v >= 0 ? static_cast<double>(v) + 0.5 : static_cast<double>(v) - 0.5);
}

// Integer offsets of the ellipse point at `angle` (y upwards).
static void get_arc_point(float angle, float rx, float ry, long long *px, long long *py)
{
    double a = angle;
    *px = round_half_away(static_cast<float>(rx * std::cos(a)));
    *py = round_half_away(static_cast<float>(ry * std::sin(a)));
}

static bool row_in_view(const DrawContext *ctx, long long y)
{
    return y >= ctx->view_y && y < static_cast<long long>(ctx->view_y) + ctx->view_h;
}

static bool col_in_view(const DrawContext *ctx, long long x)
{
    return x >= ctx->view_x && x < static_cast<long long>(ctx->view_x) + ctx->view_w;
}

// One row of a full ellipse: its two end pixels, or with `fill` the span
// between them clipped to the view.
static void draw_scanline(DrawContext *ctx, long long y, long long x1, long long x2, uint32_t color, int fill)
{
    if (!row_in_view(ctx, y))
        return;
    int row = static_cast<int>(y);
    if (!fill) {
        if (col_in_view(ctx, x1))
            ctx->put_pixel(ctx, static_cast<int>(x1), row, color);
        if (col_in_view(ctx, x2))
            ctx->put_pixel(ctx, static_cast<int>(x2), row, color);
        return;
    }
    long long vx2 = static_cast<long long>(ctx->view_x) + ctx->view_w - 1;
    if (x2 < ctx->view_x || x1 > vx2)
        return;
    x1 = std::max<long long>(x1, ctx->view_x);
    x2 = std::min(x2, vx2);
    ctx->pixel_set(ctx->line[row] + static_cast<std::size_t>(x1) * ctx->target_bpp, color,
                   static_cast<std::size_t>(x2 - x1 + 1));
}

// Writes pixels x1..x2 of row y that lie in the view (the row is in it).
static void plot_columns(DrawContext *ctx, int y, long long x1, long long x2, uint32_t color)
{
    x1 = std::max<long long>(x1, ctx->view_x);
    x2 = std::min(x2, static_cast<long long>(ctx->view_x) + ctx->view_w - 1);
    for (long long x = x1; x <= x2; ++x)
        ctx->put_pixel(ctx, static_cast<int>(x), y, color);
}

// The rasteriser walks outwards from the centre row keeping an error term
//   e(j, k) = E0 (2k + 1) - RY2 k (k + 1) - RX2 j (j + 1)
// after j row moves and k narrowings (E0 = trunc(rx RY2), RX2 and RY2 the
// truncated squared radii): while e > 0 it moves one row out, otherwise it
// narrows the span by one pixel on each side, until it has narrowed
// trunc(rx) times. e grows with k and falls with j, so the narrowings done
// on row j end at K(j), the first k with e(j, k) > 0, and the row is
// entered at K(j - 1), plus one when K(j) > K(j - 1). Finding K(j) by
// bisection for the view's rows only keeps the work bounded by the view,
// however large the radii.
struct EllipseTerms {
    bool exact;
    i128 e0, rx2, ry2;
    long double fe0, frx2, fry2;
    long long n;  // narrowings: trunc(rx)
};

static bool error_positive(const EllipseTerms &t, long long j, long long k)
{
    if (t.exact)
        return t.e0 * (2 * static_cast<i128>(k) + 1) - t.ry2 * k * (k + 1) - t.rx2 * j * (j + 1) > 0;
    long double lk = k, lj = j;
    return t.fe0 * (2 * lk + 1) - t.fry2 * lk * (lk + 1) - t.frx2 * lj * (lj + 1) > 0;
}

// K(j), capped at n (the walk stops once it has narrowed n times).
static long long narrowings_at_row(const EllipseTerms &t, long long j)
{
    long long lo = 0, hi = t.n;
    while (lo < hi) {
        long long mid = lo + (hi - lo) / 2;
        if (error_positive(t, j, mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// The outline pixels of the walk's states ka..kb on row y: columns x1 + k
// and x2 - k of each state.
static void draw_states(DrawContext *ctx, long long y, long long x1, long long x2, long long ka, long long kb,
                        uint32_t color)
{
    if (ka > kb || !row_in_view(ctx, y))
        return;
    plot_columns(ctx, static_cast<int>(y), x1 + ka, x1 + kb, color);
    plot_columns(ctx, static_cast<int>(y), x2 - kb, x2 - ka, color);
}

// A full ellipse around (cx, cy) in target pixels. Filled rows get the
// widest span the walk gives them, once, so blended colours are applied
// once per pixel.
static void draw_ellipse(DrawContext *ctx, int cx, int cy, float rx, float ry, uint32_t color, int fill)
{
    long long x1 = trunc_sat(static_cast<double>(cx) - rx), x2 = trunc_sat(static_cast<double>(cx) + rx);
    if (ry == 0) {
        // A flat ellipse is one solid span, outlined or not.
        draw_scanline(ctx, cy, x1, x2, color, 1);
        return;
    }
    double ary = std::fabs(static_cast<double>(ry));
    EllipseTerms t{};
    t.n = trunc_sat(rx);
    draw_scanline(ctx, cy, x1, x2, color, fill);
    if (t.n <= 0)
        return;
    t.exact = rx <= kExactRadius && ary <= kExactRadius;
    if (t.exact) {
        long long ry2 = trunc_sat(ary * ary);
        t.rx2 = trunc_sat(static_cast<double>(rx) * rx);
        t.ry2 = ry2;
        t.e0 = static_cast<i128>(std::trunc(static_cast<double>(rx) * static_cast<double>(ry2)));
    } else {
        t.frx2 = std::trunc(static_cast<long double>(rx) * rx);
        t.fry2 = std::trunc(static_cast<long double>(ary) * ary);
        t.fe0 = std::trunc(static_cast<long double>(rx) * t.fry2);
    }

    // The last row: the first j whose narrowings reach n.
    long long lo = 0, hi = 2 * static_cast<long long>(std::ceil(ary)) + 2;
    while (lo < hi) {
        long long mid = lo + (hi - lo) / 2;
        if (!error_positive(t, mid, t.n - 1))
            hi = mid;
        else
            lo = mid + 1;
    }
    long long last_j = lo;

    long long y_first = std::max<long long>(ctx->view_y, cy - last_j);
    long long y_last = std::min<long long>(static_cast<long long>(ctx->view_y) + ctx->view_h - 1, cy + last_j);
    for (long long y = y_first; y <= y_last; ++y) {
        long long j = y > cy ? y - cy : cy - y;
        if (j == 0) {
            // Narrowings without a row move draw the centre row twice each.
            if (!fill) {
                long long k_end = narrowings_at_row(t, 0);
                draw_states(ctx, y, x1, x2, 1, k_end, color);
                draw_states(ctx, y, x1, x2, 1, k_end, color);
            }
            continue;
        }
        long long k_prev = narrowings_at_row(t, j - 1), k_end = narrowings_at_row(t, j);
        long long k_in = k_prev + (k_end > k_prev ? 1 : 0);
        if (fill)
            draw_scanline(ctx, y, x1 + k_in, x2 - k_in, color, 1);
        else
            draw_states(ctx, y, x1, x2, k_in, k_end, color);
    }
}

// Moves the angles so that start <= end <= start + 2 pi by whole turns.
static void normalise_angles(float *start, float *end)
{
    if (!(std::fabs(*start) < kMaxAngle && std::fabs(*end) < kMaxAngle)) {
        *start = static_cast<float>(std::fmod(static_cast<double>(*start), kTwoPi));
        *end = static_cast<float>(std::fmod(static_cast<double>(*end), kTwoPi));
    }
    while (*start > *end)
        *end = static_cast<float>(*end + kTwoPi);
    while (static_cast<double>(*end) - *start > kTwoPi)
        *start = static_cast<float>(*start + kTwoPi);
}

static void radius_line(const void *target, float x, float y, float angle, float rx, float ry, uint32_t color,
                        uint32_t flags)
{
    long long px, py;
    get_arc_point(angle, rx, ry, &px, &py);
    float ex = static_cast<float>(std::trunc(static_cast<double>(x) + static_cast<double>(px)));
    float ey = static_cast<float>(std::trunc(static_cast<double>(y) - static_cast<double>(py)));
    rk_GfxLine(target, x, y, ex, ey, color, RK_LINE, 0xFFFF, flags & ~RK_FLAG_COORD_MASK);
}

// Chebyshev distance of (x, y) from the view, 0 inside.
static long long view_distance(const DrawContext *ctx, long long x, long long y)
{
    long long vx2 = static_cast<long long>(ctx->view_x) + ctx->view_w - 1;
    long long vy2 = static_cast<long long>(ctx->view_y) + ctx->view_h - 1;
    return std::max({ctx->view_x - x, x - vx2, ctx->view_y - y, y - vy2, 0LL});
}

// Points at equal angle steps from start to end; extends *top and *bottom
// over the rows written.
static void draw_arc(DrawContext *ctx, int cx, int cy, float rx, float ry, float start, float end, uint32_t color,
                     long long *top, long long *bottom)
{
    float step = static_cast<float>(1.0 / (1.5 * std::sqrt(static_cast<double>(rx)) * std::sqrt(static_cast<double>(ry))));
    double stop = static_cast<double>(end) + static_cast<double>(step) * 0.5;
    // With very many steps, stretches whose points are far from the view are
    // skipped: a point moves at most `reach` pixels per radian, so no point
    // within the next (distance - margin) / reach radians can be inside.
    bool skip = !((static_cast<double>(end) - start) / step <= kArcStepBudget);
    double reach = std::max(static_cast<double>(rx), std::fabs(static_cast<double>(ry)));
    for (float a = start; static_cast<double>(a) < stop;) {
        long long px, py;
        get_arc_point(a, rx, ry, &px, &py);
        long long x = cx + px, y = cy - py;
        float next = a + step;
        // Too small a step to change the float: move on to the next float.
        if (next == a)
            next = std::nextafter(a, INFINITY);
        long long d = view_distance(ctx, x, y);
        if (d == 0) {
            ctx->put_pixel(ctx, static_cast<int>(x), static_cast<int>(y), color);
            *top = std::min(*top, y);
            *bottom = std::max(*bottom, y);
        } else if (skip) {
            // Rounding of the float point can shift it by 2^-23 of its size.
            double margin = (std::fabs(static_cast<double>(px)) + std::fabs(static_cast<double>(py))) * 0x1p-22 + 4;
            double ahead = (static_cast<double>(d) - margin) / reach;
            if (ahead > 0) {
                double target_angle = static_cast<double>(a) + ahead;
                float f = static_cast<float>(target_angle);
                if (static_cast<double>(f) > target_angle)
                    f = std::nextafter(f, -INFINITY);
                next = std::max(next, f);
            }
        }
        a = next;
    }
}

void rk_GfxEllipse(const void *target, float x, float y, float radius, uint32_t color, float aspect, float start,
                   float end, int fill, uint32_t flags)
{
    DrawContext *ctx = rk_hGetContext();
    ScreenState *s = __rk_gfx;
    if (!s || !(radius > 0))
        return;
    if (!rk_hSelectTarget(ctx, target))
        return;
    uint32_t c = (flags & RK_FLAG_NO_COLOR) ? ctx->fg_color : rk_hFixColor(ctx->target_bpp, color);
    rk_hSetPixelTransfer(ctx, c);
    rk_hFixRelative(ctx, flags, &x, &y, nullptr, nullptr);
    int cx, cy;
    rk_hTranslateCoord(ctx, x, y, &cx, &cy);

    if (aspect == 0)
        aspect = s->aspect;
    float rx = radius, ry = radius * aspect;
    if (aspect > 1) {
        rx = radius / aspect;
        ry = radius;
    }
    // An aspect that is not a number gives no shape at all.
    if (std::isnan(rx) || std::isnan(ry))
        return;
    rx = static_cast<float>(std::min(static_cast<double>(rx), kMaxRadius));
    ry = static_cast<float>(std::clamp(static_cast<double>(ry), -kMaxRadius, kMaxRadius));

    long long first, last;
    if (start == 0 && end == RK_ELLIPSE_FULL) {
        rk_GfxLock();
        draw_ellipse(ctx, cx, cy, rx, ry, c, fill);
        first = trunc_sat(static_cast<double>(cy) - ry);
        last = trunc_sat(static_cast<double>(cy) + ry);
    } else {
        if (start < 0) {
            start = -start;
            radius_line(target, x, y, start, rx, ry, color, flags);
        }
        if (end < 0) {
            end = -end;
            radius_line(target, x, y, end, rx, ry, color, flags);
        }
        normalise_angles(&start, &end);
        rk_GfxLock();
        first = last = cy;
        draw_arc(ctx, cx, cy, rx, ry, start, end, c, &first, &last);
    }
    long long vy1 = ctx->view_y, vy2 = vy1 + ctx->view_h - 1;
    first = std::max(vy1, std::min(first, vy2));
    last = std::max(vy1, std::min(last, vy2));
    if (first > last)
        std::swap(first, last);
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(static_cast<int>(first), static_cast<int>(last));
    rk_GfxUnlock(1, 0);
}
