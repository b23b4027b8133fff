#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "draw/draw_support.h"
#include "support/screen_fixture.h"

using Counts = std::map<std::pair<long long, long long>, int>;

static constexpr uint32_t kHalfWhite = 0x80FFFFFFu;  // blended: the blue channel counts the writes
static constexpr int kFill = -1;
static const float kInf = std::numeric_limits<float>::infinity();
static const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Blue channel after `writes` blends of kHalfWhite onto black.
static uint32_t blue_after(int writes)
{
    uint32_t p = 0xFF000000u;
    while (writes-- > 0)
        p = rk_hBlendPixel(p, kHalfWhite);
    return p & 0xFF;
}

class Ellipse : public NullScreen {
protected:
    // Opens a 32-bit screen with blending, so pixel values tell how often
    // each pixel was written.
    static void open_counting(int w, int h) { open(w, h, 32, 0, RK_MODE_ALPHA_PRIMITIVES); }

    static Counts written()
    {
        Counts c;
        for (int y = 0; y < __rk_gfx->h; ++y)
            for (int x = 0; x < __rk_gfx->w; ++x) {
                uint32_t b = pixel(x, y) & 0xFF;
                int n = 0;
                while (blue_after(n) != b && n < 16)
                    ++n;
                if (n)
                    c[{x, y}] = n;
            }
        return c;
    }

    static void clear_page()
    {
        std::memset(__rk_gfx->page[0], 0, static_cast<std::size_t>(__rk_gfx->pitch) * __rk_gfx->h);
    }

    // A screen-mode view: coordinates stay screen pixels.
    static void view(int x1, int y1, int x2, int y2)
    {
        rk_GfxView(x1, y1, x2, y2, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    }

    static void expect_inside_view(const Counts &c)
    {
        const DrawContext *ctx = rk_hGetContext();
        for (const auto &[p, n] : c)
            ASSERT_TRUE(p.first >= ctx->view_x && p.first < ctx->view_x + ctx->view_w && p.second >= ctx->view_y &&
                        p.second < ctx->view_y + ctx->view_h)
                << p.first << "," << p.second;
    }
};

static void circle(float x, float y, float radius, int fill, float aspect = 1.0f)
{
    rk_GfxEllipse(nullptr, x, y, radius, kHalfWhite, aspect, 0.0f, RK_ELLIPSE_FULL, fill, 4);
}

static void arc(float x, float y, float radius, float start, float end, float aspect = 1.0f)
{
    rk_GfxEllipse(nullptr, x, y, radius, kHalfWhite, aspect, start, end, 0, 4);
}

// The row-by-row rasteriser written as a plain walk: each pass moves one
// row out while the error term is positive, otherwise narrows the span;
// filled rows keep their first span. Counts the writes inside the view.
static Counts reference_ellipse(long long cx, long long cy, float rx, float ry, bool fill, const DrawContext *ctx)
{
    Counts out;
    std::vector<bool> filled(static_cast<std::size_t>(ctx->view_h));
    auto in_x = [&](long long x) { return x >= ctx->view_x && x < ctx->view_x + ctx->view_w; };
    auto scan = [&](long long y, long long x1, long long x2, bool f) {
        if (y < ctx->view_y || y >= ctx->view_y + ctx->view_h)
            return;
        if (!f) {
            if (in_x(x1))
                ++out[{x1, y}];
            if (in_x(x2))
                ++out[{x2, y}];
            return;
        }
        if (x2 < ctx->view_x || x1 >= ctx->view_x + ctx->view_w || filled[y - ctx->view_y])
            return;
        filled[y - ctx->view_y] = true;
        for (long long x = std::max<long long>(x1, ctx->view_x); x <= std::min<long long>(x2, ctx->view_x + ctx->view_w - 1); ++x)
            ++out[{x, y}];
    };
    long long x1 = static_cast<long long>(std::trunc(cx - static_cast<double>(rx)));
    long long x2 = static_cast<long long>(std::trunc(cx + static_cast<double>(rx)));
    if (ry == 0) {
        scan(cy, x1, x2, true);
        return out;
    }
    scan(cy, x1, x2, fill);
    __extension__ using i128 = __int128;
    long long ry2 = static_cast<long long>(std::trunc(static_cast<double>(ry) * ry));
    long long rx2 = static_cast<long long>(std::trunc(static_cast<double>(rx) * rx));
    long long n = static_cast<long long>(std::trunc(rx));
    if (n <= 0)
        return out;
    i128 e = static_cast<i128>(std::trunc(static_cast<double>(rx) * static_cast<double>(ry2))), a = 0, b = 2 * e;
    long long ya = cy, yb = cy;
    do {
        bool narrow = e <= 0;
        if (e > 0) {
            ++ya;
            --yb;
            a += 2 * static_cast<i128>(rx2);
            e -= a;
            narrow = e <= 0;
        }
        if (narrow) {
            ++x1;
            --x2;
            --n;
            b -= 2 * static_cast<i128>(ry2);
            e += b;
        }
        scan(ya, x1, x2, fill);
        scan(yb, x1, x2, fill);
    } while (n > 0);
    return out;
}

TEST_F(Ellipse, BrushCircleHasItsHalfWidthsAndWritesEachRowOnce)
{
    open_counting(64, 64);
    circle(30, 30, 10, kFill);
    const int half[] = {10, 10, 10, 9, 9, 8, 8, 7, 6, 4, 2};
    Counts expected;
    for (int d = -10; d <= 10; ++d)
        for (int x = 30 - half[std::abs(d)]; x <= 30 + half[std::abs(d)]; ++x)
            expected[{x, 30 + d}] = 1;
    EXPECT_EQ(written(), expected);
}

TEST_F(Ellipse, CircleAtAnImageCornerIsClippedRowByRow)
{
    open(64, 64, 32, 0, RK_MODE_ALPHA_PRIMITIVES);
    void *img = rk_GfxImageCreate(719, 553, 0xFF000000u, 32, 0);
    ASSERT_NE(img, nullptr);
    clear_dirty_rows();
    rk_GfxEllipse(img, 5, 5, 10, kHalfWhite, 0, 0, RK_ELLIPSE_FULL, kFill, 4);
    EXPECT_EQ(dirty_rows(), std::make_pair(-1, -1));
    auto *h = static_cast<ImageHeader *>(img);
    auto at = [&](int x, int y) {
        return reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(img) + sizeof(ImageHeader) + y * h->pitch)[x];
    };
    const int half[] = {10, 10, 10, 9, 9, 8, 8, 7, 6, 4, 2};
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            int d = std::abs(y - 5);
            bool in = y <= 15 && std::abs(x - 5) <= half[std::min(d, 10)];
            ASSERT_EQ(at(x, y) & 0xFF, blue_after(in ? 1 : 0)) << x << "," << y;
        }
    rk_GfxImageDestroy(img);
}

TEST_F(Ellipse, MatchesTheRowWalkOnRandomShapesAtTheViewEdges)
{
    open_counting(96, 80);
    view(10, 12, 80, 60);
    const DrawContext *ctx = rk_hGetContext();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> radius(0.2f, 40.0f), aspect(0.02f, 3.0f), pos(-5.0f, 95.0f);
    for (int i = 0; i < 400; ++i) {
        float r = radius(rng), a = i % 3 ? aspect(rng) : 1.0f;
        float x = std::round(pos(rng)), y = std::round(pos(rng));
        bool fill = i % 2;
        float rx = r, ry = r * a;
        if (a > 1) {
            rx = r / a;
            ry = r;
        }
        clear_page();
        circle(x, y, r, fill ? kFill : 0, a);
        Counts got = written();
        ASSERT_EQ(got, reference_ellipse(static_cast<long long>(x), static_cast<long long>(y), rx, ry, fill, ctx))
            << "r=" << r << " aspect=" << a << " at " << x << "," << y << " fill=" << fill;
    }
}

TEST_F(Ellipse, LargeRadiiMatchTheRowWalkWithinTheView)
{
    open_counting(96, 80);
    const DrawContext *ctx = rk_hGetContext();
    // Error terms beyond 64 bits; only a few of the millions of rows show.
    for (float r : {3.0e6f, 5.0e6f})
        for (int fill : {0, kFill}) {
            clear_page();
            float cx = -r + 40;
            circle(cx, 40, r, fill);
            ASSERT_EQ(written(), reference_ellipse(static_cast<long long>(cx), 40, r, r, fill, ctx)) << r;
        }
}

TEST_F(Ellipse, AspectPicksTheRadii)
{
    open_counting(64, 64);
    circle(30, 30, 10, kFill, 2.0f);
    Counts c = written();
    EXPECT_EQ(c.begin()->first.first, 25);
    EXPECT_EQ(c.rbegin()->first.first, 35);
    EXPECT_TRUE(c.count({30, 20}) && c.count({30, 40}) && !c.count({30, 41}) && !c.count({30, 19}));
    open_counting(64, 64);
    circle(30, 30, 10, kFill, 0.5f);
    c = written();
    EXPECT_TRUE(c.count({20, 30}) && c.count({40, 30}) && !c.count({41, 30}));
    EXPECT_TRUE(c.count({30, 25}) && c.count({30, 35}) && !c.count({30, 36}) && !c.count({30, 24}));
}

TEST_F(Ellipse, FlatEllipseIsOneSolidSpanEvenAsAnOutline)
{
    open_counting(64, 16);
    __rk_gfx->aspect = 0;  // aspect 0 asks for the screen's: ry = 0
    circle(20, 5, 7.5f, 0, 0.0f);
    Counts expected;
    for (int x = 12; x <= 27; ++x)
        expected[{x, 5}] = 1;
    EXPECT_EQ(written(), expected);
}

TEST_F(Ellipse, NonPositiveRadiusDoesNothing)
{
    open_counting(32, 32);
    rk_GfxLine(nullptr, 0, 0, 7, 9, 0, 0, 0, 0);
    clear_page();
    for (float r : {0.0f, -4.0f, kNaN, -kInf})
        circle(16, 16, r, kFill);
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(rk_hGetContext()->last_x, 7.0f);
    EXPECT_EQ(rk_hGetContext()->last_y, 9.0f);
    circle(3, 4, 1, kFill);
    EXPECT_EQ(rk_hGetContext()->last_x, 3.0f);
}

TEST_F(Ellipse, OnlyTheExactEndAngleGivesTheFullEllipse)
{
    open_counting(64, 64);
    float below = std::nextafter(std::nextafter(RK_ELLIPSE_FULL, 0.0f), 0.0f);  // just under 2 pi
    rk_GfxEllipse(nullptr, 30, 30, 10, kHalfWhite, 1, 0, below, kFill, 4);
    Counts c = written();
    EXPECT_FALSE(c.count({30, 30}));  // an arc, never filled
    EXPECT_TRUE(c.count({20, 30}) && c.count({30, 20}) && c.count({40, 30}) && c.count({30, 40}));
    // The float nearest 2 pi lies just above it: start moves up a turn and
    // the arc is its first point.
    open_counting(64, 64);
    rk_GfxEllipse(nullptr, 30, 30, 10, kHalfWhite, 1, 0, std::nextafter(RK_ELLIPSE_FULL, 0.0f), kFill, 4);
    EXPECT_EQ(written(), (Counts{{{40, 30}, 1}}));
}

TEST_F(Ellipse, NegativeAnglesDrawRadiusLines)
{
    open_counting(64, 64);
    arc(30, 30, 20, -0.5f, -2.0f);
    Counts c = written();
    // Radius lines to (18, 10) at 0.5 and to (-8, 18) at 2.0, y upwards.
    EXPECT_TRUE(c.count({30, 30}) && c.count({39, 25}) && c.count({48, 20}));
    EXPECT_TRUE(c.count({22, 12}) && c.count({26, 21}));
    EXPECT_TRUE(c.count({41, 13}));    // the arc at 1.0
    EXPECT_FALSE(c.count({10, 27}));   // 3.0 is not on it
    EXPECT_FALSE(c.count({48, 40}));   // nor -0.5
    EXPECT_EQ(rk_hGetContext()->last_x, 22.0f);
    EXPECT_EQ(rk_hGetContext()->last_y, 12.0f);
}

TEST_F(Ellipse, ArcsWrapAcrossZero)
{
    for (auto [start, end] : {std::pair{3.0f, 1.0f}, std::pair{6.0f, 0.5f}, std::pair{3.0f, 13.0f}}) {
        open_counting(64, 64);
        arc(30, 30, 20, start, end);
        Counts c = written();
        EXPECT_TRUE(c.count({50, 30})) << start;    // angle 0
        EXPECT_FALSE(c.count({22, 12})) << start;   // angle 2.0
    }
    open_counting(64, 64);
    arc(30, 30, 20, 1.0f, 1.2f);
    EXPECT_FALSE(written().count({50, 30}));
}

TEST_F(Ellipse, DirtyRowsCoverWhatWasWritten)
{
    open_counting(64, 64);
    clear_dirty_rows();
    arc(30, 30, 20, 0.0f, 0.5f);
    Counts c = written();
    int top = 64, bottom = -1;
    for (const auto &[p, n] : c) {
        top = std::min<int>(top, static_cast<int>(p.second));
        bottom = std::max<int>(bottom, static_cast<int>(p.second));
    }
    EXPECT_EQ(dirty_rows(), std::make_pair(top, bottom));
    EXPECT_EQ(dirty_rows(), std::make_pair(20, 30));
    clear_dirty_rows();
    circle(20, 5, 10, 0);
    EXPECT_EQ(dirty_rows(), std::make_pair(0, 15));
    clear_dirty_rows();
    circle(20, -40, 10, kFill);  // wholly above: the clamped row 0
    EXPECT_EQ(dirty_rows(), std::make_pair(0, 0));
}

TEST_F(Ellipse, HugeAndNonFiniteInputsEndAndStayInTheView)
{
    open_counting(96, 80);
    view(20, 10, 69, 49);
    const int view_pixels = 50 * 40;
    circle(45, 30, 1e30f, kFill);
    Counts c = written();
    EXPECT_EQ(c.size(), static_cast<std::size_t>(view_pixels));
    expect_inside_view(c);
    clear_page();
    circle(45, 30, kInf, kFill);
    circle(1e30f, -1e30f, 1e30f, kFill, 1e-30f);
    circle(-kInf, kNaN, 3e9f, 0);
    c = written();
    expect_inside_view(c);
    EXPECT_EQ(c.begin()->second, 1);

    // Outlines and arcs far bigger than the view leave it empty.
    clear_page();
    circle(45, 30, 1e30f, 0);
    circle(45, 30, 1e30f, 0, 1e-6f);
    arc(45, 30, 1e30f, 0.0f, 6.0f);
    arc(45, 30, kInf, 0.5f, 0.25f);
    arc(45, 30, 5e8f, 0.0f, 6.28f);
    EXPECT_TRUE(written().empty());

    // Angles that are not numbers or beyond float turns, and NaN aspects.
    clear_page();
    arc(45, 30, 10, kNaN, 1.0f);
    arc(45, 30, 10, kInf, 1e30f);
    arc(45, 30, 10, 1.0f, kInf);
    arc(45, 30, 10, -kInf, -1e35f);
    arc(45, 30, 10, 3e9f, 3e9f + 512.0f);
    circle(45, 30, 10, kFill, kNaN);
    arc(45, 30, 10, 0.5f, 1.0f, kNaN);
    expect_inside_view(written());
}

TEST_F(Ellipse, ArcWithStepsTooSmallForAFloatEnds)
{
    open_counting(96, 80);
    // Radius 1e7: a step of 6.7e-8 no longer changes angles near 2 pi. The
    // arc around angle 0 passes through column 20 of the view.
    arc(-1e7f + 20, 40, 1e7f, 6.27f, 0.01f);
    Counts c = written();
    ASSERT_GE(c.size(), 5u);
    for (const auto &[p, n] : c)
        EXPECT_TRUE(p.first >= 19 && p.first <= 20) << p.first << "," << p.second;
}

TEST_F(Ellipse, EnormousCircleReachingIntoTheViewFromFarAway)
{
    open_counting(300, 60);
    // Centre saturated at x = -2^31; radius 2^31 + 256 reaches column 256.
    circle(-2147483648.0f, 30, 2147483904.0f, kFill);
    Counts c = written();
    EXPECT_EQ(c.size(), 257u * 60u);
    EXPECT_TRUE(c.count({256, 0}) && c.count({256, 59}) && !c.count({257, 30}));
}
