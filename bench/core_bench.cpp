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

namespace {
constexpr int W = 800, H = 600;

// The page of an open 800x600x32 screen, drawn through the context's span
// filler one row at a time as the primitives do.
void BM_PageFill_SpanFiller(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    rk_GfxScreenRes(W, H, 32, 0, 0, 0);
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF102030);
    for (auto _ : state) {
        for (int y = 0; y < H; ++y)
            ctx->pixel_set(ctx->line[y], 0xFF102030, W);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * W * H * 4);
    rk_GfxScreen(0, 0, 0, 0, 0);
}
BENCHMARK(BM_PageFill_SpanFiller);

// The physical limit: memset of the same bytes into a 16-byte aligned page.
void BM_PageFill_Memset(benchmark::State &state)
{
    __rk_gfx_driver_name = "null";
    rk_GfxScreenRes(W, H, 32, 0, 0, 0);
    uint8_t *page = rk_GfxScreenPtr();
    for (auto _ : state) {
        std::memset(page, 0x20, static_cast<std::size_t>(W) * H * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * W * H * 4);
    rk_GfxScreen(0, 0, 0, 0, 0);
}
BENCHMARK(BM_PageFill_Memset);

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
    bench_ratio({"32-bit page fill through the span filler / memset", "BM_PageFill_SpanFiller",
                 "BM_PageFill_Memset", 1.10}),
    bench_ratio({"32-bit fill: fast / plain", "BM_Fill4_Fast", "BM_Fill4_Plain", 0}),
    bench_ratio({"16-bit fill: fast / plain", "BM_Fill2_Fast", "BM_Fill2_Plain", 0}),
    bench_ratio({"32-bit alpha fill: fast / plain", "BM_FillAlpha4_Fast", "BM_FillAlpha4_Plain", 0}),
};
}  // namespace
