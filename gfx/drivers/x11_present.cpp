// The X11 driver's presentation: the window thread that sends the changed
// framebuffer lines every 30 ms and handles the X events, its start, and the
// switch between window and full screen it makes.
#include "gfx/drivers/x11_private.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/extensions/shape.h>

#include "gfx/core/color.h"
#include "gfx/core/state.h"

void rk_hX11DirtyAll()
{
    ScreenState *s = __rk_gfx;
    if (s && s->dirty)
        std::memset(s->dirty, 1, static_cast<std::size_t>(s->h) * s->scanline_size);
    rk_x11p.resend = true;
}

// Clears the dirty flag of every line whose pixels (and palette) equal what
// was last sent, by their fingerprints, and keeps the others' as sent: a
// frame redrawn the same costs one read of each line, no conversion and no
// transfer.
static void drop_unchanged_lines(ScreenState *s)
{
    LineFingerprint *sent = rk_x11p.sent;
    if (!sent)
        return;
    if (std::memcmp(rk_x11p.sent_palette, s->device_palette, sizeof rk_x11p.sent_palette) != 0) {
        std::memcpy(rk_x11p.sent_palette, s->device_palette, sizeof rk_x11p.sent_palette);
        rk_x11p.resend = true;
    }
    auto pitch = static_cast<std::size_t>(s->pitch);
    for (int k = 0; k < s->h; ++k) {
        if (!s->dirty[k])
            continue;
        const LineFingerprint now = rk_hLineFingerprint(s->framebuffer + k * pitch, pitch);
        if (!rk_x11p.resend && now == sent[k])
            s->dirty[k] = 0;
        else
            sent[k] = now;
    }
    rk_x11p.resend = false;
}

void rk_hX11Present()
{
    ScreenState *s = __rk_gfx;
    if (!s || !rk_x11p.image || rk_x11p.display_lost)
        return;
    Display *d = rk_x11.display;
    XImage *image = rk_x11p.image;
    drop_unchanged_lines(s);
    // Scaled: each pixel replicated into the image after the conversion;
    // each display line is `f` window lines.
    int f = rk_hX11Scale();
    if (f > 1) {
        rk_hBlitScaled(rk_x11p.blitter, reinterpret_cast<uint8_t *>(image->data), image->bytes_per_line,
                       rk_x11p.staging, rk_x11p.staging_pitch, image->bits_per_pixel / 8, f);
    } else {
        rk_x11p.blitter(reinterpret_cast<uint8_t *>(image->data), image->bytes_per_line);
    }
    int sl = s->scanline_size > 0 ? s->scanline_size : 1;
    int lines = std::min(rk_x11.h, s->h * sl);
    auto width = static_cast<unsigned>(rk_x11.w * f);
    for (int i = 0; i < lines;) {
        if (!s->dirty[i / sl]) {
            ++i;
            continue;
        }
        int n = 1;
        while (i + n < lines && s->dirty[(i + n) / sl])
            ++n;
        int y = i * f, rows = n * f;
        if (rk_x11p.shape_image) {
            rk_x11p.update_mask(nullptr, reinterpret_cast<uint8_t *>(rk_x11p.shape_image->data), y, rows);
            XPutImage(d, rk_x11p.shape_pixmap, rk_x11p.shape_gc, rk_x11p.shape_image, 0, y, 0, y, width,
                      static_cast<unsigned>(rows));
            XShapeCombineMask(d, rk_x11.window, ShapeBounding, 0, 0, rk_x11p.shape_pixmap, ShapeSet);
        }
        if (rk_x11p.is_shm)
            XShmPutImage(d, rk_x11.window, rk_x11.gc, image, 0, y, 0, y + rk_x11.display_offset, width,
                         static_cast<unsigned>(rows), False);
        else
            XPutImage(d, rk_x11.window, rk_x11.gc, image, 0, y, 0, y + rk_x11.display_offset, width,
                      static_cast<unsigned>(rows));
        i += n;
    }
    std::memset(s->dirty, 0, static_cast<std::size_t>(s->h) * sl);
}

// ---- window thread -------------------------------------------------------

// The window thread rests about 30 ms between passes. A program that keeps
// releasing the driver lock (drawing frames, reading the mouse or keys)
// wakes it with its first release after that, and the pass follows at
// once, while what it drew is still in the caches; on a virtual machine
// such passes took about half the time of passes woken by the timer. So
// that a frame drawn and then left alone is not shown later for it, the
// timer waits beyond the 30 ms only by the longest time the program went
// without a release during the last rest (as measured, plus a tick of the
// coarse clock), and only when that is at most kMaxWaitNs.
//
// Passes are due 30 ms after the last one began (had the lock). A release
// up to kEarlyNs before that counts as due: a program whose frames divide
// the 30 ms evenly would otherwise always miss it by the pass's own
// start-up time and wait one more frame.
static constexpr long long kRestNs = 30'000'000, kMaxWaitNs = 15'000'000, kMarginNs = 1'000'000,
                           kEarlyNs = 1'000'000;

// The coarse clock costs a few nanoseconds and is behind by less than this.
static long long coarse_lag()
{
    static const long long lag = [] {
        timespec r;
        return clock_getres(CLOCK_MONOTONIC_COARSE, &r) == 0 ? r.tv_sec * 1'000'000'000LL + r.tv_nsec : kRestNs;
    }();
    return lag;
}

// The program's releases of the lock, by the coarse clock: the last one,
// and the longest gap between two since the window thread last looked.
// Plain loads and stores: two threads releasing at once only blur them.
static std::atomic<long long> last_release_ns, longest_gap_ns;

static int *wake_word()
{
    static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
    return reinterpret_cast<int *>(&rk_x11p.wake);
}

void rk_hX11WakeNow()
{
    if (rk_x11p.wake.exchange(1) == 0)
        syscall(SYS_futex, wake_word(), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// The exact clock is read only from a coarse tick before the pass is due.
void rk_hX11WakeWhenDue()
{
    const long long now = rk_hX11Now(CLOCK_MONOTONIC_COARSE);
    const long long gap = now - last_release_ns.load(std::memory_order_relaxed);
    last_release_ns.store(now, std::memory_order_relaxed);
    if (gap > longest_gap_ns.load(std::memory_order_relaxed))
        longest_gap_ns.store(gap, std::memory_order_relaxed);
    if (rk_x11p.wake.load(std::memory_order_relaxed) != 0)
        return;
    const long long due = rk_x11p.pass_due_ns.load(std::memory_order_relaxed);
    if (now + coarse_lag() + kEarlyNs >= due && rk_hX11Now() + kEarlyNs >= due)
        rk_hX11WakeNow();
}

// Waits until the program's wake or the timer ends the rest, or the thread
// is stopped. A wake that comes before the pass is due (from a release that
// read the last pass's due time just before it was replaced) is ignored.
static void rest()
{
    const long long due = rk_x11p.pass_due_ns.load();
    const long long quiet = std::max(longest_gap_ns.exchange(0),
                                     rk_hX11Now(CLOCK_MONOTONIC_COARSE) - last_release_ns.load());
    const long long until = quiet <= kMaxWaitNs ? due + quiet + coarse_lag() + kMarginNs : due;
    const timespec deadline = {static_cast<time_t>(until / 1'000'000'000), static_cast<long>(until % 1'000'000'000)};
    while (rk_x11p.is_running) {
        if (rk_x11p.wake.load() != 0) {
            if (rk_hX11Now() + kEarlyNs >= due)
                return;
            rk_x11p.wake = 0;
            continue;
        }
        if (syscall(SYS_futex, wake_word(), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, 0, &deadline, nullptr,
                    FUTEX_BITSET_MATCH_ANY) != 0 &&
            errno == ETIMEDOUT)
            return;
    }
}

static bool thread_ready;

// Whether X events may be waiting: in Xlib's queue, on the connection (or
// the connection closed), or read by some call since the window thread last
// took the events, where only XPending would move them into the queue: a
// request sent or a reply read since then. An idle pass costs one poll()
// instead of the flush and reads of XPending.
static bool events_may_wait(Display *d)
{
    if (QLength(d) > 0 || NextRequest(d) != rk_x11p.next_request_seen ||
        LastKnownRequestProcessed(d) != rk_x11p.last_read_seen)
        return true;
    pollfd p = {ConnectionNumber(d), POLLIN, 0};
    return poll(&p, 1, 0) != 0;
}

static void *window_thread(void *)
{
    rk_x11p.is_running = true;
    rk_x11p.next_request_seen = 0;  // the first pass takes the events
    if (rk_x11.init() != 0)
        rk_x11p.is_running = false;
    rk_x11p.cursor_shown = 1;
    rk_x11p.mouse_x_root = -1;

    pthread_mutex_lock(&rk_x11p.mutex);
    thread_ready = true;
    pthread_cond_signal(&rk_x11p.cond);
    pthread_mutex_unlock(&rk_x11p.mutex);

    while (rk_x11p.is_running && !rk_x11p.display_lost) {
        rk_hX11Lock();
        const long long start = rk_hX11Now();
        if (rk_x11p.display_lost) {
            rk_hX11UnlockQuietly();
            break;
        }
        rk_x11.update();
        Display *d = rk_x11.display;
        if (!rk_x11p.display_lost && events_may_wait(d)) {
            while (!rk_x11p.display_lost && XPending(d)) {
                XEvent e;
                XNextEvent(d, &e);
                ++rk_x11p.events_taken;
                if (!rk_x11p.display_lost)
                    rk_hX11HandleEvent(&e);
            }
            rk_x11p.next_request_seen = NextRequest(d);
            rk_x11p.last_read_seen = LastKnownRequestProcessed(d);
        }
        rk_x11p.pass_due_ns = start + kRestNs;
        rk_x11p.wake = 0;
        rk_hX11UnlockQuietly();
        rest();
    }
    rk_x11.exit();
    return nullptr;
}

void rk_hX11Toggle()
{
    rk_x11.exit();
    rk_x11.flags ^= RK_MODE_FULLSCREEN;
    if (rk_x11.init() != 0) {
        rk_x11.exit();
        rk_x11.flags ^= RK_MODE_FULLSCREEN;
        rk_x11.init();
    }
    rk_hRestorePalette();
    if (__rk_gfx && __rk_gfx->key_state)
        std::memset(__rk_gfx->key_state, 0, 128);
}

// The start hook's own waits are bounded (two map waits and a pointer grab of
// about two seconds each); only a server that stops answering holds it longer.
static constexpr int kStartWaitSeconds = 8;

int rk_hX11StartThread()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&rk_x11p.mutex, nullptr);
    pthread_cond_init(&rk_x11p.cond, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_lock(&rk_x11p.mutex);
    thread_ready = false;
    if (pthread_create(&rk_x11p.thread, nullptr, window_thread, nullptr) == 0) {
        rk_x11p.thread_started = true;
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += kStartWaitSeconds;
        while (!thread_ready && pthread_cond_timedwait(&rk_x11p.cond, &rk_x11p.mutex, &deadline) != ETIMEDOUT) {
        }
        if (!thread_ready) {
            // Stuck in a round trip to a server that no longer answers:
            // breaking the connection makes each X call of the thread return
            // at once, and the open fails.
            rk_x11p.is_running = false;
            shutdown(ConnectionNumber(rk_x11.display), SHUT_RDWR);
            while (!thread_ready)
                pthread_cond_wait(&rk_x11p.cond, &rk_x11p.mutex);
        }
        pthread_mutex_unlock(&rk_x11p.mutex);
        if (rk_x11p.is_running)
            return 0;
        pthread_join(rk_x11p.thread, nullptr);
        rk_x11p.thread_started = false;
    } else {
        pthread_mutex_unlock(&rk_x11p.mutex);
    }
    pthread_cond_destroy(&rk_x11p.cond);
    pthread_mutex_destroy(&rk_x11p.mutex);
    return -1;
}

void rk_hX11WaitVSync()
{
    usleep(rk_x11.refresh_rate > 0 ? 1000000u / static_cast<unsigned>(rk_x11.refresh_rate) : 16666u);
}
