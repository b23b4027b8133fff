// The paint program's Load and Save: the 719x553 canvas as a 24-bit bitmap,
// loaded into a 32-bit image and saved from it, against stb_image's
// stbi_load_from_memory (given the file's bytes already in memory) and SDL2's
// SDL_LoadBMP and SDL_SaveBMP. SDL_LoadBMP keeps the file's 24-bit pixels, so
// it is also timed with the conversion to 32 bits that the load does. The runs
// are interleaved so that noise on a shared machine hits all of them alike.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "rt/str.h"

#ifdef HAVE_SDL2
#include <SDL.h>
#endif
#ifdef HAVE_STB_IMAGE
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>
#endif

namespace {

constexpr int CANVAS_W = 719, CANVAS_H = 553;

struct Canvas {
    void *image;
    uint8_t *pixels;
    uint32_t pitch;
};

// An opaque white canvas with strokes of random colour.
Canvas make_canvas()
{
    void *img = rk_GfxImageCreate(CANVAS_W, CANVAS_H, 0xFFFFFFFF, 32, 0);
    auto *h = static_cast<ImageHeader *>(img);
    auto *px = reinterpret_cast<uint8_t *>(h + 1);
    std::mt19937 rng(3);
    for (int y = 0; y < CANVAS_H; ++y)
        for (int x = 0; x < CANVAS_W; ++x)
            if (rng() % 8 == 0) {
                uint32_t v = 0xFF000000u | (rng() & 0xFFFFFF);
                std::memcpy(px + static_cast<std::size_t>(y) * h->pitch + 4 * x, &v, 4);
            }
    return {img, px, h->pitch};
}

template <typename Fn> double seconds(Fn &&fn)
{
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string temp_name(const char *name)
{
    return "/tmp/malwerk-image-bench-" + std::to_string(getpid()) + "-" + name;
}

bool open_screen(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) == 0)
        return true;
    state.SkipWithError("no screen");
    return false;
}

uint32_t canvas_px(const Canvas &c, int x, int y)
{
    uint32_t v;
    std::memcpy(&v, c.pixels + static_cast<std::size_t>(y) * c.pitch + 4 * x, 4);
    return v;
}

void BM_CanvasLoad(benchmark::State &state)
{
    if (!open_screen(state))
        return;
    Canvas canvas = make_canvas();
    const std::string file = temp_name("load.bmp");
    if (rk_GfxBsave(rk_StrAllocTempDesc(file.c_str()), canvas.image, 0, nullptr) != 0) {
        state.SkipWithError("save failed");
        return;
    }
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    Canvas loaded = make_canvas();
    std::memset(loaded.pixels, 0, static_cast<std::size_t>(loaded.pitch) * CANVAS_H);
    bool same = rk_GfxBload(rk_StrAllocTempDesc(file.c_str()), loaded.image, nullptr) == 0;
    for (int y = 0; same && y < CANVAS_H; ++y)
        same = std::memcmp(loaded.pixels + static_cast<std::size_t>(y) * loaded.pitch,
                           canvas.pixels + static_cast<std::size_t>(y) * canvas.pitch, 4 * CANVAS_W) == 0;
    if (!same) {
        state.SkipWithError("the loaded canvas differs");
        return;
    }

    // Every decoder must see the same pixels, or the comparison means nothing.
#ifdef HAVE_STB_IMAGE
    {
        int w, h, n;
        stbi_uc *p = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 4);
        same = p && w == CANVAS_W && h == CANVAS_H;
        for (int i = 0; same && i < w * h; ++i)
            same = (0xFF000000u | (p[4 * i] << 16) | (p[4 * i + 1] << 8) | p[4 * i + 2]) ==
                   canvas_px(canvas, i % w, i / w);
        stbi_image_free(p);
        if (!same) {
            state.SkipWithError("stb_image decodes other pixels");
            return;
        }
    }
#endif
#ifdef HAVE_SDL2
    {
        SDL_Surface *s = SDL_LoadBMP(file.c_str());
        SDL_Surface *c = s ? SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0) : nullptr;
        same = c && c->w == CANVAS_W && c->h == CANVAS_H;
        for (int y = 0; same && y < CANVAS_H; ++y)
            same = std::memcmp(static_cast<uint8_t *>(c->pixels) + static_cast<std::size_t>(y) * c->pitch,
                               canvas.pixels + static_cast<std::size_t>(y) * canvas.pitch, 4 * CANVAS_W) == 0;
        SDL_FreeSurface(c);
        SDL_FreeSurface(s);
        if (!same) {
            state.SkipWithError("SDL2 decodes other pixels");
            return;
        }
    }
#endif

    double t_ours = 0, t_stb = 0, t_sdl = 0, t_sdl_conv = 0;
    for (auto _ : state) {
        double t = seconds([&] { rk_GfxBload(rk_StrAllocTempDesc(file.c_str()), loaded.image, nullptr); });
        t_ours += t;
        state.SetIterationTime(t);
        benchmark::ClobberMemory();
#ifdef HAVE_STB_IMAGE
        t_stb += seconds([&] {
            int w, h, n;
            stbi_image_free(stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 4));
        });
#endif
#ifdef HAVE_SDL2
        t_sdl += seconds([&] { SDL_FreeSurface(SDL_LoadBMP(file.c_str())); });
        t_sdl_conv += seconds([&] {
            SDL_Surface *s = SDL_LoadBMP(file.c_str());
            SDL_FreeSurface(SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0));
            SDL_FreeSurface(s);
        });
#endif
    }
#ifdef HAVE_STB_IMAGE
    state.counters["load/stb"] = t_ours / t_stb;
#endif
#ifdef HAVE_SDL2
    state.counters["load/SDL2"] = t_ours / t_sdl;
    state.counters["load/SDL2+conv"] = t_ours / t_sdl_conv;
#endif
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    std::remove(file.c_str());
    rk_GfxImageDestroy(canvas.image);
    rk_GfxImageDestroy(loaded.image);
    rk_GfxScreen(0, 0, 0, 0, 0);
}

void BM_CanvasSave(benchmark::State &state)
{
    if (!open_screen(state))
        return;
    Canvas canvas = make_canvas();
    const std::string ours = temp_name("save.bmp"), theirs = temp_name("sdl.bmp");
#ifdef HAVE_SDL2
    SDL_Surface *sdl = SDL_CreateRGBSurfaceWithFormatFrom(canvas.pixels, CANVAS_W, CANVAS_H, 32,
                                                          static_cast<int>(canvas.pitch), SDL_PIXELFORMAT_ARGB8888);
    // The same picture as SDL2 holds it in 24 bits, which it saves as the same kind of file.
    SDL_Surface *sdl24 = SDL_ConvertSurfaceFormat(sdl, SDL_PIXELFORMAT_BGR24, 0);
#endif
    double t_ours = 0, t_sdl = 0, t_sdl24 = 0;
    for (auto _ : state) {
        double t = seconds([&] { rk_GfxBsave(rk_StrAllocTempDesc(ours.c_str()), canvas.image, 0, nullptr); });
        t_ours += t;
        state.SetIterationTime(t);
#ifdef HAVE_SDL2
        t_sdl += seconds([&] { SDL_SaveBMP(sdl, theirs.c_str()); });
        t_sdl24 += seconds([&] { SDL_SaveBMP(sdl24, theirs.c_str()); });
#endif
    }
#ifdef HAVE_SDL2
    state.counters["save/SDL2"] = t_ours / t_sdl;
    state.counters["save/SDL2-24"] = t_ours / t_sdl24;
    SDL_FreeSurface(sdl24);
    SDL_FreeSurface(sdl);
#endif
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
    rk_GfxImageDestroy(canvas.image);
    rk_GfxScreen(0, 0, 0, 0, 0);
}

}  // namespace

BENCHMARK(BM_CanvasLoad)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_CanvasSave)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(1.0);
