// The paint program without X: its own main loop on the framebuffer test
// device, driven through the device's mouse, read back from device memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/Malwerk.h"
#include "gfx/core/screen.h"
#include "gfx/drivers/driver.h"
#include "tests/support/fbdev_fixture.h"
#include "tests/support/xvfb.h"

namespace {

class MalwerkFBDev : public FBDevTest {
protected:
    static TestDevConfig device()
    {
        TestDevConfig cfg;
        cfg.mode = make_mode(1024, 768, L32);
        cfg.mice[0] = {true, true, true};
        return cfg;
    }
    // Moves the mouse by (dx, dy) screen pixels (up is negative) with the
    // given buttons held, in steps of at most 100 pixels a packet.
    static void move(TestDev &dev, int dx, int dy, int buttons)
    {
        std::vector<uint8_t> bytes;
        do {
            int sx = std::clamp(dx, -100, 100), sy = std::clamp(dy, -100, 100);
            int up = -sy;
            bytes.push_back(static_cast<uint8_t>(0x08 | buttons | (sx < 0 ? 0x10 : 0) | (up < 0 ? 0x20 : 0)));
            bytes.push_back(static_cast<uint8_t>(sx & 0xFF));
            bytes.push_back(static_cast<uint8_t>(up & 0xFF));
            bytes.push_back(0);
            dx -= sx;
            dy -= sy;
        } while (dx || dy);
        dev.push_mouse(0, bytes.data(), bytes.size());
    }
    static void pause_ms(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }
};

// A pen stroke from the device's mouse goes on the canvas and shows on the
// device; the Exit button, clicked twice, ends the program with the console
// as it was.
TEST_F(MalwerkFBDev, PenStrokeThenExit)
{
    TestDev dev(device());
    TestDevState before = dev.state();
    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [](ConsoleChild &) {
        char name[] = "malwerk";
        char *argv[] = {name, nullptr};
        return Malwerk::HAUPTPROGRAMM(1, argv);
    }));
    // The white canvas is up.
    ASSERT_TRUE(testdev_wait([&] { return device_shows(dev, 800, 600, 400, 200) == 0xFFFFFF; }, 30000));

    // The pen is the tool and black the colour at start: press at the middle
    // (400, 300), draw 100 pixels to the right, release.
    // The pauses leave the program frames to see the button held, also
    // when a frame takes long under load.
    move(dev, 0, 0, 1);
    pause_ms(300);
    for (int i = 0; i < 10; ++i) {
        move(dev, 10, 0, 1);
        pause_ms(60);
    }
    pause_ms(1000);
    move(dev, 0, 0, 0);
    for (int x = 405; x < 495; x += 5)
        EXPECT_TRUE(testdev_wait([&] { return device_shows(dev, 800, 600, x, 300) == 0x000000; }, 5000)) << x;
    EXPECT_EQ(device_shows(dev, 800, 600, 450, 310), 0xFFFFFFu);

    // Exit sits at (735, 2), 60 x 20 pixels; the stroke is not saved, so
    // the first click asks and the second ends.
    move(dev, 760 - 500, 10 - 300, 0);
    for (int i = 0; i < 2; ++i) {
        pause_ms(300);
        move(dev, 0, 0, 1);
        pause_ms(1000);
        move(dev, 0, 0, 0);
    }
    int status = child.finish();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(dev.state() == before);
}

// Drivers are tried X11 first, the framebuffer after it; without either the
// program says so and ends with 1.
struct SelectionCase {
    const char *name;
    bool x_display;
    bool framebuffer;
    const char *driver;  // null: the program cannot open a screen
};

const SelectionCase selection_cases[] = {
    {"x11_before_framebuffer", true, true, "X11"},
    {"framebuffer_without_x", false, true, "FBDev"},
    {"neither", false, false, nullptr},
};

void PrintTo(const SelectionCase &c, std::ostream *os)
{
    *os << c.name;
}

class MalwerkSelection : public MalwerkFBDev, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(MalwerkSelection, DriverOrder)
{
    const SelectionCase &c = GetParam();
    Xvfb xvfb;
    if (c.x_display) {
        ASSERT_TRUE(xvfb.start("800x600x24"));
    }
    TestDevConfig cfg = device();
    cfg.fb_present = c.framebuffer;
    TestDev dev(cfg);
    std::string display = c.x_display ? xvfb.name() : "";
    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [&](ConsoleChild &me) {
        if (!display.empty())
            setenv("DISPLAY", display.c_str(), 1);
        if (!c.driver) {
            char name[] = "malwerk";
            char *argv[] = {name, nullptr};
            return Malwerk::HAUPTPROGRAMM(1, argv);
        }
        me.check(rk_GfxScreenRes(800, 600, 32, 0, 0, 0) == 0, "screen opens");
        me.check(__rk_gfx && std::strcmp(__rk_gfx->driver->name, c.driver) == 0, "driver");
        return 0;
    }));
    int status = child.finish();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), c.driver ? 0 : 1);
    if (!c.driver) {
        EXPECT_NE(child.output.find("malwerk: no display could be opened"), std::string::npos) << child.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Malwerk, MalwerkSelection, ::testing::ValuesIn(selection_cases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
