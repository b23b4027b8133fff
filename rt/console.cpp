#include "rt/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <poll.h>
#include <unistd.h>

#include "rt/rt.h"
#include "rt/str.h"
#include "rt/term.h"

// The fallback console: what is needed while no graphics screen is open.
struct ConsoleState {
    unsigned fg = 7, bg = 0;
    int cols = 80, rows = 25;
    int view_top = -1, view_bottom = -1;
    int row = 1;  // last row located to
    bool cursor_visible = true;
};
static ConsoleState con;

static const ConsoleHooks &hooks()
{
    return __rk_ctx.hooks;
}

static void term_write(const char *s)
{
    if (isatty(STDOUT_FILENO)) {
        std::fputs(s, stdout);
        std::fflush(stdout);
    }
}

// A pause on the monotonic clock, resumed for the time left when a signal
// handler (a resized terminal, say) ran meanwhile, so that the frame pace
// does not depend on signals.
void rk_hPause(int ms)
{
    if (ms <= 0)
        return;
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}

void rk_Cls(int mode)
{
    if (hooks().cls) {
        hooks().cls(mode);
        return;
    }
    term_write("\x1b[H\x1b[J");
    __rk_ctx.con_out_column = 0;
}

unsigned rk_Color(unsigned fg, unsigned bg, int flags)
{
    if (hooks().color)
        return hooks().color(fg, bg, flags);
    unsigned prev = (con.bg << 16) | con.fg;
    if (!(flags & 1))
        con.fg = fg & 15;
    if (!(flags & 2))
        con.bg = bg & 15;
    return prev;
}

int rk_Width(int cols, int rows)
{
    if (hooks().width)
        return hooks().width(cols, rows);
    int prev = con.cols | (con.rows << 16);
    if (cols > 0)
        con.cols = cols;
    if (rows > 0)
        con.rows = rows;
    return prev;
}

void rk_Sleep(int ms)
{
    if (hooks().sleep) {
        hooks().sleep(ms);
        return;
    }
    if (ms == -1) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        poll(&p, 1, -1);
        return;
    }
    rk_hPause(ms);
}

int rk_PageSet(int work, int visible)
{
    if (hooks().pageset)
        return hooks().pageset(work, visible);
    return 0;  // the console has a single page
}

void rk_ViewUpdate()
{
    if (hooks().viewupdate)
        hooks().viewupdate();
}

int rk_LocateEx(int row, int col, int cursor, int *current)
{
    int top, bottom, cols;
    rk_ConsoleGetView(&top, &bottom);
    rk_GetSize(&cols, nullptr);
    if ((row != 0 && (row < top || row > bottom)) || (col != 0 && (col < 1 || col > cols)))
        return rk_ErrorSetNum(RK_ERR_STATE);
    int result;
    if (hooks().locate) {
        result = hooks().locate(row, col, cursor);
    } else {
        char seq[32] = "";
        if (row > 0 && col > 0)
            std::snprintf(seq, sizeof seq, "\x1b[%d;%dH", row, col);
        else if (row > 0)
            std::snprintf(seq, sizeof seq, "\x1b[%dd", row);
        else if (col > 0)
            std::snprintf(seq, sizeof seq, "\x1b[%dG", col);
        term_write(seq);
        if (row > 0)
            con.row = row;
        if (cursor >= 0 && (cursor > 0) != con.cursor_visible) {
            con.cursor_visible = cursor > 0;
            term_write(con.cursor_visible ? "\x1b[?25h" : "\x1b[?25l");
        }
        result = (con.cursor_visible ? 0x10000 : 0) | (con.row << 8) | (col > 0 ? col : __rk_ctx.con_out_column + 1);
    }
    if (col != 0)
        __rk_ctx.con_out_column = col - 1;
    if (current)
        *current = result;
    return rk_ErrorSetNum(RK_OK);
}

int rk_Locate(int row, int col, int cursor)
{
    // A refused position moves nothing; the call then reports success.
    int current = 0;
    if (rk_LocateEx(row, col, cursor, &current) != RK_OK)
        rk_LocateEx(0, 0, cursor, &current);
    return current;
}

int rk_GetX()
{
    if (hooks().getx)
        return hooks().getx();
    return __rk_ctx.con_out_column + 1;
}

void rk_GetXY(int *col, int *row)
{
    if (hooks().getxy) {
        hooks().getxy(col, row);
        return;
    }
    if (col)
        *col = __rk_ctx.con_out_column + 1;
    if (row)
        *row = con.row;
}

void rk_GetSize(int *cols, int *rows)
{
    if (hooks().getsize) {
        hooks().getsize(cols, rows);
        return;
    }
    if (cols)
        *cols = con.cols;
    if (rows)
        *rows = con.rows;
}

static bool stdin_ready(int timeout_ms)
{
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN);
}

// While the terminal layer runs, keys come through its read-one-byte handler
// (slot 17: the raw terminal, or the console keyboard's ring); a key taken
// by a key-hit test waits in `pending_key` for the next read.
static int pending_key = -1;

static int (*terminal_getch())()
{
    if (__rk_con.console_kind == RK_CON_NONE)
        return nullptr;
    pthread_mutex_lock(&__rk_con.mutex);
    int (*getch)() = __rk_con.getch;
    pthread_mutex_unlock(&__rk_con.mutex);
    return getch;
}

// The next key byte, or -1 when there is none (without `wait`) or the input
// has ended.
static int next_key(bool wait)
{
    if (pending_key >= 0) {
        int c = pending_key;
        pending_key = -1;
        return c;
    }
    int (*getch)() = terminal_getch();
    if (!getch) {
        unsigned char c;
        if (!wait && !stdin_ready(0))
            return -1;
        return read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
    }
    for (;;) {
        int c = getch();
        if (c >= 0 || !wait)
            return c;
        pollfd p{__rk_con.tty_fd, POLLIN, 0};
        if (poll(&p, 1, 10) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return -1;
    }
}

RkString *rk_ConsoleInkey()
{
    int c = next_key(false);
    if (c < 0)
        return rk_StrAllocTempDesc("");
    // The console keyboard's extended keys (0x100 + scancode) read as 255
    // and the scancode, as on the graphics screen.
    if (c > 0xFF) {
        const char two[2] = {static_cast<char>(0xFF), static_cast<char>(c & 0xFF)};
        return rk_StrAllocTempBytes(two, 2);
    }
    char b = static_cast<char>(c);
    return rk_StrAllocTempBytes(&b, 1);
}

int rk_ConsoleGetkey()
{
    int c = next_key(true);
    return c < 0 ? 0 : c;
}

int rk_ConsoleKeyHit()
{
    if (pending_key >= 0)
        return 1;
    if (!terminal_getch())
        return stdin_ready(0) ? 1 : 0;
    pending_key = next_key(false);
    return pending_key >= 0 ? 1 : 0;
}

RkString *rk_Inkey()
{
    return hooks().inkey ? hooks().inkey() : rk_ConsoleInkey();
}

int rk_Getkey()
{
    return hooks().getkey ? hooks().getkey() : rk_ConsoleGetkey();
}

int rk_KeyHit()
{
    return hooks().keyhit ? hooks().keyhit() : rk_ConsoleKeyHit();
}

// The terminal reports no pointer here: no state, all outputs -1.
int rk_ConsoleGetMouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    for (int *p : {x, y, wheel, buttons, clip})
        if (p)
            *p = -1;
    return rk_ErrorSetNum(RK_ERR_STATE);
}

int rk_ConsoleSetMouse(int x, int y, int cursor, int clip)
{
    return rk_ErrorSetNum(RK_ERR_STATE);
}

int rk_GetMouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    if (hooks().getmouse)
        return hooks().getmouse(x, y, wheel, buttons, clip);
    return rk_ConsoleGetMouse(x, y, wheel, buttons, clip);
}

int rk_SetMouse(int x, int y, int cursor, int clip)
{
    // Both mouse hooks are installed together; the get hook tells.
    if (hooks().getmouse)
        return hooks().setmouse(x, y, cursor, clip);
    return rk_ConsoleSetMouse(x, y, cursor, clip);
}

int rk_IsRedirected(int is_input)
{
    if (hooks().isredir)
        return hooks().isredir(is_input);
    return isatty(is_input ? STDIN_FILENO : STDOUT_FILENO) ? 0 : 1;
}

void rk_PrintBufferEx(const void *text, std::size_t len, int mask)
{
    if (hooks().printbuffer) {
        hooks().printbuffer(text, len, mask);
        return;
    }
    if (len)
        std::fwrite(text, 1, len, stdout);
    const char *t = static_cast<const char *>(text);
    for (std::size_t i = 0; i < len; ++i)
        __rk_ctx.con_out_column = (t[i] == '\n' || t[i] == '\r') ? 0 : __rk_ctx.con_out_column + 1;
    std::fflush(stdout);
}

void rk_PrintBufferWstrEx(const uint32_t *text, std::size_t len, int mask)
{
    if (hooks().printbufferwstr) {
        hooks().printbufferwstr(text, len, mask);
        return;
    }
    for (std::size_t i = 0; i < len; ++i) {
        char c = text[i] > 255 ? '?' : static_cast<char>(text[i]);
        rk_PrintBufferEx(&c, 1, mask);
    }
}

void rk_PrintString(RkString *s, int mask)
{
    if (s && s->data && s->len > 0)
        rk_PrintBufferEx(s->data, static_cast<std::size_t>(s->len), mask & ~RK_PRINT_NEWLINE);
    rk_hStrDelTemp(s);
    rk_PrintVoid(mask);
}

void rk_PrintVoid(int mask)
{
    if (mask & RK_PRINT_NEWLINE)
        rk_PrintBufferEx("\n", 1, mask & ~RK_PRINT_NEWLINE);
}

void rk_Delay(int ms)
{
    rk_hPause(ms);
}

// Whether the view leaves rows out: asked by the terminal layer at exit.
static bool view_is_partial()
{
    int top = 0, bottom = 0, rows = 0;
    rk_ConsoleGetView(&top, &bottom);
    rk_GetSize(nullptr, &rows);
    return top != 1 || bottom != rows;
}

void rk_ConsoleSetView(int top, int bottom)
{
    con.view_top = top;
    con.view_bottom = bottom;
    rk_hTermSetViewCheck(view_is_partial);
}

void rk_ConsoleGetView(int *top, int *bottom)
{
    int rows = 0;
    rk_GetSize(nullptr, &rows);
    int t = con.view_top, b = con.view_bottom;
    if (t <= 0 || b <= 0 || t > rows || b > rows || t > b) {
        t = 1;
        b = rows;
    }
    if (top)
        *top = t;
    if (bottom)
        *bottom = b;
}
