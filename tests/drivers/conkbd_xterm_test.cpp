// The console keyboard on a terminal that is not a Linux console: the held
// keys come from a private Xvfb, typed with xdotool, and count only while
// the terminal's window (WINDOWID) has the focus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gfx/drivers/conkbd.h"
#include "rt/term.h"
#include "support/xvfb.h"

namespace {

class ConsoleKeyboardXterm : public ::testing::Test {
protected:
    Xvfb server;
    Display *peer = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(server.start("320x200x24"));
        peer = XOpenDisplay(nullptr);
        ASSERT_NE(peer, nullptr);
        __rk_con.console_kind = RK_CON_OTHER;
    }

    void TearDown() override
    {
        stop();
        __rk_con.console_kind = RK_CON_NONE;
        __rk_con.kbd_init = nullptr;
        unsetenv("WINDOWID");
        if (peer)
            XCloseDisplay(peer);
        server.stop();
    }

    static void stop()
    {
        pthread_mutex_lock(&__rk_con.mutex);
        if (__rk_con.kbd_exit)
            __rk_con.kbd_exit();
        pthread_mutex_unlock(&__rk_con.mutex);
    }

    // One pass of the terminal layer's background thread.
    static void poll()
    {
        pthread_mutex_lock(&__rk_con.mutex);
        if (__rk_con.kbd_poll)
            __rk_con.kbd_poll();
        pthread_mutex_unlock(&__rk_con.mutex);
    }

    static void xdotool(const std::string &args)
    {
        ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    }

    Window window(Window parent)
    {
        Window w = XCreateSimpleWindow(peer, parent, 0, 0, 50, 50, 0, 0, 0);
        XMapWindow(peer, w);
        return w;
    }

    void focus(Window w)
    {
        XSetInputFocus(peer, w, RevertToNone, CurrentTime);
        XSync(peer, False);
    }
};

TEST_F(ConsoleKeyboardXterm, HeldKeysCountWhileTheTerminalHasTheFocus)
{
    // The terminal: a top-level window holding the window WINDOWID names.
    const Window top = window(DefaultRootWindow(peer));
    const Window term = window(top);
    const Window other = window(DefaultRootWindow(peer));
    XSync(peer, False);
    setenv("WINDOWID", std::to_string(term).c_str(), 1);

    // The first query starts the keyboard; nothing is held yet.
    EXPECT_EQ(rk_ConsoleMultikey(30), 0);
    ASSERT_NE(__rk_con.kbd_poll, nullptr);

    const struct {
        Window focus;
        const char *key;
        int scancode;
        bool counts;
    } cases[] = {
        {term, "a", 30, true},         {top, "Shift_L", 42, true},  {term, "Up", 72, true},
        {term, "KP_Home", 71, true},   {other, "a", 30, false},     {PointerRoot, "Return", 28, true},
        {None, "a", 30, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " focus " + std::to_string(c.focus));
        focus(c.focus);
        xdotool(std::string("keydown ") + c.key);
        poll();
        EXPECT_EQ(rk_ConsoleMultikey(c.scancode), c.counts ? -1 : 0);
        EXPECT_EQ(rk_ConsoleMultikey(c.scancode + 128), c.counts ? -1 : 0);  // masked to 0..127
        xdotool(std::string("keyup ") + c.key);
        poll();
        EXPECT_EQ(rk_ConsoleMultikey(c.scancode), 0);
    }

    // Focus away while a key is held: it no longer counts.
    focus(term);
    xdotool("keydown b");
    poll();
    EXPECT_EQ(rk_ConsoleMultikey(48), -1);
    focus(other);
    poll();
    EXPECT_EQ(rk_ConsoleMultikey(48), 0);
    xdotool("keyup b");

    // Stopped, the keyboard reports nothing and takes its poll away.
    stop();
    EXPECT_EQ(__rk_con.kbd_poll, nullptr);
    EXPECT_EQ(__rk_con.kbd_exit, nullptr);
}

TEST_F(ConsoleKeyboardXterm, UnknownTerminalWindowCountsAsFocused)
{
    const Window other = window(DefaultRootWindow(peer));
    XSync(peer, False);
    // A window id that names no window must not end the program.
    for (const char *id : {"0x7ffffff0", "not-a-window", ""}) {
        SCOPED_TRACE(id);
        setenv("WINDOWID", id, 1);
        EXPECT_EQ(rk_ConsoleMultikey(30), 0);
        focus(other);
        xdotool("keydown a");
        poll();
        EXPECT_EQ(rk_ConsoleMultikey(30), -1);
        xdotool("keyup a");
        stop();
    }
}

TEST_F(ConsoleKeyboardXterm, NoKeysWithoutTerminalOrDisplay)
{
    __rk_con.console_kind = RK_CON_NONE;
    EXPECT_EQ(rk_ConsoleMultikey(30), 0);
    EXPECT_EQ(__rk_con.kbd_poll, nullptr);

    __rk_con.console_kind = RK_CON_OTHER;
    setenv("DISPLAY", ":9999", 1);  // no server there
    EXPECT_EQ(rk_ConsoleMultikey(30), 0);
    EXPECT_EQ(__rk_con.kbd_poll, nullptr);
}

}  // namespace
