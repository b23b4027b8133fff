// Test support for text on the graphics screen: a known glyph pattern and
// checks of what a character cell shows.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/core/builtin.h"
#include "gfx/text/print.h"

// Overwrites the glyph area of `font` with a pattern in which every glyph
// has both set and clear bits and differs from its neighbours, so that a
// wrong glyph, a wrong row or swapped colours all show. Call after a screen
// is open (the built-in data is unpacked then).
inline void install_test_glyphs(const FontDesc *font)
{
    auto *glyphs = const_cast<uint8_t *>(font->data);
    for (int g = 0; g < 256; ++g)
        for (int r = 0; r < font->h; ++r) {
            auto v = static_cast<uint8_t>(g * 7 + r * 29 + 0x5A);
            if (v == 0 || v == 0xFF)
                v = 0x3C;
            glyphs[g * font->h + r] = v;
        }
}

inline uint32_t screen_pixel(int x, int y)
{
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    return ctx->get_pixel(ctx, x, y);
}

// Whether 0-based cell (col, row) shows character ch in fg on bg, in both
// the pixels of the work page and the cell table. A blank cell (a scrolled-in
// or erased one) holds a space but shows only the background.
inline ::testing::AssertionResult cell_shows(int col, int row, unsigned ch, uint32_t fg, uint32_t bg,
                                             bool blank = false)
{
    const FontDesc *f = __rk_gfx->font;
    uint32_t cell_ch = rk_GfxReadXY(col + 1, row + 1, 0);
    if (cell_ch != ch)
        return ::testing::AssertionFailure()
               << "cell (" << col << "," << row << ") holds " << cell_ch << ", expected " << ch;
    const uint32_t *cell = __rk_gfx->char_cells[rk_hGetContext()->work_page] + 3 * (row * __rk_gfx->text_w + col);
    if (cell[1] != fg || cell[2] != bg)
        return ::testing::AssertionFailure() << "cell (" << col << "," << row << ") has colours " << std::hex
                                             << cell[1] << "/" << cell[2];
    for (int y = 0; y < f->h; ++y)
        for (int x = 0; x < f->w; ++x) {
            bool on = !blank && ((f->data[ch * f->h + y] >> x) & 1);
            uint32_t want = on ? fg : bg;
            uint32_t got = screen_pixel(col * f->w + x, row * f->h + y);
            if (got != want)
                return ::testing::AssertionFailure() << "cell (" << col << "," << row << ") pixel (" << x << ","
                                                     << y << ") is " << std::hex << got << ", expected " << want;
        }
    return ::testing::AssertionSuccess();
}

// The characters of 0-based row `row`, columns from..to-1, from the cells.
inline std::string cell_text(int row, int from, int to)
{
    std::string s;
    for (int c = from; c < to; ++c)
        s += static_cast<char>(rk_GfxReadXY(c + 1, row + 1, 0));
    return s;
}

inline ::testing::AssertionResult cell_blank(int col, int row, uint32_t fg, uint32_t bg)
{
    return cell_shows(col, row, ' ', fg, bg, true);
}
