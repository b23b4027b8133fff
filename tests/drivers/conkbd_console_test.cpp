// The console keyboard on a Linux console, against the test device: the
// keyboard is handed over the way a graphics driver does it
// (rk_hConsoleGfxMode), key bytes arrive on the device's terminal, and the
// background thread's pass is run by the test.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <initializer_list>
#include <linux/kd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "gfx/drivers/conkbd.h"
#include "rt/console.h"
#include "rt/str.h"
#include "rt/term.h"
#include "tests/support/testdev.h"

namespace {

// Kernel key codes.
enum : uint8_t {
    K_ESC = 1, K_1 = 2, K_BACKSPACE = 14, K_Q = 16, K_ENTER = 28, K_CTRL = 29, K_A = 30, K_LSHIFT = 42,
    K_C = 46, K_ALT = 56, K_CAPS = 58, K_F1 = 59, K_F2 = 60, K_NUM = 69, K_KP7 = 71, K_KP9 = 73,
    K_KPENTER = 96, K_ALTGR = 100, K_HOME = 102, K_UP = 103,
};
constexpr uint8_t up(uint8_t k)
{
    return static_cast<uint8_t>(k | 0x80);
}

std::vector<std::string> calls;  // save / restore / exit, in order
std::vector<int> handler_codes;
volatile sig_atomic_t interrupts;

void drv_exit()
{
    calls.push_back("exit");
}
void drv_save()
{
    calls.push_back("save");
}
void drv_restore()
{
    calls.push_back("restore");
}
void drv_key(int code)
{
    handler_codes.push_back(code);
}
int text_getch()
{
    return 'T';
}
void on_sigint(int)
{
    interrupts = interrupts + 1;
}

TestDevConfig device_config()
{
    TestDevConfig c;
    c.mode.xres = c.mode.xres_virtual = 64;
    c.mode.yres = c.mode.yres_virtual = 48;
    c.mode.bits_per_pixel = 8;
    return c;
}

class ConsoleKeyboard : public ::testing::Test {
protected:
    TestDev dev{device_config()};
    TestDevState before{};
    FILE *out = nullptr;

    void SetUp() override
    {
        dev.install();
        out = std::fopen("/dev/null", "w");
        __rk_con.out_file = out;
        __rk_con.tty_fd = TestDev::kTerminalFd;
        __rk_con.console_kind = RK_CON_LINUX;
        __rk_con.getch = text_getch;
        calls.clear();
        handler_codes.clear();
        before = dev.state();
        rk_hConsoleSetKeyboard(&rk_console_keyboard);
    }

    void TearDown() override
    {
        stop();
        rk_hConsoleSetKeyboard(nullptr);
        __rk_con.console_kind = RK_CON_NONE;
        __rk_con.getch = nullptr;
        __rk_con.kbd_init = nullptr;
        __rk_con.tty_fd = -1;
        __rk_con.out_file = nullptr;
        std::fclose(out);
        dev.uninstall();
    }

    static int start() { return rk_hConsoleGfxMode(drv_exit, drv_save, drv_restore, drv_key); }
    static void stop() { rk_hConsoleGfxMode(nullptr, nullptr, nullptr, nullptr); }

    void keys(std::initializer_list<uint8_t> bytes)
    {
        std::vector<uint8_t> v(bytes);
        dev.push_keys(v.data(), v.size());
    }

    // One pass of the terminal layer's background thread.
    static void poll()
    {
        pthread_mutex_lock(&__rk_con.mutex);
        if (__rk_con.kbd_poll)
            __rk_con.kbd_poll();
        pthread_mutex_unlock(&__rk_con.mutex);
    }

    static std::vector<int> drain()
    {
        std::vector<int> codes;
        for (int c; (c = __rk_con.getch()) != -1;)
            codes.push_back(c);
        return codes;
    }
};

constexpr int press(int key, int s)
{
    return (key << 16) | s | 0x80;
}
constexpr int repeat(int key, int s)
{
    return (key << 16) | s | 0x180;
}
constexpr int release(int key, int s)
{
    return (key << 16) | s;
}

TEST_F(ConsoleKeyboard, TranslatesKeysThroughTheKernelKeymap)
{
    // The test device starts with Num Lock on and Caps Lock off.
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        std::vector<int> ring;
        std::vector<int> handler;  // checked when not empty
    } cases[] = {
        {"letter", {K_A, up(K_A)}, {'a'}, {press('a', 30), release('a', 30)}},
        {"shift", {K_LSHIFT, K_A, up(K_A), K_1, up(K_1), up(K_LSHIFT)}, {'A', '!'}, {}},
        {"caps lock flips letters only",
         {K_CAPS, up(K_CAPS), K_A, up(K_A), K_LSHIFT, K_A, up(K_A), K_1, up(K_1), up(K_LSHIFT)},
         {'A', 'a', '!'},
         {}},
        {"held caps lock toggles once", {K_CAPS, K_CAPS, K_CAPS, up(K_CAPS), K_A, up(K_A)}, {'A'}, {}},
        {"repeat", {K_A, K_A, K_A, up(K_A)}, {'a', 'a', 'a'},
         {press('a', 30), repeat('a', 30), repeat('a', 30), release('a', 30)}},
        {"keypad with num lock", {K_KP7, up(K_KP7), K_KP9, up(K_KP9)}, {'7', '9'}, {}},
        {"keypad without num lock", {K_NUM, up(K_NUM), K_KP7, up(K_KP7), K_KP9, up(K_KP9)}, {},
         {press(0, 69), release(0, 69), press(0, 71), release(0, 71), press(0, 73), release(0, 73)}},
        {"extended keys", {K_HOME, up(K_HOME), K_UP, K_F1}, {0x147, 0x148, 0x13B},
         {press(0x147, 71), release(0x147, 71), press(0x148, 72), press(0x13B, 59)}},
        {"enter, keypad enter, backspace", {K_ENTER, K_KPENTER, K_BACKSPACE}, {'\r', '\r', 8}, {}},
        {"control and altgr", {K_CTRL, K_A, up(K_A), up(K_CTRL), K_ALTGR, K_Q, up(K_Q), up(K_ALTGR)}, {1, '@'}, {}},
        // A key code above 127 (140) comes as three bytes; the last two
        // must not release Esc or '-'.
        {"long key code", {K_ESC, 0x00, 0x81, 0x8C, K_A}, {27, 'a'}, {press(27, 1), press('a', 30)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        handler_codes.clear();
        ASSERT_EQ(start(), 0);
        EXPECT_EQ(dev.state().kb_mode, K_MEDIUMRAW);
        EXPECT_EQ(dev.state().kd_mode, KD_GRAPHICS);
        dev.push_keys(c.bytes.data(), c.bytes.size());
        poll();
        EXPECT_EQ(drain(), c.ring);
        if (!c.handler.empty()) {
            EXPECT_EQ(handler_codes, c.handler);
        }
        stop();
        EXPECT_TRUE(dev.state() == before);
        EXPECT_EQ(__rk_con.getch, text_getch);
    }
}

TEST_F(ConsoleKeyboard, HeldKeysRingAndInterrupt)
{
    ASSERT_EQ(start(), 0);
    // Held keys, the keypad's without Num Lock included.
    keys({K_NUM, up(K_NUM), K_KP7, K_A});
    poll();
    EXPECT_EQ(rk_ConsoleMultikey(71), -1);
    EXPECT_EQ(rk_ConsoleMultikey(30), -1);
    EXPECT_EQ(rk_ConsoleMultikey(30 + 128), -1);
    EXPECT_EQ(rk_ConsoleMultikey(69), 0);
    EXPECT_EQ(drain(), std::vector<int>{'a'});
    keys({up(K_KP7), up(K_A)});
    poll();
    EXPECT_EQ(rk_ConsoleMultikey(71), 0);

    // A full ring keeps the newest 15 codes.
    const char *typed = "qwertyuiopasdfghjkl";
    const uint8_t codes[] = {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32, 33, 34, 35, 36, 37, 38};
    for (uint8_t k : codes)
        keys({k, up(k)});
    poll();
    std::vector<int> want;
    for (const char *p = typed + 4; *p; ++p)
        want.push_back(*p);
    EXPECT_EQ(drain(), want);

    // Control+C typed within one pass still interrupts the program.
    struct sigaction sa{}, old{};
    sa.sa_handler = on_sigint;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old);
    interrupts = 0;
    keys({K_CTRL, K_C, up(K_C), up(K_CTRL)});
    poll();
    EXPECT_TRUE(testdev_wait([] { return interrupts == 1; }, 2000));
    EXPECT_EQ(drain(), std::vector<int>{3});
    keys({K_C, up(K_C)});
    poll();
    sigaction(SIGINT, &old, nullptr);
    EXPECT_EQ(interrupts, 1);
}

// The text console's key entries read the keyboard's ring while it runs.
TEST_F(ConsoleKeyboard, TextConsoleReadsTheRing)
{
    ASSERT_EQ(start(), 0);
    keys({K_HOME, up(K_HOME), K_A, up(K_A), K_1, up(K_1)});
    poll();
    RkString *s = rk_Inkey();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s->data, static_cast<std::size_t>(s->len)), "\xFFG");  // 255, scancode 71
    rk_hStrDelTemp(s);
    EXPECT_EQ(rk_KeyHit(), 1);
    EXPECT_EQ(rk_Getkey(), 'a');
    s = rk_Inkey();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s->data, static_cast<std::size_t>(s->len)), "1");
    rk_hStrDelTemp(s);
    EXPECT_EQ(rk_KeyHit(), 0);
}

TEST_F(ConsoleKeyboard, ConsoleSwitchSavesWaitsAndRestores)
{
    ASSERT_EQ(start(), 0);
    // Alt+F1 names the console already shown: the key is only let go.
    keys({K_ALT, K_F1});
    poll();
    EXPECT_EQ(rk_ConsoleMultikey(59), 0);
    EXPECT_EQ(rk_ConsoleMultikey(56), -1);
    EXPECT_TRUE(calls.empty());

    // Alt+F2: away to console 2 until the user comes back.
    handler_codes.clear();
    keys({up(K_F1), K_F2});
    auto pass = std::async(std::launch::async, poll);
    ASSERT_TRUE(testdev_wait([&] { return dev.state().active_vt == 2; }));
    EXPECT_EQ(dev.state().kd_mode, KD_TEXT);
    EXPECT_EQ(calls, std::vector<std::string>{"save"});
    // Keys can still be read while the switch waits.
    auto reading = std::async(std::launch::async, drain);
    const bool readable = reading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    dev.user_activate(1);
    ASSERT_TRUE(readable);
    EXPECT_EQ(reading.get(), std::vector<int>{});
    ASSERT_EQ(pass.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(calls, (std::vector<std::string>{"save", "restore"}));
    EXPECT_EQ(dev.state().kd_mode, KD_GRAPHICS);
    EXPECT_EQ(rk_ConsoleMultikey(56), 0);  // every key let go
    EXPECT_EQ(handler_codes, (std::vector<int>{release(0, 59), press(0, 60)}));
    stop();
    EXPECT_TRUE(dev.state() == before);
}

TEST_F(ConsoleKeyboard, ShutdownDuringConsoleSwitchDoesNotHang)
{
    ASSERT_EQ(start(), 0);
    keys({K_ALT, K_F2});
    auto pass = std::async(std::launch::async, poll);
    ASSERT_TRUE(testdev_wait([&] { return dev.state().active_vt == 2; }));
    // The program ends while the user is on the other console.
    auto shutdown = std::async(std::launch::async, stop);
    const bool done = shutdown.wait_for(std::chrono::seconds(10)) == std::future_status::ready &&
                      pass.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!done)
        dev.user_activate(1);  // let the test end
    ASSERT_TRUE(done);
    EXPECT_EQ(calls, std::vector<std::string>{"save"});  // the driver is gone: no restore
    TestDevState after = dev.state();
    EXPECT_EQ(after.active_vt, 2);
    after.active_vt = before.active_vt;
    EXPECT_TRUE(after == before);
}

TEST_F(ConsoleKeyboard, RefusedKeyboardLeavesTheConsoleAsItWas)
{
    TestDevConfig c = device_config();
    c.failing_request = KDSKBMODE;
    TestDev refusing(c);
    refusing.install();
    const TestDevState found = refusing.state();
    EXPECT_EQ(start(), -1);
    EXPECT_TRUE(refusing.state() == found);
    EXPECT_EQ(__rk_con.getch, text_getch);
    EXPECT_EQ(__rk_con.kbd_poll, nullptr);
    EXPECT_EQ(__rk_con.gfx_exit, nullptr);
    refusing.uninstall();
    dev.install();
}

// A fatal signal at any request of the keyboard's start and stop, before the
// request or right after it, leaves the console as it was found.
TEST_F(ConsoleKeyboard, FatalSignalRestoresTheKeyboard)
{
    for (int n = 1, after = 0; after < 2; ++n) {
        SCOPED_TRACE((after ? "after request " : "before request ") + std::to_string(n));
        TestDevConfig c = device_config();
        c.signal_at = n;
        c.signal_after = after;
        TestDev signalled(c);
        signalled.install();
        const TestDevState found = signalled.state();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int r = start();
            stop();
            _exit(r);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        dev.install();
        EXPECT_TRUE(signalled.state() == found);
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), SIGTERM);
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && n > 9) << status;  // every request had its turn
        n = 0;
        ++after;
    }
}

}  // namespace
