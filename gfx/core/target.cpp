#include "gfx/core/target.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "gfx/core/box.h"
#include "gfx/core/builtin.h"
#include "gfx/core/color.h"
#include "gfx/core/display.h"
#include "gfx/core/lock.h"
#include "gfx/core/mem.h"
#include "gfx/core/pixel.h"

static int clamp_int(long long v)
{
    if (v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    if (v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

void rk_hFixRelative(DrawContext *ctx, uint32_t flags, float *x1, float *y1, float *x2, float *y2)
{
    switch (flags & RK_FLAG_COORD_MASK) {
    case 1:
        if (x2 && y2) {
            *x2 += *x1;
            *y2 += *y1;
        }
        break;
    case 2:
    case 5:
        *x1 += ctx->last_x;
        *y1 += ctx->last_y;
        break;
    case 3:
        *x1 += ctx->last_x;
        *y1 += ctx->last_y;
        if (x2 && y2) {
            *x2 += *x1;
            *y2 += *y1;
        }
        break;
    default:
        break;
    }
    if (x2 && y2) {
        ctx->last_x = *x2;
        ctx->last_y = *y2;
    } else {
        ctx->last_x = *x1;
        ctx->last_y = *y1;
    }
}

int rk_hRoundCoord(float v)
{
    if (std::isnan(v))
        return 0;
    // Half away from zero: the conversion truncates toward zero (no call to
    // trunc() for every coordinate of every drawing call).
    double d = v > 0 ? static_cast<double>(v) + 0.5 : static_cast<double>(v) - 0.5;
    if (d <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (d >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(d);
}

void rk_hTranslateCoord(const DrawContext *ctx, float fx, float fy, int *x, int *y)
{
    long long ix = rk_hRoundCoord(fx), iy = rk_hRoundCoord(fy);
    if (!(ctx->flags & CTX_VIEW_SCREEN)) {
        ix += ctx->view_x;
        iy += ctx->view_y;
    }
    *x = clamp_int(ix);
    *y = clamp_int(iy);
}

void rk_hFixCoordsOrder(int *x1, int *y1, int *x2, int *y2)
{
    if (*x2 < *x1)
        std::swap(*x1, *x2);
    if (*y2 < *y1)
        std::swap(*y1, *y2);
}

void rk_GfxView(int x1, int y1, int x2, int y2, uint32_t fill, uint32_t border, uint32_t flags)
{
    DrawContext *ctx = rk_hGetContext();
    ScreenState *s = __rk_gfx;
    if (!s)
        return;
    rk_hPrepareTarget(ctx, nullptr);
    uint32_t border_px = rk_hFixColor(ctx->target_bpp, border) & s->color_mask;
    rk_hSetPixelTransfer(ctx, border_px);
    bool omitted = static_cast<uint32_t>(x1 | y1 | x2 | y2) == 0xFFFF8000u;
    rk_hFixCoordsOrder(&x1, &y1, &x2, &y2);
    if (omitted) {
        ctx->flags &= ~CTX_VIEW_SET;
        ctx->view_x = ctx->view_y = 0;
        ctx->view_w = s->w;
        ctx->view_h = s->h;
        return;
    }
    ctx->flags |= CTX_VIEW_SET;
    if (flags & 1)
        ctx->flags |= CTX_VIEW_SCREEN;
    else
        ctx->flags &= ~CTX_VIEW_SCREEN;

    if (!(flags & RK_FLAG_NO_COLOR2)) {
        ctx->view_x = ctx->view_y = 0;
        ctx->view_w = s->w;
        ctx->view_h = s->h;
        rk_hGfxBox(clamp_int(x1 - 1LL), clamp_int(y1 - 1LL), clamp_int(x2 + 1LL), clamp_int(y2 + 1LL), border_px, 0,
                   0xFFFF);
    }
    // The view is the part of x1..x2, y1..y2 that lies on the screen.
    long long vx1 = std::max<long long>(x1, 0), vy1 = std::max<long long>(y1, 0);
    long long vx2 = std::min<long long>(x2, s->w - 1LL), vy2 = std::min<long long>(y2, s->h - 1LL);
    ctx->view_x = static_cast<int>(std::min<long long>(vx1, s->w));
    ctx->view_y = static_cast<int>(std::min<long long>(vy1, s->h));
    ctx->view_w = static_cast<int>(std::max<long long>(vx2 - vx1 + 1, 0));
    ctx->view_h = static_cast<int>(std::max<long long>(vy2 - vy1 + 1, 0));

    if (!(flags & RK_FLAG_NO_COLOR)) {
        uint32_t saved_bg = ctx->bg_color;
        ctx->bg_color = rk_hFixColor(ctx->target_bpp, fill) & s->color_mask;
        rk_hPrepareTarget(ctx, nullptr);
        rk_hSetPixelTransfer(ctx, ctx->bg_color);
        rk_GfxLock();
        rk_hFillView(ctx);
        rk_GfxUnlock(1, 0);
        ctx->bg_color = saved_bg;
    }
}

void *gfx_imagecreate(int width, int height, uint32_t color, int depth, uint32_t flags, bool current)
{
    DrawContext *ctx = rk_hGetContext();
    ScreenState *s = __rk_gfx;
    if (width <= 0 || !s || height <= 0)
        return nullptr;
    int bpp = s->bpp;
    if (depth > 0) {
        bpp = (depth + 7) / 8;
        if (bpp != 1 && bpp != 2 && bpp != 4)
            return nullptr;
    }
    if (flags & RK_FLAG_NO_COLOR)
        color = rk_hTransparentColor(bpp);
    else if (bpp == 2)
        color = ((color & 0xFC00) >> 5) | ((color & 0xF8) >> 3) | ((color & 0xF80000) >> 8);

    std::size_t row_bytes, pixel_bytes, header = current ? sizeof(ImageHeader) : 4;
    if (!rk_hSizeMulAdd(width, bpp, current ? 15 : 0, &row_bytes))
        return nullptr;
    if (current)
        row_bytes &= ~static_cast<std::size_t>(15);
    // The header fields and the row table use 32-bit pitches; the compact
    // header holds 13 bits of width and 16 of height.
    if (row_bytes > 0x7FFFFFFF || (!current && (width > 0x1FFF || height > 0xFFFF)))
        return nullptr;
    if (!rk_hSizeMulAdd(static_cast<long long>(row_bytes), height, 0, &pixel_bytes) || pixel_bytes > SIZE_MAX - header)
        return nullptr;
    auto *img = static_cast<uint8_t *>(rk_hAlignedAlloc(pixel_bytes + header, false));
    if (!img)
        return nullptr;
    if (current) {
        auto *h = reinterpret_cast<ImageHeader *>(img);
        h->type = RK_IMAGE_TYPE;
        h->bpp = static_cast<uint32_t>(bpp);
        h->width = static_cast<uint32_t>(width);
        h->height = static_cast<uint32_t>(height);
        h->pitch = static_cast<uint32_t>(row_bytes);
        h->reserved2[0] = h->reserved2[1] = 0;
    } else {
        img[0] = static_cast<uint8_t>((bpp & 7) | (width << 3));
        img[1] = static_cast<uint8_t>(width >> 5);
        img[2] = static_cast<uint8_t>(height);
        img[3] = static_cast<uint8_t>(height >> 8);
    }
    if (!rk_hPrepareTarget(ctx, img)) {
        rk_hAlignedFree(img);
        return nullptr;
    }
    // A compact image is drawn with the screen's pixel size when its own is
    // at least as large, and is no target otherwise: it is filled in the
    // size it is drawn with, or in its own.
    int fill_bpp = current ? bpp : std::min(bpp, s->bpp);
    rk_hSetupFuncs(fill_bpp);
    rk_hPixelSetSolid(img + header, color, pixel_bytes / static_cast<std::size_t>(fill_bpp));
    rk_hSetPixelTransfer(ctx, 0xFF000000u);
    return img;
}

void *rk_GfxImageCreate(int width, int height, uint32_t color, int depth, uint32_t flags)
{
    return gfx_imagecreate(width, height, color, depth, flags, true);
}

void rk_GfxImageDestroy(void *image)
{
    if (!image)
        return;
    // Forget a destroyed target, so that a new image at the same address is
    // prepared afresh instead of drawn with the old geometry.
    DrawContext *ctx = rk_hGetContext();
    if (ctx->last_target == image) {
        if (__rk_gfx && ctx->setup_id == __rk_gfx->id) {
            rk_hPrepareTarget(ctx, nullptr);
        } else {
            ctx->last_target = nullptr;
            ctx->setup_id = 0;
        }
    }
    rk_hAlignedFree(image);
}

// Emulated VGA palette ports.
static int port_idx;
static int port_shift = 2;
static uint32_t port_color;

static int palette_colors()
{
    return __rk_gfx->default_palette->colors;
}

int rk_GfxOut(unsigned short port, int value)
{
    ScreenState *s = __rk_gfx;
    if (!s || s->depth > 8)
        return -1;
    switch (port) {
    case 0x3C7:
    case 0x3C8:
        port_idx = value & 0xFF & (palette_colors() - 1);
        port_shift = 2;
        port_color = 0;
        return 0;
    case 0x3C9:
        port_color |= static_cast<uint32_t>(value & 0x3F) << port_shift;
        port_shift += 8;
        if (port_shift <= 18)
            return 0;
        if (s->default_palette == &rk_palette_256) {
            rk_GfxPalette(port_idx, static_cast<int>((port_color >> 2) & 0x3F3F3F), -1, -1);
        } else {
            rk_GfxLock();
            s->palette[port_idx] = port_color;
            for (int i = 0; i < (1 << s->depth) && i < 16; ++i) {
                if (s->color_association[i] != port_idx)
                    continue;
                s->device_palette[i] = port_color;
                if (s->driver && s->driver->set_palette)
                    s->driver->set_palette(i, port_color & 0xFF, (port_color >> 8) & 0xFF, (port_color >> 16) & 0xFF);
            }
            std::memset(s->dirty, 1, static_cast<std::size_t>(s->h) * s->scanline_size);
            rk_GfxUnlock(1, 0);
        }
        port_shift = 2;
        port_color = 0;
        port_idx = (port_idx + 1) & (palette_colors() - 1);
        return 0;
    default:
        return -1;
    }
}

int rk_GfxIn(unsigned short port)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return -1;
    if (port == 0x3C9 && s->depth <= 8) {
        uint32_t v = s->device_palette[port_idx];
        int result = static_cast<int>((v >> port_shift) & 0x3F);
        port_shift += 8;
        if (port_shift > 18) {
            port_shift = 2;
            port_idx = (port_idx + 1) & (palette_colors() - 1);
        }
        return result;
    }
    if (port == 0x3DA) {
        if (s->driver && s->driver->wait_vsync)
            s->driver->wait_vsync();
        return 8;
    }
    return -1;
}

