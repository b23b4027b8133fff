#include "gfx/drivers/softcursor.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "gfx/core/color.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"

const uint32_t cursor_data[RK_CURSOR_H] = {
    0x00000002, 0x0000000A, 0x00000026, 0x00000096, 0x00000256, 0x00000956, 0x00002556, 0x00009556,
    0x00025556, 0x00095556, 0x00255556, 0x00AA9556, 0x03FF9656, 0x00039696, 0x00025BE6, 0x000E583A,
    0x0009600E, 0x00396000, 0x00258000, 0x00E58000, 0x00FA0000, 0x003C0000,
};

namespace {

// The cursor's state; `area` holds the pixels under the arrow between a put
// and its unput.
struct SoftCursor {
    uint8_t *area;
    int bpp;  // pixel size `area` was allocated for
    uint32_t white, black;
    bool saved;
    int x, y, cw, ch;  // rectangle saved by the last put
};
SoftCursor cursor;

enum : uint32_t { CODE_CLEAR = 0, CODE_WHITE = 1, CODE_BLACK = 2, CODE_SHADOW = 3 };
constexpr uint32_t SHADOW_COLOR = 0x40000000;  // black at alpha 0x40

void fill1(void *dst, uint32_t c, std::size_t count)
{
    std::memset(dst, static_cast<int>(c & 0xFF), count);
}

// Fills by the screen's pixel size. The global routines are rewritten by the
// program's thread for its current draw target, which may be an image of
// another pixel size while the driver thread draws the arrow.
constexpr PixelSetFn fill_for_bpp[5] = {nullptr, fill1, rk_hPixelSet2, nullptr, rk_hPixelSet4};

// The cursor rectangle at (x, y) on the open screen, cut at the right and
// bottom edges; false when there is nothing to do.
bool cursor_rect(int x, int y, int *cw, int *ch)
{
    const ScreenState *s = __rk_gfx;
    if (!s || !cursor.area || s->bpp != cursor.bpp || x < 0 || y < 0 || x >= s->w || y >= s->h)
        return false;
    *cw = std::min(s->w - x, RK_CURSOR_W);
    *ch = std::min(s->h - y, RK_CURSOR_H);
    return true;
}

uint8_t *screen_at(int x, int y)
{
    const ScreenState *s = __rk_gfx;
    return s->framebuffer + static_cast<std::size_t>(y) * static_cast<std::size_t>(s->pitch) +
           static_cast<std::size_t>(x) * static_cast<std::size_t>(s->bpp);
}

int nearest_entry(int red, int green, int blue)
{
    int best = 0, best_d = rk_hColorDistance(0, red, green, blue);
    for (int i = 1; i < 256; ++i) {
        int d = rk_hColorDistance(i, red, green, blue);
        if (d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

}  // namespace

int rk_hSoftCursorInit()
{
    rk_hSoftCursorExit();
    const ScreenState *s = __rk_gfx;
    if (!s || (s->bpp != 1 && s->bpp != 2 && s->bpp != 4))
        return -1;
    cursor.area = static_cast<uint8_t *>(std::malloc(static_cast<std::size_t>(s->bpp) * RK_CURSOR_W * RK_CURSOR_H));
    if (!cursor.area)
        return -1;
    cursor.bpp = s->bpp;
    if (s->bpp == 1) {
        cursor.white = 15;
        cursor.black = 0;
    } else {
        cursor.white = rk_hFixColor(s->bpp, 0xFFFFFF);
        cursor.black = rk_hFixColor(s->bpp, 0);
    }
    return 0;
}

void rk_hSoftCursorExit()
{
    std::free(cursor.area);
    cursor = {};
}

void rk_hSoftCursorPaletteChanged()
{
    if (!__rk_gfx || __rk_gfx->bpp != 1 || !cursor.area)
        return;
    cursor.white = static_cast<uint32_t>(nearest_entry(255, 255, 255));
    cursor.black = static_cast<uint32_t>(nearest_entry(0, 0, 0));
}

int rk_hColorDistance(int index, int red, int green, int blue)
{
    if (!__rk_gfx)
        return INT_MAX;
    uint32_t e = __rk_gfx->device_palette[index & 0xFF];
    int dr = static_cast<int>(e & 0xFF) - red;
    int dg = static_cast<int>((e >> 8) & 0xFF) - green;
    int db = static_cast<int>((e >> 16) & 0xFF) - blue;
    return dr * dr + dg * dg + db * db;
}

void rk_hSoftCursorPut(int x, int y)
{
    int cw, ch;
    if (!cursor_rect(x, y, &cw, &ch))
        return;
    ScreenState *s = __rk_gfx;
    const std::size_t row_bytes = static_cast<std::size_t>(cw) * static_cast<std::size_t>(s->bpp);
    for (int i = 0; i < ch; ++i)
        std::memcpy(cursor.area + static_cast<std::size_t>(i) * row_bytes, screen_at(x, y + i), row_bytes);
    cursor.saved = true;
    cursor.x = x;
    cursor.y = y;
    cursor.cw = cw;
    cursor.ch = ch;

    const PixelSetFn fill = fill_for_bpp[s->bpp];
    for (int i = 0; i < ch; ++i) {
        const uint32_t bits = cursor_data[i];
        uint8_t *row = screen_at(x, y + i);
        // Runs of equal code, each written with one fill.
        for (int j = 0; j < cw;) {
            const uint32_t code = (bits >> (2 * j)) & 3;
            int end = j + 1;
            while (end < cw && ((bits >> (2 * end)) & 3) == code)
                ++end;
            uint8_t *at = row + static_cast<std::size_t>(j) * static_cast<std::size_t>(s->bpp);
            const auto n = static_cast<std::size_t>(end - j);
            if (code == CODE_WHITE)
                fill(at, cursor.white, n);
            else if (code == CODE_BLACK)
                fill(at, cursor.black, n);
            else if (code == CODE_SHADOW && s->bpp == 4)
                rk_hPixelSetAlpha4(at, SHADOW_COLOR, n);
            j = end;
        }
        s->dirty[y + i] = 1;
    }
}

// The saved rectangle is put back where the last put took it, so a position
// that changed in between cannot leave the arrow in the picture.
void rk_hSoftCursorUnput(int x, int y)
{
    ScreenState *s = __rk_gfx;
    if (!cursor.saved || !s || s->bpp != cursor.bpp || cursor.x + cursor.cw > s->w || cursor.y + cursor.ch > s->h)
        return;
    cursor.saved = false;
    const std::size_t row_bytes = static_cast<std::size_t>(cursor.cw) * static_cast<std::size_t>(s->bpp);
    for (int i = 0; i < cursor.ch; ++i) {
        std::memcpy(screen_at(cursor.x, cursor.y + i), cursor.area + static_cast<std::size_t>(i) * row_bytes,
                   row_bytes);
        s->dirty[cursor.y + i] = 1;
    }
}
