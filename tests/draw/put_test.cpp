#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/draw/blend.h"
#include "gfx/draw/put.h"
#include "rt/rt.h"
#include "support/screen_fixture.h"

namespace {

class Put : public NullScreen {
protected:
    // A 32-bit image whose pixel (x, y) is 0x00YYXX01 (never the mask colour).
    static void *numbered_image(int w, int h)
    {
        void *img = rk_GfxImageCreate(w, h, 0, 32, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                set(img, x, y, numbered(x, y));
        return img;
    }
    static uint32_t numbered(int x, int y) { return static_cast<uint32_t>((y << 16) | (x << 8) | 1); }
    static uint8_t *at(void *img, int x, int y)
    {
        auto *h = static_cast<ImageHeader *>(img);
        return reinterpret_cast<uint8_t *>(h + 1) + static_cast<std::size_t>(y) * h->pitch + x * h->bpp;
    }
    static void set(void *img, int x, int y, uint32_t v)
    {
        std::memcpy(at(img, x, y), &v, static_cast<ImageHeader *>(img)->bpp);
    }
    static uint32_t get(void *img, int x, int y)
    {
        uint32_t v = 0;
        std::memcpy(&v, at(img, x, y), static_cast<ImageHeader *>(img)->bpp);
        return v;
    }
    static void put(float x, float y, const void *img, void *target = nullptr, int sx1 = RK_NO_RECT, int sy1 = 0,
                    int sx2 = 0, int sy2 = 0, int coord_mode = 0)
    {
        rk_GfxPut(target, x, y, img, sx1, sy1, sx2, sy2, coord_mode, 0, rk_hPutTrans, 0xFFFFFFFF, 0, nullptr);
    }
    static int dirty_rows()
    {
        int n = 0;
        for (int y = 0; y < __rk_gfx->h; ++y)
            n += __rk_gfx->dirty[y] != 0;
        return n;
    }
    static void clear_dirty() { std::memset(__rk_gfx->dirty, 0, __rk_gfx->h); }
};

TEST_F(Put, NegativeXShowsTheRightPartAndMarksItsRows)
{
    open(64, 48, 32);
    void *img = numbered_image(8, 4);
    clear_dirty();
    put(-3, 10, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(pixel(x, 10 + y), numbered(x + 3, y)) << x << "," << y;
        EXPECT_EQ(pixel(5, 10 + y), 0xFF000000u);
    }
    EXPECT_EQ(pixel(0, 9), 0xFF000000u);
    EXPECT_EQ(pixel(0, 14), 0xFF000000u);
    EXPECT_EQ(dirty_rows(), 4);
    EXPECT_TRUE(__rk_gfx->dirty[10] && __rk_gfx->dirty[13]);
    // Clipped at the bottom right corner, in the view's coordinates.
    clear_dirty();
    rk_GfxView(10, 20, 29, 29, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    put(17, 8, img);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            bool inside = 27 + x <= 29 && 28 + y <= 29;
            ASSERT_EQ(pixel(27 + x, 28 + y), inside ? numbered(x, y) : 0xFF000000u) << x << "," << y;
        }
    EXPECT_EQ(dirty_rows(), 2);
    rk_GfxImageDestroy(img);
}

TEST_F(Put, SourceRectangleIsOrderedAndClamped)
{
    open(64, 48, 32);
    void *img = numbered_image(5, 5);
    // A rectangle larger than the image copies all of it.
    put(0, 0, img, nullptr, 0, 0, 9, 9);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(pixel(x, y), x < 5 && y < 5 ? numbered(x, y) : 0xFF000000u) << x << "," << y;
    // Corners in either order; one lying wholly right of the image shrinks
    // to its last column.
    put(20, 0, img, nullptr, 3, 4, 1, 2);
    EXPECT_EQ(pixel(20, 0), numbered(1, 2));
    EXPECT_EQ(pixel(22, 2), numbered(3, 4));
    EXPECT_EQ(pixel(23, 0), 0xFF000000u);
    put(30, 0, img, nullptr, 7, 1, 12, 2);
    EXPECT_EQ(pixel(30, 0), numbered(4, 1));
    EXPECT_EQ(pixel(30, 1), numbered(4, 2));
    EXPECT_EQ(pixel(31, 0), 0xFF000000u);
    // Coordinate mode 3: the destination from the last point (30, 0) and
    // the second corner as a size.
    put(10, 20, img, nullptr, 1, 1, 2, 0, 3);
    EXPECT_EQ(pixel(40, 20), numbered(1, 1));
    EXPECT_EQ(pixel(42, 20), numbered(3, 1));
    EXPECT_EQ(pixel(43, 20), 0xFF000000u);
    EXPECT_EQ(pixel(40, 21), 0xFF000000u);
    rk_GfxImageDestroy(img);
}

TEST_F(Put, MaskColourIgnoresAlphaAndWrittenAlphaIsZero)
{
    open(16, 8, 32);
    void *img = rk_GfxImageCreate(4, 1, 0, 32, 0);
    set(img, 0, 0, 0x12FF00FF);
    set(img, 1, 0, 0xFF102030);
    set(img, 2, 0, 0xFFFF00FE);
    set(img, 3, 0, 0x00FF00FF);
    put(0, 0, img);
    EXPECT_EQ(pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(pixel(1, 0), 0x00102030u);
    EXPECT_EQ(pixel(2, 0), 0x00FF00FEu);
    EXPECT_EQ(pixel(3, 0), 0xFF000000u);
    rk_GfxImageDestroy(img);
}

TEST_F(Put, MaskColourAtEveryDepth)
{
    for (int depth : {8, 16}) {
        open(16, 8, depth);
        uint32_t key = depth == 8 ? 0 : 0xF81F, paint = depth == 8 ? 0x12 : 0xF81E;
        void *img = rk_GfxImageCreate(3, 1, 0, depth, RK_FLAG_NO_COLOR);
        set(img, 1, 0, paint);
        void *dst = rk_GfxImageCreate(3, 1, 0, depth, 0);
        set(dst, 0, 0, 7);
        set(dst, 2, 0, 9);
        put(0, 0, img, dst);
        EXPECT_EQ(rk_ErrorGetNum(), 0);
        EXPECT_EQ(get(img, 0, 0), key);
        EXPECT_EQ(get(dst, 0, 0), 7u) << depth;
        EXPECT_EQ(get(dst, 1, 0), paint) << depth;
        EXPECT_EQ(get(dst, 2, 0), 9u) << depth;
        rk_GfxImageDestroy(img);
        rk_GfxImageDestroy(dst);
    }
}

TEST_F(Put, RefusalsLeaveTheTargetAlone)
{
    open(16, 8, 32);
    void *img16 = rk_GfxImageCreate(4, 4, 0x123456, 16, 0);
    clear_dirty();
    put(2, 2, img16);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(pixel(2, 2), 0xFF000000u);
    EXPECT_EQ(dirty_rows(), 0);
    EXPECT_EQ(__rk_gfx->lock_count, 0);

    rk_ErrorSetNum(0);
    put(0, 0, nullptr);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    // No blender to hand the pixels to.
    void *img = numbered_image(2, 2);
    rk_ErrorSetNum(0);
    rk_GfxPut(nullptr, 0, 0, img, RK_NO_RECT, 0, 0, 0, 0, 0, nullptr, 0, 0, nullptr);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(pixel(0, 0), 0xFF000000u);

    // Wholly outside the view: no error, and the last point still moves.
    rk_ErrorSetNum(1);
    put(40, -30, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    DrawContext *ctx = rk_hGetContext();
    EXPECT_EQ(ctx->last_x, 40.0f);
    EXPECT_EQ(ctx->last_y, -30.0f);
    // Huge and non-finite positions are clipped like any other.
    put(3e9f, 0, img);
    put(-3e9f, -3e9f, img);
    put(std::numeric_limits<float>::infinity(), 0, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(dirty_rows(), 0);
    rk_GfxImageDestroy(img);
    rk_GfxImageDestroy(img16);
}

TEST_F(Put, EightBitImageWithMode6SetsOnlyAlpha)
{
    open(16, 8, 32);
    void *canvas = numbered_image(4, 2);
    void *mask = rk_GfxImageCreate(3, 2, 0, 8, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            set(mask, x, y, static_cast<uint32_t>(0x10 * (y * 3 + x) + 0x0F));
    rk_GfxPut(canvas, 1, 0, mask, RK_NO_RECT, 0, 0, 0, 0, RK_PUT_ALPHA, rk_hPutTrans, 0, 0, nullptr);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(get(canvas, 0, y), numbered(0, y));
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(get(canvas, x, y), numbered(x, y) | (0x10u * (y * 3 + x - 1) + 0x0F) << 24) << x << "," << y;
    }
    // Without mode 6 the sizes simply differ.
    rk_GfxPut(canvas, 0, 0, mask, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    rk_GfxImageDestroy(mask);
    rk_GfxImageDestroy(canvas);
}

TEST_F(Put, CompactSourceHeader)
{
    open(16, 8, 16);
    // Compact header: 3x2 pixels of 2 bytes, rows unpadded.
    uint8_t img[4 + 12] = {static_cast<uint8_t>(2 | (3 << 3)), 0, 2, 0};
    for (int i = 0; i < 6; ++i) {
        auto v = static_cast<uint16_t>(i == 4 ? 0xF81F : 0x100 + i);
        std::memcpy(img + 4 + 2 * i, &v, 2);
    }
    put(1, 1, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(pixel(1, 1), 0x100u);
    EXPECT_EQ(pixel(3, 1), 0x102u);
    EXPECT_EQ(pixel(1, 2), 0x103u);
    EXPECT_EQ(pixel(2, 2), 0u);
    EXPECT_EQ(pixel(3, 2), 0x105u);
}

// A view past the screen's last row is empty: an image reaching into it
// from above is not put, and no row of the target is touched.
TEST_F(Put, EmptyViewBelowTheScreenTakesNothing)
{
    open(16, 8, 32);
    void *img = numbered_image(4, 4);
    rk_GfxView(0, 20, 15, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    clear_dirty();
    rk_ErrorSetNum(1);
    put(0, -2, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(dirty_rows(), 0);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    rk_GfxImageDestroy(img);
}

// Images at any address, e.g. read into a byte buffer; a header whose rows
// do not fit its own pitch is refused rather than read past its buffer.
TEST_F(Put, SourceHeadersAtOddAddressesAndMalformedOnes)
{
    open(16, 8, 32);
    alignas(16) uint8_t buffer[1 + 32 + 2 * 8] = {};
    uint8_t *img = buffer + 1;
    const uint32_t fields[5] = {7, 4, 2, 2, 8};
    std::memcpy(img, fields, sizeof fields);
    const uint32_t pixels[4] = {0x010203, 0x040506, 0x070809, 0x0A0B0C};
    std::memcpy(img + 32, pixels, sizeof pixels);
    put(3, 4, img);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    EXPECT_EQ(pixel(4, 4), 0x040506u);
    EXPECT_EQ(pixel(3, 5), 0x070809u);

    const uint32_t short_pitch[5] = {7, 4, 2, 2, 4};
    std::memcpy(img, short_pitch, sizeof short_pitch);
    put(8, 0, img);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(pixel(9, 0), 0xFF000000u);
}

// Random rows with plenty of mask pixels, at odd offsets and pitches.
template <typename Fn> static void compare_variants(int src_bpp, int dst_bpp, Fn plain, Fn fast)
{
    std::mt19937 rng(12345u + static_cast<unsigned>(src_bpp));
    const uint32_t keys[] = {0, 0xF81F, 0, 0x00FF00FF};
    for (int width = 1; width <= 64; ++width) {
        const int height = 3, sp = width * src_bpp + 4 * (width % 3), dp = width * dst_bpp + 2 * dst_bpp;
        std::vector<uint8_t> src(static_cast<std::size_t>(sp) * height + 16), dst(static_cast<std::size_t>(dp) * height + 16);
        for (auto &b : dst)
            b = static_cast<uint8_t>(rng());
        for (std::size_t i = 0; i + src_bpp <= src.size(); i += src_bpp) {
            uint32_t v = rng();
            if (rng() % 3 == 0)  // the mask colour, with any alpha byte
                v = keys[src_bpp - 1] | (src_bpp == 4 ? v & 0xFF000000u : 0);
            std::memcpy(&src[i], &v, src_bpp);
        }
        auto a = dst, b = dst;
        const int offset = width % 2;  // unaligned starts as well
        plain(src.data() + offset * src_bpp, a.data() + offset * dst_bpp, width, height, sp, dp, 0, 0, nullptr);
        fast(src.data() + offset * src_bpp, b.data() + offset * dst_bpp, width, height, sp, dp, 0, 0, nullptr);
        ASSERT_EQ(a, b) << "width " << width << ", " << src_bpp << " bytes per pixel";
        ASSERT_NE(a, dst) << "width " << width;
    }
}

TEST(Blenders, FastVariantsMatchThePlainOnes)
{
    compare_variants(1, 1, rk_hPutTrans1C, rk_hPutTrans1MMX);
    compare_variants(2, 2, rk_hPutTrans2C, rk_hPutTrans2MMX);
    compare_variants(4, 4, rk_hPutTrans4C, rk_hPutTrans4MMX);
    compare_variants(4, 4, rk_hPutTrans4C, rk_hPutTrans4SSE2);
    if (rk_hCpuHasFullSpeedAVX512())
        compare_variants(4, 4, rk_hPutTrans4C, rk_hPutTrans4AVX512);
    compare_variants(1, 4, rk_hPutAlphaMaskC, rk_hPutAlphaMaskMMX);
    EXPECT_EQ(all_putters[2], nullptr);
    EXPECT_EQ(all_putters[3], rk_hPutTrans4C);
    EXPECT_EQ(all_putters[7], rk_hPutTrans4MMX);
}

TEST(Blenders, PlainRulesPerPixel)
{
    uint32_t src[4] = {0xAAFF00FF, 0x00FF00FE, 0x80000000, 0xFFFFFFFF};
    uint32_t dst[4] = {1, 2, 3, 4};
    rk_hPutTrans4C(reinterpret_cast<uint8_t *>(src), reinterpret_cast<uint8_t *>(dst), 4, 1, 16, 16, 0, 0, nullptr);
    EXPECT_EQ(dst[0], 1u);
    EXPECT_EQ(dst[1], 0x00FF00FEu);
    EXPECT_EQ(dst[2], 0u);
    EXPECT_EQ(dst[3], 0x00FFFFFFu);
    uint8_t mask[2] = {0x00, 0xC3};
    uint32_t px[2] = {0xFF123456, 0x00ABCDEF};
    rk_hPutAlphaMaskC(mask, reinterpret_cast<uint8_t *>(px), 2, 1, 2, 8, 0, 0, nullptr);
    EXPECT_EQ(px[0], 0x00123456u);
    EXPECT_EQ(px[1], 0xC3ABCDEFu);
}

}  // namespace
