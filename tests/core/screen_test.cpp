#include <cstring>

#include "gfx/core/screen.h"
#include "gfx/core/builtin.h"
#include "gfx/drivers/driver.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "gfx/input/keys.h"
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>
#include "gfx/text/print.h"
#include "support/fail_alloc.h"
#include "support/screen_fixture.h"

using Screen = NullScreen;

TEST_F(Screen, PaintProgramModeGeometry)
{
    open(800, 600, 32);
    ScreenState *s = __rk_gfx;
    EXPECT_EQ(s->num_pages, 1);
    EXPECT_EQ(s->pitch, 3200);
    EXPECT_EQ(s->bpp, 4);
    EXPECT_EQ(s->color_mask, 0xFFFFFFFFu);
    EXPECT_EQ(s->text_w, 100);
    EXPECT_EQ(s->text_h, 75);
    EXPECT_FLOAT_EQ(s->aspect, 1.0f);
    EXPECT_EQ(s->mode_num, -1);
    EXPECT_EQ(s->driver, &__rk_gfxDriverNull);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s->framebuffer) % 16, 0u);
    // Every page starts cleared to opaque black, the 32-bit background.
    for (int y = 0; y < 600; y += 37)
        for (int x = 0; x < 800; x += 41)
            ASSERT_EQ(pixel(x, y), 0xFF000000u);
    // Hooks reach the graphics layer while the screen is open.
    EXPECT_NE(__rk_ctx.hooks.cls, nullptr);
    EXPECT_NE(__rk_ctx.hooks.pageset, nullptr);
}

TEST_F(Screen, DepthNormalisationAndRejection)
{
    open(64, 48, 24);
    EXPECT_EQ(__rk_gfx->depth, 32);
    EXPECT_EQ(__rk_gfx->bpp, 4);
    open(64, 48, 15);
    EXPECT_EQ(__rk_gfx->depth, 16);
    EXPECT_EQ(__rk_gfx->color_mask, 0xFFFFu);
    int id = __rk_gfx->id;
    for (int bad : {3, 12, 0, 64}) {
        EXPECT_EQ(rk_GfxScreenRes(64, 48, bad, 0, 0, 0), 1) << bad;
        EXPECT_EQ(rk_ErrorGetNum(), 1);
        // A rejected request leaves the open screen alone.
        ASSERT_NE(__rk_gfx, nullptr);
        EXPECT_EQ(__rk_gfx->id, id);
    }
    EXPECT_EQ(rk_GfxScreenRes(0, 48, 8, 0, 0, 0), 1);
    EXPECT_EQ(rk_GfxScreenRes(64, -1, 8, 0, 0, 0), 1);
    EXPECT_EQ(rk_GfxScreenRes(70000, 10, 8, 0, 0, 0), 1);
    // A wide screen keeps its whole text grid (a byte would wrap it).
    open(2400, 16, 8);
    EXPECT_EQ(__rk_gfx->text_w, 300);
    EXPECT_EQ(__rk_gfx->text_h, 2);
}

TEST_F(Screen, NumberedModes)
{
    EXPECT_EQ(rk_GfxScreen(3, 0, 0, 0, 0), 1);
    EXPECT_EQ(rk_GfxScreen(22, 0, 0, 0, 0), 1);
    EXPECT_EQ(rk_GfxScreen(-1, 0, 0, 0, 0), 1);
    EXPECT_EQ(__rk_gfx, nullptr);

    EXPECT_EQ(rk_GfxScreen(13, 32, 0, 0, 0), 0);
    EXPECT_EQ(__rk_gfx->depth, 8);
    EXPECT_EQ(__rk_gfx->w, 320);
    EXPECT_NEAR(__rk_gfx->aspect, 0.8333f, 1e-4);

    EXPECT_EQ(rk_GfxScreen(14, 32, 0, 0, 0), 0);
    EXPECT_EQ(__rk_gfx->depth, 32);
    EXPECT_EQ(__rk_gfx->w, 320);
    EXPECT_EQ(__rk_gfx->h, 240);

    // Double-scan mode: the driver sees twice the lines, dirty covers both.
    EXPECT_EQ(rk_GfxScreen(8, 0, 0, 0, 0), 0);
    EXPECT_EQ(__rk_gfx->scanline_size, 2);
    EXPECT_EQ(__rk_gfx->num_pages, 4);
    EXPECT_EQ(__rk_gfx->depth, 4);
    EXPECT_EQ(__rk_gfx->color_mask, 15u);

    // The OpenGL flag raises the depth to 16.
    EXPECT_EQ(rk_GfxScreen(13, 0, 0, RK_MODE_OPENGL, 0), 0);
    EXPECT_EQ(__rk_gfx->depth, 16);
    EXPECT_TRUE(__rk_gfx->flags & SCREEN_OPENGL);

    EXPECT_EQ(rk_GfxScreen(0, 0, 0, 0, 0), 0);
    EXPECT_EQ(__rk_gfx, nullptr);
    EXPECT_EQ(__rk_ctx.hooks.cls, nullptr);
}

TEST_F(Screen, EveryNewScreenGetsANewId)
{
    open(32, 32, 8);
    int first = __rk_gfx->id;
    open(32, 32, 8);
    EXPECT_EQ(__rk_gfx->id, first + 1);
}

// Counts the driver's lock calls.
static int locks, unlocks;
static void count_lock() { ++locks; }
static void count_unlock() { ++unlocks; }
static int accept_init(const char *, int, int, int, int, int) { return 0; }

TEST_F(Screen, CountingLockTakesTheDriverLockOnce)
{
    __rk_gfx_driver_name = nullptr;
    static const DisplayDriver counting = {
        .name = "Counting", .init = accept_init, .lock = count_lock, .unlock = count_unlock};
    __rk_gfx_drivers_list[0] = &counting;
    ASSERT_EQ(rk_GfxScreenRes(16, 16, 32, 0, 0, 0), 0);
    locks = unlocks = 0;
    rk_GfxLock();
    rk_GfxLock();
    EXPECT_EQ(locks, 1);
    rk_GfxUnlock(1, 0);
    EXPECT_EQ(unlocks, 0);  // still held
    rk_GfxUnlock(1, 0);
    EXPECT_EQ(unlocks, 1);
    rk_GfxUnlock(1, 0);  // unbalanced unlock does nothing
    EXPECT_EQ(unlocks, 1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    __rk_gfx_drivers_list[0] = nullptr;
}

TEST_F(Screen, UnlockMarksDirtyLinesOnlyForTheVisiblePage)
{
    open(16, 10, 32, 2);
    std::memset(__rk_gfx->dirty, 0, 10);
    rk_GfxLock();
    rk_GfxUnlock(3, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(__rk_gfx->dirty), 10), std::string("\0\0\0\1\1\1\0\0\0\0", 10));
    std::memset(__rk_gfx->dirty, 0, 10);
    rk_GfxUnlock(-1, -1);
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], 1);
    std::memset(__rk_gfx->dirty, 0, 10);
    rk_GfxUnlock(1, 0);
    rk_GfxUnlock(4, 10);  // beyond the last line: nothing
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], 0);

    // Drawing on a page that is not shown marks nothing.
    rk_GfxPageSet(1, 0);
    rk_GfxLock();
    rk_GfxUnlock(-1, -1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], 0);
}

TEST_F(Screen, PagesSetFlipAndCopy)
{
    open(16, 8, 32, 3);
    DrawContext *ctx = rk_hGetContext();
    // Each result holds both previous pages: (visible << 8) | work.
    struct PageStep {
        int work, visible, result, work_after, visible_after;
    };
    static constexpr PageStep steps[] = {
        {2, -1, 0x000, 2, 0}, {-1, 1, 0x002, 2, 1}, {0, 2, 0x102, 0, 2}, {1, -1, 0x200, 1, 2}, {-1, -1, 0x201, 0, 0},
    };
    for (const PageStep &p : steps) {
        EXPECT_EQ(rk_GfxPageSet(p.work, p.visible), p.result) << p.work << "," << p.visible;
        EXPECT_EQ(ctx->work_page, p.work_after);
        EXPECT_EQ(__rk_gfx->visible_page, p.visible_after);
    }
    // The result restores both pages at once.
    const int saved = rk_GfxPageSet(1, 2);
    rk_GfxPageSet(saved & 0xFF, saved >> 8);
    EXPECT_EQ(ctx->work_page, 0);
    EXPECT_EQ(__rk_gfx->visible_page, 0);

    EXPECT_EQ(rk_GfxPageSet(2, -1), 0);
    EXPECT_EQ(rk_GfxScreenPtr(), __rk_gfx->page[2]);
    std::memset(__rk_gfx->page[2], 0x5A, 16 * 8 * 4);
    std::memset(__rk_gfx->dirty, 0, 8);
    EXPECT_EQ(rk_GfxPageSet(-1, 1), 2);
    EXPECT_EQ(__rk_gfx->framebuffer, __rk_gfx->page[1]);
    EXPECT_EQ(__rk_gfx->dirty[7], 1);

    // Copy the work page onto the visible one.
    EXPECT_EQ(rk_GfxFlip(-1, -1), 0);
    EXPECT_EQ(std::memcmp(__rk_gfx->page[1], __rk_gfx->page[2], 16 * 8 * 4), 0);
    EXPECT_EQ(rk_GfxPageCopy(0, 5), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(rk_GfxPageCopy(7, 0), 1);
    EXPECT_EQ(rk_GfxPageCopy(1, 1), 0);

    // Out-of-range pages are ignored; both negative select page 0.
    rk_GfxPageSet(9, 9);
    EXPECT_EQ(ctx->work_page, 2);
    rk_GfxPageSet(-1, -1);
    EXPECT_EQ(ctx->work_page, 0);
    EXPECT_EQ(__rk_gfx->visible_page, 0);
}

TEST_F(Screen, FlipOnlyCopiesTheView)
{
    open(16, 8, 32, 2);
    std::memset(__rk_gfx->page[1], 0x11, 16 * 8 * 4);
    rk_GfxView(4, 2, 7, 3, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    std::memset(__rk_gfx->dirty, 0, 8);
    EXPECT_EQ(rk_GfxFlip(1, 0), 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            bool inside = x >= 4 && x <= 7 && y >= 2 && y <= 3;
            ASSERT_EQ(pixel(x, y), inside ? 0x11111111u : 0xFF000000u) << x << "," << y;
        }
    EXPECT_EQ(__rk_gfx->dirty[1], 0);
    EXPECT_EQ(__rk_gfx->dirty[2], 1);
    EXPECT_EQ(__rk_gfx->dirty[3], 1);
    EXPECT_EQ(__rk_gfx->dirty[4], 0);
}

static int flips, polls;
static void count_flip() { ++flips; }
static void count_poll() { ++polls; }

TEST_F(Screen, FlipWithADriverFlipReportsSuccess)
{
    __rk_gfx_driver_name = nullptr;
    static const DisplayDriver flipping = {.name = "Flipping",
                                           .init = accept_init,
                                           .lock = count_lock,
                                           .unlock = count_unlock,
                                           .flip = count_flip,
                                           .poll_events = count_poll};
    __rk_gfx_drivers_list[0] = &flipping;
    ASSERT_EQ(rk_GfxScreenRes(16, 16, 32, 0, 0, 0), 0);
    flips = polls = 0;
    rk_ErrorSetNum(7);
    EXPECT_EQ(rk_GfxFlip(-1, -1), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(flips, 1);
    EXPECT_EQ(polls, 1);
    __rk_gfx_drivers_list[0] = nullptr;
}

TEST_F(Screen, WidthChangesTheGridOnlyForBuiltInCells)
{
    open(640, 480, 8);
    EXPECT_EQ(rk_GfxWidth(0, 0), 80 | (60 << 16));
    // 480 / 30 = 16: the 8x16 font.
    EXPECT_EQ(rk_GfxWidth(80, 30), 80 | (60 << 16));
    EXPECT_EQ(__rk_gfx->text_h, 30);
    EXPECT_EQ(__rk_gfx->font, &rk_font_8x16);
    // 480 / 40 = 12: no such font, nothing changes.
    EXPECT_EQ(rk_GfxWidth(80, 40), 80 | (30 << 16));
    EXPECT_EQ(__rk_gfx->text_h, 30);
    // 640 / 100 is not 8 wide.
    rk_GfxWidth(100, 0);
    EXPECT_EQ(__rk_gfx->text_w, 80);
    // Reachable through the console entry while the screen is open.
    EXPECT_EQ(rk_Width(-1, 60), 80 | (30 << 16));
    EXPECT_EQ(__rk_gfx->font, &rk_font_8x8);

    // Without memory for the new grid's cells the grid and its cells stay.
    rk_PrintBufferEx("Z", 1, 0);
    for (long n : {1L, 2L}) {
        fail_alloc::arm(n);
        EXPECT_EQ(rk_GfxWidth(80, 30), 80 | (60 << 16));
        fail_alloc::disarm();
        EXPECT_EQ(fail_alloc::failed(), 1);
        EXPECT_EQ(fail_alloc::live(), 0);
        EXPECT_EQ(rk_ErrorGetNum(), 4);
        EXPECT_EQ(__rk_gfx->text_h, 60);
        EXPECT_EQ(__rk_gfx->font, &rk_font_8x8);
        EXPECT_EQ(rk_GfxReadXY(1, 1, 0), static_cast<uint32_t>('Z'));
    }
}

TEST_F(Screen, WindowTitleSetBeforeOpenSurvives)
{
    rk_GfxSetWindowTitle(rk_StrAllocTempDesc("Malwerk"));
    open(16, 16, 8);
    ASSERT_NE(__rk_window_title, nullptr);
    EXPECT_STREQ(__rk_window_title, "Malwerk");
    // Long titles are cut to 127 bytes.
    std::string longer(300, 'x');
    rk_GfxSetWindowTitle(rk_StrAllocTempDesc(longer.c_str()));
    EXPECT_EQ(std::strlen(__rk_window_title), 127u);
}

TEST_F(Screen, CloseResetsTheConsoleView)
{
    open(16, 16, 8);
    rk_ConsoleSetView(2, 3);
    rk_GfxScreen(0, 0, 0, 0, 0);
    int top = 0, bottom = 0;
    rk_ConsoleGetView(&top, &bottom);
    EXPECT_EQ(top, 1);
    EXPECT_EQ(bottom, 25);
}

TEST_F(Screen, SleepEndsEarlyWhenAKeyArrives)
{
    // Without keys a long sleep runs to its end; a key posted before makes
    // it return at the first check.
    open(16, 16, 8);
    rk_hGfxInputBufferChanged();
    auto t0 = std::chrono::steady_clock::now();
    rk_GfxSleep(120);
    auto slept = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(slept, std::chrono::milliseconds(115));
    rk_hPostKey('a');
    t0 = std::chrono::steady_clock::now();
    rk_GfxSleep(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
}

TEST_F(Screen, SleepLastsItsTimeWhileSignalHandlersRun)
{
    // Signals whose handler interrupts system calls arrive during a 60 ms
    // pause (the drawing thread's frame pause goes the same way).
    open(16, 16, 8);
    struct sigaction sa{}, old{};
    sa.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    pthread_t sleeper = pthread_self();
    std::thread sender([sleeper] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            pthread_kill(sleeper, SIGUSR1);
        }
    });
    auto t0 = std::chrono::steady_clock::now();
    rk_GfxSleep(60);
    auto slept = std::chrono::steady_clock::now() - t0;
    sender.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(59));
}
