#include <cstring>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/core/box.h"
#include "gfx/core/builtin.h"
#include "gfx/draw/clear.h"
#include "gfx/draw/line.h"
#include "gfx/text/cells.h"
#include "rt/console.h"
#include "draw/draw_support.h"
#include "support/screen_fixture.h"

static constexpr uint32_t kInk = 0xFF00FF00u;

class Clear : public NullScreen {
protected:
    // A 64x48 screen with an 8-pixel font (8 text columns, 6 rows), every
    // pixel and cell dirtied so that clearing shows.
    void SetUp() override
    {
        NullScreen::SetUp();
        open(64, 48, 32);
        rk_GfxColor(0xFFFFFF, 0x203040, 0);
        bg = rk_hGetContext()->bg_color;
        rk_GfxLine(nullptr, 0, 0, 63, 47, kInk, RK_LINE_FILLED_BOX, 0xFFFF, 0);
        ScreenState *s = __rk_gfx;
        rk_hClearCharCells(0, 0, s->text_w, s->text_h, 0, 'X', 1, 2);
        rk_GfxLocate(4, 5, -1);
        rk_hGetContext()->last_x = rk_hGetContext()->last_y = 3;
        clear_dirty_rows();
    }

    uint32_t bg = 0;

    // Rows whose pixels all have the background colour, the others none.
    static bool rows_cleared(int first, int last, uint32_t colour)
    {
        for (int y = 0; y < __rk_gfx->h; ++y)
            for (int x = 0; x < __rk_gfx->w; ++x) {
                bool inside = y >= first && y <= last;
                if ((pixel(x, y) == colour) != inside)
                    return false;
            }
        return true;
    }

    static uint32_t cell(int col, int row)
    {
        return __rk_gfx->char_cells[0][3 * (static_cast<std::size_t>(row) * __rk_gfx->text_w + col)];
    }

    static std::pair<float, float> last_point() { return {rk_hGetContext()->last_x, rk_hGetContext()->last_y}; }
};

TEST_F(Clear, NoModeWithFullTextViewClearsThePageCellsAndCursor)
{
    ScreenState *s = __rk_gfx;
    ASSERT_EQ(s->font->h, 8);
    rk_Cls();
    EXPECT_TRUE(rows_cleared(0, 47, bg));
    for (int r = 0; r < s->text_h; ++r)
        for (int c = 0; c < s->text_w; ++c)
            ASSERT_EQ(cell(c, r), static_cast<uint32_t>(' '));
    EXPECT_EQ(s->cursor_x, 0);
    EXPECT_EQ(s->cursor_y, 0);
    EXPECT_EQ(last_point(), std::make_pair(32.0f, 24.0f));
    EXPECT_EQ(dirty_rows(), std::make_pair(0, 47));
}

TEST_F(Clear, GraphicsViewModeLeavesTextAlone)
{
    rk_GfxView(10, 10, 19, 14, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    for (int mode : {1, 7, RK_ARG_OMITTED}) {
        rk_GfxLine(nullptr, -10, -10, 100, 100, kInk, RK_LINE_FILLED_BOX, 0xFFFF, 0);
        clear_dirty_rows();
        rk_Cls(mode);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                bool inside = x >= 10 && x <= 19 && y >= 10 && y <= 14;
                ASSERT_EQ(pixel(x, y), inside ? bg : kInk) << mode << ": " << x << "," << y;
            }
        EXPECT_EQ(cell(0, 0), static_cast<uint32_t>('X'));
        EXPECT_EQ(__rk_gfx->cursor_y, 3);
        EXPECT_EQ(__rk_gfx->cursor_x, 4);
        // Centre of the view in target pixels: 10 + 10 / 2, 10 + 5 / 2.
        EXPECT_EQ(last_point(), std::make_pair(15.0f, 12.0f));
        EXPECT_EQ(dirty_rows(), std::make_pair(10, 14));
    }
}

TEST_F(Clear, PartialTextViewClearsItsRowsOnly)
{
    rk_ConsoleSetView(2, 3);  // text rows 1 and 2, 0-based: pixel rows 8..23
    for (int mode : {2, RK_ARG_OMITTED}) {
        rk_Cls(mode);
        EXPECT_TRUE(rows_cleared(8, 23, bg)) << mode;
        EXPECT_EQ(cell(3, 0), static_cast<uint32_t>('X'));
        EXPECT_EQ(cell(3, 1), static_cast<uint32_t>(' '));
        EXPECT_EQ(cell(7, 2), static_cast<uint32_t>(' '));
        EXPECT_EQ(cell(3, 3), static_cast<uint32_t>('X'));
        EXPECT_EQ(__rk_gfx->cursor_y, 1);
        EXPECT_EQ(__rk_gfx->cursor_x, 0);
        EXPECT_EQ(last_point(), std::make_pair(3.0f, 3.0f));
        EXPECT_EQ(dirty_rows(), std::make_pair(8, 23));
    }
    // Mode 0 ignores the text view for the pixels but homes the cursor in it.
    rk_GfxLocate(5, 5, -1);
    rk_Cls(0);
    EXPECT_TRUE(rows_cleared(0, 47, bg));
    EXPECT_EQ(cell(0, 5), static_cast<uint32_t>(' '));
    EXPECT_EQ(__rk_gfx->cursor_y, 1);
    rk_ConsoleSetView(0, 0);
}

TEST_F(Clear, HiddenWorkPageIsClearedWithoutDirtyRows)
{
    open(16, 8, 32, 2);
    rk_GfxPageSet(1, 0);
    clear_dirty_rows();
    std::memset(__rk_gfx->page[1], 0x11, 16 * 8 * 4);
    rk_GfxColor(0xFFFFFF, 0x405060, 0);
    rk_Cls(0);
    uint32_t page_bg = rk_hGetContext()->bg_color;
    EXPECT_EQ(reinterpret_cast<uint32_t *>(__rk_gfx->page[1])[16 * 8 - 1], page_bg);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(__rk_gfx->page[0])[0], 0xFF000000u);
    EXPECT_EQ(dirty_rows(), std::make_pair(-1, -1));
}

TEST_F(Clear, BoxesOnAnEmptyViewDrawAndMarkNothing)
{
    // A view that lies right of the screen keeps its rows but no columns.
    rk_GfxView(100, 10, 120, 20, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    ASSERT_EQ(rk_hGetContext()->view_w, 0);
    rk_hGfxBox(-1000, -1000, 1000, 1000, 0xFFFFFFFFu, 1, 0xFFFF);
    rk_hGfxBox(-1000, 12, 1000, 15, 0xFFFFFFFFu, 0, 0xFFFF);
    EXPECT_EQ(dirty_rows(), std::make_pair(-1, -1));
    EXPECT_TRUE(rows_cleared(-1, -1, 0xFFFFFFFFu));
}
