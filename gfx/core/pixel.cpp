#include "gfx/core/pixel.h"

#include <cpuid.h>
#include <cstring>
#include <emmintrin.h>
#include <immintrin.h>


PutPixelFn rk_hPutPixelSolid = rk_hPutPixel4, rk_hPutPixelAlpha = rk_hPutPixel4;
GetPixelFn rk_hGetPixel = rk_hGetPixel4;
PixelSetFn rk_hPixelSetSolid = rk_hPixelSet4, rk_hPixelSetAlpha = rk_hPixelSet4, rk_hPixelSet = rk_hPixelSet4;
PixelCpyFn rk_hPixelCpy = rk_hPixelCpy4;
MemCpyFn rk_hMemCpy = std::memcpy;
MemSetFn rk_hMemSet = std::memset;

// ---- single pixels -------------------------------------------------------

void rk_hPutPixel1(DrawContext *ctx, int x, int y, uint32_t c)
{
    ctx->line[y][x] = static_cast<uint8_t>(c);
}

void rk_hPutPixel2(DrawContext *ctx, int x, int y, uint32_t c)
{
    auto v = static_cast<uint16_t>(c);
    std::memcpy(ctx->line[y] + 2 * static_cast<std::size_t>(x), &v, 2);
}

void rk_hPutPixel4(DrawContext *ctx, int x, int y, uint32_t c)
{
    std::memcpy(ctx->line[y] + 4 * static_cast<std::size_t>(x), &c, 4);
}

bool rk_hSolidColumn4(DrawContext *ctx, int x, int y1, int y2, uint32_t c)
{
    if (ctx->put_pixel != rk_hPutPixel4)
        return false;
    for (int y = y1; y <= y2; ++y)
        std::memcpy(ctx->line[y] + 4 * static_cast<std::size_t>(x), &c, 4);
    return true;
}

uint32_t rk_hGetPixel1(DrawContext *ctx, int x, int y)
{
    return ctx->line[y][x];
}

uint32_t rk_hGetPixel2(DrawContext *ctx, int x, int y)
{
    uint16_t v;
    std::memcpy(&v, ctx->line[y] + 2 * static_cast<std::size_t>(x), 2);
    return v;
}

uint32_t rk_hGetPixel4(DrawContext *ctx, int x, int y)
{
    uint32_t v;
    std::memcpy(&v, ctx->line[y] + 4 * static_cast<std::size_t>(x), 4);
    return v;
}

// ---- fills and copies ----------------------------------------------------
// A store path fills and copies byte spans with one vector width, and with
// the processor's fast string instructions (rep stos, rep movs) for large
// spans. The bodies are generic and always inlined, so each path's wrapper
// compiles them for its own instruction set.

namespace {

template <std::size_t W> struct Vec;
template <> struct Vec<16> { typedef uint32_t T __attribute__((vector_size(16))); };
template <> struct Vec<32> { typedef uint32_t T __attribute__((vector_size(32))); };
template <> struct Vec<64> { typedef uint32_t T __attribute__((vector_size(64))); };

// From this many bytes on, the string instructions beat vector stores on
// processors with fast strings: below it their start-up cost dominates.
constexpr std::size_t REP_FROM = 2048;

// The fill word as seen from `offset` bytes further on: a pattern of
// period 1, 2 or 4 repeats every 4 bytes, so this is a rotation.
inline uint32_t pattern_at(uint32_t word, std::size_t offset)
{
    unsigned sh = 8 * (offset & 3);
    return sh ? (word >> sh) | (word << (32 - sh)) : word;
}

// Vectors pass by reference only: these helpers are inlined into code of
// several instruction sets, and wide vectors by value change the ABI.
template <std::size_t W>
using V = typename Vec<W>::T;

template <std::size_t W>
[[gnu::always_inline]] inline void splat(V<W> &v, uint32_t word)
{
    // Through memory: the compiler turns this into one broadcast, where a
    // vector-scalar expression became one insert per lane.
    uint32_t lanes[W / 4];
    for (uint32_t &l : lanes)
        l = word;
    std::memcpy(&v, lanes, W);
}

template <std::size_t W>
[[gnu::always_inline]] inline void put(uint8_t *p, const V<W> &v)
{
    std::memcpy(p, &v, W);
}

template <std::size_t W>
[[gnu::always_inline]] inline void get(V<W> &v, const uint8_t *p)
{
    std::memcpy(&v, p, W);
}

// Spans shorter than one vector of the path: 16-byte stores, then words,
// each ending with one store that overlaps the previous one.
[[gnu::always_inline]] inline void fill_short(uint8_t *p, uint32_t word, std::size_t n)
{
    if (n >= 16) {
        V<16> v, last;
        splat<16>(v, word);
        splat<16>(last, pattern_at(word, n - 16));
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            put<16>(p + i, v);
        put<16>(p + n - 16, last);
    } else if (n >= 4) {
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4)
            std::memcpy(p + i, &word, 4);
        if (i < n) {
            uint32_t t = pattern_at(word, n - 4);
            std::memcpy(p + n - 4, &t, 4);
        }
    } else {
        std::memcpy(p, &word, n);
    }
}

// Fills n bytes with the pattern `word` (period 1, 2 or 4, starting at p):
// an unaligned first vector, aligned vectors (or rep stosq) in between,
// an unaligned last vector.
template <std::size_t W, bool Rep>
[[gnu::always_inline]] inline void fill_span(uint8_t *p, uint32_t word, std::size_t n)
{
    if (n < W) {
        fill_short(p, word, n);
        return;
    }
    V<W> v, last;
    splat<W>(v, word);
    splat<W>(last, pattern_at(word, n - W));
    put<W>(p, v);
    std::size_t i = W - (reinterpret_cast<std::uintptr_t>(p) & (W - 1));
    uint32_t aligned = pattern_at(word, i);
    if (Rep && n >= REP_FROM) {
        uint8_t *d = p + i;
        std::size_t count = (n - i) / 8;
        uint64_t q = aligned | (static_cast<uint64_t>(aligned) << 32);
        asm volatile("rep stosq" : "+D"(d), "+c"(count) : "a"(q) : "memory");
    } else {
        splat<W>(v, aligned);
        for (; i + 4 * W <= n; i += 4 * W) {
            put<W>(p + i, v);
            put<W>(p + i + W, v);
            put<W>(p + i + 2 * W, v);
            put<W>(p + i + 3 * W, v);
        }
        for (; i + W <= n; i += W)
            put<W>(p + i, v);
    }
    put<W>(p + n - W, last);
}

// Copies n bytes between spans that do not overlap: the first and last
// vectors unaligned, the rest with aligned stores (or rep movsb).
template <std::size_t W, bool Rep>
[[gnu::always_inline]] inline void copy_span(uint8_t *d, const uint8_t *s, std::size_t n)
{
    if (n < W) {
        if (n >= 16) {
            V<16> a, b, m;
            get<16>(a, s);
            get<16>(b, s + n - 16);
            for (std::size_t i = 16; i + 16 < n; i += 16) {
                get<16>(m, s + i);
                put<16>(d + i, m);
            }
            put<16>(d, a);
            put<16>(d + n - 16, b);
        } else {
            std::memcpy(d, s, n);
        }
        return;
    }
    if (Rep && n >= REP_FROM) {
        asm volatile("rep movsb" : "+D"(d), "+S"(s), "+c"(n) : : "memory");
        return;
    }
    V<W> a, b, c, e, last;
    get<W>(last, s + n - W);
    get<W>(a, s);
    put<W>(d, a);
    std::size_t i = W - (reinterpret_cast<std::uintptr_t>(d) & (W - 1));
    for (; i + 4 * W <= n; i += 4 * W) {
        get<W>(a, s + i);
        get<W>(b, s + i + W);
        get<W>(c, s + i + 2 * W);
        get<W>(e, s + i + 3 * W);
        put<W>(d + i, a);
        put<W>(d + i + W, b);
        put<W>(d + i + 2 * W, c);
        put<W>(d + i + 3 * W, e);
    }
    for (; i + W <= n; i += W) {
        get<W>(a, s + i);
        put<W>(d + i, a);
    }
    put<W>(d + n - W, last);
}

struct CpuFeatures {
    bool avx2, avx512, fast_strings, fast_short_strings;
};

const CpuFeatures &cpu()
{
    static const CpuFeatures f = [] {
        CpuFeatures c{};
        c.avx2 = __builtin_cpu_supports("avx2");
        c.avx512 = __builtin_cpu_supports("avx512f");
        unsigned a, b, cx, d;
        if (__get_cpuid_count(7, 0, &a, &b, &cx, &d)) {
            c.fast_strings = (b >> 9) & 1;         // ERMS
            c.fast_short_strings = (d >> 4) & 1;   // FSRM
        }
        return c;
    }();
    return f;
}

bool has_sse2() { return true; }
bool has_avx2() { return cpu().avx2; }
bool has_avx512() { return cpu().avx512; }
bool has_sse2_rep() { return cpu().fast_strings; }
bool has_avx2_rep() { return cpu().avx2 && cpu().fast_strings; }
bool has_avx512_rep() { return cpu().avx512 && cpu().fast_strings; }

}  // namespace

#define RK_STORE_PATH(name, isa, width, rep)                                                          \
    [[gnu::target(isa)]] static void fill_##name(void *p, uint32_t word, std::size_t n)              \
    {                                                                                                    \
        fill_span<width, rep>(static_cast<uint8_t *>(p), word, n);                                      \
    }                                                                                                    \
    [[gnu::target(isa)]] static void copy_##name(void *d, const void *s, std::size_t n)              \
    {                                                                                                    \
        copy_span<width, rep>(static_cast<uint8_t *>(d), static_cast<const uint8_t *>(s), n);           \
    }
RK_STORE_PATH(sse2, "sse2", 16, false)
RK_STORE_PATH(avx2, "avx2", 32, false)
RK_STORE_PATH(avx512, "avx512f", 64, false)
RK_STORE_PATH(sse2_rep, "sse2", 16, true)
RK_STORE_PATH(avx2_rep, "avx2", 32, true)
RK_STORE_PATH(avx512_rep, "avx512f", 64, true)
#undef RK_STORE_PATH

static const StorePath store_paths[] = {
    {"sse2", has_sse2, fill_sse2, copy_sse2},
    {"avx2", has_avx2, fill_avx2, copy_avx2},
    {"avx512", has_avx512, fill_avx512, copy_avx512},
    {"sse2+rep", has_sse2_rep, fill_sse2_rep, copy_sse2_rep},
    {"avx2+rep", has_avx2_rep, fill_avx2_rep, copy_avx2_rep},
    {"avx512+rep", has_avx512_rep, fill_avx512_rep, copy_avx512_rep},
};

std::span<const StorePath> rk_hStorePaths()
{
    return store_paths;
}

// The widest vectors the processor runs at full speed, 512-bit ones only on
// processors that also have fast short strings (the generations whose
// 512-bit stores cost no clock speed), and the string instructions for
// large spans where they are fast.
const StorePath &rk_hStorePath()
{
    static const StorePath &chosen = [] () -> const StorePath & {
        const CpuFeatures &c = cpu();
        int width = rk_hCpuHasFullSpeedAVX512() ? 2 : c.avx2 ? 1 : 0;
        return store_paths[width + (c.fast_strings ? 3 : 0)];
    }();
    return chosen;
}

bool rk_hCpuHasAVX2()
{
    return cpu().avx2;
}

bool rk_hCpuHasFullSpeedAVX512()
{
    return cpu().avx512 && cpu().fast_short_strings;
}

void *rk_hMemSetMMX(void *dst, int value, std::size_t n)
{
    rk_hStorePath().fill(dst, 0x01010101u * static_cast<uint8_t>(value), n);
    return dst;
}

void *rk_hMemCpyMMX(void *dst, const void *src, std::size_t n)
{
    rk_hStorePath().copy(dst, src, n);
    return dst;
}

void rk_hPixelSet1(void *dst, uint32_t c, std::size_t count)
{
    rk_hMemSet(dst, static_cast<int>(c & 0xFF), count);
}

void rk_hPixelSet2(void *dst, uint32_t c, std::size_t count)
{
    auto *p = static_cast<uint8_t *>(dst);
    auto v = static_cast<uint16_t>(c);
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(p + 2 * i, &v, 2);
}

void rk_hPixelSet2MMX(void *dst, uint32_t c, std::size_t count)
{
    rk_hStorePath().fill(dst, (c & 0xFFFF) * 0x00010001u, count * 2);
}

void rk_hPixelSet4(void *dst, uint32_t c, std::size_t count)
{
    auto *p = static_cast<uint8_t *>(dst);
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(p + 4 * i, &c, 4);
}

void rk_hPixelSet4MMX(void *dst, uint32_t c, std::size_t count)
{
    rk_hStorePath().fill(dst, c, count * 4);
}

void rk_hPixelCpy1(void *dst, const void *src, std::size_t count)
{
    rk_hMemCpy(dst, src, count);
}

void rk_hPixelCpy2(void *dst, const void *src, std::size_t count)
{
    rk_hMemCpy(dst, src, count * 2);
}

void rk_hPixelCpy4(void *dst, const void *src, std::size_t count)
{
    rk_hMemCpy(dst, src, count * 4);
}

// ---- alpha blending ------------------------------------------------------

uint32_t rk_hBlendPixel(uint32_t d, uint32_t s)
{
    uint32_t a = s >> 24;
    uint32_t rb = ((d & 0xFF00FF) + ((((s & 0xFF00FF) - (d & 0xFF00FF)) * a) >> 8)) & 0xFF00FF;
    uint32_t g = ((d & 0xFF00) + ((((s & 0xFF00) - (d & 0xFF00)) * a) >> 8)) & 0xFF00;
    return rb | g | (s & 0xFF000000u);
}

// d + floor((s - d) * a / 256) equals (s * a + d * (256 - a)) >> 8, which
// stays within 16 bits per channel: the form the vector code uses.
uint32_t rk_hBlendPixelMMX(uint32_t d, uint32_t s)
{
    uint32_t a = s >> 24, r = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
        r |= ((sc * a + dc * (256 - a)) >> 8) << shift;
    }
    return r;
}

void rk_hPutPixelAlpha4(DrawContext *ctx, int x, int y, uint32_t c)
{
    uint8_t *p = ctx->line[y] + 4 * static_cast<std::size_t>(x);
    uint32_t d;
    std::memcpy(&d, p, 4);
    d = rk_hBlendPixel(d, c);
    std::memcpy(p, &d, 4);
}

void rk_hPutPixelAlpha4MMX(DrawContext *ctx, int x, int y, uint32_t c)
{
    uint8_t *p = ctx->line[y] + 4 * static_cast<std::size_t>(x);
    uint32_t d;
    std::memcpy(&d, p, 4);
    d = rk_hBlendPixelMMX(d, c);
    std::memcpy(p, &d, 4);
}

void rk_hPixelSetAlpha4(void *dst, uint32_t c, std::size_t count)
{
    auto *p = static_cast<uint8_t *>(dst);
    for (std::size_t i = 0; i < count; ++i) {
        uint32_t d;
        std::memcpy(&d, p + 4 * i, 4);
        d = rk_hBlendPixel(d, c);
        std::memcpy(p + 4 * i, &d, 4);
    }
}

void rk_hPixelSetAlpha4MMX(void *dst, uint32_t c, std::size_t count)
{
    auto *p = static_cast<uint8_t *>(dst);
    uint32_t a = c >> 24;
    const __m128i zero = _mm_setzero_si128();
    // Source times alpha and the destination weight, per 16-bit lane.
    const __m128i src_a = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(c)), zero),
                                          _mm_set1_epi16(static_cast<short>(a)));
    const __m128i dst_w = _mm_set1_epi16(static_cast<short>(256 - a));
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 4 * i));
        __m128i lo = _mm_srli_epi16(_mm_add_epi16(src_a, _mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), dst_w)), 8);
        __m128i hi = _mm_srli_epi16(_mm_add_epi16(src_a, _mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), dst_w)), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 4 * i), _mm_packus_epi16(lo, hi));
    }
    for (; i < count; ++i) {
        uint32_t d;
        std::memcpy(&d, p + 4 * i, 4);
        d = rk_hBlendPixelMMX(d, c);
        std::memcpy(p + 4 * i, &d, 4);
    }
}

// ---- selection -----------------------------------------------------------

uint32_t _rk_CpuDetect()
{
    static uint32_t detected_cpu;
    if (detected_cpu)
        return detected_cpu;
    unsigned eax, ebx, ecx, edx;
    // x86-64 always has the identification instruction.
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        detected_cpu = (eax << 20) | (edx & 0x0FFFFFFFu);
    else
        detected_cpu = 0x40000000u;
    return detected_cpu;
}

void rk_hSetupFuncs(int bpp)
{
    bool fast = (_rk_CpuDetect() & 0x00800000u) != 0;
    rk_hMemCpy = fast ? rk_hMemCpyMMX : static_cast<MemCpyFn>(std::memcpy);
    rk_hMemSet = fast ? rk_hMemSetMMX : static_cast<MemSetFn>(std::memset);
    if (fast && __rk_gfx)
        __rk_gfx->flags |= SCREEN_HAS_MMX;
    switch (bpp) {
    case 1:
        rk_hPutPixelSolid = rk_hPutPixelAlpha = rk_hPutPixel1;
        rk_hGetPixel = rk_hGetPixel1;
        rk_hPixelSetSolid = rk_hPixelSetAlpha = rk_hPixelSet = rk_hPixelSet1;
        rk_hPixelCpy = rk_hPixelCpy1;
        break;
    case 2:
        rk_hPutPixelSolid = rk_hPutPixelAlpha = rk_hPutPixel2;
        rk_hGetPixel = rk_hGetPixel2;
        rk_hPixelSetSolid = rk_hPixelSetAlpha = rk_hPixelSet = fast ? rk_hPixelSet2MMX : rk_hPixelSet2;
        rk_hPixelCpy = rk_hPixelCpy2;
        break;
    default: {
        bool alpha = __rk_gfx && (__rk_gfx->flags & SCREEN_ALPHA_PRIMITIVES);
        rk_hPutPixelSolid = rk_hPutPixel4;
        rk_hGetPixel = rk_hGetPixel4;
        rk_hPixelSetSolid = rk_hPixelSet = fast ? rk_hPixelSet4MMX : rk_hPixelSet4;
        rk_hPixelCpy = rk_hPixelCpy4;
        rk_hPutPixelAlpha = alpha ? (fast ? rk_hPutPixelAlpha4MMX : rk_hPutPixelAlpha4) : rk_hPutPixelSolid;
        rk_hPixelSetAlpha = alpha ? (fast ? rk_hPixelSetAlpha4MMX : rk_hPixelSetAlpha4) : rk_hPixelSetSolid;
    }
    }
}
