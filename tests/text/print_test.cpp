#include <climits>
#include <cstring>
#include <string>

#include "gfx/core/color.h"
#include "gfx/text/cells.h"
#include "gfx/text/print.h"
#include "rt/console.h"
#include "rt/rt.h"
#include "support/screen_fixture.h"
#include "text/text_support.h"

// An 800x600 screen in 32 bits: a 100 x 75 grid of 8x8 cells.
class Print : public NullScreen {
protected:
    void SetUp() override
    {
        NullScreen::SetUp();
        open(800, 600, 32);
        install_test_glyphs(__rk_gfx->font);
        rk_Color(0x00FFCC00, 0x00102030, 0);
        fg = rk_hGetContext()->fg_color;
        bg = rk_hGetContext()->bg_color;
    }
    static void print(const std::string &t) { rk_PrintBufferEx(t.data(), t.size(), 0); }
    uint32_t fg = 0, bg = 0;
};

TEST_F(Print, WrapsAtTheLastColumn)
{
    rk_Locate(5, 100, -1);
    print("AB");
    EXPECT_TRUE(cell_shows(99, 4, 'A', fg, bg));
    EXPECT_TRUE(cell_shows(0, 5, 'B', fg, bg));
    EXPECT_EQ(rk_GfxGetX(), 2);
    EXPECT_EQ(rk_GfxGetY(), 6);
    EXPECT_FALSE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
}

TEST_F(Print, FullBottomRowParksTheCursorAndScrollsLazily)
{
    std::string row;
    for (int i = 0; i < 100; ++i)
        row += static_cast<char>('!' + i % 90);
    print("top");
    rk_Locate(75, 1, -1);
    print(row);
    // Parked on the last cell, nothing scrolled yet.
    EXPECT_TRUE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
    EXPECT_EQ(rk_GfxGetX(), 100);
    EXPECT_EQ(rk_GfxGetY(), 75);
    EXPECT_EQ(cell_text(74, 0, 100), row);
    EXPECT_EQ(cell_text(0, 0, 3), "top");

    print("Z");
    EXPECT_FALSE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
    EXPECT_EQ(cell_text(73, 0, 100), row);
    EXPECT_EQ(cell_text(74, 0, 100), "Z" + std::string(99, ' '));
    EXPECT_EQ(cell_text(0, 0, 3), "   ");  // the top row scrolled away
    EXPECT_TRUE(cell_shows(0, 73, static_cast<unsigned char>(row[0]), fg, bg));
    EXPECT_TRUE(cell_shows(99, 73, static_cast<unsigned char>(row[99]), fg, bg));
    EXPECT_TRUE(cell_shows(0, 74, 'Z', fg, bg));
    EXPECT_TRUE(cell_blank(50, 74, fg, bg));
    EXPECT_EQ(rk_GfxGetX(), 2);
    EXPECT_EQ(rk_GfxGetY(), 75);
}

TEST_F(Print, EmptyPrintSettlesAPendingWrapOnlyWithTheMask)
{
    rk_Locate(75, 100, -1);
    print("q");
    ASSERT_TRUE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
    rk_GfxPrintBufferEx("", 0, 0);
    EXPECT_TRUE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
    EXPECT_EQ(rk_GfxReadXY(100, 75, 0), 'q');
    rk_GfxPrintBufferEx(nullptr, 0, RK_PRINT_SETTLE);
    EXPECT_FALSE(__rk_gfx->flags & SCREEN_WRAP_PENDING);
    EXPECT_EQ(rk_GfxReadXY(100, 74, 0), 'q');
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 75);
}

TEST_F(Print, LineFeedOnTheBottomRowScrollsAtOnce)
{
    rk_Locate(75, 1, -1);
    // The previous background differs from the current one: the freed row
    // must take the current background.
    print("x");
    rk_Color(0, 0x00445566, 1);
    uint32_t bg2 = rk_hGetContext()->bg_color;
    print("\n");
    EXPECT_EQ(rk_GfxReadXY(1, 74, 0), 'x');
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 75);
    for (int c : {0, 42, 99})
        EXPECT_TRUE(cell_blank(c, 74, fg, bg2)) << c;
    // Every pixel row of the new bottom row, edge to edge.
    for (int y = 592; y < 600; ++y)
        for (int x = 0; x < 800; x += 7)
            ASSERT_EQ(screen_pixel(x, y), bg2);
}

TEST_F(Print, TabBackspaceCarriageReturnAndBell)
{
    rk_Locate(3, 4, -1);
    print("\t");
    EXPECT_EQ(rk_GfxGetX(), 9);  // column 3 -> 8, 0-based
    print("\t");
    EXPECT_EQ(rk_GfxGetX(), 17);  // already on a multiple: a whole tab
    print("ab\b");
    EXPECT_EQ(rk_GfxGetX(), 18);
    EXPECT_EQ(rk_GfxReadXY(18, 3, 0), 'b');  // no erase
    print("\r");
    EXPECT_EQ(rk_GfxGetX(), 1);
    print("\b");
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 3);
    // Tabs print spaces in the current colours.
    EXPECT_TRUE(cell_shows(5, 2, ' ', fg, bg));
    testing::internal::CaptureStdout();
    print("\a");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a");
    EXPECT_EQ(rk_GfxGetX(), 1);
    // Other control bytes are glyphs.
    print("\x0b\x0c");
    EXPECT_TRUE(cell_shows(0, 2, 11, fg, bg));
    EXPECT_TRUE(cell_shows(1, 2, 12, fg, bg));
}

TEST_F(Print, CursorMarkIsAnUnderline)
{
    rk_Locate(10, 10, -1);
    print("Q");
    rk_Locate(10, 10, -1);
    print("\xFF");
    const FontDesc *f = __rk_gfx->font;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            bool q = (f->data['Q' * 8 + y] >> x) & 1;
            uint32_t want = y == 7 ? fg : (q ? fg : bg);
            ASSERT_EQ(screen_pixel(72 + x, 72 + y), want) << x << "," << y;
        }
    EXPECT_EQ(rk_GfxReadXY(10, 10, 0), 255u);
    EXPECT_EQ(rk_GfxGetX(), 11);
    // In a longer text 0xFF is an ordinary glyph.
    rk_Locate(11, 1, -1);
    print("\xFF\xFF");
    EXPECT_TRUE(cell_shows(0, 10, 255, fg, bg));
    EXPECT_TRUE(cell_shows(1, 10, 255, fg, bg));
}

TEST_F(Print, LocateKeepsZeroAndRefusesPositionsOutsideTheGrid)
{
    rk_Locate(7, 3, -1);
    EXPECT_EQ(rk_Locate(0, 20, -1), (7 << 8) | 20);
    EXPECT_EQ(rk_GfxGetY(), 7);
    EXPECT_EQ(rk_GfxGetX(), 20);
    EXPECT_EQ(__rk_ctx.con_out_column, 19);

    rk_ErrorSetNum(5);
    rk_Locate(200, 1, -1);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(rk_GfxGetY(), 7);
    EXPECT_EQ(rk_GfxGetX(), 20);
    int current = 0;
    EXPECT_EQ(rk_LocateEx(200, 1, -1, &current), 1);
    EXPECT_EQ(rk_LocateEx(1, 101, -1, &current), 1);
    EXPECT_EQ(rk_LocateEx(-1, 0, -1, &current), 1);
    EXPECT_EQ(rk_LocateEx(75, 100, -1, &current), 0);
    EXPECT_EQ(current, (75 << 8) | 100);

    // Only the rows of the print view are accepted.
    rk_ConsoleSetView(10, 20);
    rk_Locate(9, 1, -1);
    EXPECT_EQ(rk_GfxGetY(), 75);
    rk_Locate(20, 1, -1);
    EXPECT_EQ(rk_GfxGetY(), 20);

    // The raw locate stores what it is given; its result keeps 8 bits each.
    EXPECT_EQ(rk_GfxLocateRaw(300, 2), ((300 & 0xFF) << 8) | 2);
}

TEST_F(Print, ScrollingStaysInsideThePrintView)
{
    rk_Locate(1, 1, -1);
    print("above");
    rk_Locate(6, 1, -1);
    print("below");
    rk_ConsoleSetView(3, 5);
    rk_Locate(3, 1, -1);
    print("one\ntwo\nthree\nfour");
    EXPECT_EQ(cell_text(0, 0, 5), "above");
    EXPECT_EQ(cell_text(5, 0, 5), "below");
    EXPECT_EQ(cell_text(2, 0, 5), "two  ");
    EXPECT_EQ(cell_text(3, 0, 5), "three");
    EXPECT_EQ(cell_text(4, 0, 5), "four ");
    EXPECT_TRUE(cell_shows(0, 5, 'b', fg, bg));
    EXPECT_TRUE(cell_shows(0, 2, 't', fg, bg));
}

TEST_F(Print, MarksOnlyTheTouchedRowsDirty)
{
    std::memset(__rk_gfx->dirty, 0, 600);
    rk_Locate(4, 1, -1);
    print("hello");
    for (int y = 0; y < 600; ++y)
        ASSERT_EQ(__rk_gfx->dirty[y], (y >= 24 && y < 32) ? 1 : 0) << y;
    // Drawing on a page that is not shown marks nothing.
    std::memset(__rk_gfx->dirty, 0, 600);
    rk_GfxScreenRes(800, 600, 32, 2, 0, 0);
    rk_GfxPageSet(1, 0);
    std::memset(__rk_gfx->dirty, 0, 600);
    print("x");
    for (int y = 0; y < 600; ++y)
        ASSERT_EQ(__rk_gfx->dirty[y], 0) << y;
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Print, WideTextAndCursorQueries)
{
    rk_Locate(2, 2, -1);
    const uint32_t wide[] = {'a', 0x20AC, 0xE9, 0};
    rk_GfxPrintBufferWstr(wide, 0);
    EXPECT_EQ(cell_text(1, 1, 4), "a?\xE9");
    int col = 0, row = 0, cols = 0, rows = 0;
    rk_GfxGetXY(&col, &row);
    rk_GfxGetSize(&cols, &rows);
    EXPECT_EQ(col, 5);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(cols, 100);
    EXPECT_EQ(rows, 75);
    rk_GfxGetXY(nullptr, &row);
    rk_GfxGetSize(&cols, nullptr);
    // Reached through the console entries too.
    rk_GetXY(&col, &row);
    EXPECT_EQ(col, 5);
    EXPECT_EQ(rk_GetX(), 5);
}

TEST_F(Print, CursorFarOutsideTheGridStillPrintsSafely)
{
    rk_GfxLocateRaw(5000, 5000);
    print("ok");
    EXPECT_EQ(cell_text(74, 0, 2), "ok");
    rk_GfxLocateRaw(3, 255);
    print("w");
    EXPECT_EQ(rk_GfxReadXY(1, 5, 0), 'w');
    // The 1-based queries of the largest position stored do not overflow.
    rk_GfxLocateRaw(INT_MAX, INT_MAX);
    EXPECT_EQ(rk_GfxGetX(), INT_MAX);
    EXPECT_EQ(rk_GfxGetY(), INT_MAX);
}

TEST_F(Print, ReadXYReportsColoursByDepth)
{
    EXPECT_EQ(rk_GfxReadXY(0, 1, 0), 0u);
    EXPECT_EQ(rk_GfxReadXY(101, 1, 0), 0u);
    EXPECT_EQ(rk_GfxReadXY(1, 76, 0), 0u);
    rk_Locate(1, 1, -1);
    print("c");
    EXPECT_EQ(rk_GfxReadXY(1, 1, 1), fg);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 2), bg);

    open(320, 200, 16);
    rk_Color(0xFF0000, 0x0000FF, 0);
    rk_GfxPrintBufferEx("c", 1, 0);
    EXPECT_EQ(rk_hGetContext()->fg_color, 0xF800u);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 2), 0xFF0000FFu);

    open(320, 200, 8);
    rk_Color(14, 3, 0);
    rk_GfxPrintBufferEx("c", 1, 0);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 1), 14u + 3u * 256u);

    open(320, 200, 4);
    rk_Color(14, 3, 0);
    rk_GfxPrintBufferEx("c", 1, 0);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 0), 'c');
    EXPECT_EQ(rk_GfxReadXY(1, 1, 2), 14u + 3u * 16u);

    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(rk_GfxReadXY(1, 1, 0), 0u);
    EXPECT_EQ(rk_GfxGetX(), 0);
}

// Clearing the screen again, as a program redrawing every frame does, leaves
// every cell blank in the current colours whatever changed the cells since.
TEST_F(Print, ClearingAgainErasesEveryChangeSince)
{
    const struct {
        const char *what;
        void (*change)();
    } changes[] = {
        {"print", [] { print("Z"); }},
        {"scroll", [] {
             rk_Locate(75, 1, -1);
             print("Z\n");
         }},
        {"copy of a page never cleared", [] { rk_GfxPageCopy(1, 0); }},
        {"other colours", [] {
             rk_Color(0x123456, 0x654321, 0);
             rk_Cls();
         }},
        {"new grid", [] { rk_GfxWidth(80, 30); }},
    };
    for (const auto &c : changes) {
        open(800, 600, 32, 2);
        rk_Color(0x00FFCC00, 0x00102030, 0);
        const uint32_t blank_bg = rk_hGetContext()->bg_color;
        rk_Cls();
        c.change();
        rk_Color(0x00FFCC00, 0x00102030, 0);
        rk_Cls();
        int wrong = 0;
        for (int row = 1; row <= __rk_gfx->text_h; ++row)
            for (int col = 1; col <= __rk_gfx->text_w; ++col)
                wrong += rk_GfxReadXY(col, row, 0) != ' ' || rk_GfxReadXY(col, row, 2) != blank_bg;
        EXPECT_EQ(wrong, 0) << c.what;
    }
}
