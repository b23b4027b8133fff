// One frame of the paint program (lock, clear, toolbar with its 28 buttons
// and 7 icon loads, canvas put, unlock) on a screen of the Null driver,
// against memcpy of one 800x600 32-bit frame: the cheapest way a frame could
// reach the screen. Measured back to back, and each after a 10 ms pause as
// in the program's loop, which is what its idle CPU use is made of.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/Malwerk.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "gfx/image/bload.h"
#include "ratio.h"
#include "rt/str.h"

namespace {

// The program reads its icons relative to the working directory; the
// repository's top directory holds them.
class InSourceDir {
public:
    InSourceDir() : ok_(getcwd(saved_, sizeof saved_) != nullptr && chdir(MALWERK_SOURCE_DIR) == 0) {}
    ~InSourceDir()
    {
        if (ok_ && chdir(saved_) != 0)
            std::perror("chdir");
    }
    bool ok() const { return ok_; }

private:
    char saved_[4096];
    bool ok_;
};

bool icons_load()
{
    void *icon = rk_GfxImageCreate(20, 22, 0, 0, RK_FLAG_NO_COLOR);
    bool ok = icon && rk_GfxBload(rk_StrAllocTempDesc("gfx/1.bmp"), icon, nullptr) == 0;
    rk_GfxImageDestroy(icon);
    return ok;
}

// The program's start-up state on a screen of the Null driver, with the
// icons readable; closed again at the end of the benchmark.
class Program {
public:
    explicit Program(benchmark::State &state)
    {
        __rk_gfx_driver_name = "null";
        if (!here_.ok() || rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0)
            state.SkipWithError("no screen or no source directory");
        else if (!icons_load() || !Malwerk::STARTZUSTAND())
            state.SkipWithError("icons or canvas missing");
        else
            ok_ = true;
    }
    ~Program()
    {
        rk_GfxImageDestroy(Malwerk::BILD);
        Malwerk::BILD = nullptr;
        rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gfx_driver_name = nullptr;
    }
    bool ok() const { return ok_; }

private:
    InSourceDir here_;
    bool ok_ = false;
};

const std::vector<unsigned char> &frame_source()
{
    static const std::vector<unsigned char> src(800 * 600 * 4, 0x5A);
    return src;
}

void copy_frame(std::vector<unsigned char> &dst)
{
    std::memcpy(dst.data(), frame_source().data(), dst.size());
    benchmark::ClobberMemory();
}

// Times `step` after a 10 ms pause each time, as the program's loop runs
// it: by then the caches no longer hold the frame's pixels.
template <class Step> void paced(benchmark::State &state, Step step)
{
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        auto t0 = std::chrono::steady_clock::now();
        step();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}

void BM_MalwerkFrame(benchmark::State &state)
{
    Program p(state);
    if (p.ok())
        for (auto _ : state)
            Malwerk::BILD_AUFBAUEN();
}
BENCHMARK(BM_MalwerkFrame)->Unit(benchmark::kMicrosecond);

void BM_MalwerkFrame_Memcpy(benchmark::State &state)
{
    std::vector<unsigned char> dst(frame_source().size());
    for (auto _ : state)
        copy_frame(dst);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dst.size()));
}
BENCHMARK(BM_MalwerkFrame_Memcpy)->Unit(benchmark::kMicrosecond);

void BM_MalwerkFramePaced(benchmark::State &state)
{
    Program p(state);
    if (p.ok())
        paced(state, [] { Malwerk::BILD_AUFBAUEN(); });
}
BENCHMARK(BM_MalwerkFramePaced)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

void BM_MalwerkFramePaced_Memcpy(benchmark::State &state)
{
    std::vector<unsigned char> dst(frame_source().size());
    paced(state, [&] { copy_frame(dst); });
}
BENCHMARK(BM_MalwerkFramePaced_Memcpy)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

[[maybe_unused]] const bool registered[] = {
    bench_ratio({"paint program frame (Null driver) / memcpy of 800x600x4", "BM_MalwerkFrame",
                 "BM_MalwerkFrame_Memcpy", 0}),
    bench_ratio({"the same, each after a 10 ms pause", "BM_MalwerkFramePaced/iterations:300/manual_time",
                 "BM_MalwerkFramePaced_Memcpy/iterations:300/manual_time", 0}),
};

}  // namespace
