#include "gfx/drivers/x11_probe.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "rt/rt.h"

namespace {

constexpr int kMaxEndpoints = 4;  // abstract socket, socket file, IPv4, IPv6
constexpr int kBasePort = 6000;
constexpr long kBusyRetryMs = 20;  // a full listen queue is asked again this often

struct Endpoint {
    sockaddr_storage addr;
    socklen_t len;
};

// The endpoints to try in Xlib's order; the first that takes the
// connection is the server Xlib would talk to.
struct Target {
    Endpoint ep[kMaxEndpoints];
    int count;
};

thread_local int check_depth;
thread_local bool check_silent;

}  // namespace

static bool text_is(const char *s, std::size_t n, const char *word)
{
    return std::strlen(word) == n && std::memcmp(s, word, n) == 0;
}

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

static void add_unix(Target *t, unsigned long number, bool abstract)
{
    Endpoint &e = t->ep[t->count++];
    std::memset(&e, 0, sizeof e);
    sockaddr_un *un = reinterpret_cast<sockaddr_un *>(&e.addr);
    un->sun_family = AF_UNIX;
    // The abstract name starts with a zero byte and is not terminated.
    char *path = un->sun_path + (abstract ? 1 : 0);
    int n = std::snprintf(path, sizeof un->sun_path - 1, "/tmp/.X11-unix/X%lu", number);
    e.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) + n + (abstract ? 0 : 1));
}

static void add_ipv4(Target *t, in_addr a, unsigned port)
{
    Endpoint &e = t->ep[t->count++];
    std::memset(&e, 0, sizeof e);
    sockaddr_in *in = reinterpret_cast<sockaddr_in *>(&e.addr);
    in->sin_family = AF_INET;
    in->sin_port = htons(static_cast<uint16_t>(port));
    in->sin_addr = a;
    e.len = sizeof *in;
}

static void add_ipv6(Target *t, const in6_addr &a, unsigned port)
{
    Endpoint &e = t->ep[t->count++];
    std::memset(&e, 0, sizeof e);
    sockaddr_in6 *in6 = reinterpret_cast<sockaddr_in6 *>(&e.addr);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    in6->sin6_addr = a;
    e.len = sizeof *in6;
}

// Reads "[proto/][host]:N[.S]" as Xlib does. False for anything the probe
// does not handle (DECnet "host::N", bracketed or unknown forms, host names
// that need a lookup): those are left to Xlib.
static bool parse_display(const char *name, Target *t)
{
    t->count = 0;
    if (!name || !*name)
        return false;
    bool want4 = true, want6 = true, want_unix = true, want_tcp = true;
    const char *rest = name;
    if (const char *slash = std::strchr(name, '/')) {
        std::size_t n = static_cast<std::size_t>(slash - name);
        if (text_is(name, n, "unix"))
            want_tcp = false;
        else if (text_is(name, n, "tcp"))
            want_unix = false;
        else if (text_is(name, n, "inet"))
            want_unix = want6 = false;
        else if (text_is(name, n, "inet6"))
            want_unix = want4 = false;
        else
            return false;
        rest = slash + 1;
    }
    const char *colon = std::strrchr(rest, ':');
    if (!colon)
        return false;
    const char *num = colon + 1;
    const char *dot = std::strchr(num, '.');
    const char *num_end = dot ? dot : num + std::strlen(num);
    unsigned long number = 0, screen = 0;
    if (!parse_number(num, num_end, 65535 - kBasePort, &number))
        return false;
    if (dot && !parse_number(dot + 1, dot + std::strlen(dot), 65535, &screen))
        return false;
    const unsigned port = static_cast<unsigned>(kBasePort + number);

    std::size_t host_len = static_cast<std::size_t>(colon - rest);
    char host[64];
    if (host_len >= sizeof host)
        return false;
    std::memcpy(host, rest, host_len);
    host[host_len] = '\0';

    if (host_len == 0 || std::strcmp(host, "unix") == 0) {
        if (!want_unix)
            return false;
        add_unix(t, number, true);
        add_unix(t, number, false);
        // ":N" alone falls back to TCP on the local host when no socket
        // takes the connection; "unix:N" and "unix/:N" do not.
        if (host_len == 0 && want_tcp && want4 && want6) {
            add_ipv4(t, in_addr{htonl(INADDR_LOOPBACK)}, port);
            add_ipv6(t, in6addr_loopback, port);
        }
        return true;
    }
    if (!want_tcp)
        return false;
    in_addr a4;
    in6_addr a6;
    if (std::strcmp(host, "localhost") == 0) {
        if (want4)
            add_ipv4(t, in_addr{htonl(INADDR_LOOPBACK)}, port);
        if (want6)
            add_ipv6(t, in6addr_loopback, port);
    } else if (inet_aton(host, &a4)) {
        if (want4)
            add_ipv4(t, a4, port);
    } else if (inet_pton(AF_INET6, host, &a6) == 1) {
        if (want6)
            add_ipv6(t, a6, port);
    }
    // Any other host name would need a lookup, which can block without a
    // bound of its own: such displays are left to Xlib unprobed.
    return t->count > 0;
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
// deadline.
static int connect_until(const Endpoint &e, long deadline)
{
    const int family = e.addr.ss_family;
    int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr *sa = reinterpret_cast<const sockaddr *>(&e.addr);
    for (;;) {
        if (connect(fd, sa, e.len) == 0)
            return fd;
        if (family == AF_UNIX && errno == EAGAIN) {
            // The listen queue is full: a server that takes no connections.
            long left = deadline - now_ms();
            if (left <= 0)
                break;
            poll(nullptr, 0, static_cast<int>(left < kBusyRetryMs ? left : kBusyRetryMs));
            continue;
        }
        if (family != AF_UNIX && (errno == EINPROGRESS || errno == EINTR)) {
            if (!wait_until(fd, POLLOUT, deadline))
                break;
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
                return fd;
        }
        close(fd);
        return -1;
    }
    close(fd);
    return -2;
}

int rk_hX11Probe(const char *name, int wait_ms)
{
    Target t;
    if (!parse_display(name, &t))
        return RK_X11_UNKNOWN;
    const long deadline = now_ms() + (wait_ms > 0 ? wait_ms : 0);
    for (int i = 0; i < t.count; ++i) {
        int fd = connect_until(t.ep[i], deadline);
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
