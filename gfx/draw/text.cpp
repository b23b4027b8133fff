#include "gfx/draw/text.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "gfx/core/builtin.h"
#include "gfx/core/color.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "rt/rt.h"
#include "rt/str.h"

namespace {

// Rows py..py + rows - 1 of the target that a call wrote; rows = 0: none.
struct Written {
    int py = 0, rows = 0;
};

struct Glyph {
    int width = 0;
    const uint8_t *pixels = nullptr;
};

}  // namespace

static Written draw_builtin(DrawContext *ctx, const FontDesc *font, const uint8_t *text, int len, long long px,
                            long long py, uint32_t color)
{
    const long long w = font->w;
    const int row_bytes = (font->w + 7) / 8;
    long long vx = ctx->view_x, vy = ctx->view_y, vr = vx + ctx->view_w, vb = vy + ctx->view_h;
    if (vx >= vr || vy >= vb || px + len * w <= vx || px >= vr || py + font->h <= vy || py >= vb)
        return {};

    long long rows = font->h;
    int first_row = 0;
    if (py < vy) {
        first_row = static_cast<int>(vy - py);
        rows -= first_row;
        py = vy;
    }
    rows = std::min(rows, vb - py);

    long long first = 0, count = len;
    if (px < vx) {
        first = (vx - px) / w;
        px += first * w;
    }
    // Whole glyphs past the right edge are dropped; a partly visible one stays.
    long long end = px + (count - first) * w;
    if (end > vr)
        count -= (end - vr) / w;

    // Solid 32-bit pixels are written in place, the others through the
    // context's routine.
    const bool plain = ctx->put_pixel == rk_hPutPixel4;
    for (long long i = first; i < count; ++i, px += w) {
        if (px + w <= vx)
            continue;
        if (px >= vr)
            break;
        const uint8_t *glyph = font->data + static_cast<std::size_t>(text[i]) * font->h * row_bytes;
        const int j0 = static_cast<int>(std::max(0LL, vx - px)), j1 = static_cast<int>(std::min(w, vr - px));
        for (int r = 0; r < rows; ++r) {
            const uint8_t *bits = glyph + static_cast<std::size_t>(first_row + r) * row_bytes;
            int y = static_cast<int>(py + r);
            // The set pixels of each byte of the row (bit k is pixel k of
            // its eight) that lie inside the view, lowest first.
            for (int b = j0 >> 3; b <= (j1 - 1) >> 3; ++b) {
                unsigned set = bits[b];
                if (b == j0 >> 3)
                    set &= ~0u << (j0 & 7);
                if (b == (j1 - 1) >> 3)
                    set &= ~0u >> (31 - ((j1 - 1) & 7));
                for (; set; set &= set - 1) {
                    auto x = static_cast<int>(px + 8 * b + std::countr_zero(set));
                    if (plain)
                        std::memcpy(ctx->line[y] + 4 * static_cast<std::size_t>(x), &color, 4);
                    else
                        ctx->put_pixel(ctx, x, y, color);
                }
            }
        }
    }
    return {static_cast<int>(py), static_cast<int>(rows)};
}

// Draws with a font image; `*err` becomes 1 when the image is not a font.
static Written draw_user_font(DrawContext *ctx, const void *font, const uint8_t *text, int len, long long px,
                              long long py, uint32_t color, BlenderFn blender, uint32_t alpha, void *user_parameter,
                              int *err)
{
    ImageGeometry g;
    bool known = rk_hReadImageHeader(font, ctx->target_bpp, &g);
    long long rows = g.height - 1LL;
    long long vx = ctx->view_x, vy = ctx->view_y, vr = vx + ctx->view_w, vb = vy + ctx->view_h;
    if (vx >= vr || vy >= vb || py + rows <= vy || py >= vb)
        return {};
    const uint8_t *header = g.pixels;
    if (!known || g.pitch < 4 || g.bpp != ctx->target_bpp || rows < 1 || header[0] != 0 || !blender) {
        *err = RK_ERR_STATE;
        return {};
    }
    int lo = header[1], hi = header[2];
    if (lo > hi)
        std::swap(lo, hi);
    // The width bytes must lie inside the image, even where they run on
    // past the header row.
    if (3LL + (hi - lo) >= static_cast<long long>(g.pitch) * g.height) {
        *err = RK_ERR_STATE;
        return {};
    }

    const uint8_t *row1 = g.pixels + g.pitch;
    if (py < vy) {
        row1 += static_cast<std::size_t>(vy - py) * g.pitch;
        rows -= vy - py;
        py = vy;
    }
    rows = std::min(rows, vb - py);

    Glyph glyphs[256];
    long long column = 0;
    for (int c = lo; c <= hi; ++c) {
        glyphs[c].width = header[3 + c - lo];
        glyphs[c].pixels = row1 + static_cast<std::size_t>(column) * g.bpp;
        column += glyphs[c].width;
    }
    if (column > g.pitch / g.bpp) {
        *err = RK_ERR_STATE;
        return {};
    }

    const int bpp = ctx->target_bpp;
    for (int i = 0; i < len && px < vr; ++i) {
        const Glyph &gl = glyphs[text[i]];
        if (!gl.pixels) {
            // Characters outside the font advance by the glyph height.
            px += rows;
            continue;
        }
        long long w = gl.width;
        long long c0 = std::max(px, vx), c1 = std::min(px + w, vr);
        if (c1 > c0) {
            const uint8_t *src = gl.pixels + static_cast<std::size_t>(c0 - px) * bpp;
            uint8_t *dst = ctx->line[py] + static_cast<std::size_t>(c0) * bpp;
            blender(src, dst, static_cast<int>(c1 - c0), static_cast<int>(rows), g.pitch, ctx->target_pitch, color,
                    static_cast<intptr_t>(static_cast<int32_t>(alpha)), user_parameter);
        }
        px += w;
    }
    return {static_cast<int>(py), static_cast<int>(rows)};
}

int rk_GfxDrawString(void *target, float x, float y, uint32_t flags, RkString *text, uint32_t color,
                     const void *font, int mode, BlenderFn blender, uint32_t alpha, void *user_parameter)
{
    DrawContext *ctx = rk_hGetContext();
    rk_ErrorSetNum(RK_OK);
    if (!text)
        return rk_ErrorSetNum(RK_ERR_STATE);
    ScreenState *s = __rk_gfx;
    if (!s || !text->data || text->len <= 0) {
        rk_hStrDelTemp(text);
        return RK_OK;
    }

    if (!rk_hSelectTarget(ctx, target)) {
        rk_hStrDelTemp(text);
        return RK_ERR_MEMORY;
    }
    if (mode != RK_PUT_ALPHA)
        color = (flags & RK_FLAG_NO_COLOR) ? ctx->fg_color : rk_hFixColor(ctx->target_bpp, color);
    rk_hSetPixelTransfer(ctx, color);
    rk_hFixRelative(ctx, flags, &x, &y, nullptr, nullptr);
    int px, py;
    rk_hTranslateCoord(ctx, x, y, &px, &py);

    const auto *chars = reinterpret_cast<const uint8_t *>(text->data);
    int err = RK_OK;
    rk_GfxLock();
    Written written;
    if (!font) {
        if (s->font)
            written = draw_builtin(ctx, s->font, chars, text->len, px, py, color);
    } else {
        written = draw_user_font(ctx, font, chars, text->len, px, py, color, blender, alpha, user_parameter, &err);
    }
    if (written.rows > 0 && rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(written.py, written.py + written.rows - 1);
    rk_GfxUnlock(1, 0);
    rk_hStrDelTemp(text);
    return rk_ErrorSetNum(err);
}
