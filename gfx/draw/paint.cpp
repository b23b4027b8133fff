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

// A run of the region whose neighbour rows are still to be searched.
struct FillSpan {
    int32_t row, left, right;  // target row and inclusive target columns
};

constexpr int FAILED = -1;  // no run ends left of column 0

// One fill. The bitmap holds the region: a pixel's bit is set when the
// maximal run through it has been recorded. The runs still to be searched
// wait in a first-in first-out queue, which visits the region band by band
// (cache-friendly) and holds only the front of the search.
struct Fill {
    DrawContext *ctx;
    uint32_t border;
    int vx, vy, vw, vh;
    uint64_t *seen;      // one bit per view pixel, row after row
    std::size_t words;   // bitmap words per view row
    int x1, y1, x2, y2;  // bounding box of the recorded runs
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

// Sets bits a..b (inclusive).
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

// First bit at or after i that is set (Set) or clear (!Set); n when bits
// i..n-1 have none.
template <bool Set>
static int next_bit(const uint64_t *bits, int i, int n)
{
    if (i >= n)
        return n;
    std::size_t w = static_cast<std::size_t>(i) >> 6;
    uint64_t m = (Set ? bits[w] : ~bits[w]) & (~0ULL << (i & 63));
    while (!m) {
        if (++w * 64 >= static_cast<std::size_t>(n))
            return n;
        m = Set ? bits[w] : ~bits[w];
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

// Makes room at the tail of the queue todo[next..count) of `cap` entries:
// moves it to the front when at least half of the block is spent, otherwise
// doubles the block. Null when the block cannot grow (the old one is kept).
[[gnu::noinline]] static FillSpan *make_room(FillSpan *todo, std::size_t *next, std::size_t *count, std::size_t *cap)
{
    if (*next && *next >= *cap / 2) {
        std::memmove(todo, todo + *next, (*count - *next) * sizeof(FillSpan));
        *count -= *next;
        *next = 0;
        return todo;
    }
    std::size_t grown = *cap ? 2 * *cap : 256;
    if (allocation_fails())
        return nullptr;
    auto *p = static_cast<FillSpan *>(std::realloc(todo, grown * sizeof(FillSpan)));
    if (p)
        *cap = grown;
    return p;
}

// Finds the whole region from the seed: the rows above and below every
// recorded run are searched, runs found meanwhile included. The hot state
// lives in locals so that it stays in registers.
template <typename T>
static bool search(Fill &f, int sx, int sy)
{
    const int vx = f.vx, vy = f.vy, vh = f.vh, end = f.vx + f.vw;
    if (f.border > std::numeric_limits<T>::max()) {
        // A border value wider than the pixels matches none of them.
        for (int r = 0; r < vh; ++r)
            set_bits(f.seen + static_cast<std::size_t>(r) * f.words, 0, f.vw - 1);
        f.x1 = vx;
        f.x2 = end - 1;
        f.y1 = vy;
        f.y2 = vy + vh - 1;
        return true;
    }
    const auto border = static_cast<T>(f.border);
    uint8_t *const *line = f.ctx->line;
    uint64_t *const seen = f.seen;
    const std::size_t words = f.words;
    FillSpan *todo = nullptr;
    std::size_t next = 0, count = 0, cap = 0;
    int x1 = sx, x2 = sx, y1 = sy, y2 = sy;

    // add_span: grows the run of non-border pixels through (x, y), which is
    // no border pixel and in no recorded run, records and queues it. Returns
    // the run's right end, or FAILED when it cannot be queued. Narrow runs
    // are common (combs, hatching), so the pixel next to x on each side is
    // tested before a wider scan.
    auto add_span = [&](int x, int y) __attribute__((always_inline)) -> int {
        const uint8_t *row = line[y];
        int left = x, right = x;
        if (left > vx && load_pixel<T>(row, left - 1) != border)
            left = scan_left_equal<T>(row, vx, left - 1, border) + 1;
        if (right + 1 < end && load_pixel<T>(row, right + 1) != border)
            right = scan_right<T, true>(row, right + 2, end, border) - 1;
        if (count == cap) [[unlikely]] {
            FillSpan *p = make_room(todo, &next, &count, &cap);
            if (!p)
                return FAILED;
            todo = p;
        }
        set_bits(seen + static_cast<std::size_t>(y - vy) * words, left - vx, right - vx);
        todo[count++] = {y, left, right};
        x1 = std::min(x1, left);
        x2 = std::max(x2, right);
        y1 = std::min(y1, y);
        y2 = std::max(y2, y);
        return right;
    };
    // Records every run of row y that touches columns left..right. A pixel
    // of a recorded run identifies it, because recorded runs are maximal and
    // so never overlap; one past a run's end is a border pixel or the view's
    // edge, so the walk skips it.
    auto scan_neighbour = [&](int left, int right, int y) __attribute__((always_inline)) -> bool {
        const uint8_t *row = line[y];
        const uint64_t *bits = seen + static_cast<std::size_t>(y - vy) * words;
        int x = left;
        while (x <= right) {
            if (test_bit(bits, x - vx)) {
                x = vx + next_bit<false>(bits, x - vx, end - vx) + 1;
            } else if (load_pixel<T>(row, x) == border) {
                x = scan_right<T, false>(row, x + 1, right + 1, border);
            } else {
                int r = add_span(x, y);
                if (r == FAILED)
                    return false;
                x = r + 2;
            }
        }
        return true;
    };

    bool ok = add_span(sx, sy) != FAILED;
    while (ok && next < count) {
        FillSpan s = todo[next++];
        if (s.row - 1 >= vy)
            ok = scan_neighbour(s.left, s.right, s.row - 1);
        if (ok && s.row + 1 < vy + vh)
            ok = scan_neighbour(s.left, s.right, s.row + 1);
    }
    std::free(todo);
    f.x1 = x1;
    f.x2 = x2;
    f.y1 = y1;
    f.y2 = y2;
    return ok;
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

// Calls emit(a, b) for every run a..b-1 of set bits among bits first..end-1,
// which hold no set bits outside that range. Runs are taken out of each
// word in registers; a run reaching a word's end continues in the next.
template <typename F>
static void for_each_run(const uint64_t *bits, int first, int end, F &&emit)
{
    int open = -1;
    for (int w = first >> 6; w <= (end - 1) >> 6; ++w) {
        uint64_t m = bits[w];
        int base = w * 64;
        if (open >= 0) {
            if (m == ~0ULL)
                continue;
            int b = __builtin_ctzll(~m);
            emit(open, base + b);
            open = -1;
            m &= ~0ULL << b;
        }
        while (m) {
            int a = __builtin_ctzll(m);
            uint64_t rest = ~m & (~0ULL << a);
            if (!rest) {
                open = base + a;
                break;
            }
            int b = __builtin_ctzll(rest);
            emit(base + a, base + b);
            m &= ~0ULL << b;
        }
    }
    if (open >= 0)
        emit(open, end);
}

// Writes every run of set bits in the bitmap: these are exactly the recorded
// runs, since two maximal runs of a row never touch. Narrow opaque runs are
// stored in place, where a call into the span filler would cost more than
// the pixels.
template <typename T>
static void write_region(const Fill &f, uint32_t fill, const uint8_t *tile, int mode)
{
    DrawContext *ctx = f.ctx;
    constexpr int bpp = sizeof(T);
    bool opaque = ctx->pixel_set == rk_hPixelSetSolid;
    const auto value = static_cast<T>(fill);
    const int vx = f.vx, first = f.x1 - f.vx, end = f.x2 - f.vx + 1;
    for (int y = f.y1; y <= f.y2; ++y) {
        const uint64_t *bits = f.seen + static_cast<std::size_t>(y - f.vy) * f.words;
        uint8_t *row = ctx->line[y];
        const uint8_t *src = tile + (y & 7) * 8 * bpp;
        for_each_run(bits, first, end, [&](int a, int b) __attribute__((always_inline)) {
            uint8_t *p = row + static_cast<std::size_t>(vx + a) * bpp;
            if (mode != 0) {
                write_tile(row, vx + a, vx + b - 1, src, bpp);
            } else if (opaque && b - a <= 8) {
                for (int i = 0; i < b - a; ++i)
                    std::memcpy(p + i * bpp, &value, bpp);
            } else {
                ctx->pixel_set(p, fill, static_cast<std::size_t>(b - a));
            }
        });
    }
    // The region is connected: every row from the first to the last has runs.
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(f.y1, f.y2);
}

// ---- the operation ---------------------------------------------------------

static bool start_fill(Fill &f)
{
    std::size_t bitmap_words;
    f.words = (static_cast<std::size_t>(f.vw) + 63) / 64;
    if (!rk_hSizeMulAdd(static_cast<long long>(f.words), f.vh, 0, &bitmap_words) || allocation_fails())
        return false;
    // Large zeroed blocks come straight from the kernel, so a small region in
    // a big view touches only the bitmap pages it uses.
    f.seen = static_cast<uint64_t *>(std::calloc(bitmap_words, sizeof(uint64_t)));
    return f.seen != nullptr;
}

// Finds the region, then writes it under the screen lock; when the search
// cannot get its memory, nothing is written.
template <typename T>
static void fill_region(Fill &f, int sx, int sy, uint32_t fill, const uint8_t *tile, int mode)
{
    if (!search<T>(f, sx, sy))
        return;
    rk_GfxLock();
    write_region<T>(f, fill, tile, mode);
    rk_GfxUnlock(1, 0);
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

    if (sx < ctx->view_x || sy < ctx->view_y || sx - static_cast<long long>(ctx->view_x) >= ctx->view_w ||
        sy - static_cast<long long>(ctx->view_y) >= ctx->view_h)
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
    if (start_fill(f)) {
        switch (ctx->target_bpp) {
        case 1: fill_region<uint8_t>(f, sx, sy, fill, pattern, mode); break;
        case 2: fill_region<uint16_t>(f, sx, sy, fill, pattern, mode); break;
        default: fill_region<uint32_t>(f, sx, sy, fill, pattern, mode); break;
        }
    }
    std::free(f.seen);
}
