#include "rt/conprint.h"

#include <algorithm>
#include <cstdio>

void rk_Beep()
{
    std::fputc(7, stdout);
    std::fflush(stdout);
}

// Scrolls a cursor that lies below the bottom back onto it.
static void scroll_to_cursor(ConOutput *w)
{
    if (w->bottom != -1 && w->y > w->bottom)
        w->scroll(w, w->left, w->top, w->right, w->bottom, w->y - w->bottom);
}

void rk_ConPrintRaw(ConOutput *w, const char *text, std::size_t len)
{
    if (w->right < w->left)
        return;  // a window without columns shows nothing
    while (len > 0) {
        // A cursor placed beyond the right edge wraps before writing, so a
        // run is never empty or negative.
        if (w->x > w->right || w->x < w->left) {
            w->x = w->left;
            ++w->y;
        }
        scroll_to_cursor(w);
        std::size_t n = std::min(len, static_cast<std::size_t>(w->right - w->x + 1));
        if (w->write(w, text, static_cast<int>(n)) != 1)
            return;
        text += n;
        len -= n;
        w->x += static_cast<int>(n);
        if (w->x > w->right) {
            w->x = w->left;
            ++w->y;
        }
    }
}

void rk_ConPrintTTY(ConOutput *w, const char *text, std::size_t len, bool lf_returns)
{
    char pending[1024];
    std::size_t n = 0;
    bool moved = false;
    auto flush = [&] {
        if (n)
            rk_ConPrintRaw(w, pending, n);
        n = 0;
    };
    for (std::size_t i = 0; i < len; ++i) {
        char c = text[i];
        switch (c) {
        case 7:
            rk_Beep();
            continue;
        case 8:
            flush();
            if (w->x > w->left)
                --w->x;
            moved = true;
            continue;
        case 9: {
            flush();
            // Columns count from the left edge; a cursor past the right edge
            // first wraps (as the next write would).
            if (w->x > w->right) {
                w->x = w->left;
                ++w->y;
            }
            int spaces = 8 - (w->x - w->left) % 8;
            std::fill_n(pending, spaces, ' ');
            n = static_cast<std::size_t>(spaces);
            moved = false;
            continue;
        }
        case 10:
            flush();
            ++w->y;
            if (lf_returns)
                w->x = w->left;
            moved = true;
            continue;
        case 13:
            flush();
            w->x = w->left;
            moved = true;
            continue;
        default:
            if (n == sizeof pending)
                flush();
            pending[n++] = c;
            moved = false;
        }
    }
    if (n)
        flush();
    else if (moved)
        scroll_to_cursor(w);
}
