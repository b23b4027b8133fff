// The paint program's Load and Save as PNG: the 719x553 canvas of a 32-bit
// screen, against libpng's simplified API (png_image_begin_read_from_file
// and png_image_finish_read into blue, green, red, alpha; and
// png_image_write_to_file). That API cannot leave out an alpha byte when it
// writes, so it is given the picture as 24-bit blue, green, red, converted
// outside the timing: an advantage to the peer. Both write with libpng's
// defaults (zlib level 6, filters chosen per row), the same file. Every
// iteration runs each contender once; counters are medians (x_libpng: our
// time divided by libpng's).
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "ratio.h"
#include "rt/str.h"
#include "samples.h"

namespace {

constexpr int W = 719, H = 553;

// An opaque white canvas with strokes of random colour, as in image_bench.cpp.
void *make_canvas()
{
    void *img = rk_GfxImageCreate(W, H, 0xFFFFFFFF, 32, 0);
    auto *h = static_cast<ImageHeader *>(img);
    auto *px = reinterpret_cast<uint8_t *>(h + 1);
    std::mt19937 rng(3);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (rng() % 8 == 0) {
                const uint32_t v = 0xFF000000u | (rng() & 0xFFFFFF);
                std::memcpy(px + static_cast<std::size_t>(y) * h->pitch + 4 * x, &v, 4);
            }
    return img;
}

uint8_t *pixels(void *image)
{
    return static_cast<uint8_t *>(image) + sizeof(ImageHeader);
}

uint32_t pitch(void *image)
{
    return static_cast<ImageHeader *>(image)->pitch;
}

bool same_pixels(void *image, const uint8_t *bgra, std::size_t stride)
{
    for (int y = 0; y < H; ++y)
        if (std::memcmp(pixels(image) + static_cast<std::size_t>(y) * pitch(image), bgra + y * stride, 4 * W) != 0)
            return false;
    return true;
}

bool peer_load(const char *file, uint8_t *bgra)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, file))
        return false;
    img.format = PNG_FORMAT_BGRA;
    const bool ok = img.width == W && img.height == H && png_image_finish_read(&img, nullptr, bgra, 4 * W, nullptr);
    png_image_free(&img);
    return ok;
}

bool peer_save(const char *file, const std::vector<uint8_t> &bgr)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = W;
    img.height = H;
    img.format = PNG_FORMAT_BGR;
    return png_image_write_to_file(&img, file, 0, bgr.data(), 3 * W, nullptr) != 0;
}

bool open_screen(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) == 0)
        return true;
    state.SkipWithError("no screen");
    return false;
}

std::string temp_name(const char *name)
{
    return "/tmp/malwerk-png-bench-" + std::to_string(getpid()) + "-" + name;
}

int save(const std::string &file, void *image)
{
    return rk_GfxBsave(rk_StrAllocTempDesc(file.c_str()), image, 0, nullptr);
}

int load(const std::string &file, void *image)
{
    return rk_GfxBload(rk_StrAllocTempDesc(file.c_str()), image, nullptr);
}

void BM_PngCanvasLoad(benchmark::State &state)
{
    if (!open_screen(state))
        return;
    void *canvas = make_canvas(), *loaded = rk_GfxImageCreate(W, H, 0, 32, 0);
    const std::string file = temp_name("load.png");
    std::vector<uint8_t> theirs(4 * W * H);
    // Both must see the same pixels, or the comparison means nothing.
    if (save(file, canvas) != 0 || load(file, loaded) != 0 || !same_pixels(loaded, pixels(canvas), pitch(canvas)) ||
        !peer_load(file.c_str(), theirs.data()) || !same_pixels(canvas, theirs.data(), 4 * W)) {
        state.SkipWithError("the canvas does not come back");
    } else {
        Samples ours, peer;
        for (auto _ : state) {
            ours.time([&] { load(file, loaded); });
            peer.time([&] { peer_load(file.c_str(), theirs.data()); });
        }
        state.counters["ours_us"] = ours.median();
        state.counters["libpng_us"] = peer.median();
        state.counters["x_libpng"] = ours.median() / peer.median();
    }
    std::remove(file.c_str());
    rk_GfxImageDestroy(canvas);
    rk_GfxImageDestroy(loaded);
    rk_GfxScreen(0, 0, 0, 0, 0);
}

void BM_PngCanvasSave(benchmark::State &state)
{
    if (!open_screen(state))
        return;
    void *canvas = make_canvas();
    std::vector<uint8_t> bgr(3 * W * H);
    for (int i = 0; i < W * H; ++i)
        std::memcpy(&bgr[3 * i], pixels(canvas) + (i / W) * pitch(canvas) + 4 * (i % W), 3);
    const std::string ours_file = temp_name("ours.png"), peer_file = temp_name("libpng.png");
    Samples ours, peer;
    for (auto _ : state) {
        ours.time([&] { save(ours_file, canvas); });
        peer.time([&] { peer_save(peer_file.c_str(), bgr); });
    }
    std::vector<uint8_t> a(4 * W * H), b(4 * W * H);
    if (!peer_load(ours_file.c_str(), a.data()) || !peer_load(peer_file.c_str(), b.data()) || a != b) {
        state.SkipWithError("the two files hold other pixels");
    } else {
        state.counters["ours_us"] = ours.median();
        state.counters["libpng_us"] = peer.median();
        state.counters["x_libpng"] = ours.median() / peer.median();
    }
    std::remove(ours_file.c_str());
    std::remove(peer_file.c_str());
    rk_GfxImageDestroy(canvas);
    rk_GfxScreen(0, 0, 0, 0, 0);
}

BENCHMARK(BM_PngCanvasLoad)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_PngCanvasSave)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

[[maybe_unused]] const bool registered[] = {
    bench_ratio({"PNG load of the canvas / libpng's simplified API", "BM_PngCanvasLoad/min_time:1.000", nullptr, 1.2,
                 "x_libpng"}),
    bench_ratio({"PNG save of the canvas / libpng's simplified API", "BM_PngCanvasSave/min_time:1.000", nullptr, 1.2,
                 "x_libpng"}),
};

}  // namespace
