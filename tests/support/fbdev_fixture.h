// Test support: the framebuffer driver on the test device. A scenario runs in
// a child process on a pseudo-terminal, where the real terminal layer starts
// as on a Linux console (TERM=linux) and the test device answers the console
// requests on that terminal. The device lives in shared memory, so the test
// reads what the device shows and the state it is left in from outside,
// also after the child ended or was killed.
#pragma once
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gfx/drivers/driver.h"
#include "rt/rt.h"
#include "rt/term.h"
#include "tests/support/testdev.h"

// Channel layouts of device modes.
enum Layout { L4, L8, L15, L16, L24, L32 };

inline fb_var_screeninfo make_mode(uint32_t w, uint32_t h, Layout l)
{
    struct Row {
        uint32_t bpp, r_off, r_len, g_off, g_len, b_off, b_len;
    };
    static constexpr Row rows[] = {{4, 0, 4, 0, 4, 0, 4},   {8, 0, 8, 0, 8, 0, 8},   {16, 10, 5, 5, 5, 0, 5},
                                   {16, 11, 5, 5, 6, 0, 5}, {24, 16, 8, 8, 8, 0, 8}, {32, 16, 8, 8, 8, 0, 8}};
    const Row &r = rows[l];
    fb_var_screeninfo m{};
    m.xres = m.xres_virtual = w;
    m.yres = m.yres_virtual = h;
    m.bits_per_pixel = r.bpp;
    m.red = {r.r_off, r.r_len, 0};
    m.green = {r.g_off, r.g_len, 0};
    m.blue = {r.b_off, r.b_len, 0};
    // The VESA timing of 1024 x 768 at 60 Hz.
    m.pixclock = 15385;
    m.left_margin = 160;
    m.right_margin = 24;
    m.upper_margin = 29;
    m.lower_margin = 3;
    m.hsync_len = 136;
    m.vsync_len = 6;
    return m;
}

// A colour 0xRRGGBB with each channel cut to the bits the mode keeps.
inline uint32_t truncate_to(uint32_t rgb, const fb_var_screeninfo &m)
{
    if (m.bits_per_pixel <= 8)
        return rgb;
    auto cut = [](uint32_t c, uint32_t len) { return len >= 8 ? c : (c >> (8 - len)) << (8 - len); };
    return cut((rgb >> 16) & 0xFF, m.red.length) << 16 | cut((rgb >> 8) & 0xFF, m.green.length) << 8 |
           cut(rgb & 0xFF, m.blue.length);
}

// The colour the device shows at pixel (x, y) of a w x h image centred in
// its mode: through the colour map on palette and planar modes, through the
// channel layout otherwise.
inline uint32_t device_shows(TestDev &dev, int w, int h, int x, int y)
{
    fb_var_screeninfo m = dev.mode();
    fb_fix_screeninfo f = dev.fix();
    TestDevState st = dev.state();
    uint32_t oy = (m.yres - static_cast<uint32_t>(h)) / 2 + static_cast<uint32_t>(y), index, value = 0;
    if (m.bits_per_pixel == 4) {
        uint32_t ox = (m.xres - static_cast<uint32_t>(w)) / 16 * 8 + static_cast<uint32_t>(x);
        index = static_cast<uint32_t>(dev.planar_pixel(static_cast<int>(ox), static_cast<int>(oy)));
    } else {
        uint32_t bytes = (m.bits_per_pixel + 7) / 8;
        uint32_t ox = (m.xres - static_cast<uint32_t>(w)) / 2 + static_cast<uint32_t>(x);
        std::memcpy(&value, dev.memory() + oy * f.line_length + ox * bytes, bytes);
        index = value & 0xFF;
    }
    if (m.bits_per_pixel <= 8)
        return (st.cmap[0][index] >> 8) << 16 | (st.cmap[1][index] >> 8) << 8 | (st.cmap[2][index] >> 8);
    auto channel = [&](const fb_bitfield &b) { return (((value >> b.offset) & ((1u << b.length) - 1)) << (8 - b.length)) & 0xFF; };
    return channel(m.red) << 16 | channel(m.green) << 8 | channel(m.blue);
}

class ConsoleChild {
public:
    pid_t pid = -1;
    std::string reports;  // lines the child reported
    std::string output;   // what it wrote on the terminal

    ConsoleChild() = default;
    ConsoleChild(const ConsoleChild &) = delete;
    ConsoleChild &operator=(const ConsoleChild &) = delete;
    ~ConsoleChild()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (int fd : {master_, slave_, to_child_[0], to_child_[1], from_child_[0], from_child_[1]})
            if (fd >= 0)
                close(fd);
    }

    // Forks. The child starts the terminal layer on the pseudo-terminal,
    // installs `dev` with the terminal adopted, runs `body` and ends the
    // process the program's way (rk_End) with its result.
    bool start(TestDev &dev, const std::function<int(ConsoleChild &)> &body)
    {
        winsize ws{25, 80, 0, 0};
        if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0 || pipe(to_child_) != 0 || pipe(from_child_) != 0)
            return false;
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            close(master_);
            close(to_child_[1]);
            close(from_child_[0]);
            setsid();
            if (ioctl(slave_, TIOCSCTTY, 0) != 0)
                _exit(125);
            for (int fd = 0; fd < 3; ++fd)
                dup2(slave_, fd);
            close(slave_);
            for (int sig = 1; sig < NSIG; ++sig)
                signal(sig, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            setenv("TERM", "linux", 1);
            unsetenv("DISPLAY");
            // The runtime started without a terminal in this process: start
            // its terminal layer again on this one.
            rk_hInit();
            dev.install();
            dev.adopt_terminal(__rk_con.tty_fd);
            rk_End(__rk_con.console_kind == RK_CON_LINUX ? body(*this) : 124);
        }
        close(slave_);
        slave_ = -1;
        close(to_child_[0]);
        close(from_child_[1]);
        to_child_[0] = from_child_[1] = -1;
        return true;
    }

    // Child side: a line to the test; a failed check as a "FAIL" line.
    void report(const std::string &line)
    {
        std::string l = line + "\n";
        ssize_t n = write(from_child_[1], l.data(), l.size());
        (void)n;
    }
    void check(bool ok, const std::string &what)
    {
        if (!ok)
            report("FAIL " + what);
    }
    // Child side: waits for the test's go.
    bool wait_go(int ms = 30000)
    {
        pollfd p{to_child_[0], POLLIN, 0};
        char c;
        return poll(&p, 1, ms) == 1 && read(to_child_[0], &c, 1) == 1;
    }

    // Test side: waits for a report line beginning with `prefix` (true) while
    // the terminal's output is drained.
    bool wait_report(const std::string &prefix, int ms = 30000)
    {
        for (int waited = 0;; waited += 10) {
            for (std::size_t at = 0; (at = reports.find(prefix, at)) != std::string::npos; ++at)
                if ((at == 0 || reports[at - 1] == '\n') && reports.find('\n', at) != std::string::npos)
                    return true;
            if (waited >= ms)
                return false;
            pump(10);
        }
    }
    void go()
    {
        char c = 'g';
        ssize_t n = write(to_child_[1], &c, 1);
        (void)n;
    }
    // Waits for the child to end; its wait status, or -1 after `ms`. Every
    // "FAIL" line it reported becomes a test failure.
    int finish(int ms = 30000)
    {
        int status = -1;
        for (int waited = 0; waited < ms; waited += 10) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            pump(10);
        }
        pump(0);
        for (std::size_t at = 0; (at = reports.find("FAIL ", at)) != std::string::npos; ++at)
            ADD_FAILURE() << reports.substr(at, reports.find('\n', at) - at);
        return pid == -1 ? status : -1;
    }

private:
    int master_ = -1, slave_ = -1;
    int to_child_[2] = {-1, -1}, from_child_[2] = {-1, -1};

    void pump(int ms)
    {
        pollfd p[2] = {{master_, POLLIN, 0}, {from_child_[0], POLLIN, 0}};
        if (poll(p, 2, ms) <= 0)
            return;
        char buf[4096];
        if (!((p[0].revents | p[1].revents) & POLLIN)) {
            usleep(static_cast<useconds_t>(ms) * 1000);  // both ends hung up
            return;
        }
        if (p[0].revents & POLLIN) {
            ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) {
                output.append(buf, static_cast<std::size_t>(n));
                // The terminal layer asks where the cursor is.
                if (std::string(buf, static_cast<std::size_t>(n)).find("\x1b[6n") != std::string::npos) {
                    ssize_t k = write(master_, "\x1b[1;1R", 6);
                    (void)k;
                }
            }
        }
        if (p[1].revents & POLLIN) {
            ssize_t n = read(from_child_[0], buf, sizeof buf);
            if (n > 0)
                reports.append(buf, static_cast<std::size_t>(n));
        }
    }
};

class FBDevTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("RIVEZ");
        unsetenv("RIVEZ_FRAMEBUFFER");
    }
};
