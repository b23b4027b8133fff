#include "gfx/core/context.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gfx/core/pixel.h"
#include "rt/rt.h"

bool rk_hReadImageHeader(const void *image, int compact_bpp, ImageGeometry *g)
{
    // Headers are copied out: an image may start at any address.
    auto *b = static_cast<const uint8_t *>(image);
    uint32_t type;
    std::memcpy(&type, b, 4);
    uint32_t width, height, pitch;
    if (type == RK_IMAGE_TYPE) {
        ImageHeader h;
        std::memcpy(&h, b, sizeof h);
        g->bpp = static_cast<int>(std::min<uint32_t>(h.bpp, 0x7FFFFFFF));
        width = h.width;
        height = h.height;
        pitch = h.pitch;
        g->pixels = const_cast<uint8_t *>(b) + sizeof(ImageHeader);
        g->compact = false;
    } else {
        g->bpp = b[0] & 7 ? b[0] & 7 : compact_bpp;
        width = static_cast<uint32_t>((b[0] >> 3) | (b[1] << 5));
        height = static_cast<uint32_t>(b[2] | (b[3] << 8));
        pitch = width * static_cast<uint32_t>(g->bpp);
        g->pixels = const_cast<uint8_t *>(b) + 4;
        g->compact = true;
    }
    g->width = static_cast<int>(std::min<uint32_t>(width, 0x7FFFFFFF));
    g->height = static_cast<int>(std::min<uint32_t>(height, 0x7FFFFFFF));
    g->pitch = static_cast<int>(std::min<uint32_t>(pitch, 0x7FFFFFFF));
    return (g->bpp == 1 || g->bpp == 2 || g->bpp == 4) && std::max({width, height, pitch}) <= 0x7FFFFFFF &&
           static_cast<uint64_t>(width) * static_cast<uint32_t>(g->bpp) <= pitch;
}

bool rk_hImageGeometry(const void *image, ImageGeometry *g)
{
    ScreenState *s = __rk_gfx;
    int screen_bpp = s ? s->bpp : 0;
    if (!rk_hReadImageHeader(image, screen_bpp, g))
        return false;
    if (g->compact) {
        // Rows of the screen's pixel size fit only a buffer made for pixels
        // at least as large.
        if (!s || g->bpp < screen_bpp)
            return false;
        g->bpp = screen_bpp;
        g->pitch = g->width * screen_bpp;
    }
    return true;
}

// Makes room for `rows` row pointers; false when the table cannot grow.
static bool grow_lines(DrawContext *ctx, int rows)
{
    if (rows <= ctx->max_lines)
        return true;
    auto *p = static_cast<uint8_t **>(std::realloc(ctx->line, static_cast<std::size_t>(rows) * sizeof(uint8_t *)));
    if (!p)
        return false;
    ctx->line = p;
    ctx->max_lines = rows;
    return true;
}

static void release_context(void *block)
{
    std::free(static_cast<DrawContext *>(block)->line);
}

DrawContext *rk_hGetContext()
{
    // Without memory for the slot the process keeps a static context for
    // good: switching to a slot later would drop the drawing state.
    static DrawContext fallback;
    static bool use_fallback;
    auto *ctx = use_fallback ? &fallback
                             : static_cast<DrawContext *>(rk_TlsGetCtx(RK_CTX_SLOT_DRAW, sizeof(DrawContext)));
    if (!ctx) {
        use_fallback = true;
        ctx = &fallback;
    } else if (!use_fallback) {
        rk_hTlsSetRelease(RK_CTX_SLOT_DRAW, release_context);  // the row table goes with the slot
    }
    ScreenState *s = __rk_gfx;
    if (!s || ctx->setup_id == s->id)
        return ctx;

    std::free(ctx->line);
    std::memset(ctx, 0, sizeof *ctx);
    ctx->saved_view[2] = s->w;
    ctx->saved_view[3] = s->h;
    if (!grow_lines(ctx, s->h))
        return ctx;  // not set up: the next call tries again
    ctx->setup_id = s->id;
    ctx->fg_color = (s->depth >= 5 && s->depth <= 8) ? 15 : s->color_mask;
    ctx->bg_color = s->color_mask & 0xFF000000u;
    ctx->flags = CTX_FRESH;
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF000000u);
    return ctx;
}

const void *rk_hPrepareTarget(DrawContext *ctx, const void *image)
{
    ScreenState *s = __rk_gfx;
    if (image && image != ctx->last_target) {
        ImageGeometry g;
        const bool drawable = rk_hImageGeometry(image, &g);
        // The row table grows first: when it cannot, the context stays on
        // its previous target untouched, and the next preparation tries again.
        if (drawable && !grow_lines(ctx, g.height))
            return nullptr;
        if (!ctx->last_target) {
            ctx->saved_view[0] = ctx->view_x;
            ctx->saved_view[1] = ctx->view_y;
            ctx->saved_view[2] = ctx->view_w;
            ctx->saved_view[3] = ctx->view_h;
        }
        ctx->last_target = image;
        ctx->flags |= CTX_IMAGE;
        if (!drawable) {
            // Nothing can be drawn into this target: an empty view clips all.
            ctx->view_x = ctx->view_y = ctx->view_w = ctx->view_h = 0;
            return image;
        }
        ctx->view_x = ctx->view_y = 0;
        ctx->view_w = g.width;
        ctx->view_h = g.height;
        ctx->target_bpp = g.bpp;
        ctx->target_pitch = g.pitch;
        // Compact images take the screen's pixel size, so the routines must
        // follow it too, or a wider pixel writer would run past their rows.
        rk_hSetupFuncs(g.bpp);
        for (int r = 0; r < g.height; ++r)
            ctx->line[r] = g.pixels + static_cast<std::size_t>(r) * g.pitch;
        ctx->image_rows = std::max(ctx->image_rows, g.height);
        return image;
    }
    if (!image && s && (ctx->flags & (CTX_FRESH | CTX_IMAGE))) {
        ctx->view_x = ctx->saved_view[0];
        ctx->view_y = ctx->saved_view[1];
        ctx->view_w = ctx->saved_view[2];
        ctx->view_h = ctx->saved_view[3];
        ctx->target_bpp = s->bpp;
        ctx->target_pitch = s->pitch;
        // Images overwrite only the rows they have: back on the screen only
        // those are set again (a toolbar switches hundreds of times a frame).
        const int rows = ctx->flags & CTX_FRESH ? s->h : std::min(ctx->image_rows, s->h);
        for (int r = 0; r < rows; ++r)
            ctx->line[r] = s->page[ctx->work_page] + static_cast<std::size_t>(r) * s->pitch;
        ctx->image_rows = 0;
        rk_hSetupFuncs(s->bpp);
        ctx->flags &= ~(CTX_FRESH | CTX_IMAGE);
    }
    ctx->last_target = image;
    return image;
}

bool rk_hSelectTarget(DrawContext *ctx, const void *image)
{
    if (rk_hPrepareTarget(ctx, image) || !image)
        return true;
    rk_ErrorSetNum(RK_ERR_MEMORY);
    return false;
}

void rk_hSetPixelTransfer(DrawContext *ctx, uint32_t color)
{
    ScreenState *s = __rk_gfx;
    if (s && (s->flags & SCREEN_ALPHA_PRIMITIVES) && ctx->target_bpp == 4 && (color >> 24) != 0xFF) {
        ctx->put_pixel = rk_hPutPixelAlpha;
        ctx->pixel_set = rk_hPixelSetAlpha;
    } else {
        ctx->put_pixel = rk_hPutPixelSolid;
        ctx->pixel_set = rk_hPixelSetSolid;
    }
    ctx->get_pixel = rk_hGetPixel;
}

bool rk_hTargetIsVisible(const DrawContext *ctx)
{
    return __rk_gfx && ctx->line && ctx->line[0] == __rk_gfx->framebuffer;
}

void rk_hMarkDirty(int first, int last)
{
    ScreenState *s = __rk_gfx;
    if (!s)
        return;
    first = std::max(first, 0);
    last = std::min(last, s->h - 1);
    if (last >= first)
        std::memset(s->dirty + first, 1, static_cast<std::size_t>(last - first + 1));
}
