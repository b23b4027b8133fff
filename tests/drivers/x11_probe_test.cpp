// Displays that take the connection but never answer: the probe before
// XOpenDisplay against real sockets that never reply, a stopped Xvfb and a
// working one. Opens that wait run in child processes at the same time, so
// each test waits the full bound once.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/drivers/conkbd.h"
#include "gfx/drivers/driver.h"
#include "gfx/drivers/x11.h"
#include "gfx/drivers/x11_probe.h"
#include "rt/term.h"
#include "support/process_counts.h"
#include "support/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kWait{RK_X11_ANSWER_WAIT_MS};
constexpr milliseconds kMargin{3000};  // process start, sanitizer builds

enum class Kind { abstract, file, tcp };

// A socket that listens and never accepts: for display `n` (the TCP one on
// the loopback; port 0: any free port), or -1 when the address is taken.
int listen_as(Kind kind, int n)
{
    int fd = socket(kind == Kind::tcp ? AF_INET : AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage ss{};
    socklen_t len = sizeof(sockaddr_in);
    if (kind == Kind::tcp) {
        auto *in = reinterpret_cast<sockaddr_in *>(&ss);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(n ? 6000 + n : 0));
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto *un = reinterpret_cast<sockaddr_un *>(&ss);
        un->sun_family = AF_UNIX;
        std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
        bool abstract = kind == Kind::abstract;  // the name after a zero byte
        std::memcpy(un->sun_path + abstract, path.c_str(), path.size() + !abstract);
        len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    }
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr *>(&ss), len) != 0 || listen(fd, 16) != 0)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// A display number free on all three endpoints, taken by one silent
// listener of `kind` (its descriptor in *fd).
int claim_display(Kind kind, int *fd)
{
    mkdir("/tmp/.X11-unix", 01777);
    static int next = 400 + getpid() % 300;
    for (int tries = 0; tries < 200; ++tries) {
        int n = next++;
        struct stat st;
        if (stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &st) == 0)
            continue;
        int a = listen_as(Kind::abstract, n), t = listen_as(Kind::tcp, n);
        for (int p : {a, t})
            if (p >= 0)
                close(p);
        if (a >= 0 && t >= 0 && (*fd = listen_as(kind, n)) >= 0)
            return n;
    }
    return -1;
}

struct ChildRun {
    int status = -1;
    milliseconds took{0};
    std::string err;  // its standard error
};

// Runs each job in a child process of its own, all at once, and `meanwhile`
// in this process; a job's return value is its exit status. A child still
// running after the bound and the margin is killed.
std::vector<ChildRun> run_children(const std::vector<std::function<int()>> &jobs,
                                   const std::function<void()> &meanwhile = [] {})
{
    std::vector<ChildRun> runs(jobs.size());
    std::vector<pid_t> pids;
    std::vector<FILE *> errs;
    std::fflush(nullptr);
    const auto t0 = Clock::now();
    for (const auto &job : jobs) {
        errs.push_back(std::tmpfile());
        pids.push_back(fork());
        if (pids.back() == 0) {
            dup2(fileno(errs.back()), 2);
            _exit(job());
        }
    }
    meanwhile();
    for (std::size_t left = pids.size(); left > 0; std::this_thread::sleep_for(milliseconds(5))) {
        for (std::size_t i = 0; i < pids.size(); ++i) {
            if (pids[i] <= 0)
                continue;
            bool late = Clock::now() - t0 > kWait + kMargin;
            if (late)
                kill(pids[i], SIGKILL);
            if (waitpid(pids[i], &runs[i].status, late ? 0 : WNOHANG) == pids[i]) {
                runs[i].took = std::chrono::duration_cast<milliseconds>(Clock::now() - t0);
                pids[i] = -1;
                --left;
            }
        }
    }
    for (std::size_t i = 0; i < errs.size(); ++i) {
        char buf[512];
        std::rewind(errs[i]);
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, errs[i])) > 0;)
            runs[i].err.append(buf, n);
        std::fclose(errs[i]);
    }
    return runs;
}

int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

// A screen opened on DISPLAY with no framebuffer device to fall back to:
// status 0 when it failed and left no descriptor or thread behind.
int open_fails_cleanly(const char *driver, int flags)
{
    setenv("RIVEZ_FRAMEBUFFER", "/nonexistent/fb", 1);
    unsetenv("RIVEZ");
    __rk_gfx_driver_name = driver;
    int threads = running_threads(), fds = count_entries("/proc/self/fd");
    if (rk_GfxScreenRes(64, 40, 32, 0, flags, 0) == 0 || __rk_gfx)
        return 10;
    return count_entries("/proc/self/fd") != fds ? 11 : running_threads() != threads ? 12 : 0;
}

// ---- what the probe makes of a display name ---------------------------------

TEST(X11Probe, TellsAnsweringSilentAndUnknownDisplaysApart)
{
    const int fds = count_entries("/proc/self/fd");
    Xvfb server;
    ASSERT_TRUE(server.start("64x48x24", true));
    const std::string x = std::to_string(server.number());
    int silent_fd = -1, silent_tcp_fd = -1, unused_fd = -1;
    const std::string silent = std::to_string(claim_display(Kind::abstract, &silent_fd));
    const std::string silent_tcp = std::to_string(claim_display(Kind::tcp, &silent_tcp_fd));
    const std::string unused = std::to_string(claim_display(Kind::abstract, &unused_fd));
    close(unused_fd);  // nothing listens there now
    ASSERT_TRUE(silent_fd >= 0 && silent_tcp_fd >= 0 && unused_fd >= 0);

    // Local servers that answer with a refusal (0) or hang up at once.
    std::vector<std::thread> servers;
    std::string fake[2];
    for (int reply : {0, -1}) {
        int fd = -1;
        fake[reply + 1] = ":" + std::to_string(claim_display(Kind::abstract, &fd));
        ASSERT_GE(fd, 0);
        servers.emplace_back([fd, reply] {
            int c = accept(fd, nullptr, nullptr);
            char setup[12];
            if (reply >= 0 && recv(c, setup, sizeof setup, MSG_WAITALL) == sizeof setup && setup[0] == 'l')
                (void)!send(c, &reply, 1, MSG_NOSIGNAL);
            close(c);
            close(fd);
        });
    }

    const struct {
        std::string name;
        int expected;
    } cases[] = {
        // The working server by every local route Xlib takes to it.
        {":" + x, RK_X11_ANSWERS}, {":" + x + ".0", RK_X11_ANSWERS}, {"unix:" + x, RK_X11_ANSWERS},
        {"unix/:" + x, RK_X11_ANSWERS},
        {fake[1], RK_X11_ANSWERS},  // a refusal is an answer
        // Connected, never a byte back.
        {":" + silent, RK_X11_SILENT}, {"unix:" + silent + ".1", RK_X11_SILENT},
        // Left to Xlib at once: hung up, nothing there, displays over TCP
        // (answering or not), names it cannot use.
        {fake[0], RK_X11_UNKNOWN}, {":" + unused, RK_X11_UNKNOWN}, {"localhost:" + x, RK_X11_UNKNOWN},
        {"127.0.0.1:" + silent_tcp, RK_X11_UNKNOWN}, {"tcp/localhost:" + x, RK_X11_UNKNOWN},
        {"", RK_X11_UNKNOWN}, {"nonsense", RK_X11_UNKNOWN}, {":", RK_X11_UNKNOWN}, {":1x", RK_X11_UNKNOWN},
        {":" + x + ".", RK_X11_UNKNOWN}, {":70000", RK_X11_UNKNOWN}, {"host::0", RK_X11_UNKNOWN},
        {"[::1]:" + x, RK_X11_UNKNOWN}, {"local/:" + x, RK_X11_UNKNOWN}, {"display.invalid:" + x, RK_X11_UNKNOWN},
    };
    constexpr int wait_ms = 300;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto t0 = Clock::now();
        EXPECT_EQ(rk_hX11Probe(c.name.c_str(), wait_ms), c.expected);
        auto took = Clock::now() - t0;
        EXPECT_GE(took, milliseconds(c.expected == RK_X11_SILENT ? wait_ms - 5 : 0));
        EXPECT_LT(took, milliseconds(c.expected == RK_X11_SILENT ? wait_ms + 700 : 200));
    }
    EXPECT_EQ(rk_hX11Probe(nullptr, wait_ms), RK_X11_UNKNOWN);
    for (auto &t : servers)
        t.join();
    close(silent_fd);
    close(silent_tcp_fd);
    server.stop();
    EXPECT_EQ(count_entries("/proc/self/fd"), fds) << "a probe left its socket open";
}

// ---- opens against sockets that never answer ---------------------------------

TEST(X11Probe, SilentListenersFailTheOpenWithinTheWait)
{
    const struct {
        Kind kind;
        const char *prefix;
    } cases[] = {{Kind::abstract, ":"}, {Kind::file, ":"}, {Kind::file, "unix:"}};
    std::vector<int> listeners, numbers;
    std::vector<std::function<int()>> jobs;
    for (const auto &c : cases) {
        int fd = -1;
        numbers.push_back(claim_display(c.kind, &fd));
        ASSERT_GE(fd, 0);
        listeners.push_back(fd);
        std::string name = c.prefix + std::to_string(numbers.back());
        jobs.push_back([name] {
            setenv("DISPLAY", name.c_str(), 1);
            return open_fails_cleanly(nullptr, 0);
        });
    }
    std::vector<ChildRun> runs = run_children(jobs);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::string name = cases[i].prefix + std::to_string(numbers[i]);
        SCOPED_TRACE(name);
        EXPECT_TRUE(WIFEXITED(runs[i].status) && WEXITSTATUS(runs[i].status) == 0) << runs[i].status << runs[i].err;
        EXPECT_GE(runs[i].took, kWait);
        EXPECT_LT(runs[i].took, kWait + kMargin);
        // One line for the whole selection, which opens the display four times.
        EXPECT_EQ(count_of(runs[i].err, "\n"), 1) << runs[i].err;
        EXPECT_EQ(count_of(runs[i].err, "the X display " + name + " does not answer"), 1) << runs[i].err;
        close(listeners[i]);
        if (cases[i].kind == Kind::file)
            unlink(("/tmp/.X11-unix/X" + std::to_string(numbers[i])).c_str());
    }
}

// ---- a stopped server ---------------------------------------------------------

// Every place that opens the display fails within the wait with one line,
// the paint program among them; this process opens the server once it runs
// again.
TEST(X11Probe, StoppedServerFailsEveryOpenInTimeAndWorksWhenContinued)
{
    Xvfb server;
    ASSERT_TRUE(server.start("320x200x24"));
    kill(server.pid(), SIGSTOP);
    std::string exe(4096, '\0');
    exe.resize(static_cast<std::size_t>(std::max<ssize_t>(readlink("/proc/self/exe", exe.data(), exe.size()), 0)));
    exe = exe.substr(0, exe.rfind('/')) + "/../malwerk";
    const struct {
        const char *what;
        std::function<int()> job;
        int status;
    } cases[] = {
        {"OpenGL driver", [] { return open_fails_cleanly("opengl", RK_MODE_OPENGL); }, 0},
        {"screen info", [] {
             int v[4] = {-1, -1, -1, -1};
             rk_hScreenInfo(&v[0], &v[1], &v[2], &v[3]);
             return (v[0] | v[1] | v[2] | v[3]) == 0 ? 0 : 10;
         }, 0},
        {"modes", [] {
             int count = -1;
             return rk_hX11FetchModes(32, &count) == nullptr ? 0 : 10;
         }, 0},
        {"console keyboard", [] {
             __rk_con.console_kind = RK_CON_OTHER;
             if (rk_ConsoleMultikey(30) != 0 || __rk_con.kbd_poll)
                 return 10;
             auto t0 = Clock::now();  // asked again, it does not wait again
             return rk_ConsoleMultikey(30) == 0 && Clock::now() - t0 < milliseconds(500) ? 0 : 11;
         }, 0},
        {"paint program", [&exe] {
             setenv("RIVEZ_FRAMEBUFFER", "/nonexistent/fb", 1);
             unsetenv("RIVEZ");
             execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
             return 127;
         }, 1},
    };
    std::vector<std::function<int()>> jobs;
    for (const auto &c : cases)
        jobs.push_back(c.job);

    // The X11 driver in this process while the children run. Should the open
    // hang after all, the server is continued, which ends it.
    bool in_time = false;
    int opened = 0, threads = 0, fds = 0, fds_after = 0;
    ChildRun self;
    std::vector<ChildRun> runs = run_children(jobs, [&] {
        threads = running_threads();
        fds = count_entries("/proc/self/fd");
        setenv("RIVEZ_FRAMEBUFFER", "/nonexistent/fb", 1);
        __rk_gfx_driver_name = "x11";
        testing::internal::CaptureStderr();
        auto t0 = Clock::now();
        auto opening = std::async(std::launch::async, [] { return rk_GfxScreenRes(64, 40, 32, 0, 0, 0); });
        in_time = opening.wait_for(kWait + kMargin) == std::future_status::ready;
        if (!in_time)
            kill(server.pid(), SIGCONT);
        opened = opening.get();
        self.took = std::chrono::duration_cast<milliseconds>(Clock::now() - t0);
        self.err = testing::internal::GetCapturedStderr();
        fds_after = count_entries("/proc/self/fd");
    });
    kill(server.pid(), SIGCONT);
    ASSERT_TRUE(in_time) << "the open hung";
    EXPECT_NE(opened, 0);
    EXPECT_EQ(__rk_gfx, nullptr);
    EXPECT_EQ(fds_after, fds);
    EXPECT_EQ(running_threads(), threads);
    runs.push_back(self);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i < std::size(cases) ? cases[i].what : "X11 driver");
        const ChildRun &r = runs[i];
        if (i < std::size(cases)) {
            EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == cases[i].status) << r.status << r.err;
        }
        EXPECT_GE(r.took, kWait);
        EXPECT_LT(r.took, kWait + kMargin);
        EXPECT_EQ(count_of(r.err, "the X display " + server.name() + " does not answer"), 1) << r.err;
        EXPECT_EQ(count_of(r.err, "\n"), i == 4 ? 2 : 1) << r.err;
    }
    EXPECT_EQ(count_of(runs[4].err, "malwerk: no display could be opened"), 1) << runs[4].err;

    ASSERT_EQ(rk_GfxScreenRes(64, 40, 32, 0, 0, 0), 0);
    EXPECT_STREQ(__rk_gfx->driver->name, "X11");
    rk_GfxScreen(0, 0, 0, 0, 0);
    __rk_gfx_driver_name = nullptr;
}

}  // namespace
