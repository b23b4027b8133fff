#include "gfx/core/color.h"

#include <cstring>

#include "gfx/core/builtin.h"
#include "gfx/core/context.h"
#include "gfx/core/display.h"
#include "gfx/core/lock.h"

// Attribute-to-colour associations: the four CGA sets (3, 2, 1, 0 from
// offset 0), then mono; the EGA tables for 16 and 64 colours.
static constexpr uint8_t cga_association[] = {0, 11, 13, 15, 0, 10, 12, 14, 0, 3, 5, 7, 0, 2, 4, 6, 0, 15};
static constexpr uint8_t ega_association[] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
    0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63,
};

uint32_t rk_hMakeColor(int bpp, uint32_t c, int r, int g, int b)
{
    if (bpp == 2)
        return (static_cast<uint32_t>(b) >> 3) | ((static_cast<uint32_t>(g) << 3) & 0x07E0) |
               ((static_cast<uint32_t>(r) << 8) & 0xF800);
    return c;
}

uint32_t rk_hFixColor(int bpp, uint32_t c)
{
    switch (bpp) {
    case 1: return c & 0xFF;
    case 2: return ((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c & 0xFF) >> 3);
    default: return c;
    }
}

uint32_t rk_hTransparentColor(int bpp)
{
    switch (bpp) {
    case 1: return 0;
    case 2: return 0xF81F;
    default: return 0xFFFF00FF;
    }
}

static void send_entry(int index, uint32_t v)
{
    const DisplayDriver *d = __rk_gfx->driver;
    if (d && d->set_palette)
        d->set_palette(index, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

static uint32_t default_color(int k)
{
    const uint8_t *rgb = __rk_gfx->default_palette->data + 3 * k;
    return rgb[0] | (rgb[1] << 8) | (static_cast<uint32_t>(rgb[2]) << 16);
}

static void set_color(int index, uint32_t c)
{
    ScreenState *s = __rk_gfx;
    int n = s->default_palette->colors;
    index &= n - 1;
    uint32_t r, g, b;
    if (n == 256) {
        r = (c & 0x3F) * 255 / 63;
        g = ((c >> 8) & 0x3F) * 255 / 63;
        b = ((c >> 16) & 0x3F) * 255 / 63;
    } else {
        uint32_t k = c & static_cast<uint32_t>(n - 1);
        // Only the 16 attributes have associations; a 64-colour index beyond
        // them still sets its device entry.
        if (index < 16)
            s->color_association[index] = static_cast<uint8_t>(k);
        uint32_t v = s->palette[k];
        r = v & 0xFF;
        g = (v >> 8) & 0xFF;
        b = (v >> 16) & 0xFF;
    }
    uint32_t v = (b << 16) | (g << 8) | r;
    s->device_palette[index] = v;
    send_entry(index, v);
}

static void mark_all_dirty()
{
    std::memset(__rk_gfx->dirty, 1, static_cast<std::size_t>(__rk_gfx->h) * __rk_gfx->scanline_size);
}

// The association of the current mode; mode 1 takes the CGA set from the
// reset selector (-1 .. -4).
static const uint8_t *association_for(int mode, int selector)
{
    switch (mode) {
    case 1:
        return cga_association + (selector <= -4 ? 12 : (-1 - selector) * 4);
    case 2: return cga_association + 16;
    case 7: case 8: return ega_association;
    case 9: return ega_association + 16;
    default: return nullptr;
    }
}

void rk_GfxPalette(int index, int color, int green, int blue)
{
    ScreenState *s = __rk_gfx;
    if (!s || s->depth > 8)
        return;
    rk_GfxLock();
    if (index >= 0) {
        uint32_t c = static_cast<uint32_t>(color);
        if (green >= 0 && blue >= 0)
            c = ((static_cast<uint32_t>(blue) >> 2) << 16) | ((static_cast<uint32_t>(green) >> 2) << 8) |
                (static_cast<uint32_t>(color) >> 2);
        set_color(index, c);
    } else {
        const uint8_t *assoc = association_for(s->mode_num, index);
        int n = s->default_palette->colors;
        for (int i = 0; i < n; ++i) {
            s->palette[i] = default_color(i);
            if (i < (1 << s->depth)) {
                uint32_t shown = s->palette[i];
                if (assoc)
                    shown = default_color(assoc[i]);
                // Without a table of its own, attribute i shows colour i;
                // the palette ports rely on that to find the attributes.
                if (i < 16)
                    s->color_association[i] = static_cast<uint8_t>(assoc ? assoc[i] : i);
                s->device_palette[i] = shown;
                send_entry(i, shown);
            }
        }
    }
    mark_all_dirty();
    rk_GfxUnlock(1, 0);
}

void rk_GfxPaletteUsing(const int32_t *colors)
{
    ScreenState *s = __rk_gfx;
    if (!s || s->depth > 8 || !colors)
        return;
    rk_GfxLock();
    for (int i = 0; i < (1 << s->depth); ++i)
        if (colors[i] >= 0)
            set_color(i, static_cast<uint32_t>(colors[i]));
    mark_all_dirty();
    rk_GfxUnlock(1, 0);
}

void rk_hRestorePalette()
{
    const ScreenState *s = __rk_gfx;
    if (!s || !s->driver || !s->driver->set_palette || (s->driver->palette_shown && !s->driver->palette_shown()))
        return;
    auto set = s->driver->set_palette;
    for (int i = 0; i < 256; ++i) {
        uint32_t v = s->device_palette[i];
        set(i, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
    }
}

// Widens an RGB565 value to 0xFFRRGGBB by replicating the top bits.
static uint32_t widen565(uint32_t c)
{
    uint32_t r5 = (c >> 11) & 31, g6 = (c >> 5) & 63, b5 = c & 31;
    uint32_t r = (r5 << 3) | (r5 >> 2), g = (g6 << 2) | (g6 >> 4), b = (b5 << 3) | (b5 >> 2);
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

unsigned rk_GfxColor(unsigned fg, unsigned bg, int flags)
{
    ScreenState *s = __rk_gfx;
    DrawContext *ctx = rk_hGetContext();
    if (!s)
        return 0;
    unsigned result;
    if (s->depth <= 8)
        result = (ctx->bg_color << 16) | ctx->fg_color;
    else if (s->depth == 16)
        result = widen565(ctx->fg_color);
    else
        result = ctx->fg_color;
    bool fg_given = !(flags & 1), bg_given = !(flags & 2);

    switch (s->mode_num) {
    case 1:
        if (bg_given)
            rk_GfxPalette(static_cast<int>(bg & 3) - 4, 0, 0, 0);
        if (fg_given)
            rk_GfxPalette(0, static_cast<int>(fg), -1, -1);
        break;
    case 7: case 8: case 9:
        if (fg_given)
            ctx->fg_color = fg & 15;
        if (bg_given)
            rk_GfxPalette(0, static_cast<int>(bg), -1, -1);
        break;
    default: {
        auto convert = [&](uint32_t c) -> uint32_t {
            if (s->depth > 8)
                return rk_hMakeColor(s->bpp, c, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
            return ctx->target_bpp == 1 ? (c & 0xFF) : c;
        };
        if (fg_given)
            ctx->fg_color = convert(fg);
        if (bg_given)
            ctx->bg_color = convert(bg);
    }
    }
    return result;
}
