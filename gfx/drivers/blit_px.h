// Per-pixel rules shared by the plain and the fast blitters, and the line
// walks both use. Private to gfx/drivers/blit*.cpp.
#pragma once
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "gfx/core/screen.h"

namespace blitpx {

// Palette entries are 0x00BBGGRR.
inline uint16_t pal_to15_bgr(uint32_t e) { return static_cast<uint16_t>(((e << 7) & 0x7C00) | ((e >> 6) & 0x3E0) | ((e >> 19) & 0x1F)); }
inline uint16_t pal_to15_rgb(uint32_t e) { return static_cast<uint16_t>(((e >> 9) & 0x7C00) | ((e >> 6) & 0x3E0) | ((e >> 3) & 0x1F)); }
inline uint16_t pal_to16_bgr(uint32_t e) { return static_cast<uint16_t>(((e << 8) & 0xF800) | ((e >> 5) & 0x7E0) | ((e >> 19) & 0x1F)); }
inline uint16_t pal_to16_rgb(uint32_t e) { return static_cast<uint16_t>(((e >> 8) & 0xF800) | ((e >> 5) & 0x7E0) | ((e >> 3) & 0x1F)); }
inline uint32_t swap_rb(uint32_t e) { return ((e & 0xFF) << 16) | (e & 0xFF00) | ((e >> 16) & 0xFF); }

// 16-bit sources are RGB565.
inline uint16_t p16_to15_bgr(uint32_t p) { return static_cast<uint16_t>(((p >> 1) & 0x7FE0) | (p & 0x1F)); }
inline uint16_t p16_to15_rgb(uint32_t p) { return static_cast<uint16_t>(((p << 10) & 0x7C00) | ((p >> 1) & 0x3E0) | (p >> 11)); }
inline uint16_t p16_to16_rgb(uint32_t p) { return static_cast<uint16_t>((p >> 11) | (p & 0x7E0) | ((p << 11) & 0xF800)); }

// 32-bit sources are 0xXXRRGGBB.
inline uint16_t p32_to15_bgr(uint32_t p) { return static_cast<uint16_t>(((p >> 9) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 3) & 0x1F)); }
inline uint16_t p32_to15_rgb(uint32_t p) { return static_cast<uint16_t>(((p << 7) & 0x7C00) | ((p >> 6) & 0x3E0) | ((p >> 19) & 0x1F)); }
inline uint16_t p32_to16_bgr(uint32_t p) { return static_cast<uint16_t>(((p >> 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 3) & 0x1F)); }
inline uint16_t p32_to16_rgb(uint32_t p) { return static_cast<uint16_t>(((p << 8) & 0xF800) | ((p >> 5) & 0x7E0) | ((p >> 19) & 0x1F)); }

inline uint32_t load32(const uint8_t *p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint16_t load16(const uint8_t *p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline void store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store16(uint8_t *p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void store24(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

// A line converter is called as line(dst, src, w, screen): `w` pixels of
// framebuffer line `src` into display line `dst`.

// The framebuffer lines the walks visit, [first, end): all of them, except
// while rk_hBlitScaled converts and replicates a band of lines at a time.
// Per thread, as each thread converts for a display of its own.
struct Band {
    int first = 0, end = INT_MAX;
};
extern thread_local Band band;  // in blit.cpp

inline int band_first() { return std::max(band.first, 0); }
inline int band_end(const ScreenState *s) { return std::min(band.end, s->h); }

// Every display line: framebuffer line d / scanline_size, when it is dirty.
template <class LineFn>
inline void walk_display_lines(uint8_t *dest, int dest_pitch, LineFn line)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return;
    int sl = s->scanline_size > 0 ? s->scanline_size : 1;
    int lines = band_end(s) * sl;
    for (int d = band_first() * sl; d < lines; ++d) {
        int k = d / sl;
        if (s->dirty[k])
            line(dest + static_cast<std::size_t>(d) * dest_pitch, s->framebuffer + static_cast<std::size_t>(k) * s->pitch,
                 s->w, s);
    }
}

// Every framebuffer line once (single-scan screens only).
template <class LineFn>
inline void walk_lines(uint8_t *dest, int dest_pitch, LineFn line)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return;
    for (int k = band_first(); k < band_end(s); ++k)
        if (s->dirty[k])
            line(dest + static_cast<std::size_t>(k) * dest_pitch, s->framebuffer + static_cast<std::size_t>(k) * s->pitch,
                 s->w, s);
}

// Every dirty display line of `src` handed to `line`(dst, src) with the
// first of the `factor` dest lines it fills.
template <class LineFn>
inline void walk_scaled_lines(uint8_t *dest, int dest_pitch, const uint8_t *src, int src_pitch, int factor,
                              LineFn line)
{
    const ScreenState *s = __rk_gfx;
    if (!s)
        return;
    int sl = s->scanline_size > 0 ? s->scanline_size : 1;
    int lines = band_end(s) * sl;
    for (int d = band_first() * sl; d < lines; ++d)
        if (s->dirty[d / sl])
            line(dest + static_cast<std::size_t>(d) * factor * dest_pitch,
                 src + static_cast<std::size_t>(d) * src_pitch);
}

// Copies the first of `factor` lines `bytes` long into the others.
inline void repeat_line(uint8_t *first, int pitch, int factor, std::size_t bytes)
{
    for (int k = 1; k < factor; ++k)
        std::memcpy(first + static_cast<std::size_t>(k) * pitch, first, bytes);
}

}  // namespace blitpx
