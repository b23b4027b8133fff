#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "fuzz/lineedit_driver.h"
#include "gfx/input/keys.h"
#include "gfx/text/lineinput.h"
#include "rt/console.h"
#include "rt/input.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/screen_fixture.h"
#include "text/text_support.h"

// Line input on the graphics screen with the keys posted in advance (at
// most 15: the key buffer's size).
class LineEdit : public NullScreen {
protected:
    void open_grid(int w, int h)
    {
        open(w, h, 32);
        install_test_glyphs(__rk_gfx->font);
        rk_Color(0x00FFFF00, 0x00000080, 0);
        fg = rk_hGetContext()->fg_color;
        bg = rk_hGetContext()->bg_color;
    }
    void SetUp() override
    {
        NullScreen::SetUp();
        open_grid(800, 600);
    }
    static void type(std::initializer_list<int> codes)
    {
        ASSERT_LE(codes.size(), 15u);
        for (int c : codes)
            rk_hPostKey(c);
    }
    // What the paint program does: input with an empty prompt, no "? ",
    // a new line after Enter, and the first value taken as a string.
    static std::string input()
    {
        EXPECT_EQ(rk_ConsoleInput(rk_StrAllocTempDesc(""), 0, -1), 0);
        RkString file{};
        EXPECT_EQ(rk_InputString(&file, -1, 0), 0);
        std::string r(file.data ? file.data : "", static_cast<std::size_t>(file.len));
        rk_StrDelete(&file);
        return r;
    }
    uint32_t fg = 0, bg = 0;
};

TEST_F(LineEdit, TypedNameIsEchoedAtTheCursorAndAssigned)
{
    rk_Locate(2, 20, -1);
    type({'b', 'i', 'l', 'd', '.', 'b', 'm', 'p', 13});
    EXPECT_EQ(input(), "bild.bmp");
    std::string want = "bild.bmp";
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(cell_shows(19 + i, 1, static_cast<unsigned char>(want[i]), fg, bg)) << i;
    // The soft cursor mark after the text was replaced by a space.
    EXPECT_TRUE(cell_shows(27, 1, ' ', fg, bg));
    EXPECT_EQ(cell_text(1, 0, 19), std::string(19, ' '));
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 3);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(LineEdit, CommaEndsTheValueUnlessQuoted)
{
    type({'a', ',', 'b', 13});
    EXPECT_EQ(input(), "a");
    type({'"', 'a', ',', 'b', '"', 13});
    EXPECT_EQ(input(), "a,b");
    // The next input starts from an empty context: nothing left of "b".
    type({13});
    EXPECT_EQ(input(), "");
}

TEST_F(LineEdit, LeadingSpacesDroppedTrailingKept)
{
    type({' ', ' ', 'x', ' ', ' ', 13});
    EXPECT_EQ(input(), "x  ");
    type({'a', 9, 'b', 13});
    EXPECT_EQ(input(), "a       b");
}

TEST_F(LineEdit, CursorKeysInsertInTheMiddle)
{
    rk_Locate(5, 1, -1);
    type({'a', 'b', 'c', RK_KEY_LEFT, RK_KEY_LEFT, 'X', 13});
    EXPECT_EQ(input(), "aXbc");
    EXPECT_EQ(cell_text(4, 0, 5), "aXbc ");
    EXPECT_TRUE(cell_shows(1, 4, 'X', fg, bg));
    EXPECT_TRUE(cell_shows(3, 4, 'c', fg, bg));

    type({'a', 'b', 'c', RK_KEY_HOME, 'X', RK_KEY_END, 'Y', RK_KEY_RIGHT, 13});
    EXPECT_EQ(input(), "XabcY");
    type({'a', 'b', RK_KEY_HOME, 8, RK_KEY_LEFT, 13});
    EXPECT_EQ(input(), "ab");
    type({'a', 'b', 'c', RK_KEY_LEFT, 8, 13});
    EXPECT_EQ(input(), "ac");
    type({'a', 'b', 'c', RK_KEY_HOME, RK_KEY_DELETE, 13});
    EXPECT_EQ(input(), "bc");
}

TEST_F(LineEdit, BackspaceErasesTheLastCell)
{
    rk_Locate(3, 1, -1);
    type({'a', 'b', 'c', 8, 8, 13});
    EXPECT_EQ(input(), "a");
    EXPECT_EQ(cell_text(2, 0, 4), "a   ");
}

TEST_F(LineEdit, DeleteAtTheEndBeeps)
{
    type({'a', RK_KEY_DELETE, 13});
    testing::internal::CaptureStdout();
    std::string got = input();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a");
    EXPECT_EQ(got, "a");
}

TEST_F(LineEdit, EscapeEmptiesTheLineAndBlanksItsCells)
{
    rk_Locate(4, 10, -1);
    type({'a', 'b', 'c', 'd', 27, 'z', 13});
    EXPECT_EQ(input(), "z");
    EXPECT_EQ(cell_text(3, 9, 14), "z    ");
    EXPECT_TRUE(cell_shows(10, 3, ' ', fg, bg));
    EXPECT_TRUE(cell_shows(12, 3, ' ', fg, bg));
    type({'q', 27, 13});
    EXPECT_EQ(input(), "");
}

TEST_F(LineEdit, CloseKeyIsConsumedAndIgnored)
{
    type({'a', RK_KEY_CLOSE, 'b', RK_KEY_F1, (0x45 << 8) | 0xFF, 13});
    EXPECT_EQ(input(), "ab");
    EXPECT_EQ(rk_KeyHit(), 0);
}

TEST_F(LineEdit, UpAndDownMoveByARowOverAWrappedLine)
{
    open_grid(64, 64);  // 8 x 8 cells
    rk_Locate(2, 5, -1);
    type({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', RK_KEY_UP, 'X', RK_KEY_DOWN, 'Y', 13});
    EXPECT_EQ(input(), "aXbcdefghiY");
    EXPECT_EQ(cell_text(1, 4, 8), "aXbc");
    EXPECT_EQ(cell_text(2, 0, 7), "defghiY");
    EXPECT_TRUE(cell_shows(1, 2, 'e', fg, bg));
    EXPECT_EQ(rk_GfxGetY(), 4);

    // Up and Down that would leave the text do nothing.
    rk_Locate(6, 1, -1);
    type({'a', 'b', RK_KEY_UP, 'c', RK_KEY_DOWN, 'd', 13});
    EXPECT_EQ(input(), "abcd");
}

TEST_F(LineEdit, InsertingAtTheBottomRightScrollsAndKeepsTheCursor)
{
    open_grid(64, 64);
    rk_Locate(8, 1, -1);
    // Seven letters, back one, then two insertions: the second pushes the
    // last letter past the bottom-right cell and scrolls the screen.
    type({'a', 'b', 'c', 'd', 'e', 'f', 'g', RK_KEY_LEFT, 'X', 'Y', 'Z', 13});
    EXPECT_EQ(input(), "abcdefXYZg");
    // Enter's line feed scrolled once more.
    EXPECT_EQ(cell_text(5, 0, 8), "abcdefXY");
    EXPECT_EQ(cell_text(6, 0, 2), "Zg");
    EXPECT_TRUE(cell_blank(0, 7, fg, bg));
    EXPECT_EQ(rk_GfxGetX(), 1);
    EXPECT_EQ(rk_GfxGetY(), 8);
}

TEST_F(LineEdit, TypingPastTheBottomRightScrolls)
{
    open_grid(64, 64);
    rk_Locate(8, 5, -1);
    type({'1', '2', '3', '4', '5', '6', RK_KEY_HOME, 'h', 13});
    EXPECT_EQ(input(), "h123456");
    EXPECT_EQ(cell_text(5, 4, 8), "h123");
    EXPECT_EQ(cell_text(6, 0, 4), "456 ");
}

TEST_F(LineEdit, PromptAndQuestionMark)
{
    rk_Locate(1, 1, -1);
    RkString line{};
    type({'o', 'k', 13});
    EXPECT_EQ(rk_LineInput(rk_StrAllocTempDesc("Name"), &line, -1, 0, 1, 0), 0);
    EXPECT_STREQ(line.data, "ok");
    EXPECT_EQ(cell_text(0, 0, 8), "Name? ok");
    // Without newline the cursor stays after the text.
    EXPECT_EQ(rk_GfxGetX(), 9);
    EXPECT_EQ(rk_GfxGetY(), 1);
    rk_StrDelete(&line);

    const uint32_t prompt[] = {'>', 0x263A, 0};
    uint32_t wide[4] = {9, 9, 9, 9};
    rk_Locate(2, 1, -1);
    type({'x', 0xE4, 'y', 'z', 13});
    EXPECT_EQ(rk_GfxLineInputWstr(prompt, wide, 4, 0, 1), 0);
    EXPECT_EQ(wide[0], 'x');
    EXPECT_EQ(wide[1], 0xE4u);
    EXPECT_EQ(wide[2], 'y');
    EXPECT_EQ(wide[3], 0u);
    EXPECT_EQ(cell_text(1, 0, 6), ">?x\xE4yz");
    EXPECT_EQ(rk_GfxGetY(), 3);
}

TEST_F(LineEdit, ReadStrWithTheBlockCursor)
{
    rk_Locate(3, 1, -1);
    char buf[8];
    type({'a', 'b', 8, 'c', 7, 13});
    ASSERT_EQ(rk_GfxReadStr(buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "ac\r");
    EXPECT_EQ(cell_text(2, 0, 3), "ac ");

    // A short buffer keeps size - 1 keys; Enter still ends.
    rk_Locate(4, 1, -1);
    type({'x', 'y', 'z', 13});
    ASSERT_EQ(rk_GfxReadStr(buf, 3), buf);
    EXPECT_STREQ(buf, "xy");

    // Backspace at the very first cell of the screen.
    rk_Locate(1, 1, -1);
    type({'q', 8, 8, 'r', 13});
    ASSERT_EQ(rk_GfxReadStr(buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "r\r");
    EXPECT_EQ(rk_GfxReadStr(nullptr, 4), nullptr);
    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(rk_GfxReadStr(buf, sizeof buf), nullptr);
}

// The fuzz target's corpus: cursor positions far outside the grid, narrow
// print views, pending wraps and every editing key, on grids down to one cell.
TEST_F(LineEdit, CorpusInputsKeepTheEditorInsideTheScreen)
{
    const auto corpus = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
                        "fuzz/corpus/lineedit";
    int files = 0;
    for (const auto &e : std::filesystem::directory_iterator(corpus)) {
        std::ifstream f(e.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), {});
        testing::internal::CaptureStdout();  // the beeps
        EXPECT_TRUE(lineedit_driver::run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size())) << e.path();
        testing::internal::GetCapturedStdout();
        ++files;
    }
    EXPECT_GE(files, 5);
}
