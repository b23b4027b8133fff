#include "gfx/drivers/conkbd.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/kd.h>
#include <linux/keyboard.h>
#include <linux/vt.h>
#include <termios.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include "gfx/drivers/x11.h"
#include "gfx/drivers/x11_probe.h"
#include "rt/dynload.h"
#include "rt/sysdev.h"

const uint8_t kernel_to_scancode[128] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,  15,  // 0
    16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  // 16
    32,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  // 32
    48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  // 48
    64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  12,  75,  0,   77,  78,  79,  // 64
    80,  81,  11,  83,  0,   0,   43,  87,  88,  0,   0,   0,   0,   0,   0,   0,   // 80
    28,  29,  53,  0,   100, 0,   71,  72,  73,  75,  77,  79,  80,  81,  82,  83,  // 96
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   91,  92,  93,  // 112
};

const uint8_t pad_numlock_ascii[17] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                                       '9', '+', '-', '*', '/', '\r', ',', '.'};
const uint8_t pad_ascii[17] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '+', '-', '*', '/', '\r', 0, 0};

namespace {

enum class Mode { off, console, xterm };

// The X library's entry points, loaded by name: the five the keyboard needs,
// then the ones the focus tracking needs.
struct XlibFns {
    Display *(*OpenDisplay)(const char *name);
    int (*CloseDisplay)(Display *d);
    int (*QueryKeymap)(Display *d, char keys[32]);
    int (*DisplayKeycodes)(Display *d, int *min, int *max);
    KeySym (*KeycodeToKeysym)(Display *d, KeyCode code, int index);
    int (*GetInputFocus)(Display *d, Window *focus, int *revert);
    Status (*QueryTree)(Display *d, Window w, Window *root, Window *parent, Window **children, unsigned *n);
    int (*Free)(void *data);
    XErrorHandler (*SetErrorHandler)(XErrorHandler handler);
};
constexpr const char *xlib_names[] = {"XOpenDisplay",      "XCloseDisplay", "XQueryKeymap",
                                      "XDisplayKeycodes",  "XKeycodeToKeysym", nullptr};
constexpr int xlib_required = 5;
constexpr const char *xlib_focus_names[] = {"XGetInputFocus", "XQueryTree", "XFree", "XSetErrorHandler"};
constexpr int xlib_focus_count = 4;
static_assert(sizeof(XlibFns) == (xlib_required + xlib_focus_count) * sizeof(void *));
// The development link name first; the run-time name is all a system without
// the development files has.
constexpr const char *xlib_paths[] = {"libX11.so", "libX11.so.6"};

constexpr int ring_size = 16;
constexpr int max_chain = 32;
constexpr long switch_poll_us = 50'000;
constexpr int switch_start_polls = 40;  // 2 s for the other console to come up

// The component's state.
struct ConsoleKeyboard {
    Mode mode = Mode::off;
    int key_fd = -1;
    int key_old_mode = 0;
    termios key_old_term{};
    int key_leds = 0;
    uint8_t key_state[128] = {};
    uint16_t key_buffer[ring_size] = {};
    int key_head = 0, key_tail = 0;
    pid_t main_pid = 0;
    int (*old_getch)() = nullptr;
    void (*gfx_save)() = nullptr;
    void (*gfx_restore)() = nullptr;
    void (*gfx_key_handler)(int code) = nullptr;
    // Changes whenever the component is started or stopped or the driver's
    // hooks change: a console switch waiting outside the mutex sees it.
    unsigned generation = 0;
    // Bytes still to come of a key code above 127 (sent as three bytes).
    int long_code_left = 0;

    // X-terminal mode.
    uint8_t scancode[256] = {};
    void *xlib = nullptr;
    XlibFns X{};
    Display *display = nullptr;
    // The display did not answer once: it is not asked again, since every
    // key query would wait for it anew.
    bool display_silent = false;
    // The terminal's window and its ancestors up to the root: the focus on
    // any of them is the terminal's. Unknown: always taken as focused.
    Window term_chain[max_chain] = {};
    int term_chain_len = 0;
    bool term_known = false;
};
ConsoleKeyboard kbd;

// What the fatal-signal path needs, readable without the console mutex.
std::atomic<int> sig_key_fd{-1};
std::atomic<bool> sig_gfx{false};
int sig_old_mode;
termios sig_old_term;

inline constexpr int LED_BIT_SCROLL = 1, LED_BIT_NUM = 2, LED_BIT_CAPS = 4;
inline constexpr int SC_BACKSPACE = 14, SC_ENTER = 28, SC_CONTROL = 29, SC_LSHIFT = 42, SC_C = 46,
                     SC_RSHIFT = 54, SC_ALT = 56, SC_CAPS = 58, SC_NUM = 69, SC_SCROLL = 70, SC_ALTGR = 100;

void pause_us(long us)
{
    timespec ts{us / 1'000'000, (us % 1'000'000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void ring_put(int code)
{
    kbd.key_buffer[kbd.key_tail] = static_cast<uint16_t>(code);
    kbd.key_tail = (kbd.key_tail + 1) % ring_size;
    if (kbd.key_tail == kbd.key_head)
        kbd.key_head = (kbd.key_head + 1) % ring_size;
}

// ---- translation through the kernel keymap ---------------------------------

struct KeyLookup {
    int s;          // scancode
    int e;          // low byte of the keymap value
    bool pressed;
    bool console;   // the keymap names a console for this key
    int switch_to;  // console to switch to, 0 for none
};
using TranslateFn = int (*)(KeyLookup &k);

int tr_none(KeyLookup &)
{
    return 0;
}

int tr_char(KeyLookup &k)
{
    return k.e;
}

int tr_special(KeyLookup &k)
{
    return k.s == SC_ENTER ? '\r' : k.e;
}

int tr_pad(KeyLookup &k)
{
    if (k.e > 16)
        return 0;
    return (kbd.key_leds & LED_BIT_NUM) ? pad_numlock_ascii[k.e] : pad_ascii[k.e];
}

int tr_console(KeyLookup &k)
{
    k.console = true;
    if (k.pressed)
        k.switch_to = k.e + 1;
    return 0;
}

int tr_letter(KeyLookup &k)
{
    return (kbd.key_leds & LED_BIT_CAPS) ? (k.e ^ 0x20) : k.e;
}

// By keymap value type (KT_*).
constexpr TranslateFn translate_by_type[12] = {
    tr_char,    // KT_LATIN
    tr_none,    // KT_FN
    tr_special, // KT_SPEC
    tr_pad,     // KT_PAD
    tr_none,    // KT_DEAD
    tr_console, // KT_CONS
    tr_none,    // KT_CUR
    tr_none,    // KT_SHIFT
    tr_none,    // KT_META
    tr_char,    // KT_ASCII
    tr_none,    // KT_LOCK
    tr_letter,  // KT_LETTER
};

// The keymap table for the modifiers held.
int modifier_table()
{
    const uint8_t *st = kbd.key_state;
    return ((st[SC_LSHIFT] || st[SC_RSHIFT]) ? 1 : 0) + (st[SC_ALTGR] ? 2 : 0) + (st[SC_CONTROL] ? 4 : 0) +
           (st[SC_ALT] ? 8 : 0);
}

int keymap_key(KeyLookup &k)
{
    kbentry e{};
    e.kb_table = static_cast<unsigned char>(modifier_table());
    e.kb_index = static_cast<unsigned char>(k.s);
    if (rk_sys->ioctl(kbd.key_fd, KDGKBENT, &e) != 0)
        return 0;
    const int v = e.kb_value;
    if (v == 0x27F || v >= 0xC00)
        return 0;
    k.e = v & 0xFF;
    return translate_by_type[v >> 8](k);
}

bool is_extended_scancode(int s)
{
    return (s >= 59 && s <= 68) || (s >= 71 && s <= 73) || s == 75 || s == 77 || (s >= 79 && s <= 83);
}

// The keypad keys share their scancodes with the navigation block, but go
// through the keymap, so that Num Lock decides what they type.
bool is_keypad_key(int kernel_code)
{
    return kernel_code >= 71 && kernel_code <= 83;
}

// ---- virtual consoles --------------------------------------------------------

// A console request of a switch, which runs on the background thread: none
// is made once a fatal signal restores the console. Whether it was made and
// succeeded.
bool switch_request(unsigned long request, int value)
{
    if (!rk_hDeviceEnter())
        return false;
    const bool ok = rk_sys->ioctl(kbd.key_fd, request, reinterpret_cast<void *>(static_cast<intptr_t>(value))) == 0;
    rk_hDeviceLeave();
    return ok;
}

bool vt_active(unsigned short *active)
{
    vt_stat st{};
    if (rk_sys->ioctl(kbd.key_fd, VT_GETSTATE, &st) != 0)
        return false;
    *active = st.v_active;
    return true;
}

// Waits a poll period with the console mutex released, so that the program
// can read keys and stop the keyboard meanwhile. False when the component
// was stopped or restarted in between, or the terminal layer is shutting
// down: the switch is then abandoned without touching anything.
bool wait_outside_mutex(unsigned generation)
{
    pthread_mutex_unlock(&__rk_con.mutex);
    pause_us(switch_poll_us);
    pthread_mutex_lock(&__rk_con.mutex);
    return kbd.generation == generation && kbd.mode == Mode::console &&
           std::atomic_ref<int>(__rk_con.console_kind).load() != RK_CON_NONE;
}

// Waits until `vt` is the active console: at most `polls` periods (0: no
// limit). 1 when it is, 0 when the wait gave up or the device does not
// answer, -1 when the switch must be abandoned.
int wait_for_console(unsigned short vt, int polls, unsigned generation)
{
    for (int i = 0; polls == 0 || i < polls; ++i) {
        unsigned short active = 0;
        if (!vt_active(&active))
            return 0;
        if (active == vt)
            return 1;
        if (!wait_outside_mutex(generation))
            return -1;
    }
    return 0;
}

// Switches to console n and blocks until the user comes back. The waits
// poll the console state rather than block in the kernel, and release the
// console mutex, so that shutting down during a switch cannot hang. False
// when the switch was abandoned because the keyboard stopped.
bool switch_console(int n, int s)
{
    unsigned short own = 0;
    if (!vt_active(&own))
        return true;
    if (n == own) {
        kbd.key_state[s] = 0;
        return true;
    }
    const unsigned generation = kbd.generation;
    const bool gfx = __rk_con.gfx_exit && kbd.gfx_save && kbd.gfx_restore;
    if (gfx) {
        kbd.gfx_save();
        switch_request(KDSETMODE, KD_TEXT);
    }
    if (switch_request(VT_ACTIVATE, n)) {
        int r = wait_for_console(static_cast<unsigned short>(n), switch_start_polls, generation);
        if (r == 1)
            r = wait_for_console(own, 0, generation);
        if (r < 0)
            return false;
    }
    if (gfx) {
        switch_request(KDSETMODE, KD_GRAPHICS);
        kbd.gfx_restore();
    }
    std::memset(kbd.key_state, 0, sizeof kbd.key_state);
    return true;
}

// ---- the handlers ------------------------------------------------------------

// One key byte of the medium-raw stream. False when a console switch was
// abandoned: the rest of the batch is dropped.
bool handle_key_byte(uint8_t b, bool *interrupt)
{
    const bool released = (b & 0x80) != 0;
    const int kernel_code = b & 0x7F;
    const int s = kernel_to_scancode[kernel_code];
    const bool was_held = kbd.key_state[s] != 0;
    kbd.key_state[s] = released ? 0 : 128;

    int key = 0;
    KeyLookup k{s, 0, !released, false, 0};
    if (is_extended_scancode(s) && !is_keypad_key(kernel_code)) {
        // The keymap still decides whether the key, with the modifiers
        // held, switches consoles (Alt+F1 and the like); then it types
        // nothing.
        keymap_key(k);
        key = k.console ? 0 : 0x100 + s;
    } else if (s == SC_BACKSPACE) {
        key = 8;
    } else {
        key = keymap_key(k);
    }
    // Lock keys toggle on a fresh press; the kernel repeats held keys.
    if (!released && !was_held) {
        if (s == SC_CAPS)
            kbd.key_leds ^= LED_BIT_CAPS;
        else if (s == SC_NUM)
            kbd.key_leds ^= LED_BIT_NUM;
        else if (s == SC_SCROLL)
            kbd.key_leds ^= LED_BIT_SCROLL;
    }
    if (k.switch_to && !switch_console(k.switch_to, s))
        return false;
    if (!released && key)
        ring_put(key);
    if (!released && s == SC_C && kbd.key_state[SC_CONTROL])
        *interrupt = true;
    if (kbd.gfx_key_handler) {
        const int code = (key << 16) | s;
        kbd.gfx_key_handler(released ? code : code | (was_held ? 0x180 : 0x80));
    }
    return true;
}

// Slot 20 on a Linux console: background thread, console mutex held once.
void keyboard_console_handler()
{
    if (kbd.mode != Mode::console)
        return;
    uint8_t buf[128];
    const ssize_t n = rk_sys->read(kbd.key_fd, buf, sizeof buf);
    if (n <= 0)
        return;
    bool interrupt = false;
    for (ssize_t i = 0; i < n; ++i) {
        const uint8_t b = buf[i];
        // Key codes above 127 come as a zero code and two more bytes; they
        // have no scancode and must not be read as keys of their own.
        if (kbd.long_code_left > 0) {
            --kbd.long_code_left;
            continue;
        }
        if ((b & 0x7F) == 0) {
            kbd.long_code_left = 2;
            continue;
        }
        if (!handle_key_byte(b, &interrupt))
            return;
    }
    if (interrupt || (kbd.key_state[SC_C] && kbd.key_state[SC_CONTROL]))
        kill(kbd.main_pid, SIGINT);
}

// Slot 17 on a Linux console.
int keyboard_console_getch()
{
    pthread_mutex_lock(&__rk_con.mutex);
    int code = -1;
    if (kbd.key_head != kbd.key_tail) {
        code = kbd.key_buffer[kbd.key_head];
        kbd.key_head = (kbd.key_head + 1) % ring_size;
    }
    pthread_mutex_unlock(&__rk_con.mutex);
    return code;
}

bool terminal_has_focus()
{
    if (!kbd.term_known)
        return true;
    Window focus = None;
    int revert = 0;
    kbd.X.GetInputFocus(kbd.display, &focus, &revert);
    if (focus == PointerRoot)
        return true;
    for (int i = 0; i < kbd.term_chain_len; ++i)
        if (kbd.term_chain[i] == focus)
            return true;
    return false;
}

// Slot 20 on any other terminal. Without the focus no key counts as held,
// so none stays down while the user types elsewhere.
void keyboard_x11_handler()
{
    if (kbd.mode != Mode::xterm)
        return;
    std::memset(kbd.key_state, 0, sizeof kbd.key_state);
    if (!terminal_has_focus())
        return;
    char keys[32] = {};
    kbd.X.QueryKeymap(kbd.display, keys);
    for (int k = 0; k < 256; ++k)
        if (keys[k >> 3] & (1 << (k & 7)))
            kbd.key_state[kbd.scancode[k]] = 1;
}

// ---- start and stop ----------------------------------------------------------

void signal_restore()
{
    const int fd = sig_key_fd.load();
    if (fd < 0)
        return;
    if (sig_gfx.load())
        rk_sys->ioctl(fd, KDSETMODE, reinterpret_cast<void *>(KD_TEXT));
    rk_sys->ioctl(fd, KDSKBMODE, reinterpret_cast<void *>(static_cast<intptr_t>(sig_old_mode)));
    rk_sys->tcsetattr(fd, TCSANOW, &sig_old_term);
}

int console_init()
{
    kbd.key_fd = rk_sys->dup(__rk_con.tty_fd);
    if (kbd.key_fd < 0)
        return -1;
    // The fatal-signal restore is armed with what was found before anything
    // changes, so that a signal at any step leaves the keyboard as it was.
    bool armed = false;
    if (rk_sys->ioctl(kbd.key_fd, KDGKBMODE, &kbd.key_old_mode) == 0 &&
        rk_sys->tcgetattr(kbd.key_fd, &kbd.key_old_term) == 0) {
        sig_old_mode = kbd.key_old_mode;
        sig_old_term = kbd.key_old_term;
        sig_key_fd.store(kbd.key_fd);
        armed = rk_hAddSignalRestore(signal_restore) == 0;
        termios raw = kbd.key_old_term;
        raw.c_iflag = 0;
        raw.c_oflag = 0;
        raw.c_lflag = 0;
        raw.c_cflag = (raw.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS8;
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        if (armed && rk_sys->tcsetattr(kbd.key_fd, TCSANOW, &raw) == 0 &&
            rk_sys->ioctl(kbd.key_fd, KDSKBMODE, reinterpret_cast<void *>(K_MEDIUMRAW)) == 0) {
            kbd.mode = Mode::console;
            __rk_con.kbd_poll = keyboard_console_handler;
            __rk_con.getch = keyboard_console_getch;
            kbd.key_head = kbd.key_tail = 0;
            kbd.long_code_left = 0;
            char leds = 0;
            kbd.key_leds = rk_sys->ioctl(kbd.key_fd, KDGETLED, &leds) == 0 ? leds : 0;
            return 0;
        }
    }
    // The terminal is left as it was found, then the restore disarmed.
    if (armed)
        rk_sys->tcsetattr(kbd.key_fd, TCSANOW, &kbd.key_old_term);
    sig_key_fd.store(-1);
    rk_hRemoveSignalRestore(signal_restore);
    rk_sys->close(kbd.key_fd);
    kbd.key_fd = -1;
    return -1;
}

Display *error_display;
bool x_error;
XErrorHandler prev_error_handler;

// Errors on the keyboard's own connection (a stale window id in WINDOWID)
// are noted; all others go where they went before.
int on_x_error(Display *d, XErrorEvent *e)
{
    if (d == error_display) {
        x_error = true;
        return 0;
    }
    return prev_error_handler ? prev_error_handler(d, e) : 0;
}

// The terminal's window from WINDOWID and its ancestors, once at start.
void find_terminal_window()
{
    kbd.term_known = false;
    kbd.term_chain_len = 0;
    const char *id = std::getenv("WINDOWID");
    if (!id || !*id)
        return;
    char *end = nullptr;
    errno = 0;
    const unsigned long w = std::strtoul(id, &end, 0);
    if (errno || *end || w == 0)
        return;
    error_display = kbd.display;
    x_error = false;
    prev_error_handler = kbd.X.SetErrorHandler(on_x_error);
    Window cur = w;
    while (kbd.term_chain_len < max_chain) {
        kbd.term_chain[kbd.term_chain_len++] = cur;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        const Status ok = kbd.X.QueryTree(kbd.display, cur, &root, &parent, &children, &count);
        if (children)
            kbd.X.Free(children);
        if (!ok || x_error)
            break;
        if (parent == 0 || parent == root) {
            kbd.term_known = true;
            break;
        }
        cur = parent;
    }
    kbd.X.SetErrorHandler(prev_error_handler);
    error_display = nullptr;
    if (!kbd.term_known)
        kbd.term_chain_len = 0;
}

void xterm_close()
{
    if (kbd.display)
        kbd.X.CloseDisplay(kbd.display);
    kbd.display = nullptr;
    rk_hDynUnload(&kbd.xlib);
    kbd.term_known = false;
    kbd.term_chain_len = 0;
}

int xterm_init()
{
    if (kbd.display_silent)
        return -1;
    void *fns[xlib_required + xlib_focus_count] = {};
    for (const char *path : xlib_paths) {
        kbd.xlib = rk_hDynLoad(path, xlib_names, fns);
        if (kbd.xlib)
            break;
    }
    if (!kbd.xlib)
        return -1;
    if (rk_hDynLoadAlso(kbd.xlib, xlib_focus_names, fns + xlib_required, xlib_focus_count) != 0) {
        rk_hDynUnload(&kbd.xlib);
        return -1;
    }
    std::memcpy(&kbd.X, fns, sizeof kbd.X);
    kbd.display_silent = rk_hX11CheckDisplay() != 0;
    kbd.display = kbd.display_silent ? nullptr : kbd.X.OpenDisplay(nullptr);
    if (!kbd.display) {
        xterm_close();
        return -1;
    }
    // The keymap exactly as the X11 driver builds its own.
    int min_kc = 0, max_kc = 0;
    kbd.X.DisplayKeycodes(kbd.display, &min_kc, &max_kc);
    if (min_kc < 0)
        min_kc = 0;
    if (max_kc > 255)
        max_kc = 255;
    std::memset(kbd.scancode, 0, sizeof kbd.scancode);
    for (int kc = min_kc; kc <= max_kc; ++kc) {
        const KeySym sym = kbd.X.KeycodeToKeysym(kbd.display, static_cast<KeyCode>(kc), 0);
        if (sym == NoSymbol)
            continue;
        for (const auto *row = rk_keysym_to_scancode; row[0][1]; ++row)
            if (row[0][0] == sym) {
                kbd.scancode[kc] = static_cast<uint8_t>(row[0][1]);
                break;
            }
    }
    find_terminal_window();
    kbd.mode = Mode::xterm;
    __rk_con.kbd_poll = keyboard_x11_handler;
    return 0;
}

void keyboard_exit();

// Slot 18. The console mutex is held.
int keyboard_init()
{
    if (kbd.mode != Mode::off)
        return 0;
    kbd.main_pid = getpid();
    kbd.old_getch = __rk_con.getch;
    std::memset(kbd.key_state, 0, sizeof kbd.key_state);
    const int kind = std::atomic_ref<int>(__rk_con.console_kind).load();
    if (kind == RK_CON_NONE)
        return -1;
    if ((kind == RK_CON_LINUX ? console_init() : xterm_init()) != 0)
        return -1;
    ++kbd.generation;
    __rk_con.kbd_init = keyboard_init;
    __rk_con.kbd_exit = keyboard_exit;
    return 0;
}

// Slot 19. The console mutex is held.
void keyboard_exit()
{
    if (kbd.mode == Mode::console) {
        // Restored first, then disarmed: a fatal signal in between only
        // restores the same again.
        rk_sys->ioctl(kbd.key_fd, KDSKBMODE, reinterpret_cast<void *>(static_cast<intptr_t>(kbd.key_old_mode)));
        rk_sys->tcsetattr(kbd.key_fd, TCSANOW, &kbd.key_old_term);
        sig_key_fd.store(-1);
        rk_hRemoveSignalRestore(signal_restore);
        rk_sys->close(kbd.key_fd);
        kbd.key_fd = -1;
    } else if (kbd.mode == Mode::xterm) {
        xterm_close();
    }
    if (kbd.mode != Mode::off)
        __rk_con.getch = kbd.old_getch;
    kbd.mode = Mode::off;
    ++kbd.generation;
    std::memset(kbd.key_state, 0, sizeof kbd.key_state);
    __rk_con.kbd_exit = nullptr;
    __rk_con.kbd_poll = nullptr;
}

// The graphics driver's side, called by rk_hConsoleGfxMode under the mutex.
int gfx_start(void (*save)(), void (*restore)(), void (*key_handler)(int code))
{
    if (keyboard_init() != 0)
        return -1;
    kbd.gfx_save = save;
    kbd.gfx_restore = restore;
    kbd.gfx_key_handler = key_handler;
    sig_gfx.store(true);
    ++kbd.generation;
    return 0;
}

void gfx_stop()
{
    kbd.gfx_save = nullptr;
    kbd.gfx_restore = nullptr;
    kbd.gfx_key_handler = nullptr;
    sig_gfx.store(false);
    keyboard_exit();
}

}  // namespace

const RkConsoleKeyboardOps rk_console_keyboard = {gfx_start, gfx_stop};

int rk_ConsoleMultikey(int scancode)
{
    if (std::atomic_ref<int>(__rk_con.console_kind).load() == RK_CON_NONE)
        return 0;
    pthread_mutex_lock(&__rk_con.mutex);
    bool started = false;
    if (!__rk_con.kbd_poll) {
        if (keyboard_init() != 0) {
            pthread_mutex_unlock(&__rk_con.mutex);
            return 0;
        }
        started = true;
    }
    pthread_mutex_unlock(&__rk_con.mutex);
    // Give the background thread a first poll.
    if (started)
        pause_us(50'000);
    pthread_mutex_lock(&__rk_con.mutex);
    const int held = kbd.key_state[scancode & 127] ? -1 : 0;
    pthread_mutex_unlock(&__rk_con.mutex);
    return held;
}
