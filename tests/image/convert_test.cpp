#include <random>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/image/convert.h"
#include "support/screen_fixture.h"

using ConvertRow = NullScreen;

TEST_F(ConvertRow, ByteOrderFlagAndDestinationDepth)
{
    const uint8_t rgb[3] = {0xFF, 0x00, 0x00};
    uint32_t d32 = 0;
    uint16_t d16 = 0;
    rk_GfxImageConvertRow(rgb, 24, &d32, 32, 1, 1);
    EXPECT_EQ(d32, 0xFFFF0000u);
    rk_GfxImageConvertRow(rgb, 24, &d16, 16, 1, 1);
    EXPECT_EQ(d16, 0xF800u);
    rk_GfxImageConvertRow(rgb, 24, &d32, 24, 1, 0);  // 3-byte destinations get 4-byte pixels
    EXPECT_EQ(d32, 0xFF0000FFu);
    rk_GfxImageConvertRow(rgb, 24, &d16, 15, 1, 0);
    EXPECT_EQ(d16, 0x001Fu);

    const uint8_t rgba[8] = {0x11, 0x22, 0x33, 0x44, 0x88, 0x44, 0x10, 0x99};
    uint32_t out[2] = {};
    rk_GfxImageConvertRow(rgba, 32, out, 32, 2, 1);
    EXPECT_EQ(out[0], 0x44112233u);
    rk_GfxImageConvertRow(rgba, 32, out, 32, 2, 0);
    EXPECT_EQ(out[1], 0x99104488u);
    uint16_t o16[2] = {};
    rk_GfxImageConvertRow(rgba, 32, o16, 16, 2, 1);
    EXPECT_EQ(o16[1], ((0x88 >> 3) << 11) | ((0x44 >> 2) << 5) | (0x10 >> 3));
    rk_GfxImageConvertRow(rgba, 32, o16, 16, 2, 0);
    EXPECT_EQ(o16[1], ((0x10 >> 3) << 11) | ((0x44 >> 2) << 5) | (0x88 >> 3));

    // Depths without a converter leave the destination alone.
    uint32_t keep = 0x12345678;
    rk_GfxImageConvertRow(rgba, 16, &keep, 32, 1, 0);
    rk_GfxImageConvertRow(rgba, 24, &keep, 8, 1, 0);
    rk_GfxImageConvertRow(rgba, 32, &keep, 40, 1, 0);
    rk_GfxImageConvertRow(rgba, 8, &keep, 32, 1, 0);  // indices need a screen's palette
    EXPECT_EQ(keep, 0x12345678u);
}

TEST_F(ConvertRow, IndicesGoThroughTheScreensPalette)
{
    open(64, 48, 4);
    const uint8_t idx[3] = {0x13, 2, 0xFF};
    uint8_t d8[3];
    rk_GfxImageConvertRow(idx, 8, d8, 8, 3, 0);
    EXPECT_EQ(d8[0], 0x03);  // masked to the screen's 16 colours
    EXPECT_EQ(d8[2], 0x0F);

    __rk_gfx->device_palette[2] = 0x00FF8040;  // blue FF, green 80, red 40
    uint32_t d32[3];
    uint16_t d16[3];
    rk_GfxImageConvertRow(idx, 8, d32, 32, 3, 0);
    EXPECT_EQ(d32[1], 0xFF4080FFu);
    rk_GfxImageConvertRow(idx, 4, d16, 16, 3, 0);
    EXPECT_EQ(d16[1], (8u << 11) | (32u << 5) | 31u);
}

TEST_F(ConvertRow, FastBlueFirstExpansionMatchesThePlainOne)
{
    if (!rk_hCpuHasAVX2())
        GTEST_SKIP() << "no AVX2";
    std::mt19937 rng(11);
    for (int n = 0; n < 80; ++n) {
        // Exactly sized buffers: a read or write past them shows under ASan.
        std::vector<uint8_t> src(static_cast<std::size_t>(3 * n));
        for (auto &b : src)
            b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> plain(static_cast<std::size_t>(4 * n)), fast(plain.size());
        rk_image_convert_24bgrto32_plain(src.data(), plain.data(), n);
        rk_image_convert_24bgrto32_avx2(src.data(), fast.data(), n);
        ASSERT_EQ(plain, fast) << n;
    }
}
