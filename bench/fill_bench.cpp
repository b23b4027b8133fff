// Filled boxes and flood fills against the memory limit and peer libraries.
// Each benchmark runs every contender once per iteration, interleaved on the
// same pixels, and reports the medians and their ratios as counters
// (x_<peer> is our time divided by the peer's: below 1 means faster).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/core/box.h"
#include "gfx/draw/paint.h"
#include "gfx/drivers/driver.h"
#include "ratio.h"
#include "samples.h"

#ifdef HAVE_PIXMAN_1
#include <pixman.h>
#endif
#ifdef HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr uint32_t WHITE = 0xFFFFFFFF, BLACK = 0xFF000000, RED = 0xFFFF0000;


void open_screen()
{
    __rk_gfx_driver_name = "null";
    if (!__rk_gfx && rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0)
        std::abort();
}

struct Image {
    void *img;
    ImageGeometry g;
    Image(int w, int h) : img(rk_GfxImageCreate(w, h, 0, 32, 0))
    {
        if (!img || !rk_hImageGeometry(img, &g))
            std::abort();
    }
    ~Image() { rk_GfxImageDestroy(img); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    uint32_t *row(int y) { return reinterpret_cast<uint32_t *>(g.pixels + static_cast<std::size_t>(y) * g.pitch); }
};

// White teeth one pixel wide on black, joined by a white top row: every
// row below the top holds (w + 1) / 2 runs.
void draw_comb(Image &im)
{
    for (int y = 0; y < im.g.height; ++y)
        for (int x = 0; x < im.g.width; ++x)
            im.row(y)[x] = (y == 0 || x % 2 == 0) ? WHITE : BLACK;
}

#ifdef HAVE_OPENCV
// OpenCV's 4-connected fill of the pixels equal to the seed's, with the
// same 32-bit pixels viewed as one signed channel.
void opencv_fill(Image &im, int x, int y, uint32_t color)
{
    cv::Mat m(im.g.height, im.g.width, CV_32SC1, im.g.pixels, static_cast<std::size_t>(im.g.pitch));
    cv::floodFill(m, cv::Point(x, y), cv::Scalar(static_cast<int32_t>(color)), nullptr, cv::Scalar(), cv::Scalar(), 4);
}
#endif

void BM_FilledBox(benchmark::State &state)
{
    open_screen();
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, RED);
    ScreenState *s = __rk_gfx;
    std::size_t bytes = static_cast<std::size_t>(s->pitch) * s->h;
    Samples ours, mem;
#ifdef HAVE_PIXMAN_1
    Samples pix;
#endif
    for (auto _ : state) {
        ours.time([&] { rk_hGfxBox(0, 0, 799, 599, RED, 1, 0xFFFF); });
        mem.time([&] { std::memset(s->framebuffer, 0x5A, bytes); });
#ifdef HAVE_PIXMAN_1
        pix.time([&] {
            pixman_fill(reinterpret_cast<uint32_t *>(s->framebuffer), s->pitch / 4, 32, 0, 0, 800, 600, RED);
        });
#endif
    }
    double o = ours.median();
    state.counters["ours_us"] = o;
    state.counters["memset_us"] = mem.median();
    state.counters["x_memset"] = o / mem.median();
#ifdef HAVE_PIXMAN_1
    state.counters["pixman_us"] = pix.median();
    state.counters["x_pixman"] = o / pix.median();
#endif
}
BENCHMARK(BM_FilledBox)->Unit(benchmark::kMicrosecond);

// The bucket tool on the untouched canvas: the whole 719x553 image is one
// region. The colours alternate so every call fills all of it.
void BM_FloodCanvas(benchmark::State &state)
{
    open_screen();
    Image im(719, 553);
    for (int y = 0; y < 553; ++y)
        std::fill(im.row(y), im.row(y) + 719, WHITE);
    Samples ours;
#ifdef HAVE_OPENCV
    Samples cvs;
#endif
    for (auto _ : state) {
        ours.time([&] { rk_GfxPaint(im.img, 360, 276, RED, 0, nullptr, 0, RK_FLAG_NO_COLOR2); });
#ifdef HAVE_OPENCV
        cvs.time([&] { opencv_fill(im, 360, 276, WHITE); });
#else
        rk_GfxPaint(im.img, 360, 276, WHITE, 0, nullptr, 0, RK_FLAG_NO_COLOR2);
#endif
    }
    double o = ours.median();
    state.counters["ours_us"] = o;
#ifdef HAVE_OPENCV
    state.counters["opencv_us"] = cvs.median();
    state.counters["x_opencv"] = o / cvs.median();
#endif
}
BENCHMARK(BM_FloodCanvas)->Unit(benchmark::kMicrosecond);

// The comb at the canvas size and at twice its width (twice the area and
// twice the runs per row): x_double_area is how much longer the larger takes.
void BM_FloodComb(benchmark::State &state)
{
    open_screen();
    Image small(719, 553), large(1438, 553);
    draw_comb(small);
    draw_comb(large);
    Samples ours1, ours2;
#ifdef HAVE_OPENCV
    Samples cv1, cv2;
#endif
    for (auto _ : state) {
        ours1.time([&] { rk_GfxPaint(small.img, 0, 0, RED, BLACK, nullptr, 0, 0); });
        ours2.time([&] { rk_GfxPaint(large.img, 0, 0, RED, BLACK, nullptr, 0, 0); });
#ifdef HAVE_OPENCV
        cv1.time([&] { opencv_fill(small, 0, 0, WHITE); });
        cv2.time([&] { opencv_fill(large, 0, 0, WHITE); });
#else
        rk_GfxPaint(small.img, 0, 0, WHITE, BLACK, nullptr, 0, 0);
        rk_GfxPaint(large.img, 0, 0, WHITE, BLACK, nullptr, 0, 0);
#endif
    }
    double o1 = ours1.median(), o2 = ours2.median();
    state.counters["ours_us"] = o1;
    state.counters["ours_2x_us"] = o2;
    state.counters["x_double_area"] = o2 / o1;
#ifdef HAVE_OPENCV
    state.counters["opencv_us"] = cv1.median();
    state.counters["opencv_2x_us"] = cv2.median();
    state.counters["x_opencv"] = o1 / cv1.median();
    state.counters["x_opencv_2x"] = o2 / cv2.median();
#endif
}
BENCHMARK(BM_FloodComb)->Unit(benchmark::kMicrosecond);

[[maybe_unused]] const bool registered[] = {
    bench_ratio({"filled 800x600 box / memset of the page", "BM_FilledBox", nullptr, 0, "x_memset"}),
    bench_ratio({"filled 800x600 box / pixman_fill", "BM_FilledBox", nullptr, 1.0, "x_pixman"}),
    bench_ratio({"flood fill of the open canvas / OpenCV floodFill", "BM_FloodCanvas", nullptr, 0, "x_opencv"}),
    bench_ratio({"flood fill of the comb / OpenCV floodFill", "BM_FloodComb", nullptr, 0.85, "x_opencv"}),
    bench_ratio({"flood fill of the comb: twice the area / once", "BM_FloodComb", nullptr, 2.1, "x_double_area"}),
};

} // namespace
