#include "rt/term.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/kd.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termcap.h>
#include <unistd.h>

#include "rt/rt.h"
#include "rt/sysdev.h"

RkConsole __rk_con;
int __rk_is_inicnt;

// Capability names of the terminal database, by code.
static constexpr const char *cap_names[RK_TERM_CAPS] = {
    "cm", "ho", "cs", "cl", "ce", "WS", "bl", "AF", "AB", "me", "md", "SF", "ve", "vi", "dc", "ks", "ke",
};

static constexpr const char *fixed_seq[] = {
    "\x1b(U",                  // 100
    "\x1b(B",                  // 101
    "\x1b[6n",                 // 102
    "\x1b[18t",                // 103
    "\x1b[?1000h\x1b[?1003h",  // 104
    "\x1b[?1003l\x1b[?1000l",  // 105
    "\x1b[H\x1b[J\x1b[0m",     // 106
};

// Fatal signals: abort, floating-point error, illegal instruction,
// segmentation fault, termination, interrupt, quit; and hang-up, so that a
// terminal that is closed (or a SIGHUP sent by hand) still gets its settings
// back.
static constexpr int fatal_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGTERM, SIGINT, SIGQUIT, SIGHUP};

// How long a terminal gets to answer a query.
static constexpr int answer_timeout_ms = 200;
static constexpr long bg_period_ns = 30'000'000;

// Copies of the capability strings; the database's own storage may move on a
// later lookup.
static char cap_area[2048];

static struct sigaction old_sighandler[NSIG];
static bool fatal_handlers_installed;
static struct sigaction old_winch;
static bool winch_installed;

// Set by the size-change signal, handled by the background thread (a
// lock-free atomic: safe in a signal handler and across threads).
static std::atomic<int> resize_pending;
static_assert(std::atomic<int>::is_always_lock_free);
static bool thread_running;

// What the fatal-signal path writes, expanded at start-up so that the
// handler needs nothing but write(2): back to the default character mapping
// on a Linux console, attributes off, normal cursor, keypad local.
static char reset_seq[256];
static std::size_t reset_len;

static constexpr int max_signal_restore = 8;
static std::atomic<void (*)()> signal_restore[max_signal_restore];

// Device requests of other threads (rk_hDeviceEnter): stopped once a fatal
// signal restores the devices, and waited for, but not for longer than
// this: a request that does not come back (or one the signal interrupted
// on this very thread) is not waited for.
static std::atomic<bool> devices_halted;
static std::atomic<int> device_requests;
static constexpr int device_wait_ms = 1000;

static const RkConsoleKeyboardOps *keyboard_ops;
static bool gfx_keyboard_active;
static bool (*view_is_partial)();

static int con_kind()
{
    return std::atomic_ref<int>(__rk_con.console_kind).load(std::memory_order_acquire);
}

static void set_con_kind(int kind)
{
    std::atomic_ref<int>(__rk_con.console_kind).store(kind, std::memory_order_release);
}

static void lock()
{
    pthread_mutex_lock(&__rk_con.mutex);
}

static void unlock()
{
    pthread_mutex_unlock(&__rk_con.mutex);
}

// Writes all of buf, retrying on interruption. Async-signal-safe.
static void write_all(int fd, const char *buf, std::size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, buf, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        buf += n;
        len -= static_cast<std::size_t>(n);
    }
}

static long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// Reads a terminal's answer from standard input until `last` arrives or the
// timeout runs out. Returns the number of bytes read (0 on timeout).
static int read_answer(char *buf, int size, char last)
{
    int len = 0;
    long deadline = now_ms() + answer_timeout_ms;
    while (len < size - 1) {
        long left = deadline - now_ms();
        if (left <= 0)
            break;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || !(p.revents & POLLIN))
            break;
        ssize_t n = read(STDIN_FILENO, buf + len, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        if (buf[len++] == last)
            break;
    }
    buf[len] = '\0';
    return len;
}

// A decimal number of 1..5 digits at *p (0..99999), moved past; -1 if none.
static int parse_number(const char *&p)
{
    int value = 0, digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (++digits > 5)
            return -1;
        else
            value = value * 10 + (*p - '0');
    return digits ? value : -1;
}

// Parses "<prefix><a>;<b><last>" from the last escape of an answer. The
// numbers come from whatever answers on the terminal, so they are read
// digit by digit with a bound instead of through a conversion that
// overflows.
static bool parse_answer(const char *answer, const char *prefix, char last, int *a, int *b)
{
    const char *p = std::strrchr(answer, '\x1b');
    if (!p || std::strncmp(p, prefix, std::strlen(prefix)) != 0)
        return false;
    p += std::strlen(prefix);
    const int first = parse_number(p);
    if (first < 0 || *p++ != ';')
        return false;
    const int second = parse_number(p);
    if (second < 0 || *p != last)
        return false;
    *a = first;
    *b = second;
    return true;
}

// Output of the capability library's padding routine.
static int put_out(int c)
{
    return std::fputc(c, __rk_con.out_file);
}

static int put_reset(int c)
{
    if (reset_len < sizeof reset_seq)
        reset_seq[reset_len++] = static_cast<char>(c);
    return c;
}

static void expand_reset_sequences()
{
    reset_len = 0;
    if (__rk_con.console_kind == RK_CON_LINUX)
        for (const char *s = fixed_seq[RK_TERM_LINUX_DEFAULT - 100]; *s; ++s)
            put_reset(*s);
    for (int code : {RK_TERM_ME, RK_TERM_VE, RK_TERM_KE})
        if (__rk_con.cap[code])
            tputs(__rk_con.cap[code], 1, put_reset);
}

int rk_hTermOut(int code, int a, int b)
{
    if (con_kind() == RK_CON_NONE)
        return -1;
    FILE *out = __rk_con.out_file;
    std::fflush(out);
    if (code == RK_TERM_ATTR) {
        std::fprintf(out, "\x1b[%dm", a);
    } else if (code >= RK_TERM_LINUX_DIRECT && code <= RK_TERM_RESET_SCREEN) {
        std::fputs(fixed_seq[code - RK_TERM_LINUX_DIRECT], out);
    } else if (code >= 0 && code < RK_TERM_CAPS) {
        if (!__rk_con.cap[code])
            return -1;
        const char *s = tgoto(__rk_con.cap[code], a, b);
        if (!s || tputs(s, 1, put_out) < 0)
            return -1;
    } else {
        return -1;
    }
    std::fflush(out);
    return 0;
}

static int default_getch()
{
    unsigned char c;
    ssize_t n = read(__rk_con.tty_fd, &c, 1);
    return n == 1 ? c : -1;
}

// Undoes what rk_hInitConsole did, in reverse. Non-blocking goes first so
// that nothing later can leave the shell's terminal non-blocking.
static void restore_terminal()
{
    fcntl(__rk_con.tty_fd, F_SETFL, __rk_con.old_fl);
    tcsetattr(__rk_con.out_fd, TCSADRAIN, &__rk_con.old_out_term);
    tcsetattr(__rk_con.tty_fd, TCSADRAIN, &__rk_con.old_tty_term);
}

static void close_tty()
{
    if (__rk_con.tty_file)
        std::fclose(__rk_con.tty_file);
    __rk_con.tty_file = nullptr;
    __rk_con.tty_fd = -1;
}

int rk_hInitConsole()
{
    RkConsole &c = __rk_con;
    if (c.console_kind == RK_CON_NONE)
        return -1;
    c.out_file = stdout;
    c.out_fd = STDOUT_FILENO;
    if (!isatty(STDOUT_FILENO) || !isatty(STDIN_FILENO))
        return -1;
    c.tty_file = std::fopen("/dev/tty", "r+be");
    if (!c.tty_file)
        return -1;
    c.tty_fd = fileno(c.tty_file);
    // Both settings to restore are read before anything changes: standard
    // output and "/dev/tty" are usually the same terminal, and restoring a
    // reading taken after the first change would keep that change.
    if (tcgetpgrp(c.out_fd) != getpgrp() || tcgetattr(c.out_fd, &c.old_out_term) != 0 ||
        tcgetattr(c.tty_fd, &c.old_tty_term) != 0) {
        close_tty();
        return -1;
    }
    c.old_fl = fcntl(c.tty_fd, F_GETFL);
    if (c.old_fl < 0) {
        close_tty();
        return -1;
    }
    termios out = c.old_out_term;
    out.c_oflag |= OPOST;
    termios raw;
    if (tcsetattr(c.out_fd, TCSADRAIN, &out) != 0 || tcgetattr(c.tty_fd, &raw) != 0) {
        restore_terminal();
        close_tty();
        return -1;
    }
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_iflag |= BRKINT;
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | IXON | IXOFF);
    c.new_fl = c.old_fl | O_NONBLOCK;
    if (tcsetattr(c.tty_fd, TCSADRAIN, &raw) != 0 || fcntl(c.tty_fd, F_SETFL, c.new_fl) != 0) {
        restore_terminal();
        close_tty();
        return -1;
    }
    if (c.console_kind == RK_CON_LINUX)
        rk_hTermOut(RK_TERM_LINUX_DIRECT, 0, 0);
    rk_hTermOut(RK_TERM_KS, 0, 0);
    lock();
    if (c.kbd_init)
        c.kbd_init();
    if (c.mouse_init)
        c.mouse_init();
    unlock();
    return 0;
}

void rk_hExitConsole()
{
    RkConsole &c = __rk_con;
    if (con_kind() == RK_CON_NONE || c.tty_fd < 0)
        return;
    fcntl(c.tty_fd, F_SETFL, c.old_fl);
    if (c.gfx_exit)
        c.gfx_exit();
    lock();
    if (c.kbd_exit)
        c.kbd_exit();
    if (c.mouse_exit)
        c.mouse_exit();
    unlock();
    if (view_is_partial && view_is_partial()) {
        rk_hTermOut(RK_TERM_CS, c.rows - 1, 0);
        rk_hTermOut(RK_TERM_CL, 0, 0);
        rk_hTermOut(RK_TERM_HO, 0, 0);
    }
    if (c.console_kind == RK_CON_LINUX)
        rk_hTermOut(RK_TERM_LINUX_DEFAULT, 0, 0);
    rk_hTermOut(RK_TERM_ME, 0, 0);
    rk_hTermOut(RK_TERM_VE, 0, 0);
    rk_hTermOut(RK_TERM_KE, 0, 0);
    restore_terminal();
    close_tty();
}

// Re-reads the terminal size and the cursor position. Runs at start-up and
// in the background thread after a size-change signal.
static void console_resize(int)
{
    RkConsole &c = __rk_con;
    if (con_kind() == RK_CON_NONE)
        return;
    int rows = 0, cols = 0;
    winsize ws{};
    if (ioctl(c.out_fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        rows = ws.ws_row;
        cols = ws.ws_col;
    } else {
        // No size from the driver (a pty nobody sized reports 0 x 0): ask the
        // terminal, and take 80 x 25 when it does not answer sensibly.
        char answer[64];
        rk_hTermOut(RK_TERM_ASK_SIZE, 0, 0);
        read_answer(answer, sizeof answer, 't');
        int r = 0, k = 0;
        if (parse_answer(answer, "\x1b[8;", 't', &r, &k) && r > 0 && k > 0 && r <= 0xFFFF && k <= 0xFFFF) {
            rows = r;
            cols = k;
        } else {
            rows = 25;
            cols = 80;
        }
    }
    std::size_t cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    auto *buf = static_cast<unsigned char *>(std::calloc(cells, 2));

    char answer[64];
    tcflush(STDIN_FILENO, TCIFLUSH);
    rk_hTermOut(RK_TERM_ASK_CURSOR, 0, 0);
    read_answer(answer, sizeof answer, 'R');
    int cy = 0, cx = 0;
    bool have_cursor = parse_answer(answer, "\x1b[", 'R', &cy, &cx) && cy >= 1 && cx >= 1 && cy <= rows && cx <= cols;

    lock();
    if (buf) {
        if (c.char_buf) {
            int keep_rows = rows < c.rows ? rows : c.rows;
            int keep_cols = cols < c.cols ? cols : c.cols;
            std::size_t old_cells = static_cast<std::size_t>(c.rows) * static_cast<std::size_t>(c.cols);
            for (int y = 0; y < keep_rows; ++y) {
                std::size_t from = static_cast<std::size_t>(y) * static_cast<std::size_t>(c.cols);
                std::size_t to = static_cast<std::size_t>(y) * static_cast<std::size_t>(cols);
                std::memcpy(buf + to, c.char_buf + from, static_cast<std::size_t>(keep_cols));
                std::memcpy(buf + cells + to, c.char_buf + old_cells + from, static_cast<std::size_t>(keep_cols));
            }
            std::free(c.char_buf);
        }
        c.char_buf = buf;
        c.attr_buf = buf + cells;
        c.rows = rows;
        c.cols = cols;
    }
    if (have_cursor) {
        c.cur_y = cy;
        c.cur_x = cx;
    }
    unlock();
}

static void note_resize(int)
{
    resize_pending = 1;
}

static void arm_resize_signal()
{
    if (winch_installed)
        return;
    struct sigaction sa{};
    sa.sa_handler = note_resize;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    winch_installed = sigaction(SIGWINCH, &sa, &old_winch) == 0;
}

static void *bg_thread(void *)
{
    // Asynchronous signals go to the program's threads; this one only polls.
    sigset_t block;
    sigfillset(&block);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigdelset(&block, s);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    while (con_kind() != RK_CON_NONE) {
        if (resize_pending.exchange(0))
            console_resize(SIGWINCH);
        lock();
        if (__rk_con.kbd_poll)
            __rk_con.kbd_poll();
        if (__rk_con.mouse_poll)
            __rk_con.mouse_poll();
        unlock();
        timespec ts{0, bg_period_ns};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
    return nullptr;
}

static void signal_handler(int sig)
{
    sigaction(sig, &old_sighandler[sig], nullptr);
    rk_hEnd(1);
    raise(sig);
}

static void install_fatal_handlers()
{
    if (fatal_handlers_installed)
        return;
    fatal_handlers_installed = true;
    struct sigaction sa{};
    sa.sa_handler = signal_handler;
    sigemptyset(&sa.sa_mask);
    for (int s : fatal_signals)
        sigaddset(&sa.sa_mask, s);
    for (int s : fatal_signals) {
        struct sigaction old{};
        if (sigaction(s, nullptr, &old) != 0)
            continue;
        // A signal the program was started with ignored stays ignored:
        // catching it would restore the terminal and then carry on.
        if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN)
            continue;
        old_sighandler[s] = old;
        sigaction(s, &sa, nullptr);
    }
}

// The fatal-signal shutdown: only async-signal-safe calls, no locks, no
// stdio, no joins. The process ends right after it.
static void signal_restore_terminal()
{
    RkConsole &c = __rk_con;
    int saved = errno;
    devices_halted.store(true);
    for (int ms = 0; ms < device_wait_ms && device_requests.load() > 0; ++ms) {
        timespec t{0, 1'000'000};
        nanosleep(&t, nullptr);
    }
    bool console = con_kind() != RK_CON_NONE;
    if (console)
        fcntl(c.tty_fd, F_SETFL, c.old_fl);
    for (auto &slot : signal_restore)
        if (void (*fn)() = slot.load())
            fn();
    if (console) {
        set_con_kind(RK_CON_NONE);
        write_all(c.out_fd, reset_seq, reset_len);
        tcsetattr(c.out_fd, TCSANOW, &c.old_out_term);
        tcsetattr(c.tty_fd, TCSANOW, &c.old_tty_term);
    }
    errno = saved;
}

void rk_unix_hInit()
{
#if defined(__i386__) || defined(__x86_64__)
    // x87: round to nearest, 64-bit mantissa, all exceptions masked.
    unsigned short cw = 0x037F;
    asm volatile("fldcw %0" : : "m"(cw));
#endif
    RkConsole &c = __rk_con;
    std::memset(&c, 0, sizeof c);
    c.out_fd = -1;
    c.tty_fd = -1;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&c.mutex, &attr);
    pthread_mutexattr_destroy(&attr);

    const char *term = std::getenv("TERM");
    termios tio;
    if (!term || tgetent(nullptr, term) != 1 || tcgetattr(STDOUT_FILENO, &tio) != 0 || !tgetflag("am"))
        return;
    char *pc = tgetstr("pc", nullptr);
    PC = pc && pc != reinterpret_cast<char *>(-1) ? pc[0] : 0;
    ospeed = static_cast<decltype(ospeed)>(cfgetospeed(&tio));
    UP = nullptr;
    BC = nullptr;
    std::size_t used = 0;
    for (int i = 0; i < RK_TERM_CAPS; ++i) {
        const char *s = tgetstr(cap_names[i], nullptr);
        if (!s || s == reinterpret_cast<char *>(-1))
            continue;
        std::size_t n = std::strlen(s) + 1;
        if (n > sizeof cap_area - used)
            continue;
        std::memcpy(cap_area + used, s, n);
        c.cap[i] = cap_area + used;
        used += n;
    }
    c.console_kind = (std::strcmp(term, "console") == 0 || std::strncmp(term, "linux", 5) == 0) ? RK_CON_LINUX
                                                                                                  : RK_CON_OTHER;
    c.term_type = strncasecmp(term, "eterm", 5) == 0 ? 2 : std::strncmp(term, "xterm", 5) == 0 ? 1 : 0;
    expand_reset_sequences();
    if (rk_hInitConsole() != 0) {
        c.console_kind = RK_CON_NONE;
        return;
    }
    c.getch = default_getch;
    install_fatal_handlers();
    thread_running = pthread_create(&c.thread, nullptr, bg_thread, nullptr) == 0;
    c.char_buf = nullptr;
    c.text_fg = 7;
    c.text_bg = 0;
    console_resize(SIGWINCH);
    arm_resize_signal();
}

void rk_unix_hEnd()
{
    rk_hExitConsole();
    if (con_kind() != RK_CON_NONE) {
        set_con_kind(RK_CON_NONE);
        if (thread_running)
            pthread_join(__rk_con.thread, nullptr);
        thread_running = false;
    }
    if (winch_installed)
        sigaction(SIGWINCH, &old_winch, nullptr);
    winch_installed = false;
    std::free(__rk_con.char_buf);
    __rk_con.char_buf = nullptr;
    __rk_con.attr_buf = nullptr;
    pthread_mutex_destroy(&__rk_con.mutex);
}

void rk_hInit()
{
    rk_unix_hInit();
}

void rk_hEnd(int from_signal)
{
    if (from_signal)
        signal_restore_terminal();
    else
        rk_unix_hEnd();
}

void rk_hTermSetViewCheck(bool (*partial)())
{
    view_is_partial = partial;
}

int rk_hRequestPortAccess()
{
    __rk_con.has_port_access = rk_sys->ioperm(0, 0x400, 1) == 0 ? 1 : 0;
    return __rk_con.has_port_access ? 0 : -1;
}

void rk_hConsoleSetKeyboard(const RkConsoleKeyboardOps *ops)
{
    lock();
    keyboard_ops = ops;
    unlock();
}

int rk_hConsoleGfxMode(void (*exit_routine)(), void (*save)(), void (*restore)(), void (*key_handler)(int code))
{
    RkConsole &c = __rk_con;
    int result = 0;
    lock();
    if (exit_routine) {
        ConsoleHooks &h = __rk_ctx.hooks;
        ConsoleHooks saved = h;
        c.gfx_exit = exit_routine;
        h.multikey = nullptr;
        h.inkey = nullptr;
        h.getkey = nullptr;
        h.keyhit = nullptr;
        h.sleep = nullptr;
        if (!keyboard_ops || keyboard_ops->start(save, restore, key_handler) != 0) {
            c.gfx_exit = nullptr;
            h = saved;
            result = -1;
        } else {
            gfx_keyboard_active = true;
            rk_sys->ioctl(c.tty_fd, KDSETMODE, reinterpret_cast<void *>(KD_GRAPHICS));
        }
    } else {
        if (gfx_keyboard_active) {
            rk_sys->ioctl(c.tty_fd, KDSETMODE, reinterpret_cast<void *>(KD_TEXT));
            if (keyboard_ops)
                keyboard_ops->stop();
            gfx_keyboard_active = false;
            rk_hTermOut(RK_TERM_RESET_SCREEN, 0, 0);
        }
        c.gfx_exit = nullptr;
    }
    unlock();
    return result;
}

int rk_hAddSignalRestore(void (*fn)())
{
    if (!fn)
        return -1;
    for (auto &slot : signal_restore)
        if (slot.load() == fn)
            return 0;
    for (auto &slot : signal_restore) {
        void (*expected)() = nullptr;
        if (slot.compare_exchange_strong(expected, fn)) {
            install_fatal_handlers();
            return 0;
        }
    }
    return -1;
}

void rk_hRemoveSignalRestore(void (*fn)())
{
    for (auto &slot : signal_restore) {
        void (*expected)() = fn;
        slot.compare_exchange_strong(expected, nullptr);
    }
}

// The count goes up before the flag is read, and the signal path sets the
// flag before it reads the count: a request either sees the flag or is seen
// and waited for.
bool rk_hDeviceEnter()
{
    device_requests.fetch_add(1);
    if (!devices_halted.load())
        return true;
    device_requests.fetch_sub(1);
    return false;
}

void rk_hDeviceLeave()
{
    device_requests.fetch_sub(1);
}

void rk_hRtInit()
{
    if (++__rk_is_inicnt != 1)
        return;
    std::memset(&__rk_ctx, 0, sizeof __rk_ctx);
    rk_hInit();
}

void rk_hRtExit()
{
    if (__rk_is_inicnt <= 0 || --__rk_is_inicnt != 0)
        return;
    std::fflush(nullptr);
    rk_hEnd(0);
}

// The static constructor and destructor. The destructor runs after the exit
// procedures the program's modules registered (the graphics layer's among
// them), so the terminal is restored after the screen has closed. Every
// program that uses the console links this file: the console reads its keys
// through it.
[[gnu::constructor(101), gnu::used]] static void rk_hDoInit()
{
    rk_hRtInit();
}

[[gnu::destructor(101), gnu::used]] static void rk_hDoExit()
{
    rk_hRtExit();
}
