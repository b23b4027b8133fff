// Span filling of a whole 800x600 32-bit page against the memset of the
// same bytes, and the plain pixel routines against the fast ones.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "ratio.h"
#include "samples.h"

namespace {
constexpr int W = 800, H = 600;

// The page of an open 800x600x32 screen through the context's span filler,
// in one span as a clear or a box over whole rows writes it, and one row at
// a time as narrower boxes do, against memset of the same bytes (the
// physical limit). The three run interleaved, so that noise on a shared
// machine hits them alike; the counters are medians and their ratios.
void BM_PageFill(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    rk_GfxScreenRes(W, H, 32, 0, 0, 0);
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF102030);
    uint8_t *page = rk_GfxScreenPtr();
    Samples span, rows, mem;
    for (auto _ : state) {
        span.time([&] { ctx->pixel_set(ctx->line[0], 0xFF102030, static_cast<std::size_t>(W) * H); });
        rows.time([&] {
            for (int y = 0; y < H; ++y)
                ctx->pixel_set(ctx->line[y], 0xFF102030, W);
        });
        mem.time([&] { std::memset(page, 0x20, static_cast<std::size_t>(W) * H * 4); });
    }
    state.counters["span_us"] = span.median();
    state.counters["rows_us"] = rows.median();
    state.counters["memset_us"] = mem.median();
    state.counters["x_memset"] = span.median() / mem.median();
    state.counters["rows_x_memset"] = rows.median() / mem.median();
    rk_GfxScreen(0, 0, 0, 0, 0);
}
BENCHMARK(BM_PageFill)->Unit(benchmark::kMicrosecond);

template <void (*Fill)(void *, uint32_t, std::size_t), int Bpp>
void BM_Fill(benchmark::State &state)
{
    std::vector<uint8_t> buf(static_cast<std::size_t>(W) * H * 4 + 64);
    uint8_t *p = buf.data() + (16 - reinterpret_cast<uintptr_t>(buf.data()) % 16) % 16;
    for (auto _ : state) {
        for (int y = 0; y < H; ++y)
            Fill(p + static_cast<std::size_t>(y) * W * Bpp, 0x80102030, W);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * W * H * Bpp);
}
BENCHMARK(BM_Fill<rk_hPixelSet4, 4>)->Name("BM_Fill4_Plain");
BENCHMARK(BM_Fill<rk_hPixelSet4MMX, 4>)->Name("BM_Fill4_Fast");
BENCHMARK(BM_Fill<rk_hPixelSet2, 2>)->Name("BM_Fill2_Plain");
BENCHMARK(BM_Fill<rk_hPixelSet2MMX, 2>)->Name("BM_Fill2_Fast");
BENCHMARK(BM_Fill<rk_hPixelSetAlpha4, 4>)->Name("BM_FillAlpha4_Plain");
BENCHMARK(BM_Fill<rk_hPixelSetAlpha4MMX, 4>)->Name("BM_FillAlpha4_Fast");

const bool registered[] = {
    bench_ratio({"32-bit page fill through the span filler / memset", "BM_PageFill", nullptr, 1.05, "x_memset"}),
    bench_ratio({"the same page row by row / memset of the page", "BM_PageFill", nullptr, 0, "rows_x_memset"}),
    bench_ratio({"32-bit fill: fast / plain", "BM_Fill4_Fast", "BM_Fill4_Plain", 0}),
    bench_ratio({"16-bit fill: fast / plain", "BM_Fill2_Fast", "BM_Fill2_Plain", 0}),
    bench_ratio({"32-bit alpha fill: fast / plain", "BM_FillAlpha4_Fast", "BM_FillAlpha4_Plain", 0}),
};
}  // namespace
