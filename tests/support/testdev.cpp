#include "tests/support/testdev.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/keyboard.h>
#include <linux/vt.h>
#include <new>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

const char *const testdev_mouse_names[TESTDEV_MICE] = {"/dev/input/mice", "/dev/usbmouse", "/dev/psaux"};

namespace {

enum class Kind : uint8_t { closed, fb, mouse, terminal };

struct Fd {
    Kind kind;
    uint8_t mouse;   // index of the mouse device
    int accmode;     // O_RDONLY, O_WRONLY or O_RDWR
    pid_t owner;     // the process that opened it
};

struct Ring {
    static constexpr std::size_t kSize = 16384;
    uint8_t data[kSize];
    std::size_t head, tail;  // equal: empty
    std::size_t count() const { return (tail + kSize - head) % kSize; }
    void push(uint8_t b)
    {
        if ((tail + 1) % kSize == head)
            return;
        data[tail] = b;
        tail = (tail + 1) % kSize;
    }
    std::size_t pop(uint8_t *out, std::size_t n)
    {
        std::size_t i = 0;
        for (; i < n && head != tail; ++i) {
            out[i] = data[head];
            head = (head + 1) % kSize;
        }
        return i;
    }
};

struct Mapping {
    void *addr;
    std::size_t len;
    pid_t owner;
};

constexpr int kMaxFds = 64;
constexpr int kMaxMappings = 8;
constexpr uint8_t kPlanarFill = 0xA5;  // unwritten bytes of the planar window

}  // namespace

struct TestDev::Shared {
    std::atomic<long> owner;  // thread id holding the lock, 0 when free
    int depth;
    TestDevConfig config;
    int memfd;
    uint8_t *mem;     // the device memory
    uint8_t *planes;  // four planes of smem_len bytes (planar devices)
    uint32_t smem_len;

    fb_var_screeninfo mode;
    uint16_t cmap[3][256];
    uint32_t vcount, retraces;

    int adopted_fd;  // a real descriptor whose console requests the device answers
    int kb_mode, kd_mode, leds, lights, active_vt;
    termios term;
    uint16_t keymap[16][128];

    Fd fds[kMaxFds];
    Mapping maps[kMaxMappings];
    Ring keys;
    Ring mouse[TESTDEV_MICE];

    bool port_access;
    uint8_t gc_index, seq_index, map_mask;
    uint8_t gc[16], seq[8];
    TestDevCounters counters;
    int requests;  // counted for signal_at
};

static TestDev::Shared *g_dev;

// ---------------------------------------------------------------------------
// The device lock: a thread may take it again (a signal handler running on a
// thread that was inside a call), and it works in a forked child.

static long this_thread()
{
    return syscall(SYS_gettid);
}

static void lock(TestDev::Shared *s)
{
    long me = this_thread();
    if (s->owner.load(std::memory_order_relaxed) == me) {
        ++s->depth;
        return;
    }
    long expected = 0;
    while (!s->owner.compare_exchange_weak(expected, me, std::memory_order_acquire)) {
        // A process that died inside a request (a fatal signal) leaves the
        // lock held: the next caller takes it over.
        int saved = errno;
        if (expected == 0 || kill(static_cast<pid_t>(expected), 0) == 0 || errno != ESRCH)
            expected = 0;
        errno = saved;
        sched_yield();
    }
    s->depth = 1;
}

static void unlock(TestDev::Shared *s)
{
    if (--s->depth == 0)
        s->owner.store(0, std::memory_order_release);
}

namespace {
struct Locked {
    TestDev::Shared *s;
    explicit Locked(TestDev::Shared *sh) : s(sh) { lock(s); }
    ~Locked() { unlock(s); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

// A request on a device descriptor: the configured signal comes before it,
// or after it as the request's scope ends.
struct Counted {
    bool due, after;
    explicit Counted(TestDev::Shared *s) : due(++s->requests == s->config.signal_at), after(s->config.signal_after)
    {
        if (due && !after)
            raise(SIGTERM);
    }
    ~Counted() { if (due && after) raise(SIGTERM); }
};
}  // namespace

static void pause_ms(int ms)
{
    timespec t{0, ms * 1000000L};
    nanosleep(&t, nullptr);
}

// Lets other threads at the device for `ms` in the middle of a request.
static void pause_unlocked(TestDev::Shared *s, int ms)
{
    int depth = s->depth;
    s->depth = 1;
    unlock(s);
    pause_ms(ms);
    lock(s);
    s->depth = depth;
}

// Whether a process is still running (a zombie is not).
static bool alive(pid_t pid)
{
    if (pid <= 0 || kill(pid, 0) != 0)
        return false;
    char path[64], state = 0;
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    if (FILE *f = std::fopen(path, "r")) {
        if (std::fscanf(f, "%*d %*s %c", &state) != 1)
            state = 0;
        std::fclose(f);
    }
    return state != 'Z' && state != 0;
}

static int fail(int err)
{
    errno = err;
    return -1;
}

static Fd terminal{Kind::terminal, 0, O_RDWR, 0};

static Fd *fake_fd(TestDev::Shared *s, int fd)
{
    if (fd == TestDev::kTerminalFd)
        return &terminal;
    if (fd < TestDev::kFirstFd || fd >= TestDev::kFirstFd + kMaxFds)
        return nullptr;
    Fd *f = &s->fds[fd - TestDev::kFirstFd];
    return f->kind == Kind::closed ? nullptr : f;
}

static int new_fd(TestDev::Shared *s, Fd f)
{
    f.owner = getpid();
    for (int i = 0; i < kMaxFds; ++i)
        if (s->fds[i].kind == Kind::closed || !alive(s->fds[i].owner)) {
            s->fds[i] = f;
            return TestDev::kFirstFd + i;
        }
    return fail(EMFILE);
}

static bool is_planar(const TestDev::Shared *s)
{
    return s->config.type == FB_TYPE_VGA_PLANES;
}

static uint32_t line_length(const TestDev::Shared *s)
{
    if (is_planar(s))
        return s->mode.xres_virtual / 8;
    return s->mode.xres_virtual * ((s->mode.bits_per_pixel + 7) / 8);
}

// The VGA routes each write to the planes the map mask selects: every byte of
// the window written since the last mask change goes to those planes and is
// marked unwritten again. (A byte written with the fill value itself is not
// seen; test pictures avoid that value.)
static void planar_commit(TestDev::Shared *s)
{
    if (!is_planar(s))
        return;
    constexpr uint64_t fill_word = 0x0101010101010101ull * kPlanarFill;
    for (uint32_t i = 0; i < s->smem_len; ++i) {
        uint64_t word;
        if (i % 8 == 0 && i + 8 <= s->smem_len && (std::memcpy(&word, s->mem + i, 8), word == fill_word)) {
            i += 7;
            continue;
        }
        uint8_t b = s->mem[i];
        if (b == kPlanarFill)
            continue;
        for (int k = 0; k < 4; ++k)
            if (s->map_mask & (1 << k))
                s->planes[static_cast<std::size_t>(k) * s->smem_len + i] = b;
        s->mem[i] = kPlanarFill;
    }
}

// ---------------------------------------------------------------------------
// Requests of the framebuffer device.

static int fb_get_fix(TestDev::Shared *s, void *arg)
{
    auto *fix = static_cast<fb_fix_screeninfo *>(arg);
    std::memset(fix, 0, sizeof *fix);
    std::strncpy(fix->id, "testdev", sizeof fix->id - 1);
    fix->smem_len = s->smem_len;
    fix->type = s->config.type;
    fix->type_aux = s->config.type_aux;
    uint32_t v = s->config.visual;
    if ((v == FB_VISUAL_TRUECOLOR || v == FB_VISUAL_DIRECTCOLOR) && s->mode.bits_per_pixel <= 8)
        v = FB_VISUAL_PSEUDOCOLOR;
    fix->visual = v;
    fix->line_length = line_length(s);
    return 0;
}

static int fb_get_var(TestDev::Shared *s, void *arg)
{
    *static_cast<fb_var_screeninfo *>(arg) = s->mode;
    return 0;
}

static int fb_put_var(TestDev::Shared *s, void *arg)
{
    auto *var = static_cast<fb_var_screeninfo *>(arg);
    fb_var_screeninfo m = *var;
    if (m.xres == 0 || m.yres == 0 || m.bits_per_pixel == 0)
        return fail(EINVAL);
    if (m.xres_virtual < m.xres)
        m.xres_virtual = m.xres;
    if (m.yres_virtual < m.yres)
        m.yres_virtual = m.yres;
    bool test = (m.activate & FB_ACTIVATE_MASK) == FB_ACTIVATE_TEST;
    s->counters.mode_tests += test;
    if (s->config.accepts && !s->config.accepts(m))
        return fail(EINVAL);
    *var = m;
    if (test)
        return 0;
    s->mode = m;
    ++s->counters.mode_sets;
    if (s->config.mode_set_ms)
        pause_unlocked(s, s->config.mode_set_ms);
    return 0;
}

static bool cmap_range(const fb_cmap *c)
{
    return c->start <= 256 && c->len <= 256 - c->start && c->red && c->green && c->blue;
}

static int fb_get_cmap(TestDev::Shared *s, void *arg)
{
    auto *c = static_cast<fb_cmap *>(arg);
    if (!cmap_range(c))
        return fail(EINVAL);
    uint16_t *out[3] = {c->red, c->green, c->blue};
    for (int k = 0; k < 3; ++k)
        std::memcpy(out[k], &s->cmap[k][c->start], c->len * sizeof(uint16_t));
    return 0;
}

static int fb_put_cmap(TestDev::Shared *s, void *arg)
{
    auto *c = static_cast<fb_cmap *>(arg);
    if (!cmap_range(c))
        return fail(EINVAL);
    const uint16_t *in[3] = {c->red, c->green, c->blue};
    for (int k = 0; k < 3; ++k)
        std::memcpy(&s->cmap[k][c->start], in[k], c->len * sizeof(uint16_t));
    ++s->counters.cmap_puts;
    return 0;
}

// The beam moves 97 lines per request through yres visible lines and 45
// lines of blanking.
static int fb_get_vblank(TestDev::Shared *s, void *arg)
{
    if (s->config.vblank_flags == 0)
        return fail(EINVAL);
    ++s->counters.vblank_reads;
    uint32_t total = s->mode.yres + 45;
    if (!s->config.vblank_stuck) {
        s->vcount += 97;
        if (s->vcount >= total) {
            s->vcount %= total;
            ++s->retraces;
        }
    }
    auto *vb = static_cast<fb_vblank *>(arg);
    std::memset(vb, 0, sizeof *vb);
    vb->flags = s->config.vblank_flags | (s->vcount >= s->mode.yres ? FB_VBLANK_VBLANKING : 0);
    vb->count = s->retraces;
    vb->vcount = s->vcount;
    return 0;
}

// ---------------------------------------------------------------------------
// Requests of the text console. Requests that take a value get it as the
// pointer argument.

static int value_of(void *arg)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(arg));
}

static int kd_get_kbmode(TestDev::Shared *s, void *arg)
{
    *static_cast<int *>(arg) = s->kb_mode;
    return 0;
}

static int kd_set_kbmode(TestDev::Shared *s, void *arg)
{
    int m = value_of(arg);
    if (m < K_RAW || m > K_OFF)
        return fail(EINVAL);
    s->kb_mode = m;
    return 0;
}

static int kd_get_kbent(TestDev::Shared *s, void *arg)
{
    auto *e = static_cast<kbentry *>(arg);
    e->kb_value = e->kb_table < 16 && e->kb_index < 128 ? s->keymap[e->kb_table][e->kb_index] : 0;
    if (e->kb_value == 0)
        e->kb_value = K_HOLE;
    return 0;
}

static int kd_get_led(TestDev::Shared *s, void *arg)
{
    *static_cast<char *>(arg) = static_cast<char>(s->leds);
    return 0;
}

static int kd_set_led(TestDev::Shared *s, void *arg)
{
    s->lights = value_of(arg);
    return 0;
}

static int kd_set_mode(TestDev::Shared *s, void *arg)
{
    int m = value_of(arg);
    if (m != KD_TEXT && m != KD_GRAPHICS)
        return fail(EINVAL);
    s->kd_mode = m;
    return 0;
}

static int kd_get_mode(TestDev::Shared *s, void *arg)
{
    *static_cast<int *>(arg) = s->kd_mode;
    return 0;
}

static int vt_get_state(TestDev::Shared *s, void *arg)
{
    auto *st = static_cast<vt_stat *>(arg);
    st->v_active = static_cast<unsigned short>(s->active_vt);
    st->v_signal = 0;
    st->v_state = static_cast<unsigned short>(0x7E | (1 << s->config.own_vt));
    return 0;
}

static int vt_activate(TestDev::Shared *s, void *arg)
{
    int n = value_of(arg);
    if (n < 1 || n > 63)
        return fail(ENXIO);
    s->active_vt = n;
    return 0;
}

// Waits up to 50 ms for the console to come to the foreground, then gives up
// as an interrupted wait does; the caller asks again.
static int vt_wait_active(TestDev::Shared *s, void *arg)
{
    int n = value_of(arg);
    for (int i = 0; i < 50 && s->active_vt != n; ++i)
        pause_unlocked(s, 1);
    return s->active_vt == n ? 0 : fail(EINTR);
}

namespace {
struct Request {
    unsigned long code;
    Kind kind;
    int (*fn)(TestDev::Shared *, void *);
};
}  // namespace

static constexpr Request requests[] = {
    {FBIOGET_FSCREENINFO, Kind::fb, fb_get_fix},
    {FBIOGET_VSCREENINFO, Kind::fb, fb_get_var},
    {FBIOPUT_VSCREENINFO, Kind::fb, fb_put_var},
    {FBIOGETCMAP, Kind::fb, fb_get_cmap},
    {FBIOPUTCMAP, Kind::fb, fb_put_cmap},
    {FBIOGET_VBLANK, Kind::fb, fb_get_vblank},
    {KDGKBMODE, Kind::terminal, kd_get_kbmode},
    {KDSKBMODE, Kind::terminal, kd_set_kbmode},
    {KDGKBENT, Kind::terminal, kd_get_kbent},
    {KDGETLED, Kind::terminal, kd_get_led},
    {KDSETLED, Kind::terminal, kd_set_led},
    {KDSETMODE, Kind::terminal, kd_set_mode},
    {KDGETMODE, Kind::terminal, kd_get_mode},
    {VT_GETSTATE, Kind::terminal, vt_get_state},
    {VT_ACTIVATE, Kind::terminal, vt_activate},
    {VT_WAITACTIVE, Kind::terminal, vt_wait_active},
};

// ---------------------------------------------------------------------------
// The system-call table.

static bool is_device_path(const char *path)
{
    static constexpr const char *prefixes[] = {"/dev/fb", "/dev/input/", "/dev/usbmouse", "/dev/psaux", "/dev/tty"};
    for (const char *p : prefixes)
        if (std::strncmp(path, p, std::strlen(p)) == 0)
            return true;
    return false;
}

static int d_open(const char *path, int flags)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    int acc = flags & O_ACCMODE;
    if (s->config.fb_present && std::strcmp(path, s->config.fb_name) == 0)
        return new_fd(s, {Kind::fb, 0, acc, 0});
    for (int i = 0; i < TESTDEV_MICE; ++i) {
        if (std::strcmp(path, testdev_mouse_names[i]) != 0)
            continue;
        const TestDevMouse &m = s->config.mice[i];
        if (!m.present)
            return fail(ENOENT);
        if (acc != O_RDONLY && !m.writable)
            return fail(EACCES);
        return new_fd(s, {Kind::mouse, static_cast<uint8_t>(i), acc, 0});
    }
    if (is_device_path(path))
        return fail(ENOENT);
    return ::open(path, flags | O_CLOEXEC);
}

static int d_close(int fd)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    if (fd == TestDev::kTerminalFd)
        return 0;
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::close(fd);
    f->kind = Kind::closed;
    return 0;
}

static int d_dup(int fd)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fd >= 0 && fd == s->adopted_fd ? &terminal : fake_fd(s, fd);
    return f ? new_fd(s, *f) : ::dup(fd);
}

static int d_ioctl(int fd, unsigned long request, void *arg)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fd >= 0 && fd == s->adopted_fd ? &terminal : fake_fd(s, fd);
    if (!f)
        return ::ioctl(fd, request, arg);
    Counted c(s);
    if (request == s->config.failing_request)
        return fail(EIO);
    for (const Request &r : requests)
        if (r.code == request)
            return r.kind == f->kind ? r.fn(s, arg) : fail(ENOTTY);
    return fail(ENOTTY);
}

static void *d_mmap(std::size_t len, int prot, int flags, int fd, off_t offset)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::mmap(nullptr, len, prot, flags, fd, offset);
    if (f->kind != Kind::fb || s->config.mmap_fails || offset < 0 || len == 0 ||
        static_cast<std::size_t>(offset) > s->smem_len || len > s->smem_len - static_cast<std::size_t>(offset)) {
        errno = s->config.mmap_fails ? ENOMEM : EINVAL;
        return MAP_FAILED;
    }
    for (Mapping &m : s->maps)
        if (!m.addr || !alive(m.owner)) {
            void *p = ::mmap(nullptr, len, prot, flags, s->memfd, offset);
            if (p != MAP_FAILED)
                m = {p, len, getpid()};
            return p;
        }
    errno = ENOMEM;
    return MAP_FAILED;
}

static int d_munmap(void *addr, std::size_t len)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    for (Mapping &m : s->maps)
        if (m.addr == addr && m.len == len && m.owner == getpid())
            m = {nullptr, 0, 0};
    return ::munmap(addr, len);
}

static ssize_t d_read(int fd, void *buf, std::size_t len)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::read(fd, buf, len);
    if (f->accmode == O_WRONLY)
        return fail(EBADF);
    auto *out = static_cast<uint8_t *>(buf);
    switch (f->kind) {
    case Kind::terminal:
        // Raw input with VMIN 0 and VTIME 0: nothing waiting reads 0 bytes.
        return static_cast<ssize_t>(s->keys.pop(out, len));
    case Kind::mouse: {
        std::size_t n = s->mouse[f->mouse].pop(out, len);
        return n ? static_cast<ssize_t>(n) : fail(EAGAIN);
    }
    default:
        return fail(EINVAL);
    }
}

static ssize_t d_write(int fd, const void *buf, std::size_t len)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::write(fd, buf, len);
    if (f->accmode == O_RDONLY)
        return fail(EBADF);
    if (f->kind == Kind::mouse) {
        if (!s->config.mice[f->mouse].accepts_knock)
            return fail(EIO);
        s->counters.knock_bytes += static_cast<int>(len);
        return static_cast<ssize_t>(len);
    }
    if (f->kind == Kind::terminal)
        return static_cast<ssize_t>(len);
    return fail(EINVAL);
}

// Device descriptors are readable while bytes wait; real descriptors in the
// same set are asked with a zero timeout on each round.
static int d_poll(pollfd *fds, nfds_t count, int timeout_ms)
{
    TestDev::Shared *s = g_dev;
    for (int waited = 0;; ++waited) {
        int ready = 0;
        bool any_real = false;
        {
            Locked l(s);
            for (nfds_t i = 0; i < count; ++i) {
                Fd *f = fake_fd(s, fds[i].fd);
                if (!f) {
                    any_real = any_real || fds[i].fd >= 0;
                    continue;
                }
                fds[i].revents = 0;
                bool readable = (f->kind == Kind::terminal && s->keys.count()) ||
                                (f->kind == Kind::mouse && s->mouse[f->mouse].count());
                if (readable && (fds[i].events & POLLIN))
                    fds[i].revents |= POLLIN;
                if (f->accmode != O_RDONLY && (fds[i].events & POLLOUT))
                    fds[i].revents |= POLLOUT;
                ready += fds[i].revents != 0;
            }
        }
        if (any_real) {
            for (nfds_t i = 0; i < count; ++i) {
                pollfd p = fds[i];
                bool fake;
                {
                    Locked l(s);
                    fake = fake_fd(s, p.fd) != nullptr;
                }
                if (p.fd < 0 || fake)
                    continue;
                int r = ::poll(&p, 1, 0);
                if (r < 0)
                    return -1;
                fds[i].revents = p.revents;
                ready += r;
            }
        }
        if (ready || (timeout_ms >= 0 && waited >= timeout_ms))
            return ready;
        pause_ms(1);
    }
}

static int d_tcgetattr(int fd, termios *t)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::tcgetattr(fd, t);
    Counted c(s);
    if (f->kind != Kind::terminal)
        return fail(ENOTTY);
    *t = s->term;
    return 0;
}

static int d_tcsetattr(int fd, int when, const termios *t)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    Fd *f = fake_fd(s, fd);
    if (!f)
        return ::tcsetattr(fd, when, t);
    Counted c(s);
    if (f->kind != Kind::terminal)
        return fail(ENOTTY);
    s->term = *t;
    return 0;
}

static int d_ioperm(unsigned long from, unsigned long num, int on)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    if (!s->config.ports_granted)
        return fail(EPERM);
    s->port_access = on != 0;
    return 0;
}

static uint8_t d_inb(uint16_t port)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    switch (port) {
    case 0x3CF: return s->gc[s->gc_index & 15];
    case 0x3C5: return s->seq[s->seq_index & 7];
    default: return 0;
    }
}

static void d_outb(uint8_t value, uint16_t port)
{
    TestDev::Shared *s = g_dev;
    Locked l(s);
    ++s->counters.port_writes;
    switch (port) {
    case 0x3CE: s->gc_index = value; break;
    case 0x3CF: s->gc[s->gc_index & 15] = value; break;
    case 0x3C4: s->seq_index = value; break;
    case 0x3C5:
        if ((s->seq_index & 7) == 2) {
            planar_commit(s);
            s->map_mask = value & 0x0F;
        }
        s->seq[s->seq_index & 7] = value;
        break;
    default: break;
    }
}

static const SysDev testdev_sys = {
    d_open, d_close, d_dup, d_ioctl, d_mmap, d_munmap, d_read, d_write, d_poll, d_tcgetattr, d_tcsetattr,
    d_ioperm, d_inb, d_outb,
};

// ---------------------------------------------------------------------------
// A US keymap as far as the tests need it: digits, letters, a few symbols,
// Enter, the keypad, and console switching with Alt and Control+Alt on
// F1..F6.

static void default_keymap(uint16_t (*map)[128])
{
    auto set = [&](int table, int index, int type, int value) {
        map[table][index] = static_cast<uint16_t>((type << 8) | value);
    };
    static constexpr char digits[] = "1234567890";
    static constexpr char shifted[] = "!@#$%^&*()";
    for (int i = 0; i < 10; ++i) {
        set(0, 2 + i, KT_LATIN, digits[i]);
        set(1, 2 + i, KT_LATIN, shifted[i]);
    }
    static constexpr struct {
        int first;
        const char *letters;
    } rows[] = {{16, "qwertyuiop"}, {30, "asdfghjkl"}, {44, "zxcvbnm"}};
    for (const auto &r : rows)
        for (int i = 0; r.letters[i]; ++i) {
            int c = r.letters[i];
            set(0, r.first + i, KT_LETTER, c);
            set(1, r.first + i, KT_LETTER, c - 32);
            set(4, r.first + i, KT_LATIN, c - 96);
        }
    set(2, 16, KT_LATIN, '@');  // AltGr+Q
    set(0, 12, KT_LATIN, '-');
    set(1, 12, KT_LATIN, '_');
    set(0, 57, KT_LATIN, ' ');
    set(0, 1, KT_LATIN, 27);
    set(0, 15, KT_LATIN, 9);
    set(0, 28, KT_SPEC, 1);   // Enter
    set(0, 14, KT_LATIN, 127);
    static constexpr struct {
        int key, pad;
    } keypad[] = {{71, 7}, {72, 8}, {73, 9}, {74, 11}, {75, 4}, {76, 5}, {77, 6}, {78, 10},
                  {79, 1}, {80, 2}, {81, 3}, {82, 0}, {83, 16}, {96, 14}, {98, 13}, {55, 12}};
    for (const auto &k : keypad)
        for (int table : {0, 1, 4})
            set(table, k.key, KT_PAD, k.pad);
    for (int i = 0; i < 6; ++i) {
        set(8, 59 + i, KT_CONS, i);
        set(12, 59 + i, KT_CONS, i);
    }
}

// ---------------------------------------------------------------------------

TestDev::TestDev(const TestDevConfig &config)
{
    void *p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        abort();
    sh_ = new (p) Shared();
    Shared *s = sh_;
    s->config = config;
    s->mode = config.mode;
    if (s->mode.xres_virtual < s->mode.xres)
        s->mode.xres_virtual = s->mode.xres;
    if (s->mode.yres_virtual < s->mode.yres)
        s->mode.yres_virtual = s->mode.yres;
    s->smem_len = config.smem_len ? config.smem_len : line_length(s) * s->mode.yres_virtual;
    size_ = s->smem_len;
    s->memfd = memfd_create("testdev-fb", MFD_CLOEXEC);
    if (s->memfd < 0 || ftruncate(s->memfd, static_cast<off_t>(size_)) != 0)
        abort();
    p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, s->memfd, 0);
    if (p == MAP_FAILED)
        abort();
    memory_ = s->mem = static_cast<uint8_t *>(p);
    if (is_planar(s)) {
        p = mmap(nullptr, size_ * 4, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            abort();
        s->planes = static_cast<uint8_t *>(p);
        std::memset(s->mem, kPlanarFill, size_);
        s->map_mask = 0x0F;
    }
    // A console's own colour map: a grey ramp, so that a program that leaves
    // its own colours behind is seen.
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i)
            s->cmap[k][i] = static_cast<uint16_t>(i * 257 + k);
    s->adopted_fd = -1;
    s->kb_mode = K_XLATE;
    s->kd_mode = KD_TEXT;
    s->leds = LED_NUM;
    s->active_vt = config.own_vt;
    s->term.c_iflag = ICRNL | IXON;
    s->term.c_oflag = OPOST | ONLCR;
    s->term.c_cflag = CS8 | CREAD;
    s->term.c_lflag = ISIG | ICANON | ECHO | ECHOE;
    s->term.c_cc[VINTR] = 3;
    s->term.c_cc[VMIN] = 1;
    default_keymap(s->keymap);
}

TestDev::~TestDev()
{
    uninstall();
    if (sh_->planes)
        munmap(sh_->planes, size_ * 4);
    munmap(memory_, size_);
    close(sh_->memfd);
    sh_->~Shared();
    munmap(sh_, sizeof(Shared));
}

void TestDev::install()
{
    g_dev = sh_;
    rk_sys = &testdev_sys;
}

void TestDev::uninstall()
{
    if (g_dev == sh_) {
        rk_sys = &rk_sys_kernel;
        g_dev = nullptr;
    }
}

void TestDev::push_keys(const uint8_t *bytes, std::size_t n)
{
    Locked l(sh_);
    for (std::size_t i = 0; i < n; ++i)
        sh_->keys.push(bytes[i]);
}

void TestDev::push_mouse(int i, const uint8_t *bytes, std::size_t n)
{
    Locked l(sh_);
    for (std::size_t k = 0; k < n; ++k)
        sh_->mouse[i].push(bytes[k]);
}

std::size_t TestDev::mouse_pending(int i)
{
    Locked l(sh_);
    return sh_->mouse[i].count();
}

void TestDev::adopt_terminal(int fd)
{
    Locked l(sh_);
    sh_->adopted_fd = fd;
}

void TestDev::user_activate(int vt)
{
    Locked l(sh_);
    sh_->active_vt = vt;
}

void TestDev::set_keymap(int table, int index, uint16_t value)
{
    Locked l(sh_);
    sh_->keymap[table & 15][index & 127] = value;
}

TestDevState TestDev::state()
{
    Locked l(sh_);
    TestDevState st{};
    st.mode = sh_->mode;
    std::memcpy(st.cmap, sh_->cmap, sizeof st.cmap);
    st.kb_mode = sh_->kb_mode;
    st.kd_mode = sh_->kd_mode;
    st.leds = sh_->leds;
    st.active_vt = sh_->active_vt;
    st.term = sh_->term;
    // What a process that ended held is gone with it, as the kernel closes
    // its descriptors and mappings.
    for (const Fd &f : sh_->fds)
        st.open_fds += f.kind != Kind::closed && alive(f.owner);
    for (const Mapping &m : sh_->maps)
        st.mappings += m.addr != nullptr && alive(m.owner);
    return st;
}

bool operator==(const TestDevState &a, const TestDevState &b)
{
    return std::memcmp(&a.mode, &b.mode, sizeof a.mode) == 0 && std::memcmp(a.cmap, b.cmap, sizeof a.cmap) == 0 &&
           a.kb_mode == b.kb_mode && a.kd_mode == b.kd_mode && a.leds == b.leds && a.active_vt == b.active_vt &&
           a.term.c_iflag == b.term.c_iflag && a.term.c_oflag == b.term.c_oflag &&
           a.term.c_cflag == b.term.c_cflag && a.term.c_lflag == b.term.c_lflag &&
           std::memcmp(a.term.c_cc, b.term.c_cc, sizeof a.term.c_cc) == 0 && a.open_fds == b.open_fds &&
           a.mappings == b.mappings;
}

TestDevCounters TestDev::counters()
{
    Locked l(sh_);
    return sh_->counters;
}

fb_var_screeninfo TestDev::mode()
{
    Locked l(sh_);
    return sh_->mode;
}

fb_fix_screeninfo TestDev::fix()
{
    Locked l(sh_);
    fb_fix_screeninfo f;
    fb_get_fix(sh_, &f);
    return f;
}

uint8_t TestDev::gc_reg(int index)
{
    Locked l(sh_);
    return sh_->gc[index & 15];
}

uint8_t TestDev::seq_reg(int index)
{
    Locked l(sh_);
    return sh_->seq[index & 7];
}

bool TestDev::port_access()
{
    Locked l(sh_);
    return sh_->port_access;
}

int TestDev::planar_pixel(int x, int y)
{
    Locked l(sh_);
    planar_commit(sh_);
    std::size_t off = static_cast<std::size_t>(y) * line_length(sh_) + static_cast<std::size_t>(x) / 8;
    if (!sh_->planes || off >= sh_->smem_len)
        return -1;
    int bit = 7 - x % 8, index = 0;
    for (int k = 0; k < 4; ++k)
        index |= ((sh_->planes[static_cast<std::size_t>(k) * sh_->smem_len + off] >> bit) & 1) << k;
    return index;
}
