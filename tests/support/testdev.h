// Test support: a framebuffer device, a Linux text console and three mouse
// devices in memory, answering the system calls of rt/sysdev.h. A test builds
// one, installs it in rk_sys and drives the code above it as the kernel
// would: modes accepted or refused, colour maps, vertical blank, keyboard and
// console requests, key bytes and mouse packets, VGA ports.
//
// The device record lives in memory shared across fork(), so a test can run
// the code in a child, kill it, and still read the device state the child
// left behind. The device memory is a memfd, mapped with the driver's mmap.
// Every entry takes the device lock; the lock may be taken again by the same
// thread (a fatal-signal handler restoring the console on a thread that was
// inside a call).
#pragma once
#include <cstddef>
#include <cstdint>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include "rt/sysdev.h"

inline constexpr int TESTDEV_MICE = 3;
// "/dev/input/mice", "/dev/usbmouse", "/dev/psaux".
extern const char *const testdev_mouse_names[TESTDEV_MICE];

struct TestDevMouse {
    bool present;
    bool writable;       // opens read-write; else read-only only
    bool accepts_knock;  // a write is taken whole; else it fails
};

struct TestDevConfig {
    char fb_name[64] = "/dev/fb0";
    bool fb_present = true;
    uint32_t type = FB_TYPE_PACKED_PIXELS;
    uint32_t type_aux = 0;
    uint32_t visual = FB_VISUAL_TRUECOLOR;
    // The mode in force when the device is created (xres, yres, bits per
    // pixel, channel layout, timing).
    fb_var_screeninfo mode{};
    // Bytes of device memory; 0: the initial mode's virtual size.
    uint32_t smem_len = 0;
    // Which modes FBIOPUT_VSCREENINFO takes; null: every mode.
    bool (*accepts)(const fb_var_screeninfo &mode) = nullptr;
    // FBIOGET_VBLANK: flags reported (0: the request fails); a stuck device
    // never moves its line counter nor its blanking bit.
    uint32_t vblank_flags = 0;
    bool vblank_stuck = false;
    TestDevMouse mice[TESTDEV_MICE] = {};
    bool ports_granted = true;  // ioperm answers
    uint16_t own_vt = 1;        // the program's console
    // A request that fails (0: none); mmap of the device may fail too.
    unsigned long failing_request = 0;
    bool mmap_fails = false;
    // SIGTERM at the nth ioctl or terminal-attribute request on a device
    // (0: never), before the request takes effect or right after it.
    int signal_at = 0;
    bool signal_after = false;
    // A mode change takes this long; other requests run meanwhile.
    int mode_set_ms = 0;
};

// The state a program must leave as it found it.
struct TestDevState {
    fb_var_screeninfo mode;
    uint16_t cmap[3][256];
    int kb_mode;
    int kd_mode;
    int leds;
    int active_vt;
    termios term;
    int open_fds;
    int mappings;
};
bool operator==(const TestDevState &a, const TestDevState &b);

// Counters a test can wait on or check.
struct TestDevCounters {
    int mode_sets;      // FBIOPUT_VSCREENINFO that changed the mode
    int mode_tests;     // FBIOPUT_VSCREENINFO with FB_ACTIVATE_TEST, taken or not
    int cmap_puts;
    int vblank_reads;
    int knock_bytes;    // bytes written to mouse devices
    int port_writes;
};

class TestDev {
public:
    static constexpr int kFirstFd = 900;
    static constexpr int kTerminalFd = 899;  // the terminal the console requests go to

    explicit TestDev(const TestDevConfig &config);
    TestDev(const TestDev &) = delete;
    TestDev &operator=(const TestDev &) = delete;
    ~TestDev();  // uninstalls

    // Makes rk_sys point at this device; only one device is installed.
    void install();
    void uninstall();

    // Console requests on the real descriptor fd (a pseudo-terminal the
    // terminal layer opened) and duplicates of it are answered by the device
    // as on its own terminal; everything else on fd goes to the kernel.
    void adopt_terminal(int fd);
    // Queues key bytes on the terminal, mouse bytes on mouse device i.
    void push_keys(const uint8_t *bytes, std::size_t n);
    void push_mouse(int i, const uint8_t *bytes, std::size_t n);
    // Mouse bytes still waiting to be read.
    std::size_t mouse_pending(int i);
    // The user switches consoles (e.g. back to the program's).
    void user_activate(int vt);
    // A keymap entry (table: 0 plain, 1 shift, 2 altgr, 4 control, 8 alt,
    // sums for combinations).
    void set_keymap(int table, int index, uint16_t value);

    TestDevState state();
    TestDevCounters counters();
    fb_var_screeninfo mode();
    fb_fix_screeninfo fix();
    // The device memory as the program's mapping sees it.
    uint8_t *memory() { return memory_; }
    std::size_t memory_size() const { return size_; }
    // Last values written to the VGA graphics controller and sequencer
    // registers (by index), and whether port access was asked for.
    uint8_t gc_reg(int index);
    uint8_t seq_reg(int index);
    bool port_access();
    // 16-colour planar devices: the colour index of pixel (x, y) from the four
    // planes as the VGA sequencer's map mask routed the writes. Bytes the
    // program wrote since the last map-mask change are taken into account.
    int planar_pixel(int x, int y);

    struct Shared;  // the record in shared memory

private:
    Shared *sh_;
    uint8_t *memory_ = nullptr;  // the test's own mapping of the memfd
    std::size_t size_ = 0;
};

// Polls `cond` every millisecond for up to `ms` milliseconds; whether it
// became true.
template <class F> bool testdev_wait(F cond, int ms = 10000)
{
    for (int i = 0; i < ms; ++i) {
        if (cond())
            return true;
        timespec t{0, 1000000};
        nanosleep(&t, nullptr);
    }
    return cond();
}
