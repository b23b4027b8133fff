// The terminal layer end to end: a small program on the runtime
// (programs/term_probe.cpp) runs on a pty this test opens, and the test
// checks the terminal from the other side: its settings while the program
// runs and after it ended, and the bytes the program wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <linux/kd.h>
#include <unistd.h>
#include <vector>

#include "rt/rt.h"
#include "rt/sysdev.h"
#include "rt/term.h"
#include "support/pty.h"

using namespace std::chrono_literals;

namespace {

bool same_settings(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

// Ways the program ends: the byte typed into its terminal, or a signal
// sent from outside.
enum class Ending { Return, End3, RaiseInt, KillTermMutexHeld, RaiseHup, RaiseSegv, ControlC, HangUp };

struct Case {
    const char *term;  // null: TERM unset
    Ending ending;
    int kind, type;    // console_kind and term_type the program must find
                       // (kind 0 when the database has no entry for TERM)
    bool answer_cursor = false;  // the test answers the cursor query
    bool opost_off = false;      // output post-processing off beforehand
    bool stdout_to_file = false;
    bool unsized = false;        // the pty reports 0 x 0 and never answers
};

const Case cases[] = {
    {"xterm", Ending::Return, 2, 1, true},
    {"linux", Ending::End3, 1, 0},
    {"console", Ending::RaiseInt, 1, 0},
    {"dumb", Ending::KillTermMutexHeld, 2, 0},
    {"xterm", Ending::RaiseHup, 2, 1},
    {"linux", Ending::RaiseSegv, 1, 0},
    {"xterm", Ending::ControlC, 2, 1, false, true},
    {"XTERM", Ending::Return, 0, 0},
    {nullptr, Ending::RaiseInt, 0, 0},
    {"xterm", Ending::Return, 0, 0, false, false, true},
    {"xterm", Ending::Return, 2, 1, false, false, false, true},
    {"xterm", Ending::HangUp, 2, 1},
};

std::string describe(const Case &c)
{
    static const char *endings[] = {"return", "rk_End(3)", "SIGINT", "SIGTERM with the console mutex held",
                                    "SIGHUP", "SIGSEGV", "Control+C", "hang-up"};
    std::string s = std::string("TERM=") + (c.term ? c.term : "(unset)") + ", " +
                    endings[static_cast<int>(c.ending)];
    if (c.stdout_to_file)
        s += ", standard output to a file";
    if (c.unsized)
        s += ", unsized silent terminal";
    if (c.opost_off)
        s += ", output post-processing off";
    return s;
}

}  // namespace

TEST(Terminal, RawWhileRunningAndRestoredAfterEveryEnding)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(describe(c));
        PtyProgram p;
        ASSERT_TRUE(p.open(c.unsized ? 0 : 30, c.unsized ? 0 : 100));
        if (c.opost_off) {
            termios raw_out;
            ASSERT_EQ(tcgetattr(p.slave, &raw_out), 0);
            raw_out.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            ASSERT_EQ(tcsetattr(p.slave, TCSANOW, &raw_out), 0);
        }
        termios before;
        ASSERT_EQ(tcgetattr(p.slave, &before), 0);
        int flags_before = fcntl(p.slave, F_GETFL);

        char out_path[] = "/tmp/term-out-XXXXXX";
        int out_fd = mkstemp(out_path);
        ASSERT_GE(out_fd, 0);
        close(out_fd);
        // The sanitizers' own fault handlers stay out of the way: the
        // program must end by the signal itself.
        auto sanitizer = [](const char *name) {
            return std::string(getenv(name) ? getenv(name) : "") + ":handle_segv=0:handle_abort=0";
        };
        std::string asan = sanitizer("ASAN_OPTIONS"), tsan = sanitizer("TSAN_OPTIONS");
        auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(p.start({TERM_PROBE}, {{"TERM", c.term}, {"ASAN_OPTIONS", asan.c_str()}, {"TSAN_OPTIONS", tsan.c_str()}},
                            c.stdout_to_file ? out_path : nullptr));
        if (c.answer_cursor) {
            ASSERT_TRUE(p.wait_for([&] { return p.output.find("\x1b[6n") != std::string::npos; }));
            p.type("\x1b[7;5R");
        }
        std::string ready = p.report_line("ready");
        ASSERT_FALSE(ready.empty()) << "the program did not start";
        auto start_time = std::chrono::steady_clock::now() - started;
        int kind = -1, type = -1, rows = -1, cols = -1, cy = -1, cx = -1;
        ASSERT_EQ(std::sscanf(ready.c_str(), "ready %d %d %d %d %d %d", &kind, &type, &rows, &cols, &cy, &cx), 6);
        bool known = c.term && terminal_known(c.term);
        bool console = known && c.kind != 0;
        EXPECT_EQ(kind, console ? c.kind : 0);
        if (console) {
            EXPECT_EQ(type, c.type);
        }

        // Start-up: keypad transmit (after the direct mapping on a Linux
        // console), the size query on an unsized terminal, the cursor query.
        std::string start_bytes;
        if (console) {
            if (c.kind == 1)
                start_bytes += "\x1b(U";
            start_bytes += terminal_capability(c.term, "ks");
            if (c.unsized)
                start_bytes += "\x1b[18t";
            start_bytes += "\x1b[6n";
            EXPECT_EQ(rows, c.unsized ? 25 : 30);
            EXPECT_EQ(cols, c.unsized ? 80 : 100);
            if (c.answer_cursor) {
                EXPECT_EQ(cy, 7);
                EXPECT_EQ(cx, 5);
            }
            // A silent terminal costs two answer timeouts, not more (with
            // room for a loaded machine).
            if (c.unsized) {
                EXPECT_LT(start_time, 3000ms);
            }
        }
        EXPECT_EQ(p.output, start_bytes);
        p.output.clear();

        // Raw input while it runs: a key arrives without a line end and is
        // not echoed; without a terminal layer nothing was touched.
        termios running;
        ASSERT_EQ(tcgetattr(p.slave, &running), 0);
        if (console) {
            EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u);
            EXPECT_NE(running.c_lflag & ISIG, 0u);
            EXPECT_EQ(running.c_iflag & (IXON | IXOFF | IGNBRK), 0u);
            EXPECT_NE(running.c_oflag & OPOST, 0u);
            p.type("a");
        } else {
            EXPECT_TRUE(same_settings(running, before));
            p.type("a\n");
        }
        EXPECT_EQ(p.report_line("key"), "key 97");
        if (console) {
            EXPECT_EQ(p.output.find('a'), std::string::npos) << "echoed";
        }
        p.reports.clear();
        p.output.clear();

        int want_signal = 0, want_code = 0;
        const char *line_end = console ? "" : "\n";
        switch (c.ending) {
        case Ending::Return:
            p.type(std::string("q") + line_end);
            break;
        case Ending::End3:
            p.type(std::string("e") + line_end);
            want_code = 3;
            break;
        case Ending::RaiseInt:
            p.type(std::string("i") + line_end);
            want_signal = SIGINT;
            break;
        case Ending::KillTermMutexHeld:
            p.type(std::string("b") + line_end);
            ASSERT_EQ(p.report_line("held"), "held");
            kill(p.pid, SIGTERM);
            want_signal = SIGTERM;
            break;
        case Ending::RaiseHup:
            p.type(std::string("h") + line_end);
            want_signal = SIGHUP;
            break;
        case Ending::RaiseSegv:
            p.type(std::string("s") + line_end);
            want_signal = SIGSEGV;
            break;
        case Ending::ControlC:
            p.type("\x03");
            want_signal = SIGINT;
            break;
        case Ending::HangUp:
            p.hang_up();
            want_signal = SIGHUP;
            break;
        }
        int status = p.finish();
        ASSERT_NE(status, -1) << "the program did not end";
        if (want_signal) {
            ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
            EXPECT_EQ(WTERMSIG(status), want_signal);
            EXPECT_EQ(p.report_line("restored", 1000ms), "restored");
        } else {
            ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
            EXPECT_EQ(WEXITSTATUS(status), want_code);
            EXPECT_EQ(p.reports.find("restored"), std::string::npos);
        }
        if (c.ending == Ending::HangUp)
            continue;  // the terminal is gone

        // Shutdown: default mapping on a Linux console, attributes off,
        // normal cursor, keypad local; then the settings are as before.
        std::string end_bytes;
        if (!console && c.ending != Ending::ControlC) {
            // Only the terminal's own echo of the command.
            end_bytes = p.output.empty() ? "" : p.output.substr(0, 1) + "\r\n";
        } else if (console) {
            if (c.kind == 1)
                end_bytes += "\x1b(B";
            for (const char *cap : {"me", "ve", "ke"})
                end_bytes += terminal_capability(c.term, cap);
        }
        EXPECT_EQ(p.output, end_bytes);
        termios after;
        ASSERT_EQ(tcgetattr(p.slave, &after), 0);
        EXPECT_TRUE(same_settings(after, before));
        EXPECT_EQ(fcntl(p.slave, F_GETFL), flags_before);

        FILE *f = fopen(out_path, "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(fgetc(f), EOF) << "the program wrote to its redirected output";
        fclose(f);
        unlink(out_path);
    }
}

// A size change of the terminal reaches the program through the background
// thread.
TEST(Terminal, SizeChangeUpdatesRowsAndColumns)
{
    PtyProgram p;
    ASSERT_TRUE(p.open(24, 80));
    ASSERT_TRUE(p.start({TERM_PROBE}, {{"TERM", "xterm"}}));
    ASSERT_FALSE(p.report_line("ready").empty());
    for (auto [rows, cols] : {std::pair{40, 132}, std::pair{10, 20}}) {
        winsize ws{static_cast<unsigned short>(rows), static_cast<unsigned short>(cols), 0, 0};
        ASSERT_EQ(ioctl(p.master, TIOCSWINSZ, &ws), 0);
        std::string want = "size 2 1 " + std::to_string(rows) + " " + std::to_string(cols);
        bool seen = p.wait_for([&] {
            p.type("z");
            std::string line = p.report_line("size", 200ms);
            return line.rfind(want, 0) == 0;
        });
        EXPECT_TRUE(seen) << want;
    }
    p.type("q");
    int status = p.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Answers to the cursor query come from whatever is on the other side of
// the terminal: only a well-formed position inside the screen is taken.
TEST(Terminal, CursorAnswerTakenOnlyWhenWellFormedAndInside)
{
    struct Answer {
        const char *bytes;
        int row, col;  // what the program reports (0 0: none taken)
    };
    const Answer answers[] = {
        {"\x1b[7;5R", 7, 5},
        {"\x1b[24;80R", 24, 80},
        {"\x1b[99999999999;5R", 0, 0},
        {"\x1b[25;5R", 0, 0},
        {"\x1b[0;0R", 0, 0},
        {"\x1b[-3;5R", 0, 0},
        {"\x1b[7R", 0, 0},
    };
    for (const Answer &a : answers) {
        SCOPED_TRACE(a.bytes + 1);
        PtyProgram p;
        ASSERT_TRUE(p.open(24, 80));
        ASSERT_TRUE(p.start({TERM_PROBE}, {{"TERM", "xterm"}}));
        ASSERT_TRUE(p.wait_for([&] { return p.output.find("\x1b[6n") != std::string::npos; }));
        p.type(a.bytes);
        std::string ready = p.report_line("ready");
        int kind, type, rows, cols, cy = -1, cx = -1;
        ASSERT_EQ(std::sscanf(ready.c_str(), "ready %d %d %d %d %d %d", &kind, &type, &rows, &cols, &cy, &cx), 6);
        EXPECT_EQ(cy, a.row);
        EXPECT_EQ(cx, a.col);
        p.type("q");
        int status = p.finish();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

namespace {

std::vector<std::pair<unsigned long, long>> console_requests;
std::vector<std::string> keyboard_calls;
int keyboard_start_result;

int record_ioctl(int fd, unsigned long request, void *arg)
{
    console_requests.emplace_back(request, reinterpret_cast<long>(arg));
    return 0;
}

int keyboard_start(void (*save)(), void (*restore)(), void (*key_handler)(int))
{
    keyboard_calls.push_back(save && restore && key_handler ? "start" : "start without routines");
    return keyboard_start_result;
}

void keyboard_stop()
{
    keyboard_calls.push_back("stop");
}

void gfx_exit() {}
void gfx_save() {}
void gfx_restore() {}
void gfx_key(int) {}
RkString *console_inkey()
{
    return nullptr;
}
void console_sleep(int) {}

}  // namespace

// A graphics driver takes the console and gives it back: the exit routine,
// the console key hooks, the registered keyboard and the console mode move
// together, and a keyboard that cannot start leaves everything as it was.
TEST(Terminal, ConsoleGraphicsModeTakesAndGivesBackTheConsole)
{
    SysDev dev = rk_sys_kernel;
    dev.ioctl = record_ioctl;
    rk_sys = &dev;
    static const RkConsoleKeyboardOps keyboard = {keyboard_start, keyboard_stop};
    rk_hConsoleSetKeyboard(&keyboard);
    __rk_ctx.hooks.inkey = console_inkey;
    __rk_ctx.hooks.sleep = console_sleep;

    keyboard_start_result = -1;
    EXPECT_EQ(rk_hConsoleGfxMode(gfx_exit, gfx_save, gfx_restore, gfx_key), -1);
    EXPECT_EQ(__rk_con.gfx_exit, nullptr);
    EXPECT_EQ(__rk_ctx.hooks.inkey, console_inkey);
    EXPECT_TRUE(console_requests.empty());
    EXPECT_EQ(rk_hConsoleGfxMode(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(console_requests.empty()) << "gave back a console it never had";

    keyboard_start_result = 0;
    EXPECT_EQ(rk_hConsoleGfxMode(gfx_exit, gfx_save, gfx_restore, gfx_key), 0);
    EXPECT_EQ(__rk_con.gfx_exit, gfx_exit);
    EXPECT_EQ(__rk_ctx.hooks.inkey, nullptr);
    EXPECT_EQ(__rk_ctx.hooks.sleep, nullptr);
    EXPECT_EQ(rk_hConsoleGfxMode(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(__rk_con.gfx_exit, nullptr);

    using Request = std::pair<unsigned long, long>;
    EXPECT_EQ(console_requests, (std::vector<Request>{{KDSETMODE, KD_GRAPHICS}, {KDSETMODE, KD_TEXT}}));
    EXPECT_EQ(keyboard_calls, (std::vector<std::string>{"start", "start", "stop"}));
    rk_hConsoleSetKeyboard(nullptr);
    rk_sys = &rk_sys_kernel;
}
