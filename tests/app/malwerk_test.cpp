// End-to-end tests of the paint program: the real malwerk executable runs
// in a scratch directory on a private Xvfb, driven with xdotool (XTEST);
// its window is read back from the server.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/line.h"
#include "gfx/draw/text.h"
#include "gfx/drivers/driver.h"
#include "gfx/image/bload.h"
#include "rt/str.h"
#include "support/pty.h"
#include "support/shm.h"
#include "support/xvfb.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t BAR = 0xE6DDD5, FRAME = 0xB4A291, WHITE = 0xFFFFFF, INK = 0x23102B, HOVER = 0xDDC3B4;

std::string build_dir()
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    std::string s(self);
    return s.substr(0, s.rfind('/')) + "/..";
}

// One run of the program on its own server. With `give_focus` the test gives
// the window the keyboard focus as a window manager would; without, nothing
// does, as on a server with no window manager.
class PaintSession : public ::testing::Test {
public:
    Xvfb server;
    Display *dpy = nullptr;
    pid_t pid = -1;
    int stderr_fd = -1;  // the program's standard error, when captured
    fs::path dir;
    int wx = 0, wy = 0;  // the window's position on the screen
    bool give_focus = true;
    std::vector<std::string> args;  // the program's command-line arguments

    void SetUp() override
    {
        ASSERT_TRUE(server.start("1024x768x24"));
        dpy = XOpenDisplay(nullptr);
        ASSERT_NE(dpy, nullptr);
        char tmpl[] = "/tmp/malwerk-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }

    void TearDown() override
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (dpy)
            XCloseDisplay(dpy);
        if (stderr_fd >= 0)
            close(stderr_fd);
        stderr_fd = -1;
        server.stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void copy_icons()
    {
        const char *src = std::getenv("MALWERK_SOURCE_DIR");
        ASSERT_NE(src, nullptr);
        fs::create_directories(dir / "gfx");
        for (int i = 1; i <= 7; ++i)
            fs::copy_file(fs::path(src) / "gfx" / (std::to_string(i) + ".bmp"), dir / "gfx" / (std::to_string(i) + ".bmp"));
    }

    // Starts the program (the one built here unless `exe` names another)
    // and waits for its 800x600 window; with `capture_stderr` its standard
    // error goes to `stderr_fd`.
    void start(bool icons = true, std::string exe = build_dir() + "/malwerk", bool capture_stderr = false)
    {
        if (icons)
            copy_icons();
        int err[2] = {-1, -1};
        if (capture_stderr) {
            ASSERT_EQ(pipe(err), 0);
        }
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (capture_stderr) {
                dup2(err[1], 2);
                close(err[0]);
                close(err[1]);
            }
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            unsetenv("RIVEZ");
            std::vector<char *> argv{exe.data()};
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        if (capture_stderr) {
            close(err[1]);
            stderr_fd = err[0];
        }
        wait_for_window();
    }

    // Waits for the program's window, gives it the focus (with `give_focus`)
    // and waits for its first frames.
    void wait_for_window()
    {
        Window w = 0;
        for (int i = 0; i < 500 && !w; ++i) {
            std::this_thread::sleep_for(10ms);
            w = find_window();
        }
        ASSERT_NE(w, 0u) << "no window appeared";
        if (give_focus) {
            XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
            XSync(dpy, False);
        }
        Window child;
        XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &wx, &wy, &child);
        // The first frames have been shown once the top bar is there.
        ASSERT_TRUE(wait_for([&] { return at(400, 10) == BAR; }));
        move(600, 560);
    }

    // The program's window, also inside a window manager's frame (whose
    // windows may vanish while they are looked at: errors are ignored).
    Window find_window(Window parent = 0, int depth = 2)
    {
        XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
        Window root, up, *kids = nullptr, found = 0;
        unsigned n = 0;
        XQueryTree(dpy, parent ? parent : DefaultRootWindow(dpy), &root, &up, &kids, &n);
        for (unsigned k = 0; k < n && !found; ++k) {
            XWindowAttributes a;
            char *name = nullptr;
            if (XGetWindowAttributes(dpy, kids[k], &a) && a.map_state == IsViewable && a.width == 800 &&
                a.height == 600 && XFetchName(dpy, kids[k], &name) && std::string(name) == "malwerk")
                found = kids[k];
            if (name)
                XFree(name);
            if (!found && depth > 0)
                found = find_window(kids[k], depth - 1);
        }
        if (kids)
            XFree(kids);
        return found;
    }

    // A pixel of the window as the server shows it, 0xRRGGBB.
    uint32_t at(int x, int y)
    {
        XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), wx + x, wy + y, 1, 1, AllPlanes, ZPixmap);
        if (!img)
            return 0xDEADBEEF;
        uint32_t v = static_cast<uint32_t>(XGetPixel(img, 0, 0)) & 0xFFFFFF;
        XDestroyImage(img);
        return v;
    }

    // The window's pixels in a rectangle, row by row.
    std::vector<uint32_t> region(int x, int y, int w, int h)
    {
        std::vector<uint32_t> px;
        XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), wx + x, wy + y, w, h, AllPlanes, ZPixmap);
        if (!img)
            return px;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                px.push_back(static_cast<uint32_t>(XGetPixel(img, c, r)) & 0xFFFFFF);
        XDestroyImage(img);
        return px;
    }

    static bool wait_for(const std::function<bool()> &ok, std::chrono::milliseconds limit = 3000ms)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!ok()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    static void xdo(const std::string &args)
    {
        ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    }
    // Waits long enough for several frames of the program to pass.
    static void frames() { std::this_thread::sleep_for(120ms); }

    void move(int x, int y)
    {
        xdo("mousemove " + std::to_string(wx + x) + " " + std::to_string(wy + y));
        frames();
    }
    void press() { xdo("mousedown 1"), frames(); }
    void release() { xdo("mouseup 1"), frames(); }
    void click(int x, int y)
    {
        move(x, y);
        press();
        release();
    }
    void drag(std::initializer_list<std::pair<int, int>> points)
    {
        auto it = points.begin();
        move(it->first, it->second);
        press();
        for (++it; it != points.end(); ++it)
            move(it->first, it->second);
        release();
    }
    void type_file_name(const std::string &name)
    {
        click(200, 10);
        xdo("type --delay 20 '" + name + "'");
        xdo("key Return");
        frames();
    }

    bool running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    // The program's exit status once it has ended (within 5 s), else -1.
    int exit_status()
    {
        int status = -1;
        if (!wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000ms))
            return -1;
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The program started again, with `arguments`, once its window is gone.
    void restart(std::vector<std::string> arguments)
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ASSERT_TRUE(wait_for([&] { return find_window() == 0; }));
        args = std::move(arguments);
        start(false);
    }
    std::vector<uint32_t> canvas() { return region(81, 26, 719, 553); }

    // What the runtime draws for `text` at (x, y) in `ink` over `background`,
    // rendered in this process on a screen of the Null driver.
    static std::vector<uint32_t> reference_text(const char *text, int x, int y, int w, uint32_t background,
                                                uint32_t ink = INK)
    {
        __rk_gfx_driver_name = "null";
        EXPECT_EQ(rk_GfxScreenRes(800, 600, 32, 0, 0, 0), 0);
        rk_GfxLine(nullptr, 0, 0, 799, 599, background, 2, 0xFFFF, 0);
        rk_GfxDrawString(nullptr, static_cast<float>(x), static_cast<float>(y), 0, rk_StrAllocTempDesc(text), ink,
                         nullptr, 0, nullptr, 0, nullptr);
        std::vector<uint32_t> px;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < w; ++c) {
                uint32_t v;
                std::memcpy(&v, __rk_gfx->framebuffer + (y + r) * __rk_gfx->pitch + 4 * (x + c), 4);
                px.push_back(v & 0xFFFFFF);
            }
        rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gfx_driver_name = nullptr;
        return px;
    }
};

// Every user-level check runs twice: with the focus given and with nothing
// setting it.
class PaintProgram : public PaintSession, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        give_focus = GetParam();
        PaintSession::SetUp();
    }
};
INSTANTIATE_TEST_SUITE_P(Focus, PaintProgram, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &p) { return p.param ? "Given" : "NotSet"; });

TEST_P(PaintProgram, LayoutButtonsAndStatusLine)
{
    start();
    EXPECT_EQ(at(400, 10), BAR);     // top bar
    EXPECT_EQ(at(40, 250), BAR);     // left bar
    EXPECT_EQ(at(400, 590), BAR);    // bottom bar
    EXPECT_EQ(at(80, 300), FRAME);   // canvas frame, left side
    EXPECT_EQ(at(400, 25), FRAME);   // canvas frame, top side
    EXPECT_EQ(at(400, 579), FRAME);  // canvas frame, bottom side
    EXPECT_EQ(at(145, 12), FRAME);   // file-name field outline
    EXPECT_EQ(at(200, 12), WHITE);   // file-name field
    EXPECT_EQ(at(81, 26), WHITE);    // canvas corners
    EXPECT_EQ(at(799, 578), WHITE);

    // Colour buttons in their normal look: fill inside, outline around,
    // transparent corners showing the bar.
    EXPECT_EQ(at(15, 81), 0xFF0000u);
    EXPECT_EQ(at(38, 60), 0xBBBBBBu);
    EXPECT_EQ(at(61, 165), 0x4E004Eu);
    EXPECT_EQ(at(15, 71), 0xAB9D92u);
    EXPECT_EQ(at(5, 71), BAR);
    // An icon on a tool button: magenta-free, the fill showing around it.
    EXPECT_EQ(at(29, 301), BAR);

    // Hover and pressed looks.
    move(15, 81);
    EXPECT_TRUE(wait_for([&] { return at(8, 74) == HOVER; }));
    move(600, 560);
    EXPECT_TRUE(wait_for([&] { return at(8, 74) == 0xFF0000; }));
    move(38, 102);
    press();
    EXPECT_TRUE(wait_for([&] { return at(31, 95) == HOVER; }));
    release();

    // Status texts, compared with the same strings drawn by the runtime.
    move(300, 300);
    EXPECT_TRUE(wait_for([&] { return region(700, 585, 40, 8) == reference_text("X:219", 700, 585, 40, BAR); }));
    EXPECT_TRUE(wait_for([&] { return region(745, 585, 40, 8) == reference_text("Y:274", 745, 585, 40, BAR); }));
    EXPECT_EQ(region(100, 585, 128, 8), reference_text("Werkzeug: Stift", 100, 585, 128, BAR));
    // Captions.
    EXPECT_EQ(region(13, 8, 48, 8), reference_text(" Save ", 13, 8, 48, BAR));
}

TEST_P(PaintProgram, PenStrokeLandsUnderThePointer)
{
    start();
    drag({{300, 300}, {330, 300}, {350, 320}});
    EXPECT_EQ(at(300, 300), 0u);
    EXPECT_EQ(at(315, 300), 0u);
    EXPECT_EQ(at(340, 310), 0u);
    EXPECT_EQ(at(350, 320), 0u);
    EXPECT_EQ(at(315, 295), WHITE);  // not 5 rows below or above
    EXPECT_EQ(at(315, 305), WHITE);
}

TEST_P(PaintProgram, PenDrawsNoSegmentFromOutsideTheWindow)
{
    start();
    drag({{300, 300}, {900, 300}, {400, 200}, {420, 200}});
    // No line between (300, 300), the outside position, and (400, 200).
    EXPECT_EQ(at(350, 250), WHITE);
    EXPECT_EQ(at(410, 200), 0u);
}

TEST_P(PaintProgram, BrushBucketAndLineTools)
{
    start();
    click(38, 310);  // brush
    click(400, 400);
    EXPECT_EQ(at(400, 400), 0u);
    EXPECT_EQ(at(410, 400), 0u);
    EXPECT_EQ(at(412, 400), WHITE);
    EXPECT_EQ(at(400, 390), 0u);
    EXPECT_EQ(at(400, 388), WHITE);
    EXPECT_EQ(region(100, 585, 128, 8), reference_text("Werkzeug: Pinsel", 100, 585, 128, BAR));

    click(15, 331);  // lines: one line on the canvas from press to release
    drag({{200, 200}, {300, 150}, {300, 250}});
    EXPECT_EQ(at(250, 225), 0u);
    EXPECT_EQ(at(250, 175), WHITE);  // the earlier position left nothing
    EXPECT_EQ(at(300, 250), 0u);

    click(15, 81);   // red
    click(61, 310);  // bucket: the white region around the pointer turns red
    click(700, 500);
    EXPECT_TRUE(wait_for([&] { return at(100, 50) == 0xFF0000; }));
    EXPECT_EQ(at(700, 500), 0xFF0000u);
    // The border is the fill colour itself: nothing red stops the fill, so
    // the black disc and line are filled too.
    EXPECT_EQ(at(400, 400), 0xFF0000u);
    EXPECT_EQ(at(250, 225), 0xFF0000u);
}

TEST_P(PaintProgram, EveryColourButtonAndTheColourStays)
{
    start();
    static constexpr uint32_t colours[18] = {0xFFFFFF, 0xBBBBBB, 0x000000, 0xFF0000, 0xCD0000, 0x800000,
                                             0x0000FF, 0x0054A8, 0x000080, 0x00FF00, 0x008D00, 0x008080,
                                             0xFFFF00, 0xCDCD00, 0x808000, 0xFF00F1, 0x800080, 0x4E004E};
    click(38, 310);  // brush
    click(100, 100);  // a black disc under the white test spot
    for (int i = 0; i < 18; ++i) {
        click(15 + 23 * (i % 3), 60 + 21 * (i / 3));
        int x = 120 + 30 * (i % 6), y = 130 + 30 * (i / 6);
        if (i == 0)
            x = 100, y = 100;
        click(x, y);
        EXPECT_EQ(at(x, y), colours[i]) << "button " << i + 1;
    }
    // White chosen, then a tool: white stays the drawing colour.
    click(61, 60);  // black disc first
    click(150, 400);
    click(15, 60);   // white
    click(38, 310);  // a tool
    click(150, 400);
    EXPECT_EQ(at(150, 400), WHITE);
}

TEST_P(PaintProgram, SaveAndLoadThroughTheFileNameField)
{
    start();
    click(38, 310);
    click(15, 123);  // green brush disc
    click(300, 300);
    // A typing error taken back with both Delete keys.
    click(200, 10);
    xdo("type --delay 20 'bildxy.bmp'");
    xdo("key --delay 20 Left Left Left Left Left Left Delete KP_Delete Return");
    frames();
    EXPECT_TRUE(wait_for([&] { return region(152, 8, 80, 8) == reference_text("bild.bmp", 152, 8, 80, WHITE); }));
    click(35, 12);  // Save
    fs::path file = dir / "bild.bmp";
    ASSERT_TRUE(wait_for([&] { return fs::exists(file) && fs::file_size(file) == 1194534; }));
    frames();

    // The file's pixels are the canvas's.
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), 1194534u);
    EXPECT_EQ(bytes[28], 24);  // bits per pixel
    std::vector<uint32_t> canvas = region(81, 26, 719, 553);
    ASSERT_EQ(canvas.size(), 719u * 553u);
    int mismatches = 0;
    for (int y = 0; y < 553; ++y)
        for (int x = 0; x < 719; ++x) {
            const unsigned char *p = &bytes[54 + (552 - y) * 2160 + 3 * x];
            uint32_t v = (p[2] << 16) | (p[1] << 8) | p[0];
            mismatches += v != canvas[y * 719 + x];
        }
    EXPECT_EQ(mismatches, 0);

    // Paint over the disc, then Load brings the saved picture back.
    click(15, 81);
    click(61, 310);
    click(500, 500);
    EXPECT_TRUE(wait_for([&] { return at(500, 500) == 0xFF0000; }));
    click(95, 12);  // Load
    EXPECT_TRUE(wait_for([&] { return at(500, 500) == WHITE; }));
    EXPECT_EQ(at(300, 300), 0x00FF00u);
}

TEST_P(PaintProgram, FailedSavesLeaveItRunning)
{
    start();
    click(35, 12);  // Save with an empty name
    type_file_name("/nonexistent-dir/x.bmp");
    click(35, 12);
    type_file_name("plain-name");  // not a bitmap name: nothing is written
    click(35, 12);
    EXPECT_TRUE(running());
    EXPECT_FALSE(fs::exists(dir / "plain-name"));
    click(38, 310);
    click(300, 300);
    EXPECT_EQ(at(300, 300), 0u);
}

TEST_P(PaintProgram, CloseButtonIsIgnoredAndExitEndsTheProgram)
{
    start();
    Window w = find_window();
    Atom protocols = XInternAtom(dpy, "WM_PROTOCOLS", False), del = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = protocols;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(del);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, w, False, NoEventMask, &e);
    XFlush(dpy);
    frames();
    EXPECT_TRUE(running());
    click(300, 300);
    EXPECT_EQ(at(300, 300), 0u);

    click(745, 12);  // Exit: asked, as the stroke is not saved
    frames();
    EXPECT_TRUE(running());
    click(745, 12);
    EXPECT_EQ(exit_status(), 0);
    EXPECT_TRUE(wait_for([&] { return find_window() == 0; }));
}

// Started from a terminal, the program runs with the terminal in raw input
// and leaves it exactly as it found it when the Exit button ends it.
TEST_F(PaintSession, ExitLeavesTheTerminalAsItWas)
{
    copy_icons();
    PtyProgram tty;
    ASSERT_TRUE(tty.open(24, 80));
    termios before, running, after;
    ASSERT_EQ(tcgetattr(tty.slave, &before), 0);
    int flags = fcntl(tty.slave, F_GETFL);
    std::string exe = build_dir() + "/malwerk";
    ASSERT_TRUE(tty.start({exe.c_str()}, {{"TERM", "xterm"}, {"RIVEZ", nullptr}}, nullptr, dir.c_str()));
    wait_for_window();
    ASSERT_EQ(tcgetattr(tty.slave, &running), 0);
    EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u);

    click(745, 12);  // Exit
    int status = tty.finish(10000ms);
    ASSERT_NE(status, -1) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(tcgetattr(tty.slave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    EXPECT_EQ(fcntl(tty.slave, F_GETFL), flags);
    // Keypad transmit and the cursor query at start, attributes off, normal
    // cursor and keypad local at exit: nothing else reaches the terminal.
    EXPECT_EQ(tty.output, terminal_capability("xterm", "ks") + "\x1b[6n" + terminal_capability("xterm", "me") +
                              terminal_capability("xterm", "ve") + terminal_capability("xterm", "ke"));
}

// Resident memory of the program in KiB.
static long resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Every frame creates and destroys 56 images and reads the icon files;
// over 2000 frames (10 ms pause each) memory must stay where it was.
TEST_F(PaintSession, MemoryStaysFlatOverTwoThousandFrames)
{
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed blocks in quarantine, so resident memory
    // grows by design; there LeakSanitizer checks the exit instead.
    GTEST_SKIP() << "resident memory is not meaningful under AddressSanitizer";
#endif
    start();
    click(38, 310);
    click(400, 300);
    long before = resident_kib(pid);
    ASSERT_GT(before, 0);
    auto end = std::chrono::steady_clock::now() + 2000 * 12ms;
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i)
        move(20 + (i * 37) % 700, 40 + (i * 53) % 500);  // hover over buttons and canvas
    long after = resident_kib(pid);
    EXPECT_LT(after - before, 1024) << before << " KiB before, " << after << " KiB after";
    EXPECT_TRUE(running());
}

// The tool buttons in drawing order: where each lies and the number of the
// icon file it shows.
struct ToolButton {
    int x, y, icon;
};
constexpr ToolButton TOOL_BUTTONS[] = {{5, 300, 1}, {28, 300, 2}, {51, 300, 3}, {5, 321, 4},
                                       {28, 321, 5}, {51, 321, 6}, {5, 342, 7}};

// The pixels of `file` that the button at (x, y) shows, with their window
// positions: the icon is put one pixel in from the corner, its transparent
// pixels skipped and its last rows cut off at the button's bottom edge.
std::vector<std::array<uint32_t, 3>> icon_pixels(const fs::path &file, int x, int y)
{
    __rk_gfx_driver_name = "null";
    EXPECT_EQ(rk_GfxScreenRes(800, 600, 32, 0, 0, 0), 0);
    void *img = rk_GfxImageCreate(20, 22, 0, 0, RK_FLAG_NO_COLOR);
    EXPECT_EQ(rk_GfxBload(rk_StrAllocTempDesc(file.c_str()), img, nullptr), 0) << file;
    const auto *head = static_cast<const ImageHeader *>(img);
    std::vector<std::array<uint32_t, 3>> px;
    for (uint32_t r = 0; r < 19; ++r)
        for (uint32_t c = 0; c < 20; ++c) {
            uint32_t v;
            std::memcpy(&v, reinterpret_cast<const uint8_t *>(head + 1) + r * head->pitch + 4 * c, 4);
            if (v != 0xFFFF00FFu)
                px.push_back({static_cast<uint32_t>(x) + 1 + c, static_cast<uint32_t>(y) + 1 + r, v & 0xFFFFFF});
        }
    rk_GfxImageDestroy(img);
    rk_GfxScreen(0, 0, 0, 0, 0);
    __rk_gfx_driver_name = nullptr;
    return px;
}

fs::path source_icon(int n)
{
    return fs::path(std::getenv("MALWERK_SOURCE_DIR")) / "gfx" / (std::to_string(n) + ".bmp");
}

// Installs the program with its data and the shared library it runs on
// (cmake --install) under `prefix` and returns the installed executable.
std::string install_program(const fs::path &prefix)
{
    for (const char *component : {"program", "runtime"}) {
        std::string cmd = std::string(MALWERK_CMAKE_COMMAND) + " --install '" + build_dir() + "' --prefix '" +
                          prefix.string() + "' --component " + component + " >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    return (prefix / "bin" / "malwerk").string();
}

// The program started from a scratch directory with its icons in different
// places.
class IconLookup : public PaintSession {
protected:
    // Checks that every tool button shows the icon file that `file_of` gives
    // for its icon number.
    void expect_icons(const std::function<fs::path(int)> &file_of)
    {
        for (const ToolButton &b : TOOL_BUTTONS) {
            auto px = icon_pixels(file_of(b.icon), b.x, b.y);
            ASSERT_GT(px.size(), 20u) << "icon " << b.icon;
            for (const auto &[x, y, v] : px)
                ASSERT_EQ(at(static_cast<int>(x), static_cast<int>(y)), v)
                    << "icon " << b.icon << " on the button at " << b.x << "," << b.y << ", pixel " << x << "," << y;
        }
    }
};

// Started from a directory without "gfx/", the installed program reads the
// icons of its installation.
TEST_F(IconLookup, InstalledProgramFindsItsIconsFromAnyDirectory)
{
    start(false, install_program(dir / "prefix"));
    expect_icons(source_icon);
}

// A copied executable finds icons in "gfx/" beside itself.
TEST_F(IconLookup, IconsBesideTheExecutable)
{
    fs::create_directories(dir / "app" / "gfx");
    fs::copy_file(build_dir() + "/malwerk", dir / "app" / "malwerk");
    for (int n = 1; n <= 7; ++n)
        fs::copy_file(source_icon(n), dir / "app" / "gfx" / (std::to_string(n) + ".bmp"));
    start(false, (dir / "app" / "malwerk").string());
    expect_icons(source_icon);
}

// Icons in "gfx/" of the current directory come before the installed ones:
// here each file holds the next icon.
TEST_F(IconLookup, IconsOfTheCurrentDirectoryComeFirst)
{
    fs::create_directories(dir / "gfx");
    for (int n = 1; n <= 7; ++n)
        fs::copy_file(source_icon(n % 7 + 1), dir / "gfx" / (std::to_string(n) + ".bmp"));
    start(false, install_program(dir / "prefix"));
    expect_icons([](int n) { return source_icon(n % 7 + 1); });
}

// An icon file rewritten while the program runs, once its bytes are old
// enough to be kept by the loader, shows on the next frames: gfx/1.bmp gets
// the second icon, which has the same size.
TEST_F(IconLookup, ChangedIconShowsOnTheNextFrame)
{
    start();
    std::this_thread::sleep_for(2500ms);
    fs::copy_file(source_icon(2), dir / "gfx" / "1.bmp", fs::copy_options::overwrite_existing);
    const auto px = icon_pixels(source_icon(2), 5, 300);
    auto shows = [&] {
        const auto shown = region(6, 301, 20, 19);
        auto same = [&](const auto &p) { return shown[(p[1] - 301) * 20 + p[0] - 6] == p[2]; };
        return shown.size() == 20 * 19 && std::all_of(px.begin(), px.end(), same);
    };
    EXPECT_TRUE(wait_for(shows, 1000ms));
}

TEST_P(PaintProgram, RunsWithoutItsIcons)
{
    start(false);
    EXPECT_EQ(at(38, 310), BAR);  // tool buttons show only their fill
    click(38, 310);
    click(400, 400);
    EXPECT_EQ(at(400, 400), 0u);
}

// The X server killed under the running program, in its frame loop and in
// the file-name entry: it ends within two seconds with status 1 and one line
// on standard error, and leaves no shared-memory segment behind.
TEST_F(PaintSession, LostDisplayEndsTheProgram)
{
    for (bool in_line_input : {false, true}) {
        SCOPED_TRACE(in_line_input ? "line input" : "frame loop");
        if (in_line_input) {
            TearDown();
            SetUp();
        }
        start(true, build_dir() + "/malwerk", true);
        if (in_line_input) {  // waiting for keys, the typed ones handled
            click(200, 10);
            xdo("type 'bild'");
            ASSERT_TRUE(wait_for([&] { return region(152, 8, 32, 8) == reference_text("bild", 152, 8, 32, WHITE); }));
        }
        int shmid = shm_segment_of(pid);
        XCloseDisplay(dpy);  // this process would end with its connection
        dpy = nullptr;
        auto t0 = std::chrono::steady_clock::now();
        server.stop(SIGKILL);
        int status = 0;
        bool ended = wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000ms);
        auto took = std::chrono::steady_clock::now() - t0;
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
        std::string text;
        char buf[256];
        for (ssize_t n; (n = read(stderr_fd, buf, sizeof buf)) > 0;)
            text.append(buf, static_cast<std::size_t>(n));
        ASSERT_TRUE(ended);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_LT(took, 2000ms);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(text.rfind("malwerk: lost the connection to the X display", 0), 0u) << text;
        EXPECT_GE(shmid, 0);
        EXPECT_FALSE(shm_segment_exists(shmid));
    }
}

// Started from a terminal: the lost display ends the program through its
// normal exit, which gives the terminal back as it was.
TEST_F(PaintSession, LostDisplayLeavesTheTerminalAsItWas)
{
    copy_icons();
    PtyProgram tty;
    ASSERT_TRUE(tty.open(24, 80));
    termios before, after;
    ASSERT_EQ(tcgetattr(tty.slave, &before), 0);
    std::string exe = build_dir() + "/malwerk";
    ASSERT_TRUE(tty.start({exe.c_str()}, {{"TERM", "xterm"}, {"RIVEZ", nullptr}}, nullptr, dir.c_str()));
    wait_for_window();
    XCloseDisplay(dpy);
    dpy = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    server.stop(SIGKILL);
    int status = tty.finish(5000ms);
    auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_NE(status, -1) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_LT(took, 2000ms);
    ASSERT_EQ(tcgetattr(tty.slave, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_NE(tty.output.find("malwerk: lost the connection to the X display"), std::string::npos) << tty.output;
    std::string reset = terminal_capability("xterm", "me") + terminal_capability("xterm", "ve") +
                        terminal_capability("xterm", "ke");
    EXPECT_TRUE(tty.output.size() >= reset.size() &&
                tty.output.compare(tty.output.size() - reset.size(), reset.size(), reset) == 0)
        << tty.output;
}

// ---- the faults a new user met, each scripted, on a bare server and under openbox

using Session = PaintSession;

// The status line's report and the file-name field, as the built-in font
// (code page 437) draws them.
bool status_is(Session &s, const char *text)
{
    return s.wait_for([&] { return s.region(348, 585, 344, 8) == s.reference_text(text, 348, 585, 344, BAR); });
}
bool field_is(Session &s, const char *text)
{
    return s.wait_for([&] { return s.region(152, 8, 192, 8) == s.reference_text(text, 152, 8, 192, WHITE); });
}
void make_picture(Session &s, const char *name, const char *size, const char *colour, const char *kind = "BMP3")
{
    std::string cmd = "convert -size " + std::string(size) + " xc:'" + colour + "' -type TrueColor " + kind + ":'" +
                      (s.dir / name).string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

struct Case {
    const char *name;
    void (*run)(Session &s);
};
const Case CASES[] = {
    {"StrokeEndingOnExitOrStartingThereQuitsNothing", [](Session &s) {
         s.drag({{300, 300}, {500, 200}, {745, 12}});
         s.drag({{745, 12}, {600, 300}});
         EXPECT_TRUE(s.running());
         EXPECT_EQ(s.at(300, 300), 0u);
     }},
    {"StrokeEndingOnSaveWritesNothing", [](Session &s) {
         s.type_file_name("bild.bmp");
         s.drag({{300, 300}, {35, 12}});
         EXPECT_FALSE(fs::exists(s.dir / "bild.bmp"));
     }},
    {"StrokeOverAColourKeepsItsColour", [](Session &s) {
         s.drag({{300, 300}, {15, 81}, {400, 300}});
         EXPECT_EQ(s.at(400, 300), 0u);
     }},
    {"SaveReportsWhatItDid", [](Session &s) {
         s.type_file_name("bild.gif");
         s.click(35, 12);
         EXPECT_TRUE(status_is(s, "Nicht gespeichert: nur .bmp, .png m\x94glich"));
         s.type_file_name("/nonexistent-dir/x.bmp");
         s.click(35, 12);
         EXPECT_TRUE(status_is(s, "Nicht gespeichert: Ordner nicht gefunden"));
         s.type_file_name("bild.bmp");
         s.click(35, 12);
         EXPECT_TRUE(status_is(s, "Gespeichert: bild.bmp"));
         EXPECT_EQ(fs::file_size(s.dir / "bild.bmp"), 1194534u);
         EXPECT_FALSE(fs::exists(s.dir / "bild.gif"));
         s.type_file_name("bild.PNG");
         s.click(35, 12);
         EXPECT_TRUE(status_is(s, "Gespeichert: bild.PNG"));
         char signature[8] = {};
         std::ifstream(s.dir / "bild.PNG").read(signature, 8);
         EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1A\n");
     }},
    {"FailedLoadsSayWhyAndKeepTheCanvas", [](Session &s) {
         make_picture(s, "ganz.bmp", "100x80", "#0000FF");
         std::ofstream(s.dir / "kaputt.bmp") << std::ifstream(s.dir / "ganz.bmp").rdbuf();
         fs::resize_file(s.dir / "kaputt.bmp", 2000);
         std::ofstream(s.dir / "text.bmp") << "Hallo";
         s.click(300, 300);
         for (auto [name, report] : {std::pair{"fehlt.bmp", "Nicht geladen: Datei nicht gefunden"},
                                     {"kaputt.bmp", "Nicht geladen: Bilddatei besch\x84" "digt"},
                                     {"text.bmp", "Nicht geladen: keine Bilddatei"}}) {
             s.type_file_name(name);
             s.click(95, 12);
             EXPECT_TRUE(status_is(s, report)) << name;
         }
         EXPECT_EQ(s.at(300, 300), 0u);
     }},
    {"LoadReplacesTheCanvas", [](Session &s) {
         make_picture(s, "klein.bmp", "100x80", "#0000FF");
         s.click(400, 400);
         s.type_file_name("klein.bmp");
         s.click(95, 12);
         EXPECT_TRUE(status_is(s, "Geladen: klein.bmp"));
         EXPECT_EQ(s.at(81 + 99, 26 + 79), 0x0000FFu);
         EXPECT_EQ(s.at(81 + 100, 26 + 40), WHITE);
         EXPECT_EQ(s.at(400, 400), WHITE);
     }},
    {"LoadOfALargerPictureSaysItIsCut", [](Session &s) {
         make_picture(s, "gross.bmp", "1600x1200", "#00FF00");
         s.type_file_name("gross.bmp");
         s.click(95, 12);
         EXPECT_TRUE(status_is(s, "Geladen, Rand abgeschnitten: gross.bmp"));
         EXPECT_EQ(s.at(799, 578), 0x00FF00u);
     }},
    {"KeysTypedBeforeTheFieldOpensAreDropped", [](Session &s) {
         s.click(15, 352);  // Text
         s.xdo("type --delay 20 Hallo");
         s.type_file_name("a.bmp");
         EXPECT_TRUE(field_is(s, "a.bmp"));
     }},
    {"ANewNameReplacesTheOldOneInTheField", [](Session &s) {
         s.type_file_name("bild.pnggng");
         s.click(200, 10);
         s.xdo("type --delay 20 a.bmp");
         EXPECT_TRUE(s.wait_for([&] { return s.region(152, 8, 40, 8) == s.reference_text("a.bmp", 152, 8, 40, WHITE); }));
         EXPECT_EQ(s.region(200, 8, 144, 8), std::vector<uint32_t>(144 * 8, WHITE));  // behind the cursor's cell
     }},
    {"ALongNameScrollsInsideTheField", [](Session &s) {
         s.type_file_name("ein-sehr-langer-dateiname-fuer-malwerk.bmp");
         EXPECT_TRUE(field_is(s, "-dateiname-fuer-malwerk.bmp" + 3));
         EXPECT_EQ(s.region(351, 2, 29, 20), std::vector<uint32_t>(580, BAR));
         s.click(35, 12);
         EXPECT_TRUE(s.wait_for([&] { return fs::exists(s.dir / "ein-sehr-langer-dateiname-fuer-malwerk.bmp"); }));
     }},
    {"EscapeKeepsThePreviousName", [](Session &s) {
         s.type_file_name("alt.bmp");
         s.click(200, 10);
         s.xdo("type --delay 20 neu");
         s.xdo("key Escape");
         EXPECT_TRUE(field_is(s, "alt.bmp"));
     }},
    {"TheWholeLineIsTheName", [](Session &s) {
         s.type_file_name("a,\"b\" c.bmp");
         s.click(35, 12);
         EXPECT_TRUE(s.wait_for([&] { return fs::exists(s.dir / "a,\"b\" c.bmp"); }));
     }},
    {"UmlautsReachTheNameAsUtf8", [](Session &s) {
         ASSERT_EQ(std::system("setxkbmap de"), 0);  // a German keyboard
         s.type_file_name("\xC3\x9c" "bung_\xC3\xA4.bmp");
         EXPECT_TRUE(field_is(s, "\x9A" "bung_\x84.bmp"));
         s.click(35, 12);
         EXPECT_TRUE(s.wait_for([&] { return fs::exists(s.dir / "\xC3\x9c" "bung_\xC3\xA4.bmp"); }));
     }},
    {"TheRubberBandStaysOnTheCanvasAndPressesNoButton", [](Session &s) {
         s.click(15, 331);  // lines
         s.move(300, 300);
         s.press();
         s.move(20, 60);  // over the white colour button
         EXPECT_TRUE(s.wait_for([&] { return s.at(200, 214) == 0; }));
         EXPECT_EQ(s.at(76, 108), BAR);
         s.release();
         s.drag({{300, 400}, {400, 400}});
         EXPECT_EQ(s.at(350, 400), 0u);
     }},
    {"AClickOpeningTheFieldPaintsNothing", [](Session &s) {
         s.click(38, 310);  // brush
         s.click(200, 20);
         s.xdo("key Return");
         EXPECT_EQ(s.region(81, 26, 719, 10), std::vector<uint32_t>(7190, WHITE));
     }},
    {"AClickBesideTheCanvasPaintsNothing", [](Session &s) {
         s.click(38, 310);  // brush
         s.click(75, 400);
         s.click(400, 585);
         EXPECT_EQ(s.at(81, 400), WHITE);
         EXPECT_EQ(s.at(400, 578), WHITE);
     }},
    {"UndoAndRedoEveryToolAndLoad", [](Session &s) {
         make_picture(s, "klein.bmp", "100x80", "#0000FF");
         auto settled = [&] {  // the canvas once two frames apart show the same
             std::vector<uint32_t> before, now = s.canvas();
             do {
                 before = std::move(now);
                 s.frames();
                 now = s.canvas();
             } while (now != before);
             return now;
         };
         std::vector<std::vector<uint32_t>> states{s.canvas()};
         auto step = [&](const std::function<void()> &draw) {
             draw();
             states.push_back(settled());
             EXPECT_NE(states.back(), states[states.size() - 2]) << "step " << states.size() - 1;
         };
         step([&] { s.drag({{200, 100}, {230, 110}, {260, 120}}); });
         step([&] { s.click(38, 310), s.click(300, 150); });
         step([&] { s.click(15, 331), s.drag({{200, 200}, {300, 210}}); });
         step([&] { s.click(38, 331), s.drag({{200, 250}, {300, 250}}); });
         step([&] { s.click(61, 331), s.drag({{350, 200}, {450, 260}}); });
         step([&] { s.click(15, 352), s.click(500, 300), s.xdo("type --delay 20 Ab"), s.xdo("key Return"); });
         step([&] { s.click(15, 81), s.click(61, 310), s.click(700, 500); });
         step([&] { s.type_file_name("klein.bmp"), s.click(95, 12); });
         for (std::size_t i = states.size() - 1; i > 0; --i) {
             s.xdo("key ctrl+z");
             EXPECT_TRUE(s.wait_for([&] { return s.canvas() == states[i - 1]; })) << "undo of step " << i;
         }
         s.xdo("key ctrl+z");  // nothing left to undo
         // Shift is read as held when the key is read: it stays down a few frames.
         for (std::size_t i = 1; i < states.size(); ++i) {
             s.xdo(i % 2 ? "key ctrl+y" : "keydown ctrl+shift key z sleep 0.1 keyup ctrl+shift");
             EXPECT_TRUE(s.wait_for([&] { return s.canvas() == states[i]; })) << "redo of step " << i;
         }
         // A new step drops the steps undone before it.
         s.xdo("key ctrl+z ctrl+z");
         s.click(15, 310);
         s.drag({{600, 400}, {650, 400}});
         const auto drawn = settled();
         EXPECT_EQ(drawn[374 * 719 + 544], 0xFF0000u);
         s.xdo("key ctrl+y");
         s.frames();
         EXPECT_EQ(s.canvas(), drawn);
     }},
    {"DashedLineRectangleAndTextDraw", [](Session &s) {
         s.click(38, 331);  // dashed line, shown while dragged
         s.move(200, 300);
         s.press();
         s.move(263, 300);
         EXPECT_TRUE(s.wait_for([&] { return s.at(201, 300) == 0 && s.at(205, 300) == WHITE; }));
         s.release();
         std::vector<uint32_t> dashes;
         for (int x = 0; x < 64; ++x)
             dashes.push_back(x / 4 % 2 ? WHITE : 0);
         EXPECT_EQ(s.region(200, 300, 64, 1), dashes);

         s.click(61, 331);  // rectangle: only the last position counts
         s.move(300, 350);
         s.press();
         s.move(380, 430);
         s.move(400, 450);
         EXPECT_TRUE(s.wait_for([&] { return s.at(400, 400) == 0 && s.at(380, 400) == WHITE; }));
         s.release();
         for (auto [x, y, v] : {std::tuple{350, 350, 0u}, {300, 400, 0u}, {400, 400, 0u}, {350, 450, 0u},
                                {350, 400, WHITE}, {299, 400, WHITE}, {350, 451, WHITE}})
             EXPECT_EQ(s.at(x, y), v) << x << "," << y;

         ASSERT_EQ(std::system("setxkbmap de"), 0);
         s.click(15, 81);   // red
         s.click(15, 352);  // text: typed where the click was, the insertion point under the next cell
         s.click(500, 100);
         s.xdo("type --delay 20 'Grüße ÄÖÜäöx'");
         s.xdo("key BackSpace");
         const auto text = s.reference_text("Gr\x81\xE1" "e \x8E\x99\x9A\x84\x94", 500, 100, 88, WHITE, 0xFF0000);
         EXPECT_TRUE(s.wait_for([&] { return s.region(500, 100, 88, 8) == text && s.at(590, 108) == 0xFF0000; }));
         s.xdo("key Escape");
         EXPECT_TRUE(s.wait_for([&] { return s.at(590, 108) == WHITE; }));
         s.click(500, 200);  // a click elsewhere ends a text too; each is one step
         s.xdo("type --delay 20 ok");
         s.click(40, 250);
         s.xdo("key ctrl+z");
         EXPECT_TRUE(s.wait_for([&] { return s.region(500, 200, 16, 8) == std::vector<uint32_t>(128, WHITE); }));
         EXPECT_EQ(s.region(500, 100, 88, 8), text);
     }},
    {"ChosenToolAndColourAreShown", [](Session &s) {
         constexpr uint32_t OUTLINE = 0xAB9D92;
         EXPECT_EQ(s.at(15, 300), INK);  // the pen's button, outlined and filled as pressed
         EXPECT_EQ(s.at(6, 301), HOVER);
         EXPECT_EQ(s.at(15, 321), OUTLINE);
         EXPECT_EQ(s.at(90, 588), 0u);  // the black swatch, outlined
         EXPECT_EQ(s.at(84, 583), OUTLINE);
         s.click(15, 331);
         s.click(15, 81);
         s.move(400, 400);
         EXPECT_TRUE(s.wait_for([&] { return s.at(15, 321) == INK && s.at(90, 588) == 0xFF0000; }));
         EXPECT_EQ(s.at(15, 300), OUTLINE);
         EXPECT_EQ(s.at(6, 301), BAR);
     }},
    {"ExitAsksOnceAboutUnsavedChanges", [](Session &s) {
         auto asks = [&] {
             return s.wait_for([&] {
                 return s.region(100, 585, 448, 8) ==
                        s.reference_text("Ungespeicherte \x8E" "nderungen - Exit noch einmal zum Beenden", 100, 585,
                                         448, BAR);
             });
         };
         auto asks_not = [&] {
             return s.wait_for([&] {
                 return s.region(100, 585, 128, 8) == s.reference_text("Werkzeug: Stift", 100, 585, 128, BAR);
             });
         };
         s.drag({{300, 300}, {350, 300}});
         s.click(745, 12);
         EXPECT_TRUE(asks());
         s.xdo("key a");  // any key answers no
         EXPECT_TRUE(asks_not());
         s.click(745, 12);
         EXPECT_TRUE(asks());
         s.click(40, 250);  // so does a click anywhere else
         EXPECT_TRUE(asks_not());
         EXPECT_TRUE(s.running());
         s.type_file_name("bild.png");
         s.click(35, 12);
         EXPECT_TRUE(status_is(s, "Gespeichert: bild.png"));
         s.click(745, 12);  // saved: ends at once
         EXPECT_EQ(s.exit_status(), 0);
     }},
    {"FileNamedOnTheCommandLine", [](Session &s) {
         make_picture(s, "blau.bmp", "100x80", "#0000FF");
         make_picture(s, "gr\xC3\xBCn.png", "100x80", "#00FF00", "PNG24");
         for (auto [file, shown, colour, report] :
              {std::tuple{"blau.bmp", "blau.bmp", 0x0000FFu, "Geladen: blau.bmp"},
               {"gr\xC3\xBCn.png", "gr\x81n.png", 0x00FF00u, "Geladen: gr\x81n.png"},
               {"fehlt.png", "fehlt.png", WHITE, "Nicht geladen: Datei nicht gefunden"}}) {
             s.restart({file});
             EXPECT_TRUE(status_is(s, report)) << file;
             EXPECT_TRUE(field_is(s, shown)) << file;
             EXPECT_EQ(s.at(81 + 99, 26 + 79), colour) << file;
             EXPECT_EQ(s.at(81 + 100, 26 + 79), WHITE) << file;
         }
         s.click(745, 12);  // the picture as it was loaded: nothing to ask
         EXPECT_EQ(s.exit_status(), 0);
     }},
    {"HelpVersionAndUnknownOptions", [](Session &s) {
         for (auto [option, status, out, err] : {std::tuple{"--help", 0, "Usage: malwerk [FILE]\n", ""},
                                                 {"--version", 0, "malwerk 1.", ""},
                                                 {"-x", 2, "", "malwerk: unknown option -x\nUsage: malwerk [FILE]\n"}}) {
             // No display: neither needs a window.
             std::string cmd = "env -u DISPLAY " + build_dir() + "/malwerk " + option + " >" + (s.dir / "out").string() +
                               " 2>" + (s.dir / "err").string();
             int result = std::system(cmd.c_str());
             EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == status) << option;
             std::stringstream o, e;
             o << std::ifstream(s.dir / "out").rdbuf();
             e << std::ifstream(s.dir / "err").rdbuf();
             EXPECT_EQ(o.str().rfind(out, 0), 0u) << option << ": " << o.str();
             EXPECT_EQ(e.str().rfind(err, 0), 0u) << option << ": " << e.str();
             EXPECT_EQ(*err ? o.str() : e.str(), "") << option;
         }
     }},
};

// Each case on its own server: bare, or with openbox managing the window.
class PaintProgramFaults : public PaintSession, public ::testing::WithParamInterface<std::tuple<int, bool>> {
protected:
    pid_t wm = -1;
    void TearDown() override
    {
        PaintSession::TearDown();
        if (wm > 0)
            waitpid(wm, nullptr, 0);  // it ends with its server
    }
};

TEST_P(PaintProgramFaults, ScriptedSession)
{
    if (std::get<1>(GetParam())) {
        wm = fork();
        ASSERT_GE(wm, 0);
        if (wm == 0) {
            dup2(open("/dev/null", O_WRONLY), 2);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
            _exit(127);
        }
        // Up once it has framed a window of ours.
        Window probe = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(dpy, probe);
        ASSERT_TRUE(wait_for([&] {
            Window root, parent, *kids = nullptr;
            unsigned n;
            XQueryTree(dpy, probe, &root, &parent, &kids, &n);
            if (kids)
                XFree(kids);
            return parent != root;
        }, 5000ms));
        XDestroyWindow(dpy, probe);
        XSync(dpy, False);
    }
    start();
    CASES[std::get<0>(GetParam())].run(*this);
}
INSTANTIATE_TEST_SUITE_P(Cases, PaintProgramFaults,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(CASES))),
                                            ::testing::Values(false, true)),
                         [](const ::testing::TestParamInfo<std::tuple<int, bool>> &p) {
                             return std::string(CASES[std::get<0>(p.param)].name) +
                                    (std::get<1>(p.param) ? "_Openbox" : "_Bare");
                         });

}  // namespace
