// Blitter throughput on an 800 x 600 frame, every line dirty, against SDL2's
// pixel conversion of the same formats and against memcpy of the display
// image. Every iteration runs each contender once on the same pixels;
// counters are medians (x_sdl, x_memcpy: our time divided by theirs, below 1
// is faster; mpix_s: our megapixels per second).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "gfx/core/screen.h"
#include "gfx/drivers/blit.h"
#include "gfx/drivers/driver.h"
#include "ratio.h"
#include "samples.h"

#ifdef HAVE_SDL2
#include <SDL2/SDL.h>
#endif

namespace {

constexpr int W = 800, H = 600;


// A Null screen of `depth` with random pixels and palette, all lines dirty.
void open_screen(int depth)
{
    __rk_gfx_driver_name = "null";
    if (rk_GfxScreenRes(W, H, depth, 0, 0, 0) != 0)
        std::abort();
    std::mt19937 rng(7);
    ScreenState *s = __rk_gfx;
    for (std::size_t i = 0; i < static_cast<std::size_t>(s->pitch) * H; ++i)
        s->framebuffer[i] = static_cast<uint8_t>(rng());
    for (int i = 0; i < 256; ++i)
        s->device_palette[i] = rng() & 0xFFFFFF;
    std::memset(s->dirty, 1, H);
}

// One pair: our blitter for (depth -> format, red position) against SDL's
// conversion between the matching SDL formats.
void run_pair(benchmark::State &state, int depth, int format, int red_low, [[maybe_unused]] uint32_t sdl_src,
              [[maybe_unused]] uint32_t sdl_dst)
{
    open_screen(depth);
    BlitterFn blit = rk_hGetBlitter(format, red_low);
    if (!blit) {
        state.SkipWithError("no blitter");
        return;
    }
    int out_bpp = (format + 7) / 8;
    int dest_pitch = W * out_bpp;
    std::vector<uint8_t> dest(static_cast<std::size_t>(dest_pitch) * H), copy(dest.size());
    std::vector<uint8_t> ref(dest.size(), 1);
    const uint8_t *src = __rk_gfx->framebuffer;
    int src_pitch = __rk_gfx->pitch;

#ifdef HAVE_SDL2
    SDL_Surface *indexed = nullptr, *target = nullptr;
    if (depth == 8) {
        // SDL converts indexed pixels only through surfaces with a palette.
        indexed = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t *>(src), W, H, 8, src_pitch, sdl_src);
        target = SDL_CreateRGBSurfaceWithFormatFrom(dest.data(), W, H, 32, dest_pitch, sdl_dst);
        SDL_Color colors[256];
        for (int i = 0; i < 256; ++i) {
            uint32_t e = __rk_gfx->device_palette[i];
            colors[i] = {static_cast<uint8_t>(e), static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e >> 16), 255};
        }
        SDL_SetPaletteColors(indexed->format->palette, colors, 0, 256);
    }
    Samples sdl;
#endif
    Samples ours, mem;
    for (auto _ : state) {
        ours.time([&] { blit(dest.data(), dest_pitch); });
        mem.time([&] { std::memcpy(copy.data(), ref.data(), ref.size()); });
#ifdef HAVE_SDL2
        sdl.time([&] {
            if (indexed)
                SDL_BlitSurface(indexed, nullptr, target, nullptr);
            else
                SDL_ConvertPixels(W, H, sdl_src, src, src_pitch, sdl_dst, dest.data(), dest_pitch);
        });
#endif
    }
    double o = ours.median();
    state.counters["ours_us"] = o;
    state.counters["mpix_s"] = W * H / o;
    state.counters["memcpy_us"] = mem.median();
    state.counters["x_memcpy"] = o / mem.median();
#ifdef HAVE_SDL2
    state.counters["sdl_us"] = sdl.median();
    state.counters["x_sdl"] = o / sdl.median();
    if (indexed) {
        SDL_FreeSurface(indexed);
        SDL_FreeSurface(target);
    }
#endif
    rk_GfxScreen(0, 0, 0, 0, 0);
}

// A window at twice the mode's size, as the X11 driver shows it: each pixel
// converted (through the staging lines unless the conversion is a copy) and
// replicated into a 2 x 2 block of the window image. Against memcpy of the
// window image.
void run_scaled(benchmark::State &state, int depth)
{
    constexpr int F = 2;
    open_screen(depth);
    BlitterFn blit = rk_hGetBlitter(32, 0);
    if (!blit) {
        state.SkipWithError("no blitter");
        return;
    }
    int staging_pitch = W * 4, pitch = W * F * 4;
    std::vector<uint8_t> staging(static_cast<std::size_t>(staging_pitch) * H);
    std::vector<uint8_t> window(static_cast<std::size_t>(pitch) * H * F), copy(window.size()), ref(window.size(), 1);
    Samples ours, mem;
    for (auto _ : state) {
        ours.time([&] { rk_hBlitScaled(blit, window.data(), pitch, staging.data(), staging_pitch, 4, F); });
        mem.time([&] { std::memcpy(copy.data(), ref.data(), ref.size()); });
    }
    state.counters["ours_us"] = ours.median();
    state.counters["memcpy_us"] = mem.median();
    state.counters["x_memcpy"] = ours.median() / mem.median();
    rk_GfxScreen(0, 0, 0, 0, 0);
}

void BM_BlitScaled32to32x2(benchmark::State &s) { run_scaled(s, 32); }
void BM_BlitScaled8to32x2(benchmark::State &s) { run_scaled(s, 8); }
BENCHMARK(BM_BlitScaled32to32x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlitScaled8to32x2)->Unit(benchmark::kMicrosecond);

#ifdef HAVE_SDL2
#define SDLF(f) SDL_PIXELFORMAT_##f
#else
#define SDLF(f) 0u
#endif

void BM_Blit32to32(benchmark::State &s) { run_pair(s, 32, 32, 0, SDLF(XRGB8888), SDLF(XRGB8888)); }
void BM_Blit32to32Swap(benchmark::State &s) { run_pair(s, 32, 32, 1, SDLF(XRGB8888), SDLF(XBGR8888)); }
void BM_Blit32to24(benchmark::State &s) { run_pair(s, 32, 24, 0, SDLF(XRGB8888), SDLF(BGR24)); }
void BM_Blit32to16(benchmark::State &s) { run_pair(s, 32, 16, 0, SDLF(XRGB8888), SDLF(RGB565)); }
void BM_Blit16to32(benchmark::State &s) { run_pair(s, 16, 32, 0, SDLF(RGB565), SDLF(XRGB8888)); }
void BM_Blit8to32(benchmark::State &s) { run_pair(s, 8, 32, 0, SDLF(INDEX8), SDLF(XRGB8888)); }
#undef SDLF

BENCHMARK(BM_Blit32to32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blit32to32Swap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blit32to24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blit32to16)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blit16to32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Blit8to32)->Unit(benchmark::kMicrosecond);

[[maybe_unused]] const bool registered[] = {
    bench_ratio({"blit 32 -> 32 (a copy) / memcpy of the frame", "BM_Blit32to32", nullptr, 1.1, "x_memcpy"}),
    bench_ratio({"blit 32 -> 32 / SDL_ConvertPixels", "BM_Blit32to32", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 32 -> 32, red and blue swapped / SDL_ConvertPixels", "BM_Blit32to32Swap", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 32 -> 24 / SDL_ConvertPixels", "BM_Blit32to24", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 32 -> 16 / SDL_ConvertPixels", "BM_Blit32to16", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 16 -> 32 / SDL_ConvertPixels", "BM_Blit16to32", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 8 -> 32 / SDL_BlitSurface", "BM_Blit8to32", nullptr, 1.0, "x_sdl"}),
    bench_ratio({"blit 32 -> 32 at scale 2 / memcpy of the scaled frame", "BM_BlitScaled32to32x2", nullptr, 1.2,
                 "x_memcpy"}),
    bench_ratio({"blit 8 -> 32 at scale 2 / memcpy of the scaled frame", "BM_BlitScaled8to32x2", nullptr, 1.2,
                 "x_memcpy"}),
};

}  // namespace
