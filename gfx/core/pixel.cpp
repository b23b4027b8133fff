#include "gfx/core/pixel.h"

#include <cstring>
#include <emmintrin.h>
#include <immintrin.h>

#include "gfx/core/screen.h"

PutPixelFn rk_hPutPixelSolid = rk_hPutPixel4, rk_hPutPixelAlpha = rk_hPutPixel4;
GetPixelFn rk_hGetPixel = rk_hGetPixel4;
PixelSetFn rk_hPixelSetSolid = rk_hPixelSet4, rk_hPixelSetAlpha = rk_hPixelSet4, rk_hPixelSet = rk_hPixelSet4;
PixelCpyFn rk_hPixelCpy = rk_hPixelCpy4;
MemCpyFn rk_hMemCpy = std::memcpy;
MemSetFn rk_hMemSet = std::memset;

bool rk_hCpuHasAVX2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

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

// Stores the 32-byte pattern `v` over [p, p + n) where n is a multiple of
// the pattern's period; the bulk goes in aligned 128-byte steps.
[[gnu::target("avx2")]] static void store_pattern_avx2(uint8_t *p, __m256i v, std::size_t n)
{
    while (n >= 128) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 32), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 64), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 96), v);
        p += 128;
        n -= 128;
    }
    while (n >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
        p += 32;
        n -= 32;
    }
    if (n >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm256_castsi256_si128(v));
        p += 16;
        n -= 16;
    }
    if (n)
        std::memcpy(p, &v, n);
}

static void store_pattern_sse2(uint8_t *p, __m128i v, std::size_t n)
{
    while (n >= 64) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16), v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 32), v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 48), v);
        p += 64;
        n -= 64;
    }
    while (n >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
        p += 16;
        n -= 16;
    }
    if (n)
        std::memcpy(p, &v, n);
}

// Fills n bytes with a pattern of period 1, 2 or 4 bytes given as a 32-bit
// word. The head up to a 32-byte boundary is written first, in whole
// periods, so the bulk stores are aligned.
[[gnu::target("avx2")]] static void fill_avx2(uint8_t *p, uint32_t word, std::size_t n, std::size_t period)
{
    std::size_t head = (32 - (reinterpret_cast<std::uintptr_t>(p) & 31)) & 31;
    if (head % period == 0 && head < n) {
        for (std::size_t i = 0; i < head; i += period)
            std::memcpy(p + i, &word, period);
        p += head;
        n -= head;
    }
    store_pattern_avx2(p, _mm256_set1_epi32(static_cast<int>(word)), n);
}

static void fill_simd(uint8_t *p, uint32_t word, std::size_t n, std::size_t period)
{
    if (rk_hCpuHasAVX2())
        fill_avx2(p, word, n, period);
    else
        store_pattern_sse2(p, _mm_set1_epi32(static_cast<int>(word)), n);
}

void *rk_hMemSetMMX(void *dst, int value, std::size_t n)
{
    fill_simd(static_cast<uint8_t *>(dst), 0x01010101u * static_cast<uint8_t>(value), n, 1);
    return dst;
}

[[gnu::target("avx2")]] static void copy_avx2(uint8_t *d, const uint8_t *s, std::size_t n)
{
    while (n >= 128) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + 32));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + 64));
        __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + 96), e);
        s += 128;
        d += 128;
        n -= 128;
    }
    while (n >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s)));
        s += 32;
        d += 32;
        n -= 32;
    }
    if (n)
        std::memcpy(d, s, n);
}

static void copy_sse2(uint8_t *d, const uint8_t *s, std::size_t n)
{
    while (n >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_loadu_si128(reinterpret_cast<const __m128i *>(s)));
        s += 16;
        d += 16;
        n -= 16;
    }
    if (n)
        std::memcpy(d, s, n);
}

void *rk_hMemCpyMMX(void *dst, const void *src, std::size_t n)
{
    if (rk_hCpuHasAVX2())
        copy_avx2(static_cast<uint8_t *>(dst), static_cast<const uint8_t *>(src), n);
    else
        copy_sse2(static_cast<uint8_t *>(dst), static_cast<const uint8_t *>(src), n);
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
    uint32_t word = (c & 0xFFFF) * 0x00010001u;
    fill_simd(static_cast<uint8_t *>(dst), word, count * 2, 2);
}

void rk_hPixelSet4(void *dst, uint32_t c, std::size_t count)
{
    auto *p = static_cast<uint8_t *>(dst);
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(p + 4 * i, &c, 4);
}

void rk_hPixelSet4MMX(void *dst, uint32_t c, std::size_t count)
{
    fill_simd(static_cast<uint8_t *>(dst), c, count * 4, 4);
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
