#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/line.h"
#include "draw/draw_support.h"
#include "support/screen_fixture.h"

using Points = std::set<std::pair<int, int>>;

static constexpr uint32_t kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;
static constexpr uint32_t kAbsolute = 0;

class Line : public NullScreen {
protected:
    // Every pixel of the screen's work page that is no longer the black it
    // was opened with.
    static Points drawn()
    {
        Points p;
        for (int y = 0; y < __rk_gfx->h; ++y)
            for (int x = 0; x < __rk_gfx->w; ++x)
                if (pixel(x, y) != kBlack)
                    p.insert({x, y});
        return p;
    }
};

static void line(float x1, float y1, float x2, float y2, uint32_t style = 0xFFFF, int kind = RK_LINE)
{
    rk_GfxLine(nullptr, x1, y1, x2, y2, kWhite, kind, style, kAbsolute);
}

TEST_F(Line, PatternIsAnchoredAtTheFirstEndpointInBothDirections)
{
    open(32, 32, 32);
    line(0, 5, 20, 5, 0x8000);
    EXPECT_EQ(drawn(), (Points{{0, 5}, {16, 5}}));
    line(20, 7, 0, 7, 0x8000);
    line(5, 10, 5, 30, 0x8000);
    line(7, 30, 7, 10, 0x8000);
    EXPECT_EQ(drawn(), (Points{{0, 5}, {16, 5}, {20, 7}, {4, 7}, {5, 10}, {5, 26}, {7, 30}, {7, 14}}));
}

TEST_F(Line, UnevenPatternsWalkedBackwardsKeepTheirPhase)
{
    open(40, 8, 32);
    // Bits 15, 14 and 11: positions 0, 1 and 4 of every 16.
    line(2, 1, 35, 1, 0xC800);
    line(35, 3, 2, 3, 0xC800);
    Points p = drawn();
    for (int k = 0; k <= 33; ++k) {
        bool on = k % 16 == 0 || k % 16 == 1 || k % 16 == 4;
        EXPECT_EQ(p.count({2 + k, 1}), on ? 1u : 0u) << k;
        EXPECT_EQ(p.count({35 - k, 3}), on ? 1u : 0u) << k;
    }
}

TEST_F(Line, SlopedLinesDependOnTheirDirection)
{
    struct Case {
        float x1, y1, x2, y2;
        Points expected;
    };
    const Case cases[] = {
        {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}}},
        {4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 0}, {1, 0}, {0, 0}}},
        {0, 0, 1, 4, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}}},
        {1, 4, 0, 0, {{1, 4}, {1, 3}, {0, 2}, {0, 1}, {0, 0}}},
        {9, 2, 3, 8, {{9, 2}, {8, 3}, {7, 4}, {6, 5}, {5, 6}, {4, 7}, {3, 8}}},  // 45 degrees
    };
    for (const Case &c : cases) {
        open(16, 16, 32);
        line(c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(drawn(), c.expected) << c.x1 << "," << c.y1 << " to " << c.x2 << "," << c.y2;
    }
}

TEST_F(Line, SinglePointFollowsBit15)
{
    open(8, 8, 32);
    line(3, 3, 3, 3, 0x7FFF);
    EXPECT_TRUE(drawn().empty());
    line(3, 3, 3, 3, 0x8000);
    EXPECT_EQ(drawn(), (Points{{3, 3}}));
}

TEST_F(Line, ClippedLineStartsAtTheViewEdge)
{
    open(64, 32, 32);
    // Horizontal: the pattern starts at the right edge, x = 63.
    line(10, 5, 100, 5, 0x8000);
    EXPECT_EQ(drawn(), (Points{{63, 5}, {47, 5}, {31, 5}, {15, 5}}));
    // Sloped: (80, 25) moves to x = 63, y = 25 + 0.5 * (63 - 80), truncated.
    open(64, 32, 32);
    line(50, 10, 80, 25, 0x8000);
    EXPECT_EQ(drawn(), (Points{{63, 16}}));
    open(64, 32, 32);
    line(50, 10, 80, 25);
    Points p = drawn();
    EXPECT_EQ(p.size(), 14u);
    EXPECT_TRUE(p.count({63, 16}) && p.count({50, 10}));
}

TEST_F(Line, ClippingUsesTheViewAndItsOrigin)
{
    open(48, 48, 32);
    rk_GfxView(10, 10, 29, 29, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    // View coordinates: (0, 5)..(100, 5) is screen row 15 from x = 10.
    line(0, 5, 100, 5, 0x8000);
    EXPECT_EQ(drawn(), (Points{{29, 15}, {13, 15}}));
    // Both ends outside at opposite corners: from the clipped second point.
    line(-30, -30, 60, 60, 0x8000);
    EXPECT_EQ(drawn(), (Points{{29, 15}, {13, 15}, {29, 29}, {13, 13}}));
}

TEST_F(Line, InvisibleLineTouchesNothingButTheLastPoint)
{
    open(32, 32, 32);
    rk_GfxView(8, 8, 23, 23, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    clear_dirty_rows();
    line(0, 2, 31, 5);
    line(30, 0, 30, 31);
    EXPECT_TRUE(drawn().empty());
    EXPECT_EQ(dirty_rows(), std::make_pair(-1, -1));
    EXPECT_EQ(rk_hGetContext()->last_x, 30.0f);
    EXPECT_EQ(rk_hGetContext()->last_y, 31.0f);
    // Passing by the view's corner without entering it.
    line(0, 14, 14, 0);
    EXPECT_TRUE(drawn().empty());
}

TEST_F(Line, DirtyRowsAreThoseOfTheClippedLine)
{
    open(32, 32, 32);
    clear_dirty_rows();
    line(3, 7, 20, 12);
    EXPECT_EQ(dirty_rows(), std::make_pair(7, 12));
    clear_dirty_rows();
    line(20, -40, 20, 5);
    EXPECT_EQ(dirty_rows(), std::make_pair(0, 5));
    // Drawing into an image marks nothing.
    void *img = rk_GfxImageCreate(16, 16, 0, 32, 0);
    clear_dirty_rows();
    rk_GfxLine(img, 0, 0, 15, 15, kWhite, RK_LINE, 0xFFFF, kAbsolute);
    EXPECT_EQ(dirty_rows(), std::make_pair(-1, -1));
    auto *px = reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(img) + sizeof(ImageHeader));
    EXPECT_EQ(px[7 * 16 + 7], kWhite);
    rk_GfxImageDestroy(img);
}

TEST_F(Line, RelativeCoordinatesAndTheLastPoint)
{
    open(32, 32, 32);
    rk_GfxLine(nullptr, 2, 3, 4, 0, kWhite, RK_LINE, 0xFFFF, 1);  // second point relative
    EXPECT_EQ(drawn(), (Points{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}}));
    rk_GfxLine(nullptr, 0, 2, 0, 1, kWhite, RK_LINE, 0xFFFF, 3);  // both relative, from (6, 3)
    EXPECT_TRUE(drawn().count({6, 5}) && drawn().count({6, 6}));
    EXPECT_EQ(rk_hGetContext()->last_y, 6.0f);
    // A box's last point is its second corner as given, before ordering.
    line(20, 20, 10, 12, 0xFFFF, 1);
    EXPECT_EQ(rk_hGetContext()->last_x, 10.0f);
    EXPECT_EQ(rk_hGetContext()->last_y, 12.0f);
}

TEST_F(Line, FilledBoxCoversExactlyTheClippedRectangle)
{
    open(64, 48, 32);
    line(0, 0, 64, 48, 0xFFFF, RK_LINE_FILLED_BOX);
    EXPECT_EQ(drawn().size(), 64u * 48u);
    open(64, 48, 32);
    clear_dirty_rows();
    line(50, 40, -5, 30, 0x0000, RK_LINE_FILLED_BOX);  // corners in any order; style ignored
    Points p = drawn();
    EXPECT_EQ(p.size(), 51u * 11u);
    EXPECT_TRUE(p.count({0, 30}) && p.count({50, 40}) && !p.count({51, 40}) && !p.count({0, 29}));
    EXPECT_EQ(dirty_rows(), std::make_pair(30, 40));
}

TEST_F(Line, OutlinePatternRunsAlongTheWholePerimeter)
{
    open(32, 32, 32);
    // Positions k = 0, 4, 8, ... of the walk: bottom row from the left,
    // top row, right column, left column.
    line(1, 1, 6, 3, 0x8888, 1);
    EXPECT_EQ(drawn(), (Points{{1, 3}, {5, 3}, {3, 1}, {6, 1}, {1, 2}}));
    // Clipped positions still count: x = -2 is position 0 of both rows.
    open(32, 32, 32);
    line(-2, 1, 5, 4, 0x8888, 7);
    EXPECT_EQ(drawn(), (Points{{2, 4}, {2, 1}, {5, 1}}));
}

TEST_F(Line, OutlineEdgesOutsideTheViewAreSkipped)
{
    open(32, 32, 32);
    line(-4, -4, 10, 40, 0xFFFF, 1);  // only the right column is inside
    Points p = drawn();
    EXPECT_EQ(p.size(), 32u);
    EXPECT_TRUE(p.count({10, 0}) && p.count({10, 31}));
}

// Blue channel after n blends of 0x80FFFFFF onto black: each blend adds
// floor((255 - b) * 128 / 256).
static uint32_t blue_after(int n)
{
    uint32_t b = 0;
    while (n-- > 0)
        b += ((255 - b) * 128) >> 8;
    return b;
}

TEST_F(Line, BlendedOutlineCornersAndThinBoxesRepeatPixels)
{
    open(32, 32, 32, 0, RK_MODE_ALPHA_PRIMITIVES);
    const uint32_t c = 0x80FFFFFFu;
    rk_GfxLine(nullptr, 3, 3, 3, 3, c, 1, 0xFFFF, kAbsolute);
    EXPECT_EQ(pixel(3, 3) & 0xFF, blue_after(4));
    rk_GfxLine(nullptr, 10, 5, 14, 5, c, 1, 0xFFFF, kAbsolute);  // height 1
    EXPECT_EQ(pixel(10, 5) & 0xFF, blue_after(3));  // both rows and the left column
    EXPECT_EQ(pixel(12, 5) & 0xFF, blue_after(2));
    rk_GfxLine(nullptr, 10, 10, 16, 20, c, 1, 0xFFFF, kAbsolute);
    EXPECT_EQ(pixel(10, 10) & 0xFF, blue_after(2));
    EXPECT_EQ(pixel(13, 20) & 0xFF, blue_after(1));
    EXPECT_EQ(pixel(16, 15) & 0xFF, blue_after(1));
    // Lines write each pixel once, the solid horizontal run included.
    rk_GfxLine(nullptr, 0, 25, 31, 25, c, RK_LINE, 0xFFFF, kAbsolute);
    rk_GfxLine(nullptr, 0, 26, 31, 29, c, RK_LINE, 0xFFFF, kAbsolute);
    EXPECT_EQ(pixel(17, 25) & 0xFF, blue_after(1));
    EXPECT_EQ(pixel(0, 26) & 0xFF, blue_after(1));
    EXPECT_EQ(pixel(31, 29) & 0xFF, blue_after(1));
}

TEST_F(Line, ColoursFollowTheTarget)
{
    open(16, 16, 16);
    rk_GfxLine(nullptr, 0, 1, 15, 1, 0xFF0000, RK_LINE, 0xFFFF, kAbsolute);
    EXPECT_EQ(pixel(4, 1), 0xF800u);
    uint32_t fg = rk_hGetContext()->fg_color;
    rk_GfxLine(nullptr, 0, 2, 15, 2, 0x1234, RK_LINE, 0xFFFF, RK_FLAG_NO_COLOR);
    EXPECT_EQ(pixel(4, 2), fg);
    open(16, 16, 8);
    rk_GfxLine(nullptr, 0, 1, 15, 1, 5, RK_LINE, 0xFFFF, kAbsolute);
    EXPECT_EQ(pixel(9, 1), 5u);
}

TEST_F(Line, NoScreenDoesNothing)
{
    rk_GfxLine(nullptr, 0, 0, 10, 10, kWhite, RK_LINE, 0xFFFF, kAbsolute);
    rk_GfxLine(nullptr, 0, 0, 10, 10, kWhite, RK_LINE_FILLED_BOX, 0xFFFF, kAbsolute);
    EXPECT_EQ(__rk_gfx, nullptr);
}

TEST_F(Line, HugeAndNonFiniteCoordinatesStayInsideTheView)
{
    open(64, 64, 32);
    rk_GfxView(20, 20, 43, 35, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    line(-3e9f, -2e9f, 3e9f, 2e9f);
    line(-inf, -inf, inf, inf);
    line(1e30f, 30, -1e30f, 30, 0x8000);
    line(nan, nan, 30, 30);  // NaN maps to 0
    line(-inf, 0, inf, 1e38f, 0xFFFF, 1);
    line(-inf, -inf, inf, inf, 0xFFFF, RK_LINE_FILLED_BOX);
    Points p = drawn();
    EXPECT_EQ(p.size(), 24u * 16u);  // the filled box covers the view
    for (auto [x, y] : p)
        ASSERT_TRUE(x >= 20 && x <= 43 && y >= 20 && y <= 35) << x << "," << y;

    open(64, 64, 32);
    rk_GfxView(20, 20, 43, 35, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    line(-1.5e9f, -1e9f, 1.5e9f, 1e9f);
    line(-inf, -inf, inf, inf);
    p = drawn();
    EXPECT_FALSE(p.empty());
    for (auto [x, y] : p) {
        ASSERT_TRUE(x >= 20 && x <= 43 && y >= 20 && y <= 35) << x << "," << y;
        // On y = 2x/3 or y = x, within a pixel of truncation.
        ASSERT_TRUE(std::abs(3 * y - 2 * x) <= 4 || std::abs(y - x) <= 1) << x << "," << y;
    }
    EXPECT_TRUE(p.count({30, 20}) && p.count({35, 35}));
}
