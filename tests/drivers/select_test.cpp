#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/drivers/driver.h"
#include "rt/rt.h"

// Test drivers that record every init and exit they receive.
static std::vector<std::string> calls;

static void log_call(const char *who, const char *what, int refresh, int flags)
{
    calls.push_back(std::string(who) + " " + what + " " + std::to_string(refresh) + " " + std::to_string(flags));
}

template <int Kind>
struct TestDriver {
    static const char *name();
    static int init(const char *, int, int, int, int refresh, int flags)
    {
        log_call(name(), "init", refresh, flags);
        switch (Kind) {
        case 0: return 0;                                  // accepts anything
        case 1: return refresh != 0;                        // refuses refresh rates
        case 2: return (flags & RK_MODE_FULLSCREEN) ? 0 : 1;  // refuses windows
        case 3: return (flags & RK_MODE_OPENGL) ? 0 : 1;      // only OpenGL
        case 4: return (flags & RK_MODE_OPENGL) ? 1 : 0;      // refuses OpenGL
        default: return 1;                                  // refuses everything
        }
    }
    static void exit() { log_call(name(), "exit", 0, 0); }
    static void nop() {}
};
template <> const char *TestDriver<0>::name() { return "Any"; }
template <> const char *TestDriver<1>::name() { return "NoRate"; }
template <> const char *TestDriver<2>::name() { return "FullOnly"; }
template <> const char *TestDriver<3>::name() { return "OpenGL"; }
template <> const char *TestDriver<4>::name() { return "X11"; }
template <> const char *TestDriver<5>::name() { return "Never"; }

template <int Kind>
static const DisplayDriver *driver()
{
    static const DisplayDriver d = {.name = TestDriver<Kind>::name(),
                                    .init = TestDriver<Kind>::init,
                                    .exit = TestDriver<Kind>::exit,
                                    .lock = TestDriver<Kind>::nop,
                                    .unlock = TestDriver<Kind>::nop};
    return &d;
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        unsetenv("RIVEZ");
    }
    void TearDown() override
    {
        rk_GfxScreen(0, 0, 0, 0, 0);
        for (auto &d : __rk_gfx_drivers_list)
            d = nullptr;
        unsetenv("RIVEZ");
    }
    static void use(std::initializer_list<const DisplayDriver *> list)
    {
        int i = 0;
        for (const DisplayDriver *d : list)
            __rk_gfx_drivers_list[i++] = d;
    }
    static const char *chosen() { return __rk_gfx ? __rk_gfx->driver->name : "(none)"; }
};

TEST_F(Selection, NameFromEnvironmentIgnoringCase)
{
    use({driver<3>(), driver<4>()});
    setenv("RIVEZ", "x11", 1);
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
    EXPECT_STREQ(chosen(), "X11");
    // Pass 1 tries only the named driver.
    EXPECT_EQ(calls.front(), "X11 init 0 0");
}

TEST_F(Selection, NullInAnyCaseNeedsNoListEntry)
{
    use({driver<0>()});
    for (const char *name : {"null", "NULL", "Null", "nUlL"}) {
        setenv("RIVEZ", name, 1);
        ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
        EXPECT_EQ(__rk_gfx->driver, &__rk_gfxDriverNull) << name;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(Selection, FlagsMinusOneNeverTouchTheDisplay)
{
    use({driver<0>()});
    setenv("RIVEZ", "Any", 1);
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 8, 0, -1, 60), 0);
    EXPECT_EQ(__rk_gfx->driver, &__rk_gfxDriverNull);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Selection, NamedOpenGLWithoutTheFlagFallsBackInPassTwo)
{
    use({driver<4>(), driver<3>()});
    setenv("RIVEZ", "OpenGL", 1);
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
    EXPECT_STREQ(chosen(), "X11");
    std::vector<std::string> want = {"OpenGL init 0 0", "OpenGL exit 0 0", "OpenGL init 0 0", "OpenGL exit 0 0",
                                     "X11 init 0 0"};
    EXPECT_EQ(calls, want);
}

TEST_F(Selection, OpenGLFlagWithoutOpenGLFailsAfterEveryPass)
{
    use({driver<4>(), driver<5>()});
    EXPECT_EQ(rk_GfxScreenRes(32, 32, 32, 0, RK_MODE_OPENGL, 75), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(__rk_gfx, nullptr);
    EXPECT_EQ(__rk_ctx.hooks.cls, nullptr);
    // Two passes, two drivers, two attempts each, an exit after each failure.
    EXPECT_EQ(calls.size(), 16u);
    EXPECT_EQ(calls[0], "X11 init 75 2");
    EXPECT_EQ(calls[2], "X11 init 0 2");
    EXPECT_EQ(calls[8], "X11 init 75 3");  // second pass: full screen inverted

    calls.clear();
    setenv("RIVEZ", "X11", 1);
    EXPECT_EQ(rk_GfxScreenRes(32, 32, 32, 0, RK_MODE_OPENGL, 75), 1);
    // Named: 2 (named) + 4 (all) + 2 (named, inverted) + 4 (all, inverted) attempts.
    EXPECT_EQ(calls.size(), 24u);
}

TEST_F(Selection, RefreshRateRefusedThenAcceptedWithoutIt)
{
    use({driver<1>(), driver<0>()});
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 85), 0);
    EXPECT_STREQ(chosen(), "NoRate");
    std::vector<std::string> want = {"NoRate init 85 0", "NoRate exit 0 0", "NoRate init 0 0"};
    EXPECT_EQ(calls, want);
}

TEST_F(Selection, WindowRefusedFallsBackToFullScreen)
{
    use({driver<2>()});
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
    EXPECT_STREQ(chosen(), "FullOnly");
    EXPECT_EQ(calls.back(), "FullOnly init 0 1");
    // A wanted name matching no driver still finds the others.
    calls.clear();
    setenv("RIVEZ", "nothing-like-it", 1);
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
    EXPECT_STREQ(chosen(), "FullOnly");
}

TEST_F(Selection, ProgramNameBeatsEnvironmentAndDriverInitGetsTheScreen)
{
    static int seen_w, seen_h, seen_depth;
    static std::string seen_title;
    static const DisplayDriver probe = {
        .name = "Probe",
        .init = [](const char *title, int w, int h, int depth, int, int) {
            seen_title = title ? title : "";
            seen_w = w;
            seen_h = h;
            seen_depth = depth;
            return 0;
        }};
    use({driver<0>(), &probe});
    setenv("RIVEZ", "Any", 1);
    __rk_gfx_driver_name = "probe";
    ASSERT_EQ(rk_GfxScreen(8, 24, 0, 0, 0), 0);  // double scan, 16 colours
    __rk_gfx_driver_name = nullptr;
    EXPECT_STREQ(chosen(), "Probe");
    EXPECT_EQ(seen_w, 640);
    EXPECT_EQ(seen_h, 400);
    EXPECT_EQ(seen_depth, 4);
    EXPECT_EQ(seen_title, "malwerk_tests");  // the executable's name
}

TEST_F(Selection, ReplacingAScreenExitsTheLiveDriverFirst)
{
    use({driver<0>()});
    ASSERT_EQ(rk_GfxScreenRes(32, 32, 32, 0, 0, 0), 0);
    calls.clear();
    ASSERT_EQ(rk_GfxScreenRes(64, 64, 32, 0, 0, 0), 0);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "Any exit 0 0");
    EXPECT_EQ(calls[1], "Any init 0 0");
    calls.clear();
    rk_GfxScreen(0, 0, 0, 0, 0);
    std::vector<std::string> want = {"Any exit 0 0"};
    EXPECT_EQ(calls, want);
}
