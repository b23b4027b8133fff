#include "gfx/draw/paint.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <limits>

#include "gfx/core/color.h"
#include "gfx/core/mem.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "rt/str.h"

int __rk_paint_fail_countdown = 0;

namespace {

// One maximal run of the region. The records are kept in one array in the
// order they were found, which is also the order of the work queue.
struct FillSpan {
    int32_t row, left, right;  // target row and inclusive target columns
    int32_t next;              // next record of the same row, or NO_SPAN
};

constexpr int32_t NO_SPAN = -1;
constexpr int32_t FAILED = -2;

struct Fill {
    DrawContext *ctx;
    uint32_t border;
    int vx, vy, vw, vh;
    FillSpan *span;
    std::size_t count, cap;
    int32_t *head;        // per view row: the row's most recent record
    uint64_t *seen;       // per view pixel: lies in a recorded run
    std::size_t words;    // bitmap words per view row
};

} // namespace

static bool allocation_fails()
{
    return __rk_paint_fail_countdown > 0 && --__rk_paint_fail_countdown == 0;
}

// ---- bitmap of recorded pixels ---------------------------------------------

static bool test_bit(const uint64_t *bits, int i)
{
    return (bits[i >> 6] >> (i & 63)) & 1;
}

// Marks bits a..b (inclusive).
static void set_bits(uint64_t *bits, int a, int b)
{
    std::size_t wa = static_cast<std::size_t>(a) >> 6, wb = static_cast<std::size_t>(b) >> 6;
    uint64_t ma = ~0ULL << (a & 63), mb = ~0ULL >> (63 - (b & 63));
    if (wa == wb) {
        bits[wa] |= ma & mb;
        return;
    }
    bits[wa] |= ma;
    for (std::size_t w = wa + 1; w < wb; ++w)
        bits[w] = ~0ULL;
    bits[wb] |= mb;
}

// First clear bit at or after i, or n when bits i..n-1 are all set.
static int next_clear(const uint64_t *bits, int i, int n)
{
    std::size_t w = static_cast<std::size_t>(i) >> 6;
    uint64_t m = ~bits[w] & (~0ULL << (i & 63));
    while (!m) {
        if (++w * 64 >= static_cast<std::size_t>(n))
            return n;
        m = ~bits[w];
    }
    return static_cast<int>(std::min<std::size_t>(w * 64 + static_cast<unsigned>(__builtin_ctzll(m)), n));
}

// ---- pixel scans -----------------------------------------------------------
// Rows are searched 16 bytes at a time; pixels are compared as whole values.

template <typename T>
static T load_pixel(const uint8_t *row, int x)
{
    T v;
    std::memcpy(&v, row + static_cast<std::size_t>(x) * sizeof(T), sizeof(T));
    return v;
}

template <typename T>
static __m128i splat(T v)
{
    if constexpr (sizeof(T) == 1)
        return _mm_set1_epi8(static_cast<char>(v));
    else if constexpr (sizeof(T) == 2)
        return _mm_set1_epi16(static_cast<short>(v));
    else
        return _mm_set1_epi32(static_cast<int>(v));
}

// Byte mask of the lanes of the 16 bytes at row + x equal to `v`.
template <typename T>
static unsigned equal_mask(const uint8_t *row, int x, __m128i v)
{
    __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + static_cast<std::size_t>(x) * sizeof(T)));
    if constexpr (sizeof(T) == 1)
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(p, v)));
    else if constexpr (sizeof(T) == 2)
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(p, v)));
    else
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi32(p, v)));
}

// First x in [a, b) whose pixel equals `v` (Equal) or differs from it
// (!Equal); b when there is none.
template <typename T, bool Equal>
static int scan_right(const uint8_t *row, int a, int b, T v)
{
    constexpr int lanes = 16 / sizeof(T);
    __m128i vv = splat<T>(v);
    int x = a;
    for (; b - x >= lanes; x += lanes) {
        unsigned m = equal_mask<T>(row, x, vv);
        if (!Equal)
            m ^= 0xFFFF;
        if (m)
            return x + static_cast<int>(static_cast<unsigned>(__builtin_ctz(m)) / sizeof(T));
    }
    for (; x < b; ++x)
        if ((load_pixel<T>(row, x) == v) == Equal)
            return x;
    return b;
}

// Last x in [a, b) whose pixel equals `v`; a - 1 when there is none.
template <typename T>
static int scan_left_equal(const uint8_t *row, int a, int b, T v)
{
    constexpr int lanes = 16 / sizeof(T);
    __m128i vv = splat<T>(v);
    int x = b;
    while (x - a >= lanes) {
        x -= lanes;
        if (unsigned m = equal_mask<T>(row, x, vv))
            return x + static_cast<int>(static_cast<unsigned>(31 - __builtin_clz(m)) / sizeof(T));
    }
    while (x > a)
        if (load_pixel<T>(row, --x) == v)
            return x;
    return a - 1;
}

// ---- search ----------------------------------------------------------------

static bool grow_spans(Fill &f)
{
    std::size_t cap = f.cap ? 2 * f.cap : 256;
    cap = std::min<std::size_t>(cap, std::numeric_limits<int32_t>::max());
    if (cap == f.cap || allocation_fails())
        return false;
    auto *p = static_cast<FillSpan *>(std::realloc(f.span, cap * sizeof(FillSpan)));
    if (!p)
        return false;
    f.span = p;
    f.cap = cap;
    return true;
}

// Grows the run of non-border pixels through (x, y), whose own pixel is not
// the border, and records it. Returns the new record's index, NO_SPAN when
// the run is already recorded, FAILED when no record can be allocated; x
// becomes one past the run's right end. A pixel of a recorded run identifies
// that run, because recorded runs are maximal and so never overlap.
template <typename T>
static int32_t add_span(Fill &f, int *x, int y, T border)
{
    uint64_t *bits = f.seen + static_cast<std::size_t>(y - f.vy) * f.words;
    if (test_bit(bits, *x - f.vx)) {
        *x = f.vx + next_clear(bits, *x - f.vx, f.vw);
        return NO_SPAN;
    }
    const uint8_t *row = f.ctx->line[y];
    int left = *x > f.vx ? scan_left_equal<T>(row, f.vx, *x, border) + 1 : *x;
    int right = scan_right<T, true>(row, *x + 1, f.vx + f.vw, border) - 1;
    *x = right + 1;
    if (f.count == f.cap && !grow_spans(f))
        return FAILED;
    set_bits(bits, left - f.vx, right - f.vx);
    auto k = static_cast<int32_t>(f.count++);
    f.span[k] = {y, left, right, f.head[y - f.vy]};
    f.head[y - f.vy] = k;
    return k;
}

// Records every run of row y that touches columns left..right.
template <typename T>
static bool scan_neighbour(Fill &f, int left, int right, int y, T border)
{
    const uint8_t *row = f.ctx->line[y];
    const uint64_t *bits = f.seen + static_cast<std::size_t>(y - f.vy) * f.words;
    int x = left;
    while (x <= right) {
        if (!test_bit(bits, x - f.vx) && load_pixel<T>(row, x) == border) {
            x = scan_right<T, false>(row, x + 1, right + 1, border);
            continue;
        }
        if (add_span<T>(f, &x, y, border) == FAILED)
            return false;
        ++x;
    }
    return true;
}

// Finds the whole region from the seed: every record in the queue has its
// rows above and below searched, records found meanwhile included.
template <typename T>
static bool search(Fill &f, int sx, int sy)
{
    // A border value wider than the pixels matches none of them.
    bool any_border = f.border <= std::numeric_limits<T>::max();
    T border = any_border ? static_cast<T>(f.border) : T{};
    if (!any_border) {
        // No pixel stops the fill: every row of the view is one run.
        for (int y = f.vy; y < f.vy + f.vh; ++y) {
            if (f.count == f.cap && !grow_spans(f))
                return false;
            f.span[f.count] = {y, f.vx, f.vx + f.vw - 1, NO_SPAN};
            f.head[y - f.vy] = static_cast<int32_t>(f.count++);
        }
        return true;
    }
    if (add_span<T>(f, &sx, sy, border) == FAILED)
        return false;
    for (std::size_t i = 0; i < f.count; ++i) {
        FillSpan s = f.span[i];
        if (s.row - 1 >= f.vy && !scan_neighbour<T>(f, s.left, s.right, s.row - 1, border))
            return false;
        if (s.row + 1 < f.vy + f.vh && !scan_neighbour<T>(f, s.left, s.right, s.row + 1, border))
            return false;
    }
    return true;
}

// ---- writing ---------------------------------------------------------------

// Every pixel (x, row) takes the tile pixel of column x AND 7 from `src`, the
// tile row of this target row; the head up to the next group of 8, each
// whole group and the tail are one copy each.
static void write_tile(uint8_t *row, int left, int right, const uint8_t *src, int bpp)
{
    auto at = [&](int x) { return row + static_cast<std::size_t>(x) * bpp; };
    int x = left;
    int head_end = std::min(right, left | 7);
    rk_hPixelCpy(at(x), src + (x & 7) * bpp, static_cast<std::size_t>(head_end - x + 1));
    for (x = head_end + 1; right - x >= 7; x += 8)
        rk_hPixelCpy(at(x), src, 8);
    if (x <= right)
        rk_hPixelCpy(at(x), src, static_cast<std::size_t>(right - x + 1));
}

static void write_region(const Fill &f, uint32_t fill, const uint8_t *tile, int mode)
{
    DrawContext *ctx = f.ctx;
    int bpp = ctx->target_bpp;
    bool visible = rk_hTargetIsVisible(ctx);
    for (int r = 0; r < f.vh; ++r) {
        int32_t k = f.head[r];
        if (k == NO_SPAN)
            continue;
        int y = f.vy + r;
        uint8_t *row = ctx->line[y];
        const uint8_t *src = tile + (y & 7) * 8 * bpp;
        for (; k != NO_SPAN; k = f.span[k].next) {
            const FillSpan &s = f.span[k];
            if (mode == 0)
                ctx->pixel_set(row + static_cast<std::size_t>(s.left) * bpp, fill,
                               static_cast<std::size_t>(s.right - s.left + 1));
            else
                write_tile(row, s.left, s.right, src, bpp);
        }
        if (visible)
            rk_hMarkDirty(y, y);
    }
}

// ---- the operation ---------------------------------------------------------

// Allocates the row table and the bitmap of the view; false when either
// cannot be had.
static bool start_fill(Fill &f)
{
    std::size_t head_bytes, bitmap_words;
    f.words = (static_cast<std::size_t>(f.vw) + 63) / 64;
    if (!rk_hSizeMulAdd(f.vh, sizeof(int32_t), 0, &head_bytes) ||
        !rk_hSizeMulAdd(static_cast<long long>(f.words), f.vh, 0, &bitmap_words))
        return false;
    if (allocation_fails())
        return false;
    f.head = static_cast<int32_t *>(std::malloc(head_bytes));
    if (!f.head || allocation_fails())
        return false;
    std::fill(f.head, f.head + f.vh, NO_SPAN);
    // Large zeroed blocks come straight from the kernel, so a small region in
    // a big view touches only the bitmap pages it uses.
    f.seen = static_cast<uint64_t *>(std::calloc(bitmap_words, sizeof(uint64_t)));
    return f.seen != nullptr;
}

static void end_fill(Fill &f)
{
    std::free(f.span);
    std::free(f.head);
    std::free(f.seen);
}

void rk_GfxPaint(void *target, float x, float y, uint32_t fill_color, uint32_t border_color, RkString *tile,
                 int mode, uint32_t flags)
{
    DrawContext *ctx = rk_hGetContext();
    if (!__rk_gfx) {
        rk_hStrDelTemp(tile);
        return;
    }
    rk_hPrepareTarget(ctx, target);
    uint32_t fill = (flags & RK_FLAG_NO_COLOR) ? ctx->fg_color : rk_hFixColor(ctx->target_bpp, fill_color);
    uint32_t border = (flags & RK_FLAG_NO_COLOR2) ? fill : rk_hFixColor(ctx->target_bpp, border_color);
    rk_hSetPixelTransfer(ctx, fill);
    rk_hFixRelative(ctx, flags, &x, &y, nullptr, nullptr);
    int sx, sy;
    rk_hTranslateCoord(ctx, x, y, &sx, &sy);

    uint8_t pattern[256] = {};
    if (tile) {
        if (mode == 1 && tile->data && tile->len > 0)
            std::memcpy(pattern, tile->data, std::min<std::size_t>(static_cast<std::size_t>(tile->len), 256));
        rk_hStrDelTemp(tile);
    }

    if (sx < ctx->view_x || sy < ctx->view_y || static_cast<long long>(sx) >= static_cast<long long>(ctx->view_x) + ctx->view_w ||
        static_cast<long long>(sy) >= static_cast<long long>(ctx->view_y) + ctx->view_h)
        return;
    if (ctx->get_pixel(ctx, sx, sy) == border)
        return;

    Fill f{};
    f.ctx = ctx;
    f.border = border;
    f.vx = ctx->view_x;
    f.vy = ctx->view_y;
    f.vw = ctx->view_w;
    f.vh = ctx->view_h;
    bool found = start_fill(f);
    if (found) {
        switch (ctx->target_bpp) {
        case 1: found = search<uint8_t>(f, sx, sy); break;
        case 2: found = search<uint16_t>(f, sx, sy); break;
        default: found = search<uint32_t>(f, sx, sy); break;
        }
    }
    if (found) {
        rk_GfxLock();
        write_region(f, fill, pattern, mode);
        end_fill(f);
        rk_GfxUnlock(1, 0);
        return;
    }
    end_fill(f);
}
