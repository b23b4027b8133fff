#include <gtest/gtest.h>

#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "gfx/core/screen.h"
#include "gfx/draw/line.h"
#include "support/screen_fixture.h"
#include "gfx/drivers/driver.h"
#include "rt/rt.h"

TEST(ContextSlots, AllocatedZeroedOnceAndFreed)
{
    auto *p = static_cast<unsigned char *>(rk_TlsGetCtx(2, 64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], 0);
    p[0] = 42;
    EXPECT_EQ(rk_TlsGetCtx(2, 64), p);  // the same block, contents kept
    EXPECT_EQ(rk_TlsGetCtx(5, 8), nullptr);
    EXPECT_EQ(rk_TlsGetCtx(-1, 8), nullptr);
    rk_TlsDelCtx(2);
    EXPECT_EQ(__rk_ctx.slot[2], nullptr);
    rk_TlsGetCtx(0, 8);
    rk_TlsGetCtx(4, 8);
    rk_TlsFreeCtxTb();
    for (void *slot : __rk_ctx.slot)
        EXPECT_EQ(slot, nullptr);
}

// Deleting the drawing slot frees the context's row table with it (the
// sanitizer build's leak check sees a lost table), and drawing afterwards
// sets up a fresh context.
class DrawingSlot : public NullScreen {};

TEST_F(DrawingSlot, DeletedContextTakesItsRowTableAndComesBack)
{
    open(64, 48, 32);
    void *image = rk_GfxImageCreate(8, 300, 0, 32, 0);  // a row table taller than the screen
    ASSERT_NE(image, nullptr);
    rk_GfxLine(image, 1, 299, 1, 299, 0x123456, 0, 0xFFFF, 0);
    rk_TlsDelCtx(RK_CTX_SLOT_DRAW);
    EXPECT_EQ(__rk_ctx.slot[RK_CTX_SLOT_DRAW], nullptr);
    rk_GfxLine(nullptr, 5, 7, 5, 7, 0xABCDEF, 0, 0xFFFF, 0);
    EXPECT_EQ(pixel(5, 7) & 0xFFFFFF, 0xABCDEFu);
    rk_GfxImageDestroy(image);
}

TEST(ErrorNumber, KeptPerThread)
{
    rk_ErrorSetNum(3);
    int other = -1;
    std::thread t([&] {
        other = rk_ErrorGetNum();
        rk_ErrorSetNum(1);
    });
    t.join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(rk_ErrorGetNum(), 3);
}

TEST(ExeName, FileNamePartOfTheExecutable)
{
    char buf[128];
    char *name = rk_hGetExeName(buf, sizeof buf);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "malwerk_tests");
    // A buffer too small for the path still ends in a terminated string.
    char tiny[6];
    name = rk_hGetExeName(tiny, sizeof tiny);
    ASSERT_NE(name, nullptr);
    EXPECT_LT(std::strlen(tiny), sizeof tiny);
    EXPECT_EQ(rk_hGetExeName(tiny, 1), nullptr);
}

// The child process opens a screen and ends through rk_End; the exit
// procedure registered by the first open must close the screen, which calls
// the driver's exit: it reports that through a pipe.
static int report_fd = -1;

TEST(Shutdown, ExitProcedureClosesTheScreen)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        report_fd = fds[1];
        static const DisplayDriver reporting = {
            .name = "Reporting",
            .init = [](const char *, int, int, int, int, int) { return 0; },
            .exit = [] { (void)!write(report_fd, "x", 1); }};
        __rk_gfx_drivers_list[0] = &reporting;
        if (rk_GfxScreenRes(16, 16, 32, 0, 0, 0) != 0)
            _exit(3);
        rk_End(7);
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    EXPECT_EQ(c, 'x');
    close(fds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}
