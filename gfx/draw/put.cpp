#include "gfx/draw/put.h"

#include <algorithm>
#include <cstring>

#include "gfx/core/screen.h"
#include "gfx/draw/blend.h"
#include "rt/rt.h"

void rk_GfxPut(void *target, float x, float y, const void *image, int sx1, int sy1, int sx2, int sy2, int coord_mode,
               int mode, BlenderFn blender, uint32_t alpha, intptr_t user_function, void *user_parameter)
{
    DrawContext *ctx = rk_hGetContext();
    if (!image || !__rk_gfx) {
        rk_ErrorSetNum(RK_ERR_STATE);
        return;
    }
    if (!rk_hSelectTarget(ctx, target))
        return;
    rk_hSetPixelTransfer(ctx, 0xFF000000u);

    static constexpr uint32_t relative_modes[4] = {4, 4, 5, 5};
    uint32_t fix_mode = coord_mode >= 0 && coord_mode <= 3 ? relative_modes[coord_mode] : 0;
    if (coord_mode == 1 || coord_mode == 3) {
        sx2 = static_cast<int>(static_cast<uint32_t>(sx2) + static_cast<uint32_t>(sx1));
        sy2 = static_cast<int>(static_cast<uint32_t>(sy2) + static_cast<uint32_t>(sy1));
    }
    rk_hFixRelative(ctx, fix_mode, &x, &y, nullptr, nullptr);
    int dx, dy;
    rk_hTranslateCoord(ctx, x, y, &dx, &dy);

    ImageGeometry g;
    bool known = rk_hReadImageHeader(image, ctx->target_bpp, &g);
    if (known && g.bpp == 1 && ctx->target_bpp == 4 && mode == RK_PUT_ALPHA)
        blender = rk_hPutAlphaMask;
    else if (!known || g.bpp != ctx->target_bpp || !blender) {
        rk_ErrorSetNum(RK_ERR_STATE);
        return;
    }
    if (g.width <= 0 || g.height <= 0) {
        rk_ErrorSetNum(RK_OK);
        return;
    }

    const uint8_t *src = g.pixels;
    long long w = g.width, h = g.height;
    if (sx1 != RK_NO_RECT) {
        rk_hFixCoordsOrder(&sx1, &sy1, &sx2, &sy2);
        sx1 = std::clamp(sx1, 0, g.width - 1);
        sx2 = std::clamp(sx2, 0, g.width - 1);
        sy1 = std::clamp(sy1, 0, g.height - 1);
        sy2 = std::clamp(sy2, 0, g.height - 1);
        w = sx2 - sx1 + 1;
        h = sy2 - sy1 + 1;
        src += static_cast<std::size_t>(sy1) * g.pitch + static_cast<std::size_t>(sx1) * g.bpp;
    }

    long long vx = ctx->view_x, vy = ctx->view_y, vr = vx + ctx->view_w, vb = vy + ctx->view_h;
    long long px = dx, py = dy;
    // An empty view (one past the screen's edge) shows nothing either.
    if (vx >= vr || vy >= vb || px + w <= vx || px >= vr || py + h <= vy || py >= vb) {
        rk_ErrorSetNum(RK_OK);
        return;
    }
    if (py < vy) {
        src += static_cast<std::size_t>(vy - py) * g.pitch;
        h -= vy - py;
        py = vy;
    }
    h = std::min(h, vb - py);
    if (px < vx) {
        src += static_cast<std::size_t>(vx - px) * g.bpp;
        w -= vx - px;
        px = vx;
    }
    w = std::min(w, vr - px);

    rk_GfxLock();
    uint8_t *dst = ctx->line[py] + static_cast<std::size_t>(px) * ctx->target_bpp;
    blender(src, dst, static_cast<int>(w), static_cast<int>(h), g.pitch, ctx->target_pitch, alpha, user_function,
            user_parameter);
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(static_cast<int>(py), static_cast<int>(py + h - 1));
    rk_GfxUnlock(1, 0);
    rk_ErrorSetNum(RK_OK);
}

void rk_hPutTrans(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                  uint32_t alpha, intptr_t user_function, void *user_parameter)
{
    DrawContext *ctx = rk_hGetContext();
    if (!ctx->trans_putters) {
        bool fast = __rk_gfx && (__rk_gfx->flags & SCREEN_HAS_MMX);
        ctx->trans_putters = all_putters + (fast ? 4 : 0);
    }
    int bpp = ctx->target_bpp;
    if (bpp < 1 || bpp > 4)
        return;
    BlenderFn fn = static_cast<const BlenderFn *>(ctx->trans_putters)[bpp - 1];
    if (fn)
        fn(src, dst, width, height, src_pitch, dst_pitch, alpha, user_function, user_parameter);
}

void rk_hPutAlphaMask(const uint8_t *src, uint8_t *dst, int width, int height, int src_pitch, int dst_pitch,
                      uint32_t alpha, intptr_t user_function, void *user_parameter)
{
    bool fast = __rk_gfx && (__rk_gfx->flags & SCREEN_HAS_MMX);
    (fast ? rk_hPutAlphaMaskMMX : rk_hPutAlphaMaskC)(src, dst, width, height, src_pitch, dst_pitch, alpha,
                                                      user_function, user_parameter);
}
