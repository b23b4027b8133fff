#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "gfx/core/pixel.h"
#include "gfx/draw/paint.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/fail_alloc.h"
#include "support/screen_fixture.h"

namespace {

constexpr uint32_t WHITE = 0xFFFFFFFF, BLACK = 0xFF000000, RED = 0xFFFF0000, FILL = 0xFF00FF00;
constexpr uint32_t BOTH_OMITTED = RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2;

using Art = std::vector<std::string>;

class Paint : public NullScreen {
protected:
    void TearDown() override
    {
        for (void *img : images_)
            rk_GfxImageDestroy(img);
        NullScreen::TearDown();
    }

    void *image(int w, int h, int depth = 32)
    {
        void *img = rk_GfxImageCreate(w, h, 0, depth, 0);
        EXPECT_NE(img, nullptr);
        images_.push_back(img);
        return img;
    }
    static ImageGeometry geometry(void *img)
    {
        ImageGeometry g{};
        EXPECT_TRUE(rk_hImageGeometry(img, &g));
        return g;
    }
    static uint32_t get(void *img, int x, int y)
    {
        ImageGeometry g = geometry(img);
        uint32_t v = 0;
        std::memcpy(&v, g.pixels + static_cast<std::size_t>(y) * g.pitch + static_cast<std::size_t>(x) * g.bpp, g.bpp);
        return v;
    }
    static void put(void *img, int x, int y, uint32_t v)
    {
        ImageGeometry g = geometry(img);
        std::memcpy(g.pixels + static_cast<std::size_t>(y) * g.pitch + static_cast<std::size_t>(x) * g.bpp, &v, g.bpp);
    }
    // A 32-bit image from a picture: '#' black, '.' white.
    void *drawn(const Art &art)
    {
        void *img = image(static_cast<int>(art[0].size()), static_cast<int>(art.size()));
        for (std::size_t y = 0; y < art.size(); ++y)
            for (std::size_t x = 0; x < art[y].size(); ++x)
                put(img, static_cast<int>(x), static_cast<int>(y), art[y][x] == '#' ? BLACK : WHITE);
        return img;
    }
    // The picture back, with filled pixels as 'o'.
    static Art picture(void *img)
    {
        ImageGeometry g = geometry(img);
        Art art(static_cast<std::size_t>(g.height), std::string(static_cast<std::size_t>(g.width), '?'));
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) {
                uint32_t v = get(img, x, y);
                art[y][x] = v == BLACK ? '#' : v == WHITE ? '.' : v == FILL ? 'o' : '?';
            }
        return art;
    }
    static void clear_dirty() { std::memset(__rk_gfx->dirty, 0, static_cast<std::size_t>(__rk_gfx->h)); }

    std::vector<void *> images_;
};

TEST_F(Paint, RegionIsFourConnectedAndBoundedByBorder)
{
    open(64, 48, 32);
    // Areas that meet only at a corner stay apart; a ring with a gap lets the
    // fill through to its inside, a closed ring does not.
    void *img = drawn({
        "....#.........",
        "....#..####...",
        "...#...#..#...",
        "###....#......",
        ".......####...",
        "..............",
        "#####.........",
        "#...#.........",
        "#####.........",
    });
    rk_GfxPaint(img, 6, 5, FILL, BLACK, nullptr, 0, 0);
    EXPECT_EQ(picture(img), (Art{
                                 "....#ooooooooo",
                                 "....#oo####ooo",
                                 "...#ooo#oo#ooo",
                                 "###oooo#oooooo",
                                 "ooooooo####ooo",
                                 "oooooooooooooo",
                                 "#####ooooooooo",
                                 "#...#ooooooooo",
                                 "#####ooooooooo",
                             }));
    // The untouched corner area fills on its own, up to the view's edges.
    rk_GfxPaint(img, 0, 0, FILL, BLACK, nullptr, 0, 0);
    EXPECT_EQ(picture(img)[0], "oooo#ooooooooo");
    EXPECT_EQ(picture(img)[2], "ooo#ooo#oo#ooo");
    EXPECT_EQ(picture(img)[7], "#...#ooooooooo");
}

TEST_F(Paint, BorderOmittedSpreadsOverEverythingButTheFillColour)
{
    open(64, 48, 32);
    void *img = drawn({"..#..", "..#..", "....."});
    put(img, 4, 0, FILL);
    // The paint program's call: border omitted, coordinate mode 4.
    rk_GfxPaint(img, 0, 0, FILL, 0, nullptr, 0, 0x40000004);
    EXPECT_EQ(picture(img), (Art{"ooooo", "ooooo", "ooooo"}));

    // Clicking a pixel that already has the fill colour changes nothing but
    // the last point.
    rk_GfxPaint(img, 3, 2, BLACK, 0, nullptr, 0, RK_FLAG_NO_COLOR2);
    put(img, 2, 2, WHITE);
    rk_GfxPaint(img, 1, 2, BLACK, 0, nullptr, 0, RK_FLAG_NO_COLOR2);
    EXPECT_EQ(picture(img), (Art{"#####", "#####", "##.##"}));
    DrawContext *ctx = rk_hGetContext();
    EXPECT_EQ(ctx->last_x, 1.0f);
    EXPECT_EQ(ctx->last_y, 2.0f);
}

TEST_F(Paint, AlphaByteTakesPartInTheBorderTest)
{
    open(64, 48, 32);
    void *img = drawn({"...", "...", "..."});
    for (int y = 0; y < 3; ++y)
        put(img, 1, y, 0x00FF0000);
    rk_GfxPaint(img, 0, 0, FILL, RED, nullptr, 0, 0);
    EXPECT_EQ(picture(img), (Art{"ooo", "ooo", "ooo"}));
}

TEST_F(Paint, EachPixelIsWrittenOnce)
{
    // With blending primitives a second write would blend twice.
    open(64, 48, 32, 0, RK_MODE_ALPHA_PRIMITIVES);
    void *img = drawn({
        "........",
        ".##.##..",
        ".#...#..",
        "...#....",
        ".#####.#",
    });
    constexpr uint32_t half = 0x80204060;
    rk_GfxPaint(img, 0, 0, half, BLACK, nullptr, 0, 0);
    uint32_t once = WHITE;
    rk_hPixelSetAlpha(&once, half, 1);
    ASSERT_NE(once, WHITE);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 8; ++x) {
            uint32_t v = get(img, x, y);
            EXPECT_TRUE(v == BLACK || v == once) << x << "," << y;
        }
}

TEST_F(Paint, TileFollowsTargetColumnsAndRows)
{
    open(64, 48, 32);
    void *img = image(24, 16);
    for (int x = 0; x < 24; ++x)
        for (int y = 0; y < 16; ++y)
            put(img, x, y, (x == 7 || x == 13 || y == 4 || y == 6) ? BLACK : WHITE);
    std::string bytes(300, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i + 1);
    auto tile_pixel = [&](int x, int y) {
        uint32_t v;
        std::memcpy(&v, bytes.data() + ((y & 7) * 8 + (x & 7)) * 4, 4);
        return v;
    };
    // The run x = 8..12 of row 5 takes tile columns 0..4 of tile row 5.
    rk_GfxPaint(img, 10, 5, 0, BLACK, rk_StrAllocTempBytes(bytes.data(), bytes.size()), 1, 0);
    for (int x = 8; x <= 12; ++x)
        EXPECT_EQ(get(img, x, 5), tile_pixel(x, 5)) << x;
    EXPECT_EQ(get(img, 14, 5), WHITE);
    EXPECT_EQ(get(img, 10, 3), WHITE);

    // A region with unaligned heads and tails and several tile rows.
    rk_GfxPaint(img, 20, 10, 0, BLACK, rk_StrAllocTempBytes(bytes.data(), bytes.size()), 1, 0);
    for (int y = 7; y < 16; ++y)
        for (int x = 14; x < 24; ++x)
            ASSERT_EQ(get(img, x, y), tile_pixel(x, y)) << x << "," << y;

    // A short tile string leaves the rest of the tile 0.
    rk_GfxPaint(img, 0, 0, 0, BLACK, rk_StrAllocTempBytes(bytes.data(), 10), 1, 0);
    EXPECT_EQ(get(img, 1, 0), 0x08070605u);
    EXPECT_EQ(get(img, 2, 0), 0x0A09u);
    EXPECT_EQ(get(img, 3, 0), 0u);
    EXPECT_EQ(get(img, 0, 1), 0u);

    // Modes other than 0 and 1 fill with an all-zero tile, whatever the string.
    rk_GfxPaint(img, 0, 10, 0, BLACK, rk_StrAllocTempBytes(bytes.data(), bytes.size()), 2, 0);
    EXPECT_EQ(get(img, 0, 10), 0u);
    EXPECT_EQ(get(img, 6, 15), 0u);
}

TEST_F(Paint, ScreenFillStaysInTheViewAndMarksItsRows)
{
    open(40, 30, 32);
    rk_GfxView(10, 5, 19, 14, 0, 0, BOTH_OMITTED);
    clear_dirty();
    // Coordinates are relative to the view; the whole black screen would be
    // one region, but runs end at the view's edges.
    rk_GfxPaint(nullptr, 3, 3, FILL, RED, nullptr, 0, 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(pixel(x, y), (x >= 10 && x <= 19 && y >= 5 && y <= 14) ? FILL : BLACK) << x << "," << y;
    for (int y = 0; y < 30; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], (y >= 5 && y <= 14) ? 1 : 0) << y;

    // A fill of part of the view marks only the rows it wrote.
    rk_GfxView(-32768, -32768, -32768, -32768, 0, 0, BOTH_OMITTED);
    for (int x = 0; x < 40; ++x)
        std::memcpy(__rk_gfx->framebuffer + 20 * __rk_gfx->pitch + 4 * x, &RED, 4);
    clear_dirty();
    rk_GfxPaint(nullptr, 0, 25, WHITE, RED, nullptr, 0, 0);
    for (int y = 0; y < 30; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], y > 20 ? 1 : 0) << y;
    EXPECT_EQ(pixel(15, 10), FILL);

    // Fills on images leave the screen's rows alone.
    void *img = drawn({"..."});
    clear_dirty();
    rk_GfxPaint(img, 0, 0, FILL, BLACK, nullptr, 0, 0);
    for (int y = 0; y < 30; ++y)
        EXPECT_EQ(__rk_gfx->dirty[y], 0) << y;
}

TEST_F(Paint, StartOutsideTheViewOrNonFiniteDoesNothing)
{
    open(40, 30, 32);
    void *img = drawn({"....", "....", "...."});
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (auto [x, y] : {std::pair{-1.0f, 0.0f}, {4.0f, 0.0f}, {0.0f, 3.0f}, {0.0f, -0.6f}, {1e30f, 1.0f},
                        {-inf, 1.0f}, {1.0f, inf}}) {
        rk_GfxPaint(img, x, y, FILL, BLACK, rk_StrAllocTempDesc("tile"), 1, 0);
        ASSERT_EQ(picture(img), (Art{"....", "....", "...."})) << x << "," << y;
        DrawContext *ctx = rk_hGetContext();
        EXPECT_EQ(ctx->last_x, x);
        EXPECT_EQ(ctx->last_y, y);
    }
    // NaN maps to pixel 0, inside the view.
    rk_GfxPaint(img, nan, nan, FILL, BLACK, nullptr, 0, 0);
    EXPECT_EQ(picture(img), (Art{"oooo", "oooo", "oooo"}));

    // Relative coordinates start from the last point, which becomes the start.
    rk_GfxPaint(img, -3.0f, 1.0f, WHITE, RED, nullptr, 0, 0);
    rk_GfxPaint(img, 4.0f, 0.0f, WHITE, RED, nullptr, 0, 2);
    EXPECT_EQ(rk_hGetContext()->last_x, 1.0f);
    EXPECT_EQ(picture(img)[0], "....");
}

TEST_F(Paint, NoScreenReleasesTheTile)
{
    // The temporary tile string is released even when nothing can be drawn
    // (the leak checker of the sanitizer build watches this).
    rk_GfxPaint(nullptr, 0, 0, FILL, BLACK, rk_StrAllocTempDesc("tile"), 1, 0);
    open(8, 8, 32);
    rk_GfxScreen(0, 0, 0, 0, 0);
    rk_GfxPaint(nullptr, 0, 0, FILL, BLACK, rk_StrAllocTempDesc("tile"), 1, 0);
    EXPECT_EQ(__rk_gfx, nullptr);
}

TEST_F(Paint, BorderWiderThanThePixelsMatchesNone)
{
    // The 32-bit screen's foreground colour used as fill and border on an
    // 8-bit image: no pixel equals it, so the whole image fills.
    open(40, 30, 32);
    void *img = image(9, 4, 8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            put(img, x, y, static_cast<uint32_t>(x * 31 + y) & 0xFF);
    ASSERT_GT(rk_hGetContext()->fg_color, 0xFFu);
    rk_GfxPaint(img, 4, 2, 0, 0, nullptr, 0, BOTH_OMITTED);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(get(img, x, y), 0xFFu) << x << "," << y;
}

// Reference region: breadth-first over 4-neighbours in a copy of the pixels.
static std::vector<bool> reference_region(const std::vector<uint32_t> &px, int w, int h, int sx, int sy, uint32_t border)
{
    std::vector<bool> in(px.size(), false);
    if (px[static_cast<std::size_t>(sy) * w + sx] == border)
        return in;
    std::vector<std::pair<int, int>> todo{{sx, sy}};
    in[static_cast<std::size_t>(sy) * w + sx] = true;
    while (!todo.empty()) {
        auto [x, y] = todo.back();
        todo.pop_back();
        const int dx[] = {1, -1, 0, 0}, dy[] = {0, 0, 1, -1};
        for (int d = 0; d < 4; ++d) {
            int nx = x + dx[d], ny = y + dy[d];
            if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                continue;
            std::size_t i = static_cast<std::size_t>(ny) * w + nx;
            if (!in[i] && px[i] != border) {
                in[i] = true;
                todo.push_back({nx, ny});
            }
        }
    }
    return in;
}

TEST_F(Paint, MatchesReferenceRegionOnRandomImages)
{
    open(40, 30, 32);
    std::mt19937 rng(12345);
    for (int depth : {8, 16, 32}) {
        uint32_t mask = depth == 8 ? 0xFF : depth == 16 ? 0xFFFF : 0xFFFFFFFF;
        for (int w = 1; w <= 70; ++w) {
            int h = 1 + static_cast<int>(rng() % 12);
            void *img = image(w, h, depth);
            // Few distinct values, so that borders, fill-coloured pixels and
            // values equal to the border in some bytes only all occur.
            const uint32_t values[] = {0x11223344 & mask, 0x11223300 & mask, 0x00223344 & mask, 0x55667788 & mask};
            uint32_t border = values[0], fill = 0x99AABBCC & mask;
            std::vector<uint32_t> px(static_cast<std::size_t>(w) * h);
            unsigned density = rng() % 3;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    uint32_t v = values[1 + rng() % 3];
                    if (rng() % 4 <= density)
                        v = border;
                    px[static_cast<std::size_t>(y) * w + x] = v;
                    put(img, x, y, v);
                }
            int sx = static_cast<int>(rng() % w), sy = static_cast<int>(rng() % h);
            std::vector<bool> in = reference_region(px, w, h, sx, sy, border);
            // rk_hFixColor(2, c) packs 8:8:8 into 5:6:5: pass the colours so
            // they pack back to the values above.
            auto user = [&](uint32_t v) {
                if (depth != 16)
                    return v;
                return ((v & 0xF800) << 8) | ((v & 0x07E0) << 5) | ((v & 0x1F) << 3);
            };
            rk_GfxPaint(img, static_cast<float>(sx), static_cast<float>(sy), user(fill), user(border), nullptr, 0, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    std::size_t i = static_cast<std::size_t>(y) * w + x;
                    ASSERT_EQ(get(img, x, y), in[i] ? fill : px[i]) << depth << " w=" << w << " " << x << "," << y;
                }
        }
    }
}

// Screens wider than several bitmap words, with few borders so that runs
// and regions cross words and wind between rows, each filled inside a random
// view: inside the view the region must match the reference (found in the
// view alone), outside it nothing may change. Solid, blended and tiled
// fills all take part.
TEST_F(Paint, MatchesReferenceRegionAcrossWordsInViews)
{
    std::mt19937 rng(777);
    for (int round = 0; round < 36; ++round) {
        int depth = (round % 3 == 0) ? 8 : (round % 3 == 1) ? 16 : 32;
        int w = 130 + static_cast<int>(rng() % 300), h = 20 + static_cast<int>(rng() % 60);
        open(w, h, depth, 0, round % 4 == 3 ? RK_MODE_ALPHA_PRIMITIVES : 0);
        uint32_t mask = depth == 8 ? 0xFF : depth == 16 ? 0xFFFF : 0xFFFFFFFF;
        uint32_t border = 0x11223344 & mask, other = 0x55667788 & mask;
        std::vector<uint32_t> px(static_cast<std::size_t>(w) * h);
        unsigned density = 3 + rng() % 40;  // percent of border pixels
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t v = rng() % 100 < density ? border : other;
                px[static_cast<std::size_t>(y) * w + x] = v;
                std::memcpy(__rk_gfx->framebuffer + static_cast<std::size_t>(y) * __rk_gfx->pitch +
                                static_cast<std::size_t>(x) * (depth / 8),
                            &v, depth / 8);
            }
        int x1 = static_cast<int>(rng() % (w / 3)), y1 = static_cast<int>(rng() % (h / 3));
        int x2 = w - 1 - static_cast<int>(rng() % (w / 3)), y2 = h - 1 - static_cast<int>(rng() % (h / 3));
        rk_GfxView(x1, y1, x2, y2, 0, 0, BOTH_OMITTED);
        int vw = x2 - x1 + 1, vh = y2 - y1 + 1;
        std::vector<uint32_t> view(static_cast<std::size_t>(vw) * vh);
        for (int y = 0; y < vh; ++y)
            for (int x = 0; x < vw; ++x)
                view[static_cast<std::size_t>(y) * vw + x] = px[static_cast<std::size_t>(y + y1) * w + x + x1];
        int sx = static_cast<int>(rng() % vw), sy = static_cast<int>(rng() % vh);
        std::vector<bool> in = reference_region(view, vw, vh, sx, sy, border);
        uint32_t fill = depth == 32 ? 0x80FF00FFu : 0x99AABBCC & mask;
        auto user = [&](uint32_t v) {
            return depth != 16 ? v : ((v & 0xF800) << 8) | ((v & 0x07E0) << 5) | ((v & 0x1F) << 3);
        };
        int mode = round % 5 == 4 ? 1 : 0;
        std::string tile(256, '\0');
        for (char &c : tile)
            c = static_cast<char>(rng());
        rk_GfxPaint(nullptr, static_cast<float>(sx), static_cast<float>(sy), user(fill), user(border),
                    mode ? rk_StrAllocTempBytes(tile.data(), tile.size()) : nullptr, mode, 0);
        bool blended = (__rk_gfx->flags & SCREEN_ALPHA_PRIMITIVES) && depth == 32;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t was = px[static_cast<std::size_t>(y) * w + x], want = was;
                bool inside = x >= x1 && x <= x2 && y >= y1 && y <= y2;
                if (inside && in[static_cast<std::size_t>(y - y1) * vw + (x - x1)]) {
                    if (mode)
                        std::memcpy(&want, tile.data() + ((y & 7) * 8 + (x & 7)) * (depth / 8), depth / 8);
                    else
                        want = blended ? rk_hBlendPixelMMX(was, fill) : fill;
                }
                ASSERT_EQ(pixel(x, y), want) << "round " << round << " depth " << depth << " at " << x << "," << y;
            }
        rk_GfxScreen(0, 0, 0, 0, 0);
    }
}

TEST_F(Paint, AllocationFailureWritesNothing)
{
    open(40, 30, 32);
    // A comb: hundreds of pending runs, so their stack grows more than once.
    constexpr int w = 1001, h = 20;
    void *img = image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put(img, x, y, (y == 0 || x % 2 == 0) ? WHITE : BLACK);
    int failures = 0;
    for (int n = 1;; ++n) {
        rk_ErrorSetNum(0);
        fail_alloc::arm(n);
        rk_GfxPaint(img, 0, 0, FILL, BLACK, nullptr, 0, 0);
        fail_alloc::disarm();
        if (fail_alloc::failed() == 0)
            break;
        ++failures;
        ASSERT_EQ(rk_ErrorGetNum(), 4) << n;
        ASSERT_EQ(fail_alloc::live(), 0) << n;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(get(img, x, y), (y == 0 || x % 2 == 0) ? WHITE : BLACK) << n;
        ASSERT_EQ(__rk_gfx->lock_count, 0);
    }
    EXPECT_GE(failures, 3);  // the bitmap and at least two blocks of pending runs
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(get(img, x, y), (y == 0 || x % 2 == 0) ? FILL : BLACK);
}

} // namespace
