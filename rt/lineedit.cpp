#include "rt/lineedit.h"

#include <cstdlib>
#include <cstring>

#include "rt/conprint.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "rt/str.h"

// Editor key codes: a character is its byte, a two-byte key is
// (second byte << 8) | 0xFF.
enum : int {
    KEY_BACKSPACE = 8,
    KEY_TAB = 9,
    KEY_LF = 10,
    KEY_ENTER = 13,
    KEY_ESCAPE = 27,
    KEY_HOME = 0x47FF,
    KEY_UP = 0x48FF,
    KEY_LEFT = 0x4BFF,
    KEY_RIGHT = 0x4DFF,
    KEY_END = 0x4FFF,
    KEY_DOWN = 0x50FF,
    KEY_DELETE = 0x53FF,
};

struct Editor {
    RkString *text;  // a temporary; text->len is the length
    int pos;         // insertion point, 0..len
    int cols, rows;  // the grid
    bool lost;       // a typed character could not be stored
};

static void print(const char *bytes, std::size_t n)
{
    rk_PrintBufferEx(bytes, n, 0);
}

static void print_from(const Editor &e, int from)
{
    print(e.text->data + from, static_cast<std::size_t>(e.text->len - from));
}

static void hide_cursor()
{
    rk_Locate(0, 0, 0);
}

static void move_by(Editor &e, int delta)
{
    int col, row;
    rk_GetXY(&col, &row);
    DoMove(&col, &row, delta, e.cols, e.rows);
}

void DoMove(int *column, int *row, int delta, int columns, int rows)
{
    if (columns <= 0)
        return;
    long long p = static_cast<long long>(*column) - 1 + delta;
    long long r = static_cast<long long>(*row) - 1;
    if (p < 0) {
        long long t = columns - p;
        r -= t / columns;
        p = columns - t % columns;
    }
    r += p / columns;
    int c = static_cast<int>(p % columns) + 1;
    int new_row = static_cast<int>(r + 1);
    if (c == 1 && r + 1 == static_cast<long long>(rows) + 1) {
        rk_Locate(rows, columns, -1);
        rk_PrintVoid(RK_PRINT_NEWLINE);
        new_row = rows;
    } else {
        rk_Locate(new_row, c, -1);
    }
    *column = c;
    *row = new_row;
}

// Makes room for `extra` more bytes; false when memory ran out.
static bool reserve(RkString *s, int extra)
{
    std::size_t need = static_cast<std::size_t>(s->len) + static_cast<std::size_t>(extra) + 1;
    if (need <= static_cast<std::size_t>(s->size))
        return true;
    if (need > 0x7FFFFFF0u)
        return false;
    std::size_t cap = need < 64 ? 64 : need + need / 2;
    auto *p = static_cast<char *>(std::realloc(s->data, cap));
    if (!p)
        return false;
    s->data = p;
    s->size = static_cast<int>(cap);
    return true;
}

// Inserts n bytes at the insertion point and redraws the rest of the text;
// the cursor ends after the inserted bytes.
static void insert(Editor &e, const char *bytes, int n)
{
    if (!reserve(e.text, n)) {
        e.lost = true;
        return;
    }
    hide_cursor();
    int c0, r0;
    rk_GetXY(&c0, &r0);
    char *d = e.text->data;
    std::memmove(d + e.pos + n, d + e.pos, static_cast<std::size_t>(e.text->len - e.pos) + 1);
    std::memcpy(d + e.pos, bytes, static_cast<std::size_t>(n));
    e.text->len += n;
    print_from(e, e.pos);
    int col, row;
    rk_GetXY(&col, &row);
    // Where the cell after the text's end lies: below the grid means the
    // print scrolled the screen, and (c0, r0) no longer marks the start.
    long long k = static_cast<long long>(c0) - 1 + e.text->len - e.pos;
    long long end_row = r0 + k / e.cols;
    bool below = end_row > e.rows + 1LL || (end_row == e.rows + 1LL && k % e.cols > 0);
    if (e.pos + n < e.text->len && below) {
        DoMove(&col, &row, e.pos + n - e.text->len, e.cols, e.rows);
    } else {
        col = c0;
        row = r0;
        DoMove(&col, &row, n, e.cols, e.rows);
    }
    e.pos += n;
}

// Deletes the byte at the insertion point; the cursor stays.
static void erase(Editor &e)
{
    hide_cursor();
    int col, row;
    rk_GetXY(&col, &row);
    char *d = e.text->data;
    std::memmove(d + e.pos, d + e.pos + 1, static_cast<std::size_t>(e.text->len - e.pos));
    --e.text->len;
    print_from(e, e.pos);
    print(" ", 1);
    rk_Locate(row, col, -1);
}

static void blank_text(Editor &e)
{
    int col, row;
    rk_GetXY(&col, &row);
    for (int i = 0; i < e.text->len; ++i)
        print(" ", 1);
    rk_Locate(row, col, -1);
    e.text->len = 0;
    e.text->data[0] = '\0';
}

static void perform(Editor &e, int code)
{
    int len = e.text->len;
    switch (code) {
    case KEY_BACKSPACE:
        if (e.pos > 0) {
            move_by(e, -1);
            --e.pos;
            erase(e);
        }
        break;
    case KEY_TAB: {
        static const char spaces[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        insert(e, spaces, 8 - e.pos % 8);
        break;
    }
    case KEY_ESCAPE:
        move_by(e, -e.pos);
        e.pos = 0;
        if (len > 0)
            blank_text(e);
        break;
    case KEY_HOME:
        move_by(e, -e.pos);
        e.pos = 0;
        break;
    case KEY_UP:
        if (e.pos >= e.cols) {
            move_by(e, -e.cols);
            e.pos -= e.cols;
        }
        break;
    case KEY_LEFT:
        if (e.pos > 0) {
            move_by(e, -1);
            --e.pos;
        }
        break;
    case KEY_RIGHT:
        if (e.pos < len) {
            move_by(e, 1);
            ++e.pos;
        }
        break;
    case KEY_END:
        move_by(e, len - e.pos);
        e.pos = len;
        break;
    case KEY_DOWN:
        if (e.pos + e.cols <= len) {
            move_by(e, e.cols);
            e.pos += e.cols;
        }
        break;
    case KEY_DELETE:
        if (e.pos == len)
            rk_Beep();
        else
            erase(e);
        break;
    default:
        if (code >= 32 && code <= 255) {
            char c = static_cast<char>(code);
            insert(e, &c, 1);
        }
    }
}

// Waits for a key and forms its editor code; -1 when the key vanished.
static int read_key()
{
    while (!rk_KeyHit())
        rk_Delay(25);
    RkString *k = rk_Inkey();
    int code = -1;
    if (k && k->len == 1)
        code = static_cast<unsigned char>(k->data[0]);
    else if (k && k->len >= 2)
        code = (static_cast<unsigned char>(k->data[1]) << 8) | 0xFF;
    rk_hStrDelTemp(k);
    return code;
}

RkString *rk_ConReadLineEx(RkString *string, int soft_cursor)
{
    const char *initial = string && string->data ? string->data : "";
    int initial_len = string && string->data ? string->len : 0;
    Editor e{rk_StrAllocTempBytes(initial, static_cast<std::size_t>(initial_len)), 0, 0, 0, false};
    rk_hStrDelTemp(string);
    if (!e.text)
        return nullptr;
    rk_GetSize(&e.cols, &e.rows);
    if (e.cols <= 0 || e.rows <= 0)
        return e.text;  // no grid to edit in
    int visibility = (rk_Locate(0, 0, -1) >> 16) & 1;
    hide_cursor();
    print_from(e, 0);
    e.pos = e.text->len;
    int shown = soft_cursor ? 0 : 1;
    rk_Locate(0, 0, shown);

    for (;;) {
        int col, row;
        rk_GetXY(&col, &row);
        if (soft_cursor) {
            print("\xFF", 1);
            rk_Locate(row, col, -1);
        }
        int code = read_key();
        if (code < 0)
            continue;
        if (soft_cursor) {
            print(e.pos < e.text->len ? e.text->data + e.pos : " ", 1);
            rk_Locate(row, col, -1);
        }
        perform(e, code);
        rk_Locate(0, 0, shown);
        if (code == KEY_LF || code == KEY_ENTER) {
            move_by(e, e.text->len - e.pos);
            rk_Locate(0, 0, visibility);
            // A line missing a typed character is not the line typed.
            if (e.lost) {
                rk_hStrDelTemp(e.text);
                return nullptr;
            }
            return e.text;
        }
    }
}

RkString *rk_ConReadLine(int soft_cursor)
{
    return rk_ConReadLineEx(nullptr, soft_cursor);
}

RkString *rk_hReadInputLine(const void *prompt, std::size_t prompt_len, bool wide, int question, int newline,
                            int soft_cursor)
{
    rk_PrintBufferEx(nullptr, 0, RK_PRINT_SETTLE);
    if (prompt) {
        if (wide)
            rk_PrintBufferWstrEx(static_cast<const uint32_t *>(prompt), prompt_len, 0);
        else
            print(static_cast<const char *>(prompt), prompt_len);
        if (question)
            print("? ", 2);
    }
    RkString *line = rk_ConReadLine(soft_cursor);
    if (newline)
        rk_PrintVoid(RK_PRINT_NEWLINE);
    return line;
}

int rk_hLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline, int soft_cursor)
{
    const char *text = prompt ? (prompt->data ? prompt->data : "") : nullptr;
    RkString *line = rk_hReadInputLine(text, prompt ? static_cast<std::size_t>(prompt->len) : 0, false, question,
                                       newline, soft_cursor);
    rk_hStrDelTemp(prompt);
    if (!line)
        return rk_ErrorSetNum(RK_ERR_MEMORY);
    return rk_ErrorSetNum(rk_StrAssign(dst, dst_size, line, fill));
}

int rk_ConsoleLineInput(RkString *prompt, void *dst, int dst_size, int fill, int question, int newline)
{
    return rk_hLineInput(prompt, dst, dst_size, fill, question, newline, 0);
}
