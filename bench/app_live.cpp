// The real paint program on a private Xvfb, measured from outside:
//  - CPU use while idle: all its threads together, as a share of one core
//    over 10 s, from the run time in /proc/<pid>/task/*/schedstat, and the X
//    server's over the same time beside it, against the memory work its
//    frame must do (measured in turns with it);
//  - latency from a pointer press-and-move over the canvas (XTEST) until
//    the pen stroke is visible in the window (polled with XGetImage),
//    median over 50 strokes.
// Prints the figures with their targets.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/xvfb.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// The idle program against the memory work its frame has to do (below),
// and the X server's share meanwhile.
constexpr double IDLE_TO_LIMIT_TARGET = 1.3, SERVER_TARGET_PCT = 0.5, LATENCY_TARGET_MS = 60;
constexpr uint32_t BAR = 0xE6DDD5, WHITE = 0xFFFFFF;

struct Program {
    Xvfb server;
    Display *dpy = nullptr;
    pid_t pid = -1;
    const char *exe = MALWERK_EXE;
    fs::path dir;
    Clock::time_point icons_copied;
    int wx = 0, wy = 0;

    ~Program()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (dpy)
            XCloseDisplay(dpy);
        server.stop();
        std::error_code ec;
        if (!dir.empty())
            fs::remove_all(dir, ec);
    }

    Window find_window() { return find_toplevel(dpy, 800, 600); }

    // Pixels of one window row, 0xRRGGBB.
    std::vector<uint32_t> row(int x, int y, int w)
    {
        std::vector<uint32_t> px;
        XImage *img = XGetImage(dpy, DefaultRootWindow(dpy), wx + x, wy + y, w, 1, AllPlanes, ZPixmap);
        if (!img)
            return px;
        for (int c = 0; c < w; ++c)
            px.push_back(static_cast<uint32_t>(XGetPixel(img, c, 0)) & 0xFFFFFF);
        XDestroyImage(img);
        return px;
    }

    void move(int x, int y)
    {
        XTestFakeMotionEvent(dpy, DefaultScreen(dpy), wx + x, wy + y, CurrentTime);
        XFlush(dpy);
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(dpy, 1, down, CurrentTime);
        XFlush(dpy);
    }

    bool start()
    {
        if (!server.start("1024x768x24") || !(dpy = XOpenDisplay(nullptr))) {
            std::fprintf(stderr, "app_live: no Xvfb\n");
            return false;
        }
        int ev, err, major, minor;
        if (!XTestQueryExtension(dpy, &ev, &err, &major, &minor)) {
            std::fprintf(stderr, "app_live: the X server has no XTEST\n");
            return false;
        }
        char tmpl[] = "/tmp/malwerk-live-XXXXXX";
        if (!mkdtemp(tmpl))
            return false;
        dir = tmpl;
        std::error_code ec;
        fs::create_directories(dir / "gfx", ec);
        for (const auto &icon : fs::directory_iterator(fs::path(MALWERK_SOURCE_DIR) / "gfx", ec))
            if (icon.path().extension() == ".bmp" && !ec)
                fs::copy_file(icon.path(), dir / "gfx" / icon.path().filename(), ec);
        if (ec) {
            std::fprintf(stderr, "app_live: cannot copy the icons: %s\n", ec.message().c_str());
            return false;
        }
        icons_copied = Clock::now();
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            unsetenv("RIVEZ");
            execl(exe, exe, static_cast<char *>(nullptr));
            _exit(127);
        }
        Window w = 0;
        for (int i = 0; i < 500 && !w; ++i) {
            std::this_thread::sleep_for(10ms);
            w = find_window();
        }
        if (!w) {
            std::fprintf(stderr, "app_live: no window appeared\n");
            return false;
        }
        // No window manager gives the window the focus.
        XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
        XSync(dpy, False);
        Window child;
        XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &wx, &wy, &child);
        for (int i = 0; i < 300; ++i) {
            std::vector<uint32_t> top = row(400, 10, 1);
            if (!top.empty() && top[0] == BAR)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        std::fprintf(stderr, "app_live: the window shows no frame\n");
        return false;
    }
};

// Time each thread has run, in nanoseconds, by thread id: the first field of
// /proc/<pid>/task/<tid>/schedstat. utime + stime of .../stat come in 10 ms
// ticks, too coarse for a few per cent of a core over seconds.
std::map<int, long long> cpu_ns(pid_t pid)
{
    std::map<int, long long> ns;
    std::error_code ec;
    for (const auto &task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        long long run = 0;
        if (in >> run)
            ns[std::stoi(task.path().filename())] = run;
    }
    return ns;
}

std::string thread_name(pid_t pid, int tid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// The physical limit under the idle figure: the memory work every frame of
// the program has to do by its description, done with the C library alone
// in this process, at the same pace, with no display. Each pass clears an
// 800x600x4 page (memset) and copies the 719x553 canvas onto it row by row
// (memcpy), then sleeps 10 ms.
struct FrameWork {
    static constexpr int W = 800, H = 600, CW = 719, CH = 553, LEFT = 81, TOP = 26;
    std::vector<uint32_t> page = std::vector<uint32_t>(static_cast<std::size_t>(W) * H),
                          canvas = std::vector<uint32_t>(static_cast<std::size_t>(CW) * CH, WHITE);

    // Passes for `seconds`; the CPU time they took, in seconds.
    double run(double seconds)
    {
        auto thread_cpu = [] {
            timespec t;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
        };
        const double c0 = thread_cpu();
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::duration<double>(seconds)) {
            std::memset(page.data(), 0, page.size() * sizeof page[0]);
            for (int y = 0; y < CH; ++y)
                std::memcpy(&page[static_cast<std::size_t>(TOP + y) * W + LEFT],
                            &canvas[static_cast<std::size_t>(y) * CW], CW * sizeof canvas[0]);
            asm volatile("" : : "r"(page.data()) : "memory");  // the stores stay
            std::this_thread::sleep_for(10ms);
        }
        return thread_cpu() - c0;
    }
};

struct Idle {
    double program_pct, server_pct, limit_pct;
};

// The idle program, the X server meanwhile and the limit, measured in turns:
// ten slices of two seconds each, the program stopped while the limit runs,
// so that a change in the machine's pace during the run falls on both alike
// (on a virtual machine either figure moves by a quarter from one slice to
// the next).
Idle idle_cpu(Program &p)
{
    p.move(600, 560);  // over the canvas, no button held
    // The icons were copied just before the start, and a file changed in the
    // last two seconds is read afresh at every load (it may still be being
    // written); installed icons have long settled.
    std::this_thread::sleep_until(p.icons_copied + 3s);
    constexpr int SLICES = 10;
    constexpr double SLICE = 2;
    std::map<int, long long> threads;
    long long server = 0;
    double wall = 0, limit_cpu = 0, limit_wall = 0;
    double lowest = 1e9, highest = 0;  // the slices' ratios of program to limit
    FrameWork work;
    for (int i = 0; i < SLICES; ++i) {
        auto before = cpu_ns(p.pid), server_before = cpu_ns(p.server.pid());
        auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(SLICE));
        auto after = cpu_ns(p.pid), server_after = cpu_ns(p.server.pid());
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
        long long slice = 0;
        for (auto [tid, t] : after) {
            threads[tid] += t - (before.count(tid) ? before[tid] : 0);
            slice += t - (before.count(tid) ? before[tid] : 0);
        }
        for (auto [tid, t] : server_after)
            server += t - (server_before.count(tid) ? server_before[tid] : 0);

        kill(p.pid, SIGSTOP);  // quiet while the limit is measured
        auto l0 = Clock::now();
        const double slice_limit = work.run(SLICE);
        limit_cpu += slice_limit;
        limit_wall += std::chrono::duration<double>(Clock::now() - l0).count();
        const double ratio = 1e-9 * static_cast<double>(slice) / slice_limit;
        lowest = std::min(lowest, ratio);
        highest = std::max(highest, ratio);
        kill(p.pid, SIGCONT);
        std::this_thread::sleep_for(1s);  // back to its pace
    }
    long long total = 0;
    for (auto [tid, d] : threads)
        total += d;
    double pct = 1e-7 * static_cast<double>(total) / wall;
    std::printf("idle CPU, all threads, share of one core over %.0f s: %6.2f %%\n", wall, pct);
    for (auto [tid, d] : threads)
        std::printf("    thread %d%s (%s): %6.2f %%\n", tid, tid == p.pid ? ", main" : "",
                    thread_name(p.pid, tid).c_str(), 1e-7 * static_cast<double>(d) / wall);
    double server_pct = 1e-7 * static_cast<double>(server) / wall;
    std::printf("    the X server (Xvfb) meanwhile: %6.2f %%   target <= %.1f %%   %s\n", server_pct,
                SERVER_TARGET_PCT, server_pct <= SERVER_TARGET_PCT ? "met" : "MISSED");
    std::printf("    program to limit in single slices: %.2f to %.2f\n", lowest, highest);
    return {pct, server_pct, 100.0 * limit_cpu / limit_wall};
}

double percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

void stroke_latency(Program &p)
{
    constexpr int STROKES = 50, X0 = 200, LEN = 40;
    std::mt19937 rng(7);
    std::vector<double> ms;
    int lost = 0;
    for (int i = 0; i < STROKES; ++i) {
        int y = 50 + 10 * i;
        p.move(X0, y);
        // Lets the program record the start position; the random part
        // spreads the press over the phases of its frame loop and of the
        // window thread.
        std::this_thread::sleep_for(std::chrono::microseconds(30000 + rng() % 30000));
        auto t0 = Clock::now();
        p.button(true);
        p.move(X0 + LEN, y);
        bool seen = false;
        while (Clock::now() - t0 < 2s) {
            std::vector<uint32_t> px = p.row(X0, y, LEN + 1);
            if (px.size() == LEN + 1 && px.front() != WHITE && px.back() != WHITE) {
                seen = true;
                break;
            }
            std::this_thread::sleep_for(200us);
        }
        double t = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        p.button(false);
        if (seen)
            ms.push_back(t);
        else
            ++lost;
        std::this_thread::sleep_for(60ms);  // the release is read before the next move
    }
    if (ms.empty()) {
        std::printf("press-and-move to visible stroke: no stroke became visible\n");
        return;
    }
    double median = percentile(ms, 0.5);
    std::printf("press-and-move to visible stroke, median of %zu strokes: %6.1f ms   target <= %.0f ms   %s\n",
                ms.size(), median, LATENCY_TARGET_MS, median <= LATENCY_TARGET_MS ? "met" : "MISSED");
    std::printf("    min %.1f ms, p90 %.1f ms, max %.1f ms%s\n", percentile(ms, 0), percentile(ms, 0.9),
                percentile(ms, 1), lost ? (", " + std::to_string(lost) + " strokes never shown").c_str() : "");
}

}  // namespace

// An optional argument names another build of the program to measure.
int main(int argc, char **argv)
{
    Program p;
    p.exe = argc > 1 ? argv[1] : MALWERK_EXE;
    if (!p.start())
        return 1;
    // Both figures depend on how busy the machine is.
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("malwerk on Xvfb %s; load average %s, %ld processors\n", p.server.name().c_str(),
                load.substr(0, load.find(' ')).c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    const Idle idle = idle_cpu(p);
    const double ratio = idle.program_pct / idle.limit_pct;
    std::printf("the frame's memory work alone (memset of the page, memcpy of the canvas, 10 ms pause, no display),\n"
                "measured in turns with the idle program:\n"
                "    %6.2f %% of a core; the idle program takes %.2f times that   target <= %.1f   %s\n",
                idle.limit_pct, ratio, IDLE_TO_LIMIT_TARGET, ratio <= IDLE_TO_LIMIT_TARGET ? "met" : "MISSED");
    stroke_latency(p);
    return 0;
}
