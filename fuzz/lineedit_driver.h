// Runs the line editor, the terminal engine and the input tokeniser on
// arbitrary bytes: shared by the fuzz target and the regression test that
// replays its corpus. Keys come from the bytes through the console's key
// hooks, so any number of them can be typed without a driver thread.
//
// Layout: byte 0 picks the screen; then per line five set-up bytes (cursor
// row and column as stored, print view top and bottom, flags) and the keys
// up to Enter (13 or 10) or the end. A 0 byte makes the next byte the second
// character of a two-character key. Flags: 1 soft cursor, 2 "? " after the
// prompt, 4 line feed after the line, 8 also print the keys as text, 16 a
// pending line wrap at that cursor, 32 read with the block-cursor reader.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/core/screen.h"
#include "gfx/text/cells.h"
#include "gfx/text/lineinput.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/lineedit.h"
#include "rt/rt.h"
#include "rt/str.h"

namespace lineedit_driver {

struct Sizes {
    int w, h;
};
// Grids of 8x8, 100x75, 3x2 and 40x25 cells, and one of a single cell.
inline constexpr Sizes kScreens[] = {{64, 64}, {800, 600}, {24, 16}, {320, 200}, {8, 8}};

struct KeySource {
    const uint8_t *p, *end;
    bool line_done;
};
inline KeySource keys;

// The next key as the editor's two key hooks see it; Enter once the bytes of
// this line are used up.
inline int next_code()
{
    if (keys.line_done || keys.p == keys.end) {
        keys.line_done = true;
        return 13;
    }
    int c = *keys.p++;
    if (c == 0) {
        c = keys.p == keys.end ? 0x48FF : (*keys.p++ << 8) | 0xFF;
        return c;
    }
    if (c == 13 || c == 10)
        keys.line_done = true;
    return c;
}

inline int key_hit()
{
    return 1;
}

inline RkString *inkey()
{
    const int c = next_code();
    if (c < 256) {
        const char one = static_cast<char>(c);
        return rk_StrAllocTempBytes(&one, 1);
    }
    const char two[2] = {static_cast<char>(0xFF), static_cast<char>(c >> 8)};
    return rk_StrAllocTempBytes(two, 2);
}

inline int getkey()
{
    const int c = next_code();
    return c < 256 ? c : 256 + (c >> 8) % 21;
}

// Opens the screen of `choice` unless it is open already; false when it
// cannot be opened.
inline bool open_screen(int choice)
{
    static int open_choice = -1;
    const Sizes s = kScreens[choice % (sizeof kScreens / sizeof kScreens[0])];
    if (!__rk_gfx || open_choice != choice || __rk_gfx->w != s.w || __rk_gfx->h != s.h) {
        if (rk_GfxScreenRes(s.w, s.h, 32, 0, 0, 0) != 0)
            return false;
        open_choice = choice;
    }
    __rk_ctx.hooks.keyhit = key_hit;
    __rk_ctx.hooks.inkey = inkey;
    __rk_ctx.hooks.getkey = getkey;
    return true;
}

// Takes every value of the line just read; false when the tokeniser yields
// more than the line holds.
inline bool take_values(const RkString *line)
{
    if (rk_hInputSetLine(line->data, static_cast<std::size_t>(line->len)) != 0)
        return true;
    long long total = 0;
    for (int i = 0; i <= line->len + 1; ++i) {
        RkString v{};
        if (rk_InputString(&v, -1, 0) != 0)
            return true;
        total += v.len;
        rk_StrDelete(&v);
    }
    char number[16];
    rk_hInputSetLine(line->data, static_cast<std::size_t>(line->len));
    for (int i = 0; i <= line->len + 1; ++i)
        total += rk_FileInputNextToken(number, 15, 0);
    return total <= 2LL * line->len;
}

// Runs every line of `data`. False when an invariant broke: the screen lock
// left taken, a non-printable byte in an edited line, more text taken from a
// line than it holds.
inline bool run(const uint8_t *data, std::size_t size)
{
    if (size == 0 || !open_screen(data[0]))
        return true;
    const uint8_t *p = data + 1, *end = data + size;
    bool ok = true;
    while (end - p >= 5 && ok) {
        const int row = p[0], col = p[1], top = p[2], bottom = p[3], flags = p[4];
        p += 5;
        const uint8_t *line_end = p;
        while (line_end != end && *line_end != 13 && *line_end != 10)
            line_end += *line_end == 0 && line_end + 1 != end ? 2 : 1;
        if (line_end != end)
            ++line_end;

        rk_ConsoleSetView(top % 80, bottom % 80);
        if (flags & 16) {
            int cols = 0, rows = 0;
            rk_GetSize(&cols, &rows);
            rk_Locate(rows, cols, -1);
            rk_PrintBufferEx("w", 1, 0);
        }
        rk_GfxLocateRaw(row, col);
        if (flags & 8)
            rk_PrintBufferEx(p, static_cast<std::size_t>(line_end - p), 0);

        keys = {p, line_end, false};
        if (flags & 32) {
            char buf[24];
            rk_GfxReadStr(buf, 1 + (flags >> 6) * 7);
        } else {
            RkString line{};
            rk_hLineInput(rk_StrAllocTempDesc(flags & 2 ? "P" : ""), &line, -1, 0, flags & 2, flags & 4, flags & 1);
            for (int i = 0; i < line.len; ++i)
                ok = ok && static_cast<unsigned char>(line.data[i]) >= 32;
            ok = ok && take_values(&line);
            rk_StrDelete(&line);
        }
        ok = ok && __rk_gfx->lock_count == 0;
        p = line_end;
    }
    rk_ConsoleSetView(-1, -1);
    return ok;
}

}  // namespace lineedit_driver
