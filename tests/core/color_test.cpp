#include <cstring>
#include <vector>

#include "gfx/core/color.h"
#include "gfx/core/builtin.h"
#include "rt/console.h"
#include "support/screen_fixture.h"

using Colors = NullScreen;

static uint32_t rgb(const PaletteDesc &p, int i)
{
    return (p.data[3 * i] << 16) | (p.data[3 * i + 1] << 8) | p.data[3 * i + 2];
}

TEST(ColorConversion, PixelValuesPerDepth)
{
    EXPECT_EQ(rk_hFixColor(2, 0xFF0000), 0xF800u);
    EXPECT_EQ(rk_hFixColor(2, 0x00FF00), 0x07E0u);
    EXPECT_EQ(rk_hFixColor(2, 0x0000FF), 0x001Fu);
    EXPECT_EQ(rk_hFixColor(1, 0x1234), 0x34u);
    EXPECT_EQ(rk_hFixColor(4, 0x12345678), 0x12345678u);
    EXPECT_EQ(rk_hMakeColor(2, 0, 0xFF, 0x80, 0x08), 0xF800u | (0x80u << 3) | 1u);
    EXPECT_EQ(rk_hMakeColor(4, 0xABCDEF, 1, 2, 3), 0xABCDEFu);
    EXPECT_EQ(rk_hTransparentColor(1), 0u);
    EXPECT_EQ(rk_hTransparentColor(2), 0xF81Fu);
    EXPECT_EQ(rk_hTransparentColor(4), 0xFFFF00FFu);
}

TEST_F(Colors, DefaultPalettes)
{
    open(8, 8, 8);  // decodes the built-in data
    EXPECT_EQ(rgb(rk_palette_2, 1), 0xFFFFFFu);
    static constexpr uint32_t cga[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                         0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                         0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rgb(rk_palette_16, i), cga[i]) << i;
        EXPECT_EQ(rgb(rk_palette_256, i), cga[i]) << i;
    }
    EXPECT_EQ(rgb(rk_palette_64, 1), 0x0000AAu);
    EXPECT_EQ(rgb(rk_palette_64, 8), 0x000055u);
    EXPECT_EQ(rgb(rk_palette_64, 20), 0xAA5500u);
    EXPECT_EQ(rgb(rk_palette_64, 63), 0xFFFFFFu);
    EXPECT_EQ(rgb(rk_palette_256, 16), 0x000000u);
    EXPECT_EQ(rgb(rk_palette_256, 17), 0x141414u);
    EXPECT_EQ(rgb(rk_palette_256, 18), 0x202020u);
    EXPECT_EQ(rgb(rk_palette_256, 19), 0x2C2C2Cu);
    EXPECT_EQ(rgb(rk_palette_256, 30), 0xE2E2E2u);
    EXPECT_EQ(rgb(rk_palette_256, 31), 0xFFFFFFu);
    EXPECT_EQ(rgb(rk_palette_256, 32), 0x0000FFu);  // the first hue ring starts at blue
    EXPECT_EQ(rgb(rk_palette_256, 40), 0xFF0000u);
    for (int i = 248; i < 256; ++i)
        EXPECT_EQ(rgb(rk_palette_256, i), 0u);
    // The screen starts with the default colours in its device palette.
    EXPECT_EQ(__rk_gfx->device_palette[4], 0x0000AAu);  // 0x00BBGGRR
}

TEST_F(Colors, CurrentColoursPerDepth)
{
    open(800, 600, 32);
    DrawContext *ctx = rk_hGetContext();
    EXPECT_EQ(ctx->fg_color, 0xFFFFFFFFu);
    EXPECT_EQ(ctx->bg_color, 0xFF000000u);
    // What the paint program does with its colours.
    EXPECT_EQ(rk_Color(0x23102B, 0, 2), 0xFFFFFFFFu);
    EXPECT_EQ(ctx->fg_color, 0x0023102Bu);
    EXPECT_EQ(ctx->bg_color, 0xFF000000u);
    rk_Color(0x23102B, 0xFFFFFF, 0);
    EXPECT_EQ(ctx->bg_color, 0x00FFFFFFu);

    open(64, 64, 16);
    ctx = rk_hGetContext();
    EXPECT_EQ(ctx->fg_color, 0xFFFFu);
    rk_GfxColor(0xFF0000, 0, 2);
    EXPECT_EQ(ctx->fg_color, 0xF800u);
    EXPECT_EQ(rk_GfxColor(0, 0, 3), 0xFFFF0000u);  // 565 widened with bit replication

    open(64, 64, 8);
    ctx = rk_hGetContext();
    EXPECT_EQ(ctx->fg_color, 15u);
    EXPECT_EQ(rk_GfxColor(0x1234, 0x56, 0), (0u << 16) | 15u);
    EXPECT_EQ(rk_GfxColor(0, 0, 3), (0x56u << 16) | 0x34u);
}

TEST_F(Colors, EgaModesKeepFourBitForegroundAndSetBackgroundPaletteEntry)
{
    ASSERT_EQ(rk_GfxScreen(9, 0, 0, 0, 0), 0);
    DrawContext *ctx = rk_hGetContext();
    rk_GfxColor(0x1E, 20, 0);
    EXPECT_EQ(ctx->fg_color, 0xEu);
    EXPECT_EQ(__rk_gfx->color_association[0], 20);
    EXPECT_EQ(__rk_gfx->device_palette[0], 0x0055AAu);  // AA5500 as 0x00BBGGRR
}

TEST_F(Colors, PaletteEntriesIn256ColourMode)
{
    ASSERT_EQ(rk_GfxScreen(13, 0, 0, 0, 0), 0);
    std::memset(__rk_gfx->dirty, 0, __rk_gfx->h);
    rk_GfxPalette(1, 63, -1, -1);  // one packed 6-bit value
    EXPECT_EQ(__rk_gfx->device_palette[1], 0x0000FFu);
    for (int y = 0; y < __rk_gfx->h; ++y)
        ASSERT_EQ(__rk_gfx->dirty[y], 1);
    rk_GfxPalette(2, 255, 0, 0);  // 8-bit components
    EXPECT_EQ(__rk_gfx->device_palette[2], 0x0000FFu);
    rk_GfxPalette(300, 0x3F0000, -1, -1);  // index masked to 44, blue
    EXPECT_EQ(__rk_gfx->device_palette[44], 0xFF0000u);
    rk_GfxPalette(-1, 0, 0, 0);  // back to the defaults
    EXPECT_EQ(__rk_gfx->device_palette[1], 0xAA0000u);

    std::vector<int32_t> colors(256, -1);
    colors[5] = 0x3F3F3F;
    rk_GfxPaletteUsing(colors.data());
    EXPECT_EQ(__rk_gfx->device_palette[5], 0xFFFFFFu);
    EXPECT_EQ(__rk_gfx->device_palette[6], 0x0055AAu);  // untouched
}

TEST_F(Colors, AssociationsOfThePaletteModes)
{
    ASSERT_EQ(rk_GfxScreen(9, 0, 0, 0, 0), 0);
    rk_GfxPalette(6, 20, -1, -1);
    EXPECT_EQ(__rk_gfx->color_association[6], 20);
    EXPECT_EQ(__rk_gfx->device_palette[6], 0x0055AAu);
    // Indices beyond the 16 attributes are masked but never overrun the table.
    rk_GfxPalette(40, 1, -1, -1);
    EXPECT_EQ(__rk_gfx->device_palette[40], 0xAA0000u);

    // Mode 1 opens with CGA set 3; the background selects another set.
    ASSERT_EQ(rk_GfxScreen(1, 0, 0, 0, 0), 0);
    EXPECT_EQ(__rk_gfx->color_association[1], 11);
    EXPECT_EQ(__rk_gfx->device_palette[3], 0xFFFFFFu);
    rk_GfxColor(0, 0, 1);  // background 0: set 0
    EXPECT_EQ(__rk_gfx->color_association[1], 2);
    EXPECT_EQ(__rk_gfx->color_association[3], 6);
}

TEST_F(Colors, PaletteIgnoredAboveEightBits)
{
    open(16, 16, 32);
    std::memset(__rk_gfx->dirty, 0, 16);
    rk_GfxPalette(1, 63, -1, -1);
    EXPECT_EQ(__rk_gfx->device_palette[1], 0u);
    EXPECT_EQ(__rk_gfx->dirty[0], 0);
}

static std::vector<uint32_t> sent;
static void record_palette(int i, int r, int g, int b)
{
    sent.push_back((static_cast<uint32_t>(i) << 24) | (b << 16) | (g << 8) | r);
}
static int accept_init(const char *, int, int, int, int, int) { return 0; }

TEST_F(Colors, DriverReceivesEveryEntry)
{
    __rk_gfx_driver_name = nullptr;
    static const DisplayDriver recording = {.name = "Recording", .init = accept_init, .set_palette = record_palette};
    __rk_gfx_drivers_list[0] = &recording;
    sent.clear();
    ASSERT_EQ(rk_GfxScreen(13, 0, 0, 0, 0), 0);
    ASSERT_EQ(sent.size(), 256u);
    EXPECT_EQ(sent[4], (4u << 24) | 0x0000AAu);
    sent.clear();
    rk_hRestorePalette();
    EXPECT_EQ(sent.size(), 256u);
    sent.clear();
    rk_GfxPalette(7, 0x3F, -1, -1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (7u << 24) | 0xFFu);
    __rk_gfx_drivers_list[0] = nullptr;
}
