#include <cstring>
#include <random>
#include <vector>

#include "gfx/core/color.h"
#include "gfx/drivers/softcursor.h"
#include "support/screen_fixture.h"

// The arrow as it must appear: W white, B black, S shadow, . untouched.
static const char *const ARROW[RK_CURSOR_H] = {
    "B............", "BB...........", "BWB..........", "BWWB.........", "BWWWB........", "BWWWWB.......",
    "BWWWWWB......", "BWWWWWWB.....", "BWWWWWWWB....", "BWWWWWWWWB...", "BWWWWWWWWWB..", "BWWWWWWBBBBB.",
    "BWWWBWWBSSSSS", "BWWBBWWBS....", "BWBSSBWWB....", "BBS..BWWBS...", "BS....BWWB...", "......BWWBS..",
    ".......BWWB..", ".......BWWBS.", "........BBSS.", ".........SS..",
};

class SoftCursor : public NullScreen {
protected:
    void TearDown() override
    {
        rk_hSoftCursorExit();
        NullScreen::TearDown();
    }
    static uint32_t at(const std::vector<uint8_t> &fb, int x, int y)
    {
        uint32_t v = 0;
        std::memcpy(&v, fb.data() + y * __rk_gfx->pitch + x * __rk_gfx->bpp, __rk_gfx->bpp);
        return v;
    }
    static std::vector<uint8_t> framebuffer()
    {
        return {__rk_gfx->framebuffer, __rk_gfx->framebuffer + __rk_gfx->pitch * __rk_gfx->h};
    }
    static void fill_random(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (int i = 0; i < __rk_gfx->pitch * __rk_gfx->h; ++i)
            __rk_gfx->framebuffer[i] = static_cast<uint8_t>(rng());
        std::memset(__rk_gfx->dirty, 0, __rk_gfx->h);
    }
    static std::vector<int> dirty_lines()
    {
        std::vector<int> lines;
        for (int y = 0; y < __rk_gfx->h; ++y)
            if (__rk_gfx->dirty[y])
                lines.push_back(y);
        return lines;
    }
    static std::vector<int> range(int from, int count)
    {
        std::vector<int> v;
        for (int i = 0; i < count; ++i)
            v.push_back(from + i);
        return v;
    }
};

// Each channel darkened by black at alpha 0x40: c + floor(-c * 64 / 256).
static uint32_t shadowed(uint32_t v)
{
    uint32_t out = 0x40000000;
    for (int sh = 0; sh < 24; sh += 8) {
        int c = static_cast<int>((v >> sh) & 0xFF);
        out |= static_cast<uint32_t>(c - (c + 3) / 4) << sh;
    }
    return out;
}

TEST_F(SoftCursor, DrawsArrowAndRestoresEveryByte)
{
    constexpr int W = 40, H = 30;
    struct Case {
        int depth, x, y;
        uint32_t white, black;
    } cases[] = {
        {32, 0, 0, 0xFFFFFF, 0},         {32, W - 5, H - 3, 0xFFFFFF, 0}, {32, 20, 5, 0xFFFFFF, 0},
        {16, 3, H - 22, 0xFFFF, 0},      {16, W - 5, H - 3, 0xFFFF, 0},   {8, 7, 1, 15, 0},
        {8, W - 13, H - 21, 15, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "depth " << c.depth << " at " << c.x << "," << c.y);
        open(W, H, c.depth);
        // The program's current target is an image of another pixel size:
        // the arrow must still be drawn with the screen's pixel size.
        void *other = rk_GfxImageCreate(4, 4, 0, c.depth == 32 ? 8 : 32, 0);
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(rk_hSoftCursorInit(), 0);
        fill_random(static_cast<uint32_t>(c.depth * 1000 + c.x));
        const std::vector<uint8_t> before = framebuffer();

        rk_hSoftCursorPut(c.x, c.y);
        const std::vector<uint8_t> drawn = framebuffer();
        const int cw = std::min(W - c.x, RK_CURSOR_W), ch = std::min(H - c.y, RK_CURSOR_H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint32_t old = at(before, x, y), want = old;
                int i = y - c.y, j = x - c.x;
                if (i >= 0 && i < ch && j >= 0 && j < cw) {
                    char code = ARROW[i][j];
                    if (code == 'W')
                        want = c.white;
                    else if (code == 'B')
                        want = c.black;
                    else if (code == 'S' && c.depth == 32)
                        want = shadowed(old);
                }
                ASSERT_EQ(at(drawn, x, y), want) << "pixel " << x << "," << y;
            }
        EXPECT_EQ(dirty_lines(), range(c.y, ch));

        std::memset(__rk_gfx->dirty, 0, H);
        rk_hSoftCursorUnput(c.x, c.y);
        EXPECT_EQ(framebuffer(), before);
        EXPECT_EQ(dirty_lines(), range(c.y, ch));
        rk_GfxImageDestroy(other);
        rk_hSoftCursorExit();
    }
}

TEST_F(SoftCursor, NearestPaletteEntriesAfterPaletteChange)
{
    open(32, 32, 8);
    uint32_t *pal = __rk_gfx->device_palette;
    for (int i = 0; i < 256; ++i)
        pal[i] = 0x808080;
    pal[0] = 0x202020;
    pal[40] = pal[41] = 0x101010;  // equally near black: the lower index wins
    pal[90] = 0xFCFCFC;
    pal[91] = 0xFDFEFD;            // nearest to white
    pal[5] = 0x00332211;
    EXPECT_EQ(rk_hColorDistance(5, 0x10, 0x20, 0x30), 1 + 4 + 9);

    ASSERT_EQ(rk_hSoftCursorInit(), 0);
    std::memset(__rk_gfx->framebuffer, 77, __rk_gfx->pitch * __rk_gfx->h);
    rk_hSoftCursorPut(0, 0);
    EXPECT_EQ(__rk_gfx->framebuffer[0], 0);                       // black before any change
    EXPECT_EQ(__rk_gfx->framebuffer[__rk_gfx->pitch * 2 + 1], 15);  // white before any change
    rk_hSoftCursorUnput(0, 0);

    rk_hSoftCursorPaletteChanged();
    rk_hSoftCursorPut(0, 0);
    EXPECT_EQ(__rk_gfx->framebuffer[0], 40);
    EXPECT_EQ(__rk_gfx->framebuffer[__rk_gfx->pitch * 2 + 1], 91);
    rk_hSoftCursorUnput(0, 0);
    EXPECT_EQ(__rk_gfx->framebuffer[0], 77);
}

TEST_F(SoftCursor, UnputRestoresWhereThePutSavedAndIgnoresOddCalls)
{
    open(32, 32, 32);
    fill_random(5);
    const std::vector<uint8_t> before = framebuffer();
    rk_hSoftCursorPut(0, 0);  // before init: nothing
    EXPECT_EQ(framebuffer(), before);
    ASSERT_EQ(rk_hSoftCursorInit(), 0);
    rk_hSoftCursorPut(10, 10);
    rk_hSoftCursorUnput(11, 12);  // the position moved in between
    EXPECT_EQ(framebuffer(), before);
    rk_hSoftCursorUnput(10, 10);  // nothing saved any more
    EXPECT_EQ(framebuffer(), before);
    rk_hSoftCursorPut(-1, 3);
    rk_hSoftCursorPut(32, 0);
    EXPECT_EQ(framebuffer(), before);
}
