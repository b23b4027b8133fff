#include "gfx/drivers/x11_probe.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "rt/rt.h"

namespace {

constexpr long kBusyRetryMs = 20;  // a full listen queue is asked again this often

// The local endpoints of a display in Xlib's order, the abstract socket and
// the socket file: the first that takes the connection is the server Xlib
// would talk to.
struct Target {
    sockaddr_un addr[2];
    socklen_t len[2];
};

thread_local int check_depth;
thread_local bool check_silent;

}  // namespace

// A run of decimal digits [s, end) no larger than `max`.
static bool parse_number(const char *s, const char *end, unsigned long max, unsigned long *out)
{
    if (s == end)
        return false;
    unsigned long v = 0;
    for (; s != end; ++s) {
        if (*s < '0' || *s > '9')
            return false;
        v = v * 10 + static_cast<unsigned long>(*s - '0');
        if (v > max)
            return false;
    }
    *out = v;
    return true;
}

static void set_unix(Target *t, int i, unsigned long number, bool abstract)
{
    sockaddr_un *un = &t->addr[i];
    std::memset(un, 0, sizeof *un);
    un->sun_family = AF_UNIX;
    // The abstract name starts with a zero byte and is not terminated.
    char *path = un->sun_path + (abstract ? 1 : 0);
    int n = std::snprintf(path, sizeof un->sun_path - 1, "/tmp/.X11-unix/X%lu", number);
    t->len[i] = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + n + (abstract ? 0 : 1));
}

// Reads the local display names ":N[.S]", "unix:N[.S]" and "unix/:N[.S]".
// Everything else is left to Xlib unprobed: displays over TCP among them,
// since the one typically reached that way, a display forwarded by ssh,
// reports every connection without its cookie on the user's terminal, and
// a host name would need a lookup that can block without a bound of its own.
static bool parse_display(const char *name, Target *t)
{
    if (!name)
        return false;
    if (std::strncmp(name, "unix/", 5) == 0)
        name += 5;
    else if (std::strncmp(name, "unix:", 5) == 0)
        name += 4;
    if (name[0] != ':')
        return false;
    const char *num = name + 1;
    const char *dot = std::strchr(num, '.');
    const char *num_end = dot ? dot : num + std::strlen(num);
    unsigned long number = 0, screen = 0;
    if (!parse_number(num, num_end, 65535, &number))
        return false;
    if (dot && !parse_number(dot + 1, dot + std::strlen(dot), 65535, &screen))
        return false;
    set_unix(t, 0, number, true);
    set_unix(t, 1, number, false);
    return true;
}

static long now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1'000'000L;
}

// Waits for `events` on `fd` until `deadline`: 1 ready, 0 at the deadline.
static int wait_until(int fd, short events, long deadline)
{
    for (;;) {
        long left = deadline - now_ms();
        if (left <= 0)
            return 0;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0)
            return 1;
        if (r < 0 && errno != EINTR)
            return 1;  // the caller's next call on fd reports the error
    }
}

// A connected descriptor; -1 when the endpoint cannot be reached (refused,
// missing, any error); -2 when the connection is still not taken at the
// deadline (the listen queue of a server that takes no connections is full).
static int connect_until(const sockaddr_un &addr, socklen_t len, long deadline)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), len) == 0)
            return fd;
        if (errno != EAGAIN && errno != EINTR)
            break;
        long left = deadline - now_ms();
        if (left <= 0) {
            close(fd);
            return -2;
        }
        poll(nullptr, 0, static_cast<int>(left < kBusyRetryMs ? left : kBusyRetryMs));
    }
    close(fd);
    return -1;
}

int rk_hX11Probe(const char *name, int wait_ms)
{
    Target t;
    if (!parse_display(name, &t))
        return RK_X11_UNKNOWN;
    const long deadline = now_ms() + (wait_ms > 0 ? wait_ms : 0);
    for (int i = 0; i < 2; ++i) {
        int fd = connect_until(t.addr[i], t.len[i], deadline);
        if (fd == -1)
            continue;
        if (fd == -2)
            return RK_X11_SILENT;
        // Connection setup, little-endian, protocol 11.0, no authorization:
        // any server answers it at once, with success, failure or a request
        // to authenticate.
        static constexpr unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        int result = RK_X11_UNKNOWN;
        if (send(fd, setup, sizeof setup, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(sizeof setup)) {
            if (!wait_until(fd, POLLIN, deadline)) {
                result = RK_X11_SILENT;
            } else {
                unsigned char first;
                // Closed without a reply: Xlib will fail quickly on its own.
                if (recv(fd, &first, 1, MSG_DONTWAIT) == 1)
                    result = RK_X11_ANSWERS;
            }
        }
        close(fd);
        return result;
    }
    return RK_X11_UNKNOWN;
}

int rk_hX11CheckDisplay()
{
    if (check_depth > 0 && check_silent)
        return -1;
    const char *name = std::getenv("DISPLAY");
    if (rk_hX11Probe(name, RK_X11_ANSWER_WAIT_MS) != RK_X11_SILENT)
        return 0;
    if (check_depth > 0)
        check_silent = true;
    char buf[128] = {};
    const char *exe = rk_hGetExeName(buf, sizeof buf);
    std::fprintf(stderr, "%s: the X display %s does not answer (no reply in %d s)\n", exe ? exe : "rkgfx", name,
                 RK_X11_ANSWER_WAIT_MS / 1000);
    return -1;
}

void rk_hX11CheckBegin()
{
    ++check_depth;
}

void rk_hX11CheckEnd()
{
    if (check_depth > 0 && --check_depth == 0)
        check_silent = false;
}
