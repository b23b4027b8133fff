#include "gfx/draw/paint.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <limits>

#include "gfx/core/color.h"
#include "gfx/core/mem.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "rt/rt.h"
#include "rt/str.h"

namespace {

// What the search keeps per view row.
struct RowState {
    int32_t lo, hi;  // while queued: the words whose region grew since the row was last searched from
    bool has_open;   // the row's open mask is computed
    bool queued;     // the row waits on the stack
};

// One fill. The region is kept as a bitmap, one bit per view pixel; each
// row's open mask (its pixels that are no border) is computed the first
// time the search reaches the row. Growing the region works on 64 pixels
// at a time: a row's runs that touch the region of the row above or below
// are found and added whole with a few word operations, whatever their
// number or width. Rows whose region grew wait on a stack, each at most
// once, with the range of words that grew.
struct Fill {
    DrawContext *ctx;
    uint32_t border;
    int vx, vy, vw, vh;
    std::size_t words;   // bitmap words per view row
    uint64_t *seen;      // the region, row after row
    uint64_t *open;      // open masks, row after row, valid where has_open
    RowState *rows;
    int32_t *stack;
    int x1, y1, x2, y2;  // bounding box of the region (columns to whole words)
};

} // namespace

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

// ---- open masks ------------------------------------------------------------
// Pixels are compared as whole values, 16 bytes at a time.

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

static __m128i load16(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Bit i set: pixel i of the 64 from p equals v. Compare results are packed
// down to one byte per pixel, 16 pixels per mask.
template <typename T>
static uint64_t equal_bits64(const uint8_t *p, __m128i v)
{
    uint64_t bits = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t *q = p + k * 16 * sizeof(T);
        __m128i e;
        if constexpr (sizeof(T) == 1) {
            e = _mm_cmpeq_epi8(load16(q), v);
        } else if constexpr (sizeof(T) == 2) {
            e = _mm_packs_epi16(_mm_cmpeq_epi16(load16(q), v), _mm_cmpeq_epi16(load16(q + 16), v));
        } else {
            __m128i a = _mm_packs_epi32(_mm_cmpeq_epi32(load16(q), v), _mm_cmpeq_epi32(load16(q + 16), v));
            __m128i b = _mm_packs_epi32(_mm_cmpeq_epi32(load16(q + 32), v), _mm_cmpeq_epi32(load16(q + 48), v));
            e = _mm_packs_epi16(a, b);
        }
        bits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(e))) << (16 * k);
    }
    return bits;
}

// The open mask of view row r; bits past the view's width stay clear.
template <typename T>
static void compute_open(Fill &f, int r)
{
    const uint8_t *row = f.ctx->line[f.vy + r] + static_cast<std::size_t>(f.vx) * sizeof(T);
    uint64_t *out = f.open + static_cast<std::size_t>(r) * f.words;
    const auto border = static_cast<T>(f.border);
    const __m128i v = splat<T>(border);
    int w = 0;
    for (; (w + 1) * 64 <= f.vw; ++w)
        out[w] = ~equal_bits64<T>(row + static_cast<std::size_t>(w) * 64 * sizeof(T), v);
    if (w * 64 < f.vw) {
        uint64_t m = 0;
        for (int i = w * 64; i < f.vw; ++i)
            if (load_pixel<T>(row, i) != border)
                m |= 1ULL << (i - w * 64);
        out[w] = m;
    }
}

// ---- search ----------------------------------------------------------------

// Every bit of `open` whose run of set bits reaches a bit of x at or above
// it: x spreads downwards over distances 1, 2, 4, ... while `open` holds.
static uint64_t spread_down(uint64_t x, uint64_t open)
{
    uint64_t m = open;
    x |= (x >> 1) & m;
    m &= m >> 1;
    x |= (x >> 2) & m;
    m &= m >> 2;
    x |= (x >> 4) & m;
    m &= m >> 4;
    x |= (x >> 8) & m;
    m &= m >> 8;
    x |= (x >> 16) & m;
    m &= m >> 16;
    return x | ((x >> 32) & m);
}

// Adds to the region of view row r every run of its open pixels that holds
// a seed; seeds(w) gives word w's seeds, which are open and outside the
// region, and only words lo..hi have any. Since the region holds only whole
// runs, the runs found are new. Upwards, adding the seeds to the open mask
// carries each through the rest of its run (and into the next word when
// the run goes on there); downwards, the bits reached spread over the run's
// lower part, word by word from the top. Returns the changed words in
// *a..*b (none: *a > *b).
template <typename Seeds>
static void grow_row(Fill &f, int r, int lo, int hi, Seeds seeds, int *a, int *b)
{
    uint64_t *reg = f.seen + static_cast<std::size_t>(r) * f.words;
    const uint64_t *op = f.open + static_cast<std::size_t>(r) * f.words;
    const int last = static_cast<int>(f.words) - 1;
    int top = -1, bottom = hi + 1;
    uint64_t carry = 0;
    for (int w = lo; w <= last && (w <= hi || carry); ++w) {
        uint64_t s = w <= hi ? seeds(w) : 0;
        if (!s && !carry)
            continue;
        uint64_t o = op[w], t, sum;
        bool c1 = __builtin_add_overflow(o, s, &t), c2 = __builtin_add_overflow(t, carry, &sum);
        uint64_t reach = ((sum ^ o) & o) | s;
        carry = c1 || c2;
        if (reach) {
            reg[w] |= reach;
            top = w;
            bottom = std::min(bottom, w);
        }
    }
    if (top < 0)
        return;
    carry = 0;
    for (int w = top; w >= 0 && (w >= bottom || carry); --w) {
        uint64_t o = op[w], before = reg[w];
        uint64_t x = spread_down(before | (carry << 63 & o), o);
        reg[w] = x;
        // A run at bit 0 goes on in the word below when that word's top
        // pixel is open and not yet in the region (which holds whole runs).
        carry = w > 0 ? x & (op[w - 1] >> 63) & ~(reg[w - 1] >> 63) & 1 : 0;
        if (x != before)
            bottom = std::min(bottom, w);
    }
    *a = bottom;
    *b = top;
}

// Queues view row r with its grown words a..b and widens the bounding box.
static void note_growth(Fill &f, int r, int a, int b, int *sp, int *wmin, int *wmax, int *rmin, int *rmax)
{
    RowState &rs = f.rows[r];
    if (!rs.queued) {
        rs = {a, b, rs.has_open, true};
        f.stack[(*sp)++] = r;
    } else {
        rs.lo = std::min(rs.lo, a);
        rs.hi = std::max(rs.hi, b);
    }
    *wmin = std::min(*wmin, a);
    *wmax = std::max(*wmax, b);
    *rmin = std::min(*rmin, r);
    *rmax = std::max(*rmax, r);
}

// Finds the whole region from the seed (sx, sy), which is in the view and
// no border pixel.
template <typename T>
static void search(Fill &f, int sx, int sy)
{
    if (f.border > std::numeric_limits<T>::max()) {
        // A border value wider than the pixels matches none of them.
        for (int r = 0; r < f.vh; ++r)
            set_bits(f.seen + static_cast<std::size_t>(r) * f.words, 0, f.vw - 1);
        f.x1 = f.vx;
        f.x2 = f.vx + f.vw - 1;
        f.y1 = f.vy;
        f.y2 = f.vy + f.vh - 1;
        return;
    }
    const std::size_t words = f.words;
    int sp = 0, wmin = INT_MAX, wmax = -1, rmin = INT_MAX, rmax = -1;
    const int r0 = sy - f.vy, c0 = sx - f.vx;
    compute_open<T>(f, r0);
    f.rows[r0].has_open = true;
    int a = INT_MAX, b = -1;
    grow_row(f, r0, c0 >> 6, c0 >> 6, [&](int) { return 1ULL << (c0 & 63); }, &a, &b);
    note_growth(f, r0, a, b, &sp, &wmin, &wmax, &rmin, &rmax);
    while (sp > 0) {
        const int r = f.stack[--sp];
        RowState &rs = f.rows[r];
        rs.queued = false;
        const int lo = rs.lo, hi = rs.hi;
        const uint64_t *from = f.seen + static_cast<std::size_t>(r) * words;
        for (int nr : {r - 1, r + 1}) {
            if (nr < 0 || nr >= f.vh)
                continue;
            if (!f.rows[nr].has_open) {
                compute_open<T>(f, nr);
                f.rows[nr].has_open = true;
            }
            const uint64_t *op = f.open + static_cast<std::size_t>(nr) * words;
            const uint64_t *reg = f.seen + static_cast<std::size_t>(nr) * words;
            a = INT_MAX;
            b = -1;
            grow_row(f, nr, lo, hi, [&](int w) { return from[w] & op[w] & ~reg[w]; }, &a, &b);
            if (a <= b)
                note_growth(f, nr, a, b, &sp, &wmin, &wmax, &rmin, &rmax);
        }
    }
    f.x1 = f.vx + wmin * 64;
    f.x2 = f.vx + std::min(f.vw, (wmax + 1) * 64) - 1;
    f.y1 = f.vy + rmin;
    f.y2 = f.vy + rmax;
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

// Lane masks for the 16 bytes at a group of pixels: lane i is all ones when
// bit i of `bits` is set.
template <typename T>
static __m128i lane_mask(unsigned bits)
{
    if constexpr (sizeof(T) == 4) {
        const __m128i sel = _mm_setr_epi32(1, 2, 4, 8);
        return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(static_cast<int>(bits)), sel), sel);
    } else if constexpr (sizeof(T) == 2) {
        const __m128i sel = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
        return _mm_cmpeq_epi16(_mm_and_si128(_mm_set1_epi16(static_cast<short>(bits)), sel), sel);
    } else {
        const __m128i sel = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
        __m128i b = _mm_unpacklo_epi64(_mm_set1_epi8(static_cast<char>(bits)), _mm_set1_epi8(static_cast<char>(bits >> 8)));
        return _mm_cmpeq_epi8(_mm_and_si128(b, sel), sel);
    }
}

// A solid fill of the region in row `row` (pixels from the view's left
// edge), 16 bytes at a time: whole groups are stored, partial ones take the
// fill colour where their bits are set and keep the other pixels. A group
// reaching past the view's right edge goes pixel by pixel, so nothing
// outside the view is touched.
template <typename T>
static void write_solid_row(DrawContext *ctx, uint8_t *row, const uint64_t *bits, int first_word, int last_word,
                            int width, T value)
{
    constexpr int per = 16 / sizeof(T);
    const __m128i v = splat<T>(value);
    for (int w = first_word; w <= last_word; ++w) {
        uint64_t m = bits[w];
        if (!m)
            continue;
        if (m == ~0ULL) {
            // Whole words in a row are one span for the span filler.
            int end = w + 1;
            while (end <= last_word && bits[end] == ~0ULL)
                ++end;
            ctx->pixel_set(row + static_cast<std::size_t>(w) * 64 * sizeof(T), value,
                           static_cast<std::size_t>(end - w) * 64);
            w = end - 1;
            continue;
        }
        for (int g = 0; g < 64 && m; g += per, m >>= per) {
            auto part = static_cast<unsigned>(m & ((1ULL << per) - 1));
            if (!part)
                continue;
            int x = w * 64 + g;
            uint8_t *p = row + static_cast<std::size_t>(x) * sizeof(T);
            if (x + per > width) {
                for (int i = 0; i < per; ++i)
                    if (part >> i & 1)
                        std::memcpy(p + i * sizeof(T), &value, sizeof(T));
            } else if (part == (1u << per) - 1) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
            } else {
                __m128i k = lane_mask<T>(part);
                __m128i d = load16(p);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_or_si128(_mm_and_si128(k, v), _mm_andnot_si128(k, d)));
            }
        }
    }
}

// Writes every run of set bits in the bitmap: these are exactly the found
// runs, since two maximal runs of a row never touch. Solid opaque fills
// go by groups of pixels; blended and tiled ones by runs.
template <typename T>
static void write_region(const Fill &f, uint32_t fill, const uint8_t *tile, int mode)
{
    DrawContext *ctx = f.ctx;
    constexpr int bpp = sizeof(T);
    bool opaque = ctx->pixel_set == rk_hPixelSetSolid;
    const int vx = f.vx, first = f.x1 - f.vx, end = f.x2 - f.vx + 1;
    for (int y = f.y1; y <= f.y2; ++y) {
        const uint64_t *bits = f.seen + static_cast<std::size_t>(y - f.vy) * f.words;
        uint8_t *row = ctx->line[y];
        if (mode == 0 && opaque) {
            write_solid_row<T>(ctx, row + static_cast<std::size_t>(vx) * bpp, bits, first >> 6, (end - 1) >> 6, f.vw,
                               static_cast<T>(fill));
            continue;
        }
        const uint8_t *src = tile + (y & 7) * 8 * bpp;
        for_each_run(bits, first, end, [&](int a, int b) __attribute__((always_inline)) {
            if (mode != 0)
                write_tile(row, vx + a, vx + b - 1, src, bpp);
            else
                ctx->pixel_set(row + static_cast<std::size_t>(vx + a) * bpp, fill, static_cast<std::size_t>(b - a));
        });
    }
    // The region is connected: every row from the first to the last has runs.
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(f.y1, f.y2);
}

// ---- the operation ---------------------------------------------------------

static void *allocate(std::size_t count, std::size_t size, bool zero)
{
    return zero ? std::calloc(count, size) : std::malloc(count * size);
}

static bool start_fill(Fill &f)
{
    std::size_t bitmap_words;
    f.words = (static_cast<std::size_t>(f.vw) + 63) / 64;
    if (!rk_hSizeMulAdd(static_cast<long long>(f.words), f.vh, 0, &bitmap_words))
        return false;
    // Large zeroed blocks come straight from the kernel, so a small region in
    // a big view touches only the bitmap pages it uses; the open masks are
    // written before they are read.
    auto rows = static_cast<std::size_t>(f.vh);
    f.seen = static_cast<uint64_t *>(allocate(bitmap_words, sizeof(uint64_t), true));
    f.open = f.seen ? static_cast<uint64_t *>(allocate(bitmap_words, sizeof(uint64_t), false)) : nullptr;
    f.rows = f.open ? static_cast<RowState *>(allocate(rows, sizeof(RowState), true)) : nullptr;
    f.stack = f.rows ? static_cast<int32_t *>(allocate(rows, sizeof(int32_t), false)) : nullptr;
    return f.stack != nullptr;
}

static void end_fill(Fill &f)
{
    std::free(f.seen);
    std::free(f.open);
    std::free(f.rows);
    std::free(f.stack);
}

// Finds the region, then writes it under the screen lock.
template <typename T>
static void fill_region(Fill &f, int sx, int sy, uint32_t fill, const uint8_t *tile, int mode)
{
    search<T>(f, sx, sy);
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
    if (!rk_hSelectTarget(ctx, target)) {
        rk_hStrDelTemp(tile);
        return;
    }
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
    } else {
        rk_ErrorSetNum(RK_ERR_MEMORY);
    }
    end_fill(f);
}
