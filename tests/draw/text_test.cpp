#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gfx/core/screen.h"
#include "gfx/core/builtin.h"
#include "gfx/draw/text.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/screen_fixture.h"

namespace {

constexpr uint32_t BLACK = 0xFF000000u;

class Text : public NullScreen {
protected:
    static int draw(float x, float y, const char *s, uint32_t color = 0x00FF0000, const void *font = nullptr,
                    void *target = nullptr, uint32_t flags = 0)
    {
        return rk_GfxDrawString(target, x, y, flags, rk_StrAllocTempDesc(s), color, font, 0, rk_hPutTrans, 0,
                                nullptr);
    }
    // Whether column j of glyph `c`'s row r is set in the 8x8 font.
    static bool bit8(unsigned char c, int r, int j) { return (rk_font_8x8.data[c * 8 + r] >> j) & 1; }
    static void clear_dirty() { std::memset(__rk_gfx->dirty, 0, __rk_gfx->h); }

    // A 32-bit font image for characters 65..70 ('A'..'F'), character k
    // (0-based) k + 1 pixels wide and filled with 0x000100 * (k + 1); one
    // header row and `rows` glyph rows.
    static void *abc_font(int rows)
    {
        int width = 0;
        for (int k = 0; k < 6; ++k)
            width += k + 1;
        void *img = rk_GfxImageCreate(width, rows + 1, 0, 32, RK_FLAG_NO_COLOR);
        auto *h = static_cast<ImageHeader *>(img);
        uint8_t *px = reinterpret_cast<uint8_t *>(h + 1);
        uint8_t header[3 + 6] = {0, 70, 65, 1, 2, 3, 4, 5, 6};  // first > last: exchanged
        std::memcpy(px, header, sizeof header);
        int col = 0;
        for (int k = 0; k < 6; ++k)
            for (int i = 0; i <= k; ++i, ++col)
                for (int r = 1; r <= rows; ++r) {
                    uint32_t v = 0x000100u * (k + 1) + static_cast<uint32_t>(r);
                    std::memcpy(px + static_cast<std::size_t>(r) * h->pitch + 4 * col, &v, 4);
                }
        return img;
    }
};

TEST_F(Text, BuiltinFontClippedAtTheLeftEdge)
{
    open(64, 32, 32);
    __rk_gfx->font = &rk_font_8x8;
    EXPECT_EQ(draw(-4, 2, "AB"), 0);
    // Nothing else on the screen: the columns cut off are not drawn at the
    // end of the rows above.
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            int r = y - 2;
            bool set = r >= 0 && r < 8 && (x < 4 ? bit8('A', r, x + 4) : x < 12 && bit8('B', r, x - 4));
            ASSERT_EQ(pixel(x, y), set ? 0x00FF0000u : BLACK) << x << "," << y;
        }
    // The pen stays at the start; the foreground colour when none is given.
    DrawContext *ctx = rk_hGetContext();
    EXPECT_EQ(ctx->last_x, -4.0f);
    ctx->fg_color = 0x00123456;
    draw(20, 20, "\xDB", 0x00FF0000, nullptr, nullptr, RK_FLAG_NO_COLOR);
    EXPECT_EQ(pixel(20, 20), 0x00123456u);
    EXPECT_EQ(pixel(27, 27), 0x00123456u);
    EXPECT_EQ(pixel(28, 27), BLACK);
}

TEST_F(Text, BuiltinFontClippedByTheViewAndItsRowsMarked)
{
    open(64, 48, 32);
    __rk_gfx->font = &rk_font_8x16;
    rk_GfxView(8, 10, 40, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    clear_dirty();
    // Three rows above the view (user coordinates start at the view's
    // corner); the text also runs past its right edge.
    draw(28, -3, "\xDB\xDB\xDB");
    for (int y = 6; y < 30; ++y)
        for (int x = 30; x < 50; ++x) {
            bool set = y >= 10 && y < 7 + 16 && x >= 36 && x <= 40;
            ASSERT_EQ(pixel(x, y), set ? 0x00FF0000u : BLACK) << x << "," << y;
        }
    for (int y = 0; y < 48; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y] != 0, y >= 10 && y < 23) << y;
    // Invisible text marks nothing and is no error.
    clear_dirty();
    EXPECT_EQ(draw(-300, 0, "abc"), 0);
    EXPECT_EQ(draw(0, 100, "abc"), 0);
    EXPECT_EQ(draw(1e30f, 0, "abc"), 0);
    for (int y = 0; y < 48; ++y)
        ASSERT_EQ(__rk_gfx->dirty[y], 0) << y;
}

TEST_F(Text, MissingAndEmptyStrings)
{
    open(32, 16, 32);
    rk_ErrorSetNum(0);
    EXPECT_EQ(rk_GfxDrawString(nullptr, 0, 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(draw(0, 0, ""), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Text, UserFontGlyphsGoThroughTheBlender)
{
    open(64, 16, 32);
    void *font = abc_font(3);
    // 'Z' has no glyph: the pen moves by the 3 glyph rows.
    EXPECT_EQ(draw(2, 4, "BZA", 0, font), 0);
    for (int x = 0; x < 12; ++x) {
        uint32_t glyph = x == 2 || x == 3 ? 0x000200u : x == 7 ? 0x000100u : 0;
        for (int r = 0; r < 3; ++r)
            ASSERT_EQ(pixel(x, 4 + r), glyph ? glyph + static_cast<uint32_t>(r + 1) : BLACK) << x << "," << r;
    }
    EXPECT_EQ(pixel(2, 7), BLACK);

    // Partly left of the view: from the first visible column; cut at the
    // right edge.
    rk_GfxView(10, 0, 20, 15, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    EXPECT_EQ(draw(-3, 8, "FE", 0, font), 0);  // F covers 7..12, E covers 13..17 in screen columns
    EXPECT_EQ(pixel(9, 8), BLACK);
    EXPECT_EQ(pixel(10, 8), 0x000601u);
    EXPECT_EQ(pixel(12, 8), 0x000601u);
    EXPECT_EQ(pixel(13, 8), 0x000501u);
    EXPECT_EQ(pixel(17, 10), 0x000503u);
    EXPECT_EQ(pixel(18, 8), BLACK);
    EXPECT_EQ(draw(6, 0, "FFF", 0, font), 0);  // 16..21, cut after column 20
    EXPECT_EQ(pixel(20, 0), 0x000601u);
    EXPECT_EQ(pixel(21, 0), BLACK);
    rk_GfxImageDestroy(font);
}

// A view that lies past the screen's last row is empty: text reaching into
// it from above draws nothing, and no row of the target is touched.
TEST_F(Text, EmptyViewBelowTheScreenDrawsNothing)
{
    open(32, 8, 32);
    void *font = abc_font(4);
    rk_GfxView(0, 20, 31, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    clear_dirty();
    EXPECT_EQ(rk_GfxDrawString(nullptr, 0, -2, 0, rk_StrAllocTempDesc("ABC"), 0, font, 0,
                               rk_hPutTrans, 0, nullptr),
              0);
    EXPECT_EQ(draw(0, -2, "ABC"), 0);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(__rk_gfx->dirty[y], 0) << y;
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(pixel(x, y), BLACK) << x << "," << y;
    }
    rk_GfxImageDestroy(font);
}

TEST_F(Text, MalformedUserFontsAreRefused)
{
    open(64, 16, 32);
    void *font = abc_font(3);
    auto *header = reinterpret_cast<uint8_t *>(static_cast<ImageHeader *>(font) + 1);

    header[0] = 1;
    EXPECT_EQ(draw(0, 0, "A", 0, font), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(pixel(0, 0), BLACK);
    header[0] = 0;

    header[3] = 200;  // the widths add up to more than a row
    EXPECT_EQ(draw(0, 0, "B", 0, font), 1);
    EXPECT_EQ(pixel(0, 0), BLACK);
    header[3] = 1;

    void *font16 = rk_GfxImageCreate(8, 4, 0, 16, 0);
    EXPECT_EQ(draw(0, 0, "A", 0, font16), 1);
    void *flat = rk_GfxImageCreate(8, 1, 0, 32, 0);  // no glyph rows
    std::memset(static_cast<ImageHeader *>(flat) + 1, 0, 3);
    EXPECT_EQ(draw(0, 5, "A", 0, flat), 1);

    // A font wholly above the view is not looked at.
    EXPECT_EQ(draw(0, -10, "A", 0, font16), 0);
    EXPECT_EQ(rk_GfxDrawString(nullptr, 0, 0, 0, rk_StrAllocTempDesc("A"), 0, font, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    rk_GfxImageDestroy(flat);
    rk_GfxImageDestroy(font16);
    rk_GfxImageDestroy(font);
}

TEST_F(Text, UserFontWidthsMustLieInsideTheImage)
{
    open(64, 16, 8);
    // 3x2 pixels of 1 byte: 16 bytes of pixel data after the 32-byte header
    // (rows padded to 16). A range 0..255 would read 259 header bytes.
    void *font = rk_GfxImageCreate(3, 2, 0, 8, 0);
    auto *header = reinterpret_cast<uint8_t *>(static_cast<ImageHeader *>(font) + 1);
    header[0] = 0;
    header[1] = 0;
    header[2] = 255;
    EXPECT_EQ(draw(0, 0, "A", 1, font), 1);
    rk_GfxImageDestroy(font);
}

}  // namespace
