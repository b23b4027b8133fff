#include "gfx/text/lineinput.h"

#include "gfx/core/hooks.h"
#include "gfx/core/screen.h"
#include "gfx/text/cells.h"
#include "gfx/text/print.h"
#include "rt/console.h"
#include "rt/lineedit.h"
#include "rt/rt.h"
#include "rt/str.h"

int rk_GfxLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline)
{
    return rk_hLineInput(prompt, dst, dst_size, fill, question, newline, 1);
}

int rk_GfxLineInputWstr(const uint32_t *prompt, uint32_t *dst, int dst_size, int question, int newline)
{
    std::size_t prompt_len = 0;
    while (prompt && prompt[prompt_len])
        ++prompt_len;
    RkString *line = rk_hReadInputLine(prompt, prompt_len, true, question, newline, 1);
    if (!line)
        return rk_ErrorSetNum(RK_ERR_MEMORY);
    if (dst && dst_size > 0) {
        int n = line->len < dst_size - 1 ? line->len : dst_size - 1;
        for (int i = 0; i < n; ++i)
            dst[i] = static_cast<unsigned char>(line->data[i]);
        dst[n] = 0;
    }
    rk_hStrDelTemp(line);
    return rk_ErrorSetNum(RK_OK);
}

// Steps the text cursor one cell back, from column 0 to the last column of
// the row above. A cursor parked after the bottom-right cell already stands
// on the last cell written, so it only drops the pending wrap.
static void move_back()
{
    ScreenState *s = __rk_gfx;
    if (s->flags & SCREEN_WRAP_PENDING) {
        s->flags &= ~SCREEN_WRAP_PENDING;
        return;
    }
    if (s->cursor_x > 0) {
        --s->cursor_x;
    } else {
        s->cursor_x = s->text_w - 1;
        --s->cursor_y;
    }
}

static void put_char(char c)
{
    rk_GfxPrintBufferEx(&c, 1, 0);
}

char *rk_GfxReadStr(char *buffer, int size)
{
    ScreenState *s = __rk_gfx;
    if (!s || !buffer || size < 1)
        return nullptr;
    static constexpr char kBlock = static_cast<char>(219);
    int n = 0;
    put_char(kBlock);
    for (;;) {
        move_back();
        int code = rk_Getkey();
        if (code == 8 && n > 0) {
            --n;
            move_back();
            if (s->cursor_y < 0) {
                rk_GfxLocateRaw(0, 0);
                put_char(kBlock);
            } else {
                put_char(kBlock);
                put_char(' ');
                move_back();
            }
            continue;
        }
        if (code < 256 && code != 7 && code != 8 && n < size - 1) {
            if (code == 13)
                put_char(' ');
            buffer[n++] = static_cast<char>(code);
            put_char(static_cast<char>(code));
        }
        if (code == 13)
            break;
        put_char(kBlock);
    }
    buffer[n] = '\0';
    return buffer;
}

static void lineinput_console_hooks(ConsoleHooks *h)
{
    h->readstr = rk_GfxReadStr;
    h->lineinput = rk_GfxLineInput;
    h->lineinputwstr = rk_GfxLineInputWstr;
}

const ScreenHooks rk_screenHooksLineInput = {.console = lineinput_console_hooks};
