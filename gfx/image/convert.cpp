#include "gfx/image/convert.h"

#include <cstring>
#include <immintrin.h>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"

static inline void store16(uint8_t *p, uint32_t v)
{
    uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}

static inline void store32(uint8_t *p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

static inline uint32_t rgb_to_565(uint32_t r, uint32_t g, uint32_t b)
{
    return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
}

void rk_image_convert_8to8(const uint8_t *src, uint8_t *dst, int count)
{
    const uint32_t mask = __rk_gfx->color_mask;
    for (int i = 0; i < count; ++i)
        dst[i] = static_cast<uint8_t>(src[i] & mask);
}

void rk_image_convert_8to16(const uint8_t *src, uint8_t *dst, int count)
{
    const uint32_t *pal = __rk_gfx->device_palette;
    for (int i = 0; i < count; ++i) {
        uint32_t c = pal[src[i]];
        store16(dst + 2 * i, rgb_to_565(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    }
}

void rk_image_convert_8to32(const uint8_t *src, uint8_t *dst, int count)
{
    const uint32_t *pal = __rk_gfx->device_palette;
    for (int i = 0; i < count; ++i) {
        uint32_t c = pal[src[i]];
        store32(dst + 4 * i, 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    }
}

void rk_image_convert_24to16(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 3)
        store16(dst + 2 * i, rgb_to_565(src[0], src[1], src[2]));
}

void rk_image_convert_24bgrto16(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 3)
        store16(dst + 2 * i, rgb_to_565(src[2], src[1], src[0]));
}

void rk_image_convert_24to32(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 3)
        store32(dst + 4 * i, 0xFF000000u | (uint32_t{src[0]} << 16) | (uint32_t{src[1]} << 8) | src[2]);
}

void rk_image_convert_24bgrto32_plain(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 3)
        store32(dst + 4 * i, 0xFF000000u | (uint32_t{src[2]} << 16) | (uint32_t{src[1]} << 8) | src[0]);
}

// Eight pixels per step: the two 128-bit lanes each take four 3-byte pixels
// (source bytes 0-11 and 12-23) and spread them into 4-byte slots. Each lane
// loads 16 bytes, so a step needs 4 bytes beyond its 24: the loop stops while
// ten pixels remain and the plain loop finishes them.
[[gnu::target("avx2")]] void rk_image_convert_24bgrto32_avx2(const uint8_t *src, uint8_t *dst, int count)
{
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + 10 <= count; i += 8) {
        const uint8_t *s = src + 3 * i;
        __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 12)), 1);
        v = _mm256_or_si256(_mm256_shuffle_epi8(v, spread), alpha);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 4 * i), v);
    }
    rk_image_convert_24bgrto32_plain(src + 3 * i, dst + 4 * i, count - i);
}

void rk_image_convert_24bgrto32(const uint8_t *src, uint8_t *dst, int count)
{
    if (rk_hCpuHasAVX2())
        rk_image_convert_24bgrto32_avx2(src, dst, count);
    else
        rk_image_convert_24bgrto32_plain(src, dst, count);
}

void rk_image_convert_32to16(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 4)
        store16(dst + 2 * i, rgb_to_565(src[0], src[1], src[2]));
}

void rk_image_convert_32bgrto16(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 4)
        store16(dst + 2 * i, rgb_to_565(src[2], src[1], src[0]));
}

void rk_image_convert_32to32(const uint8_t *src, uint8_t *dst, int count)
{
    for (int i = 0; i < count; ++i, src += 4)
        store32(dst + 4 * i,
                (uint32_t{src[3]} << 24) | (uint32_t{src[0]} << 16) | (uint32_t{src[1]} << 8) | src[2]);
}

void rk_image_convert_32bgrto32(const uint8_t *src, uint8_t *dst, int count)
{
    if (count > 0)
        rk_hMemCpy(dst, src, 4 * static_cast<std::size_t>(count));
}

void rk_GfxImageConvertRow(const void *src, int src_depth, void *dst, int dst_depth, int width, int red_first)
{
    if (width <= 0 || dst_depth < 1 || dst_depth > 32)
        return;
    const int n = (dst_depth + 7) / 8;
    RowConvertFn fn = nullptr;
    if (src_depth <= 8) {
        // Palette indices are looked up in the open screen's palette.
        if (!__rk_gfx)
            return;
        fn = n == 1 ? rk_image_convert_8to8 : n == 2 ? rk_image_convert_8to16 : rk_image_convert_8to32;
    } else if (src_depth == 24 && n >= 2) {
        if (n == 2)
            fn = red_first ? rk_image_convert_24to16 : rk_image_convert_24bgrto16;
        else
            fn = red_first ? rk_image_convert_24to32 : rk_image_convert_24bgrto32;
    } else if (src_depth == 32 && n >= 2) {
        if (n == 2)
            fn = red_first ? rk_image_convert_32to16 : rk_image_convert_32bgrto16;
        else
            fn = red_first ? rk_image_convert_32to32 : rk_image_convert_32bgrto32;
    }
    if (fn)
        fn(static_cast<const uint8_t *>(src), static_cast<uint8_t *>(dst), width);
}
