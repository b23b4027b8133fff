// The paint program's per-frame canvas put (719x553 at 32 bits onto an
// 800x600 screen), measured against copying the same rows with memcpy and,
// when available, SDL2's colour-keyed blit of the same pixels. The runs are
// interleaved so that noise on a shared machine hits all of them alike.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/blend.h"
#include "gfx/draw/put.h"
#include "gfx/drivers/driver.h"
#include "ratio.h"

#ifdef HAVE_SDL2
#include <SDL.h>
#endif

namespace {

constexpr int CANVAS_W = 719, CANVAS_H = 553, CANVAS_X = 81, CANVAS_Y = 26;

// A white canvas with coloured strokes and some mask-colour pixels.
void *make_canvas()
{
    void *img = rk_GfxImageCreate(CANVAS_W, CANVAS_H, 0x00FFFFFF, 32, 0);
    auto *h = static_cast<ImageHeader *>(img);
    auto *px = reinterpret_cast<uint8_t *>(h + 1);
    std::mt19937 rng(1);
    for (int y = 0; y < CANVAS_H; ++y)
        for (int x = 0; x < CANVAS_W; ++x) {
            uint32_t v = 0x00FFFFFF;
            unsigned r = rng() % 100;
            if (r < 3)
                v = 0xFFFF00FF;
            else if (r < 10)
                v = rng() & 0x00FFFFFF;
            std::memcpy(px + static_cast<std::size_t>(y) * h->pitch + 4 * x, &v, 4);
        }
    return img;
}

template <typename Fn> double seconds(Fn &&fn)
{
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_CanvasPut(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0) {
        state.SkipWithError("no screen");
        return;
    }
    void *canvas = make_canvas();
    auto *h = static_cast<ImageHeader *>(canvas);
    uint8_t *src = reinterpret_cast<uint8_t *>(h + 1);
    ScreenState *s = __rk_gfx;
    uint8_t *dst = s->framebuffer + static_cast<std::size_t>(CANVAS_Y) * s->pitch + 4 * CANVAS_X;

#ifdef HAVE_SDL2
    SDL_Surface *sdl_src = SDL_CreateRGBSurfaceWithFormatFrom(src, CANVAS_W, CANVAS_H, 32, static_cast<int>(h->pitch),
                                                              SDL_PIXELFORMAT_ARGB8888);
    SDL_Surface *sdl_dst =
        SDL_CreateRGBSurfaceWithFormatFrom(s->framebuffer, s->w, s->h, 32, s->pitch, SDL_PIXELFORMAT_ARGB8888);
    // A colour key on the colour bits, whatever the alpha byte, and no
    // blending: the same rule as the transparent put.
    SDL_SetSurfaceBlendMode(sdl_src, SDL_BLENDMODE_NONE);
    SDL_SetColorKey(sdl_src, SDL_TRUE, 0x00FF00FF);
    // Both must produce the same colours, or the comparison means nothing.
    std::size_t frame = static_cast<std::size_t>(s->h) * s->pitch;
    std::vector<uint8_t> ours(frame);
    std::memset(s->framebuffer, 0, frame);
    rk_GfxPut(nullptr, CANVAS_X, CANVAS_Y, canvas, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
    std::memcpy(ours.data(), s->framebuffer, frame);
    std::memset(s->framebuffer, 0, frame);
    SDL_Rect whole{CANVAS_X, CANVAS_Y, CANVAS_W, CANVAS_H};
    if (SDL_BlitSurface(sdl_src, nullptr, sdl_dst, &whole) != 0) {
        state.SkipWithError("SDL_BlitSurface failed");
        return;
    }
    for (std::size_t i = 0; i < frame; i += 4)
        if (std::memcmp(&ours[i], s->framebuffer + i, 3) != 0) {
            state.SkipWithError("SDL2 and rk_hPutTrans disagree");
            return;
        }
#endif

    double t_put = 0, t_plain = 0, t_copy = 0, t_sdl = 0;
    for (auto _ : state) {
        double t = seconds([&] {
            rk_GfxPut(nullptr, CANVAS_X, CANVAS_Y, canvas, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0xFFFFFFFF, 0,
                      nullptr);
        });
        t_put += t;
        state.SetIterationTime(t);
        t_plain += seconds([&] {
            rk_hPutTrans4C(src, dst, CANVAS_W, CANVAS_H, static_cast<int>(h->pitch), s->pitch, 0, 0, nullptr);
        });
        t_copy += seconds([&] {
            for (int y = 0; y < CANVAS_H; ++y)
                std::memcpy(dst + static_cast<std::size_t>(y) * s->pitch, src + static_cast<std::size_t>(y) * h->pitch,
                            4 * CANVAS_W);
        });
        benchmark::ClobberMemory();
#ifdef HAVE_SDL2
        t_sdl += seconds([&] {
            SDL_Rect at{CANVAS_X, CANVAS_Y, CANVAS_W, CANVAS_H};
            SDL_BlitSurface(sdl_src, nullptr, sdl_dst, &at);
        });
#endif
    }
    state.counters["put/memcpy"] = t_put / t_copy;
    state.counters["plain/memcpy"] = t_plain / t_copy;
#ifdef HAVE_SDL2
    state.counters["put/SDL2"] = t_put / t_sdl;
    SDL_FreeSurface(sdl_src);
    SDL_FreeSurface(sdl_dst);
#endif
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CANVAS_W * CANVAS_H * 4);
    rk_GfxImageDestroy(canvas);
    rk_GfxScreen(0, 0, 0, 0, 0);
}

}  // namespace

BENCHMARK(BM_CanvasPut)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);

[[maybe_unused]] static const bool registered[] = {
    bench_ratio({"canvas put / memcpy of its rows", "BM_CanvasPut/min_time:1.000/manual_time", nullptr, 1.1,
                 "put/memcpy"}),
    bench_ratio({"canvas put / SDL_BlitSurface with a colour key", "BM_CanvasPut/min_time:1.000/manual_time",
                 nullptr, 1.0, "put/SDL2"}),
};
