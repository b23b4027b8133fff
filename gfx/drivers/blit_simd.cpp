// The fast blitters: SSE2 (and SSSE3 where the processor has it) versions
// of the plain routines, four pixels per step at least. They give the same
// pixels as the plain routines; lines of a width that is not a multiple of
// four lose their last pixels, so the selection only takes them for such
// widths. Then the pixel replication of scaled windows, for every width.
#include <algorithm>
#include <array>
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include "gfx/drivers/blit.h"
#include "gfx/drivers/blit_px.h"

using namespace blitpx;

static bool cpu_has_ssse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// ---- 32-bit sources ------------------------------------------------------

// Narrows eight 32-bit lanes holding 16-bit values to eight 16-bit lanes.
static inline __m128i pack_u16(__m128i a, __m128i b)
{
    a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    return _mm_packs_epi32(a, b);
}

static inline __m128i mask32(uint32_t m) { return _mm_set1_epi32(static_cast<int>(m)); }

struct P32to15BGR {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 9), mask32(0x7C00)),
                                         _mm_and_si128(_mm_srli_epi32(p, 6), mask32(0x3E0))),
                            _mm_and_si128(_mm_srli_epi32(p, 3), mask32(0x1F)));
    }
};
struct P32to15RGB {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 7), mask32(0x7C00)),
                                         _mm_and_si128(_mm_srli_epi32(p, 6), mask32(0x3E0))),
                            _mm_and_si128(_mm_srli_epi32(p, 19), mask32(0x1F)));
    }
};
struct P32to16BGR {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 8), mask32(0xF800)),
                                         _mm_and_si128(_mm_srli_epi32(p, 5), mask32(0x7E0))),
                            _mm_and_si128(_mm_srli_epi32(p, 3), mask32(0x1F)));
    }
};
struct P32to16RGB {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi32(p, 8), mask32(0xF800)),
                                         _mm_and_si128(_mm_srli_epi32(p, 5), mask32(0x7E0))),
                            _mm_and_si128(_mm_srli_epi32(p, 19), mask32(0x1F)));
    }
};
struct SwapRB {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(_mm_and_si128(p, mask32(0xFF)), 16),
                                         _mm_and_si128(p, mask32(0xFF00))),
                            _mm_and_si128(_mm_srli_epi32(p, 16), mask32(0xFF)));
    }
};

template <class F>
static void line_32_to16(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        __m128i a = F::v(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x)));
        __m128i b = F::v(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x + 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 2 * x), pack_u16(a, b));
    }
    for (; x + 4 <= w; x += 4) {
        __m128i a = F::v(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 2 * x), pack_u16(a, a));
    }
}

template <class F>
static void line_32_to32(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x), F::v(a));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x + 16), F::v(b));
    }
    for (; x + 4 <= w; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x),
                         F::v(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x))));
}

// Four 32-bit lanes to twelve bytes: each lane's three low bytes, in the
// order the shuffle mask gives; the last four bytes of the result are zero.
__attribute__((target("ssse3"))) static inline __m128i compact24(__m128i v, __m128i order)
{
    return _mm_shuffle_epi8(v, order);
}

static const __m128i order_keep = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
static const __m128i order_swap = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);

static inline void store12(uint8_t *dst, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst), v);
    uint32_t tail = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    store32(dst + 8, tail);
}

// Sixteen compacted pixels (four groups of twelve bytes) into 48 bytes.
static inline void store48(uint8_t *dst, __m128i a, __m128i b, __m128i c, __m128i d)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
}

// Four 32-bit values out as three words, each value's low three bytes.
static inline void pack4_24(uint8_t *o, uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    store32(o, (a & 0xFFFFFF) | (b << 24));
    store32(o + 4, ((b >> 8) & 0xFFFF) | (c << 16));
    store32(o + 8, ((c >> 16) & 0xFF) | (d << 8));
}

template <bool Swap>
__attribute__((target("ssse3"))) static void line_32_to24_ssse3(uint8_t *dst, const uint8_t *src, int w)
{
    const __m128i order = Swap ? order_swap : order_keep;
    auto at = [&](int x) {
        return compact24(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x)), order);
    };
    int x = 0;
    for (; x + 16 <= w; x += 16)
        store48(dst + 3 * x, at(x), at(x + 4), at(x + 8), at(x + 12));
    for (; x + 4 <= w; x += 4)
        store12(dst + 3 * x, at(x));
}

template <bool Swap>
static void line_32_to24(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    if (cpu_has_ssse3()) {
        line_32_to24_ssse3<Swap>(dst, src, w);
        return;
    }
    auto px = [&](int x) { return Swap ? swap_rb(load32(src + 4 * x)) : load32(src + 4 * x); };
    for (int x = 0; x + 4 <= w; x += 4)
        pack4_24(dst + 3 * x, px(x), px(x + 1), px(x + 2), px(x + 3));
}

// ---- 16-bit sources ------------------------------------------------------

static inline __m128i mask16(uint16_t m) { return _mm_set1_epi16(static_cast<short>(m)); }

struct P16to15BGR {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p, 1), mask16(0x7FE0)), _mm_and_si128(p, mask16(0x1F)));
    }
};
struct P16to15RGB {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_slli_epi16(p, 10), mask16(0x7C00)),
                                         _mm_and_si128(_mm_srli_epi16(p, 1), mask16(0x3E0))),
                            _mm_srli_epi16(p, 11));
    }
};
struct P16to16RGB {
    static __m128i v(__m128i p)
    {
        return _mm_or_si128(_mm_or_si128(_mm_srli_epi16(p, 11), _mm_and_si128(p, mask16(0x7E0))),
                            _mm_slli_epi16(p, 11));
    }
};

template <class F>
static void line_16_to16(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    int x = 0;
    for (; x + 8 <= w; x += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 2 * x),
                         F::v(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * x))));
    for (; x + 4 <= w; x += 4)
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 2 * x),
                         F::v(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + 2 * x))));
}

// The widening table holds one of two known layouts (rk_hGetBlitter builds
// it); those are computed directly, anything else goes through the table.
enum class Widen { RedHigh, RedLow, Table };

static Widen widen_kind()
{
    static uint32_t high[512], low[512];
    static const bool built = (rk_hBuildColorConv16to32(high, 0), rk_hBuildColorConv16to32(low, 1), true);
    (void)built;
    if (std::memcmp(__rk_color_conv_16to32, high, sizeof high) == 0)
        return Widen::RedHigh;
    if (std::memcmp(__rk_color_conv_16to32, low, sizeof low) == 0)
        return Widen::RedLow;
    return Widen::Table;
}

// Four RGB565 pixels in the low 16-bit lanes of `p` widened to 32 bits.
template <bool RedLow>
static inline __m128i widen4(__m128i p)
{
    __m128i v = _mm_unpacklo_epi16(p, _mm_setzero_si128());
    __m128i g = _mm_slli_epi32(_mm_and_si128(v, mask32(0x7E0)), 5);
    __m128i r = _mm_and_si128(v, mask32(0xF800));
    __m128i b = _mm_and_si128(v, mask32(0x1F));
    if (RedLow)
        return _mm_or_si128(_mm_or_si128(_mm_srli_epi32(r, 8), g), _mm_slli_epi32(b, 19));
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(r, 8), g), _mm_slli_epi32(b, 3));
}

static inline uint32_t widen16(uint32_t p)
{
    return __rk_color_conv_16to32[p & 0xFF] | __rk_color_conv_16to32[256 + (p >> 8)];
}

template <bool RedLow>
static void line_16_to32_simd(uint8_t *dst, const uint8_t *src, int w)
{
    for (int x = 0; x + 4 <= w; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x),
                         widen4<RedLow>(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + 2 * x))));
}

static void line_16_to32_table(uint8_t *dst, const uint8_t *src, int w)
{
    for (int x = 0; x + 4 <= w; x += 4)
        for (int i = 0; i < 4; ++i)
            store32(dst + 4 * (x + i), widen16(load16(src + 2 * (x + i))));
}

template <bool RedLow>
__attribute__((target("ssse3"))) static void line_16_to24_ssse3(uint8_t *dst, const uint8_t *src, int w)
{
    auto at = [&](int x) {
        return compact24(widen4<RedLow>(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(src + 2 * x))), order_keep);
    };
    int x = 0;
    for (; x + 16 <= w; x += 16)
        store48(dst + 3 * x, at(x), at(x + 4), at(x + 8), at(x + 12));
    for (; x + 4 <= w; x += 4)
        store12(dst + 3 * x, at(x));
}

static void line_16_to24_table(uint8_t *dst, const uint8_t *src, int w)
{
    auto px = [&](int x) { return widen16(load16(src + 2 * x)); };
    for (int x = 0; x + 4 <= w; x += 4)
        pack4_24(dst + 3 * x, px(x), px(x + 1), px(x + 2), px(x + 3));
}

// The table's layout is checked once per frame, not per line: the check
// reads all 2 KB of it.
template <void (*Line)(uint8_t *, const uint8_t *, int)>
static void walk_16(uint8_t *dest, int dest_pitch)
{
    walk_lines(dest, dest_pitch, [](uint8_t *dst, const uint8_t *src, int w, const ScreenState *) { Line(dst, src, w); });
}

static void blit_16_to32(uint8_t *dest, int dest_pitch)
{
    if (!__rk_gfx)
        return;
    switch (widen_kind()) {
    case Widen::RedHigh: walk_16<line_16_to32_simd<false>>(dest, dest_pitch); return;
    case Widen::RedLow: walk_16<line_16_to32_simd<true>>(dest, dest_pitch); return;
    case Widen::Table: walk_16<line_16_to32_table>(dest, dest_pitch); return;
    }
}

static void blit_16_to24(uint8_t *dest, int dest_pitch)
{
    if (!__rk_gfx)
        return;
    Widen kind = cpu_has_ssse3() ? widen_kind() : Widen::Table;
    switch (kind) {
    case Widen::RedHigh: walk_16<line_16_to24_ssse3<false>>(dest, dest_pitch); return;
    case Widen::RedLow: walk_16<line_16_to24_ssse3<true>>(dest, dest_pitch); return;
    case Widen::Table: walk_16<line_16_to24_table>(dest, dest_pitch); return;
    }
}

// ---- palette sources -----------------------------------------------------

// The palette converted once per call, then four lookups per step.
template <class T, T (*Conv)(uint32_t)>
static void make_lut(T *lut)
{
    for (int i = 0; i < 256; ++i)
        lut[i] = Conv(__rk_gfx->device_palette[i]);
}

template <uint16_t (*Conv)(uint32_t)>
static void blit_pal_to16(uint8_t *dest, int dest_pitch)
{
    if (!__rk_gfx)
        return;
    uint16_t lut[256];
    make_lut<uint16_t, Conv>(lut);
    walk_lines(dest, dest_pitch, [&](uint8_t *dst, const uint8_t *src, int w, const ScreenState *) {
        for (int x = 0; x + 4 <= w; x += 4) {
            uint64_t v = lut[src[x]] | (static_cast<uint64_t>(lut[src[x + 1]]) << 16) |
                         (static_cast<uint64_t>(lut[src[x + 2]]) << 32) | (static_cast<uint64_t>(lut[src[x + 3]]) << 48);
            std::memcpy(dst + 2 * x, &v, 8);
        }
    });
}

static uint32_t keep(uint32_t e) { return e; }

// Four lookups joined in registers and stored as one 16-byte write: four
// separate 32-bit stores, or a buffer on the stack read back as a vector
// (a store-forwarding stall), both cost more than the lookups themselves.
static void pal_line32(uint8_t *dst, const uint8_t *src, int w, const uint32_t *lut)
{
    for (int x = 0; x + 4 <= w; x += 4) {
        uint32_t idx = load32(src + x);
        __m128i a = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lut[idx & 0xFF])),
                                       _mm_cvtsi32_si128(static_cast<int>(lut[(idx >> 8) & 0xFF])));
        __m128i b = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lut[(idx >> 16) & 0xFF])),
                                       _mm_cvtsi32_si128(static_cast<int>(lut[idx >> 24])));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * x), _mm_unpacklo_epi64(a, b));
    }
}

template <uint32_t (*Conv)(uint32_t)>
static void blit_pal_to32(uint8_t *dest, int dest_pitch)
{
    if (!__rk_gfx)
        return;
    uint32_t lut[256];
    make_lut<uint32_t, Conv>(lut);
    walk_lines(dest, dest_pitch, [&](uint8_t *dst, const uint8_t *src, int w, const ScreenState *) {
        pal_line32(dst, src, w, lut);
    });
}

template <uint32_t (*Conv)(uint32_t)>
static void blit_pal_to24(uint8_t *dest, int dest_pitch)
{
    if (!__rk_gfx)
        return;
    uint32_t lut[256];
    make_lut<uint32_t, Conv>(lut);
    walk_lines(dest, dest_pitch, [&](uint8_t *dst, const uint8_t *src, int w, const ScreenState *) {
        for (int x = 0; x + 4 <= w; x += 4)
            pack4_24(dst + 3 * x, lut[src[x]], lut[src[x + 1]], lut[src[x + 2]], lut[src[x + 3]]);
    });
}

// ---- the fast routines ---------------------------------------------------

#define RK_FAST_BLITTER(name, line) \
    void name(uint8_t *dest, int dest_pitch) { walk_lines(dest, dest_pitch, line); }

void rk_hBlit8to15RGBMMX(uint8_t *dest, int dest_pitch) { blit_pal_to16<pal_to15_rgb>(dest, dest_pitch); }
void rk_hBlit8to16RGBMMX(uint8_t *dest, int dest_pitch) { blit_pal_to16<pal_to16_rgb>(dest, dest_pitch); }
void rk_hBlit8to24RGBMMX(uint8_t *dest, int dest_pitch) { blit_pal_to24<keep>(dest, dest_pitch); }
void rk_hBlit8to32RGBMMX(uint8_t *dest, int dest_pitch) { blit_pal_to32<keep>(dest, dest_pitch); }
void rk_hBlit8to15BGRMMX(uint8_t *dest, int dest_pitch) { blit_pal_to16<pal_to15_bgr>(dest, dest_pitch); }
void rk_hBlit8to16BGRMMX(uint8_t *dest, int dest_pitch) { blit_pal_to16<pal_to16_bgr>(dest, dest_pitch); }
void rk_hBlit8to24BGRMMX(uint8_t *dest, int dest_pitch) { blit_pal_to24<swap_rb>(dest, dest_pitch); }
void rk_hBlit8to32BGRMMX(uint8_t *dest, int dest_pitch) { blit_pal_to32<swap_rb>(dest, dest_pitch); }
RK_FAST_BLITTER(rk_hBlit16to15RGBMMX, line_16_to16<P16to15RGB>)
RK_FAST_BLITTER(rk_hBlit16to16RGBMMX, line_16_to16<P16to16RGB>)
void rk_hBlit16to24MMX(uint8_t *dest, int dest_pitch) { blit_16_to24(dest, dest_pitch); }
void rk_hBlit16to32MMX(uint8_t *dest, int dest_pitch) { blit_16_to32(dest, dest_pitch); }
RK_FAST_BLITTER(rk_hBlit32to15RGBMMX, line_32_to16<P32to15RGB>)
RK_FAST_BLITTER(rk_hBlit32to16RGBMMX, line_32_to16<P32to16RGB>)
RK_FAST_BLITTER(rk_hBlit32to24RGBMMX, line_32_to24<true>)
RK_FAST_BLITTER(rk_hBlit32to32RGBMMX, line_32_to32<SwapRB>)
RK_FAST_BLITTER(rk_hBlit16to15BGRMMX, line_16_to16<P16to15BGR>)
RK_FAST_BLITTER(rk_hBlit32to15BGRMMX, line_32_to16<P32to15BGR>)
RK_FAST_BLITTER(rk_hBlit32to16BGRMMX, line_32_to16<P32to16BGR>)
RK_FAST_BLITTER(rk_hBlit32to24BGRMMX, line_32_to24<false>)
#undef RK_FAST_BLITTER

// ---- pixel replication ---------------------------------------------------

// Widening `bytes`-byte pixels by `factor` repeats itself every lcm(16,
// bytes x factor) output bytes: a period of at most nine 16-byte chunks,
// each one shuffle of 16 source bytes loaded at the chunk's own offset.
struct ScalePlan {
    int bytes;             // per pixel
    int chunks;            // 16-byte chunks per period
    int pixels;            // source pixels per period
    int reach;             // source bytes a period reads, from its start
    int base[9];           // source offset of each chunk's load
    uint8_t order[9][16];  // each chunk's shuffle mask
};

static ScalePlan make_plan(int bytes, int factor)
{
    ScalePlan p{};
    p.bytes = bytes;
    int step = bytes * factor, period = step;
    while (period % 16)
        period += step;
    p.chunks = period / 16;
    p.pixels = period / step;
    for (int j = 0; j < p.chunks; ++j) {
        int first = 16 * j;
        p.base[j] = first / step * bytes;
        for (int i = 0; i < 16; ++i) {
            int o = first + i;
            p.order[j][i] = static_cast<uint8_t>(o / step * bytes + o % bytes - p.base[j]);
        }
        p.reach = std::max(p.reach, p.base[j] + 16);
    }
    return p;
}

// Plans for bytes 1-4 and factors 2-4.
static const ScalePlan *scale_plan(int bytes, int factor)
{
    static const auto plans = [] {
        std::array<ScalePlan, 12> a{};
        for (int b = 1; b <= 4; ++b)
            for (int f = 2; f <= 4; ++f)
                a[static_cast<std::size_t>((b - 1) * 3 + f - 2)] = make_plan(b, f);
        return a;
    }();
    return &plans[static_cast<std::size_t>((bytes - 1) * 3 + factor - 2)];
}

// The line's whole periods by shuffles, the rest by the plain routine;
// then copied into the other factor - 1 window lines while it is in the
// cache.
__attribute__((target("ssse3"))) static void scale_line_ssse3(uint8_t *dst, int pitch, const uint8_t *src, int w,
                                                                int factor, const ScalePlan &p)
{
    __m128i order[9];
    for (int j = 0; j < p.chunks; ++j)
        order[j] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p.order[j]));
    int line_bytes = w * p.bytes, x = 0;
    uint8_t *out = dst;
    for (; x * p.bytes + p.reach <= line_bytes; x += p.pixels, out += p.chunks * 16) {
        const uint8_t *in = src + x * p.bytes;
        for (int j = 0; j < p.chunks; ++j)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * j),
                             _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + p.base[j])),
                                              order[j]));
    }
    rk_hBlitScaleLine(out, src + x * p.bytes, w - x, p.bytes, factor);
    repeat_line(dst, pitch, factor, static_cast<std::size_t>(w) * p.bytes * factor);
}

// Four-byte pixels, the common case, with AVX2: eight source pixels make
// `factor` 32-byte stores, each a permutation of the four source pixels
// loaded at its own offset (output pixel 8j + i comes from (8j + i) / factor).
__attribute__((target("avx2"))) static void scale_line4_avx2(uint8_t *dst, int pitch, const uint8_t *src, int w,
                                                               int factor)
{
    __m256i order[4];
    int base[4], reach = 0;
    for (int j = 0; j < factor; ++j) {
        base[j] = 8 * j / factor;
        alignas(32) int idx[8];
        for (int i = 0; i < 8; ++i)
            idx[i] = (8 * j + i) / factor - base[j];
        order[j] = _mm256_load_si256(reinterpret_cast<const __m256i *>(idx));
        reach = std::max(reach, base[j] + 4);
    }
    int x = 0;
    uint8_t *out = dst;
    for (; x + reach <= w; x += 8, out += 32 * factor)
        for (int j = 0; j < factor; ++j) {
            __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * (x + base[j])));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32 * j),
                                _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(in), order[j]));
        }
    rk_hBlitScaleLine(out, src + 4 * x, w - x, 4, factor);
    repeat_line(dst, pitch, factor, static_cast<std::size_t>(w) * 4 * factor);
}

void rk_hBlitScale(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor)
{
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (bytes != 4 || factor < 2 || factor > 4 || !has_avx2 || !__rk_gfx) {
        rk_hBlitScaleSSSE3(dest, dest_pitch, src, src_pitch, bytes, factor);
        return;
    }
    int w = __rk_gfx->w;
    walk_scaled_lines(dest, dest_pitch, src, src_pitch, factor, [&](uint8_t *out, const uint8_t *in) {
        scale_line4_avx2(out, dest_pitch, in, w, factor);
    });
}

void rk_hBlitScaleSSSE3(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor)
{
    const ScreenState *s = __rk_gfx;
    if (!s || bytes < 1 || bytes > 4 || factor < 2 || factor > 4 || !cpu_has_ssse3()) {
        rk_hBlitScalePlain(dest, dest_pitch, src, src_pitch, bytes, factor);
        return;
    }
    const ScalePlan &plan = *scale_plan(bytes, factor);
    walk_scaled_lines(dest, dest_pitch, src, src_pitch, factor, [&](uint8_t *out, const uint8_t *in) {
        scale_line_ssse3(out, dest_pitch, in, s->w, factor, plan);
    });
}
