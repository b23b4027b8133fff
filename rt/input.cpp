#include "rt/input.h"

#include <cstdio>
#include <cstdlib>

#include "rt/console.h"
#include "rt/lineedit.h"
#include "rt/rt.h"
#include "rt/str.h"

// The line being read and how many of its bytes are consumed. Every input
// empties it first.
struct InputContext {
    RkString line;
    int index;
};
static InputContext input_ctx;

static void reset_context()
{
    input_ctx.index = 0;
    input_ctx.line.len = 0;
    if (input_ctx.line.data)
        input_ctx.line.data[0] = '\0';
}

int hReadChar()
{
    if (input_ctx.index >= input_ctx.line.len)
        return -1;
    return static_cast<unsigned char>(input_ctx.line.data[input_ctx.index++]);
}

void hUnreadChar(int c)
{
    if (c != -1 && input_ctx.index > 0)
        --input_ctx.index;
}

int rk_hInputSetLine(const char *text, std::size_t len)
{
    reset_context();
    return rk_ErrorSetNum(rk_StrAssignBytes(&input_ctx.line, text, len));
}

int rk_LineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline)
{
    if (__rk_ctx.hooks.lineinput)
        return __rk_ctx.hooks.lineinput(prompt, dst, dst_size, fill, question, newline);
    return rk_ConsoleLineInput(prompt, dst, dst_size, fill, question, newline);
}

int rk_FileInput(int fnum)
{
    if (fnum != 0)
        return rk_ErrorSetNum(RK_ERR_STATE);
    reset_context();
    char *buf = nullptr;
    std::size_t cap = 0;
    ssize_t n = getline(&buf, &cap, stdin);
    int r = n < 0 ? (std::feof(stdin) ? RK_ERR_CONTENTS : RK_ERR_MEMORY)
                  : rk_hInputSetLine(buf, static_cast<std::size_t>(n));
    std::free(buf);
    return rk_ErrorSetNum(r);
}

int rk_ConsoleInput(RkString *prompt, int question, int newline)
{
    if (rk_IsRedirected(1)) {
        rk_hStrDelTemp(prompt);
        return rk_FileInput(0);
    }
    reset_context();
    return rk_LineInput(prompt, &input_ctx.line, -1, 0, question, newline);
}

static bool is_blank(int c)
{
    return c == ' ' || c == '\t';
}

// Consumes what may follow a value: blanks, then one comma or line end
// (a carriage return with its line feed); anything else is left for the
// next token.
static void end_of_value()
{
    int c;
    do
        c = hReadChar();
    while (is_blank(c));
    if (c == '\r') {
        int d = hReadChar();
        if (d != '\n')
            hUnreadChar(d);
    } else if (c != ',' && c != '\n' && c != -1) {
        hUnreadChar(c);
    }
}

int rk_FileInputNextToken(char *buffer, int capacity, int is_string)
{
    int len = 0;
    int c;
    do
        c = hReadChar();
    while (is_blank(c));

    bool settle = false;
    if (c == -1) {
        // An empty token.
    } else if (is_string && c == '"') {
        // Bytes past the buffer are read and dropped, so the next token
        // starts after the closing quote.
        while ((c = hReadChar()) != -1 && c != '"')
            if (len < capacity)
                buffer[len++] = static_cast<char>(c);
        settle = true;
    } else {
        for (;;) {
            if (c == -1 || c == ',' || c == '\n')
                break;
            if (c == '\r') {
                int d = hReadChar();
                if (d != '\n')
                    hUnreadChar(d);
                break;
            }
            if (!is_string && is_blank(c)) {
                settle = true;
                break;
            }
            if (len >= capacity) {
                // A full buffer: the byte that does not fit starts the next token.
                hUnreadChar(c);
                settle = true;
                break;
            }
            buffer[len++] = static_cast<char>(c);
            c = hReadChar();
        }
    }
    if (settle)
        end_of_value();
    buffer[len] = '\0';
    return len;
}

int rk_InputString(void *dst, int dst_size, int fill)
{
    static char token[4097];
    // A value that cannot be assigned stays in the line for the next call.
    const int start = input_ctx.index;
    int len = rk_FileInputNextToken(token, 4096, 1);
    RkString *value = rk_StrAllocTempBytes(token, static_cast<std::size_t>(len));
    int r = value ? rk_StrAssign(dst, dst_size, value, fill) : RK_ERR_MEMORY;
    if (r != RK_OK)
        input_ctx.index = start;
    return rk_ErrorSetNum(r);
}
