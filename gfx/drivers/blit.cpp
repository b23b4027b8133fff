#include "gfx/drivers/blit.h"

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/drivers/blit_px.h"

using namespace blitpx;

thread_local Band blitpx::band;

void rk_hBuildColorConv16to32(uint32_t *table, int red_low)
{
    for (uint32_t i = 0; i < 256; ++i) {
        if (red_low) {
            table[i] = ((i & 0xE0) << 5) | ((i & 0x1F) << 19);
            table[256 + i] = ((i << 13) & 0xFFFF) | (i & 0xF8);
        } else {
            table[i] = ((i & 0xE0) << 5) | ((i << 3) & 0xFF);
            table[256 + i] = ((i & 0xF8) << 16) | ((i << 13) & 0xFFFF);
        }
    }
}

// ---- line converters -----------------------------------------------------

// 15- and 16-bit results go out two pixels to a 32-bit word, the first in
// the low half; an odd width ends with one 16-bit store.
template <uint16_t (*Conv)(uint32_t), int SrcBytes, bool Palette>
static void line_to16(uint8_t *dst, const uint8_t *src, int w, const ScreenState *s)
{
    auto fetch = [&](int x) -> uint32_t {
        if constexpr (Palette)
            return s->device_palette[src[x]];
        else if constexpr (SrcBytes == 2)
            return load16(src + 2 * x);
        else
            return load32(src + 4 * x);
    };
    int x = 0;
    for (; x + 2 <= w; x += 2)
        store32(dst + 2 * x, static_cast<uint32_t>(Conv(fetch(x))) | (static_cast<uint32_t>(Conv(fetch(x + 1))) << 16));
    if (x < w)
        store16(dst + 2 * x, Conv(fetch(x)));
}

template <uint32_t (*Conv)(uint32_t)>
static void line_pal_to32(uint8_t *dst, const uint8_t *src, int w, const ScreenState *s)
{
    for (int x = 0; x < w; ++x)
        store32(dst + 4 * x, Conv(s->device_palette[src[x]]));
}

static uint32_t identity(uint32_t v) { return v; }

// 24-bit results: value v goes out as its bytes v, v >> 8, v >> 16.
template <uint32_t (*Conv)(uint32_t)>
static void line_pal_to24(uint8_t *dst, const uint8_t *src, int w, const ScreenState *s)
{
    for (int x = 0; x < w; ++x)
        store24(dst + 3 * x, Conv(s->device_palette[src[x]]));
}

template <uint32_t (*Conv)(uint32_t)>
static void line_32_to24(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    for (int x = 0; x < w; ++x)
        store24(dst + 3 * x, Conv(load32(src + 4 * x)));
}

static void line_32_to32_rgb(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    for (int x = 0; x < w; ++x)
        store32(dst + 4 * x, swap_rb(load32(src + 4 * x)));
}

static inline uint32_t widen16(uint32_t p)
{
    return __rk_color_conv_16to32[p & 0xFF] | __rk_color_conv_16to32[256 + (p >> 8)];
}

// Four pixels per step, then the rest one by one.
static void line_16_to24(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    int x = 0;
    for (; x + 4 <= w; x += 4) {
        uint32_t a = widen16(load16(src + 2 * x)), b = widen16(load16(src + 2 * x + 2));
        uint32_t c = widen16(load16(src + 2 * x + 4)), d = widen16(load16(src + 2 * x + 6));
        uint8_t *o = dst + 3 * x;
        store32(o, (a & 0xFFFFFF) | (b << 24));
        store32(o + 4, ((b >> 8) & 0xFFFF) | (c << 16));
        store32(o + 8, ((c >> 16) & 0xFF) | (d << 8));
    }
    for (; x < w; ++x)
        store24(dst + 3 * x, widen16(load16(src + 2 * x)));
}

static void line_16_to32(uint8_t *dst, const uint8_t *src, int w, const ScreenState *)
{
    for (int x = 0; x < w; ++x)
        store32(dst + 4 * x, widen16(load16(src + 2 * x)));
}

// The C library's copy rather than the rk_hMemCpy pointer: drawing rewrites
// that pointer outside the driver lock while this runs in the driver's thread.
static void line_copy(uint8_t *dst, const uint8_t *src, int, const ScreenState *s)
{
    std::memcpy(dst, src, static_cast<std::size_t>(s->pitch));
}

// ---- the plain routines --------------------------------------------------

#define RK_PLAIN_BLITTER(name, line) \
    void name(uint8_t *dest, int dest_pitch) { walk_display_lines(dest, dest_pitch, line); }

RK_PLAIN_BLITTER(rk_hBlit8to15RGB, (line_to16<pal_to15_rgb, 1, true>))
RK_PLAIN_BLITTER(rk_hBlit8to16RGB, (line_to16<pal_to16_rgb, 1, true>))
RK_PLAIN_BLITTER(rk_hBlit8to24RGB, line_pal_to24<identity>)
RK_PLAIN_BLITTER(rk_hBlit8to32RGB, line_pal_to32<identity>)
RK_PLAIN_BLITTER(rk_hBlit16to15RGB, (line_to16<p16_to15_rgb, 2, false>))
RK_PLAIN_BLITTER(rk_hBlit16to16RGB, (line_to16<p16_to16_rgb, 2, false>))
RK_PLAIN_BLITTER(rk_hBlit16to24, line_16_to24)
RK_PLAIN_BLITTER(rk_hBlit16to32, line_16_to32)
RK_PLAIN_BLITTER(rk_hBlit32to15RGB, (line_to16<p32_to15_rgb, 4, false>))
RK_PLAIN_BLITTER(rk_hBlit32to16RGB, (line_to16<p32_to16_rgb, 4, false>))
RK_PLAIN_BLITTER(rk_hBlit32to24RGB, line_32_to24<swap_rb>)
RK_PLAIN_BLITTER(rk_hBlit32to32RGB, line_32_to32_rgb)
RK_PLAIN_BLITTER(rk_hBlit8to15BGR, (line_to16<pal_to15_bgr, 1, true>))
RK_PLAIN_BLITTER(rk_hBlit8to16BGR, (line_to16<pal_to16_bgr, 1, true>))
RK_PLAIN_BLITTER(rk_hBlit8to24BGR, line_pal_to24<swap_rb>)
RK_PLAIN_BLITTER(rk_hBlit8to32BGR, line_pal_to32<swap_rb>)
RK_PLAIN_BLITTER(rk_hBlit16to15BGR, (line_to16<p16_to15_bgr, 2, false>))
RK_PLAIN_BLITTER(rk_hBlit32to15BGR, (line_to16<p32_to15_bgr, 4, false>))
RK_PLAIN_BLITTER(rk_hBlit32to16BGR, (line_to16<p32_to16_bgr, 4, false>))
RK_PLAIN_BLITTER(rk_hBlit32to24BGR, line_32_to24<identity>)
#undef RK_PLAIN_BLITTER

// Runs of dirty lines go out as one copy each when the display lines lie
// like the framebuffer's: fewer, longer copies reach the memory's speed.
void rk_hBlitCopy(uint8_t *dest, int dest_pitch)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return;
    if (s->scanline_size > 1 || dest_pitch != s->pitch) {
        walk_display_lines(dest, dest_pitch, line_copy);
        return;
    }
    auto pitch = static_cast<std::size_t>(s->pitch);
    const int last = band_end(s);
    for (int k = band_first(); k < last;) {
        if (!s->dirty[k]) {
            ++k;
            continue;
        }
        int end = k + 1;
        while (end < last && s->dirty[end])
            ++end;
        std::memcpy(dest + k * pitch, s->framebuffer + k * pitch, static_cast<std::size_t>(end - k) * pitch);
        k = end;
    }
}

// ---- pixel replication ---------------------------------------------------

template <int Bytes>
static void widen_line(uint8_t *dst, const uint8_t *src, int w, int factor)
{
    for (int x = 0; x < w; ++x, src += Bytes)
        for (int k = 0; k < factor; ++k, dst += Bytes)
            std::memcpy(dst, src, Bytes);
}

void rk_hBlitScaleLine(uint8_t *dst, const uint8_t *src, int w, int bytes, int factor)
{
    switch (bytes) {
    case 1: widen_line<1>(dst, src, w, factor); break;
    case 2: widen_line<2>(dst, src, w, factor); break;
    case 3: widen_line<3>(dst, src, w, factor); break;
    case 4: widen_line<4>(dst, src, w, factor); break;
    default: break;
    }
}

void rk_hBlitScalePlain(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int bytes, int factor)
{
    int w = __rk_gfx ? __rk_gfx->w : 0;
    auto row = static_cast<std::size_t>(w) * factor * bytes;
    walk_scaled_lines(dest, dest_pitch, src, src_pitch, factor, [&](uint8_t *out, const uint8_t *in) {
        rk_hBlitScaleLine(out, in, w, bytes, factor);
        repeat_line(out, dest_pitch, factor, row);
    });
}

bool rk_hBlitScaledStages(BlitterFn blit)
{
    return blit != rk_hBlitCopy || !__rk_gfx || __rk_gfx->scanline_size != 1;
}

void rk_hBlitScaled(BlitterFn blit, uint8_t *dest, int dest_pitch, uint8_t *staging, int staging_pitch, int bytes,
                    int factor)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return;
    if (rk_hBlitScaledStages(blit)) {
        // A band of lines at a time, small enough that its staging lines
        // are read back from the cache, not from memory.
        constexpr int BAND_BYTES = 32 << 10;
        const int lines = std::max(1, BAND_BYTES / std::max(staging_pitch, 1));
        for (int first = 0; first < s->h; first += lines) {
            band = {first, first + lines};
            blit(staging, staging_pitch);
            rk_hBlitScale(dest, dest_pitch, staging, staging_pitch, bytes, factor);
        }
        band = {};
    } else {
        rk_hBlitScale(dest, dest_pitch, s->framebuffer, s->pitch, bytes, factor);
    }
}

// ---- selection -----------------------------------------------------------

// Per group: palette, 16-bit and 32-bit sources, each to 15, 16, 24, 32.
// Groups: plain red low, plain red high, fast red low, fast red high.
static const BlitterFn blitters[48] = {
    rk_hBlit8to15RGB, rk_hBlit8to16RGB, rk_hBlit8to24RGB, rk_hBlit8to32RGB,
    rk_hBlit16to15RGB, rk_hBlit16to16RGB, rk_hBlit16to24, rk_hBlit16to32,
    rk_hBlit32to15RGB, rk_hBlit32to16RGB, rk_hBlit32to24RGB, rk_hBlit32to32RGB,
    rk_hBlit8to15BGR, rk_hBlit8to16BGR, rk_hBlit8to24BGR, rk_hBlit8to32BGR,
    rk_hBlit16to15BGR, rk_hBlitCopy, rk_hBlit16to24, rk_hBlit16to32,
    rk_hBlit32to15BGR, rk_hBlit32to16BGR, rk_hBlit32to24BGR, rk_hBlitCopy,
    rk_hBlit8to15RGBMMX, rk_hBlit8to16RGBMMX, rk_hBlit8to24RGBMMX, rk_hBlit8to32RGBMMX,
    rk_hBlit16to15RGBMMX, rk_hBlit16to16RGBMMX, rk_hBlit16to24MMX, rk_hBlit16to32MMX,
    rk_hBlit32to15RGBMMX, rk_hBlit32to16RGBMMX, rk_hBlit32to24RGBMMX, rk_hBlit32to32RGBMMX,
    rk_hBlit8to15BGRMMX, rk_hBlit8to16BGRMMX, rk_hBlit8to24BGRMMX, rk_hBlit8to32BGRMMX,
    rk_hBlit16to15BGRMMX, rk_hBlitCopy, rk_hBlit16to24MMX, rk_hBlit16to32MMX,
    rk_hBlit32to15BGRMMX, rk_hBlit32to16BGRMMX, rk_hBlit32to24BGRMMX, rk_hBlitCopy,
};

BlitterFn rk_hGetBlitter(int format, int red_low)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return nullptr;
    if (__rk_color_conv_16to32)
        rk_hBuildColorConv16to32(__rk_color_conv_16to32, red_low);

    int group = red_low ? 0 : 12;
    if ((s->flags & SCREEN_HAS_MMX) && s->scanline_size == 1 && s->w % 4 == 0)
        group += 24;

    int source;
    switch (s->depth) {
    case 1: case 2: case 4: case 8: source = 0; break;
    case 15: case 16: source = 1; break;
    case 24: case 32: source = 2; break;
    default: return nullptr;
    }
    int column;
    switch (format) {
    case 8: return source == 0 ? rk_hBlitCopy : nullptr;
    case 15: column = 0; break;
    case 16: column = 1; break;
    case 24: column = 2; break;
    case 32: column = 3; break;
    default: return nullptr;
    }
    return blitters[group + source * 4 + column];
}
