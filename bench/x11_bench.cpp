// The X11 driver on a private Xvfb: latency from rk_GfxUnlock of a changed
// frame until the server shows it (read back with XGetImage), and the window
// thread's CPU time while nothing is dirty, as a share of wall time.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <time.h>

#include "gfx/core/screen.h"
#include "gfx/drivers/driver.h"
#include "gfx/drivers/x11_private.h"
#include "tests/support/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Session {
    Xvfb server;
    Display *peer = nullptr;
    bool ok = false;
    Session()
    {
        if (!server.start("800x600x24") || !(peer = XOpenDisplay(nullptr)))
            return;
        __rk_gfx_driver_name = "x11";
        ok = rk_GfxScreenRes(800, 600, 32, 0, 0, 0) == 0;
    }
    ~Session()
    {
        rk_GfxScreen(0, 0, 0, 0, 0);
        if (peer)
            XCloseDisplay(peer);
    }
    uint32_t shown(int x, int y)
    {
        XImage *img = XGetImage(peer, rk_x11.window, x, y, 1, 1, AllPlanes, ZPixmap);
        uint32_t v = img ? static_cast<uint32_t>(XGetPixel(img, 0, 0)) & 0xFFFFFF : 0;
        if (img)
            XDestroyImage(img);
        return v;
    }
};

void BM_X11UnlockToVisible(benchmark::State &state)
{
    Session s;
    if (!s.ok) {
        state.SkipWithError("no Xvfb");
        return;
    }
    std::vector<double> ms;
    std::mt19937 rng(1);
    for (auto _ : state) {
        ms.clear();
        for (int frame = 0; frame < 200; ++frame) {
            // Frames start at random phases of the window thread's pass.
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
            uint32_t color = 0x010101u * static_cast<uint32_t>(frame % 200 + 20);
            rk_GfxLock();
            auto *fb = reinterpret_cast<uint32_t *>(__rk_gfx->framebuffer);
            std::fill(fb, fb + 800 * 600, color);
            rk_GfxUnlock(-1, -1);
            auto t0 = Clock::now();
            while (s.shown(400, 599) != color && Clock::now() - t0 < std::chrono::seconds(1)) {
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
    state.counters["pass_ms"] = 30;
}
BENCHMARK(BM_X11UnlockToVisible)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_X11IdleThreadCpu(benchmark::State &state)
{
    Session s;
    if (!s.ok) {
        state.SkipWithError("no Xvfb");
        return;
    }
    clockid_t cpu;
    if (pthread_getcpuclockid(rk_x11p.thread, &cpu) != 0) {
        state.SkipWithError("no thread clock");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // first frame out
    double share = 0;
    for (auto _ : state) {
        timespec c0, c1;
        clock_gettime(cpu, &c0);
        auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        clock_gettime(cpu, &c1);
        double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        share = ((c1.tv_sec - c0.tv_sec) + (c1.tv_nsec - c0.tv_nsec) * 1e-9) / wall;
    }
    state.counters["cpu_share_pct"] = share * 100;
}
BENCHMARK(BM_X11IdleThreadCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
