#include <functional>
#include <random>

#include "fuzz/bload_driver.h"
#include "gfx/core/screen.h"
#include "image_files.h"
#include "rt/rt.h"

using Bload = ImageFiles;

// Bottom-up rows of 3-byte pixels from rgb(x, stored row).
static Bytes rows24(int w, int h, const std::function<uint32_t(int, int)> &rgb)
{
    const int pitch = (3 * w + 3) & ~3;
    Bytes p(static_cast<std::size_t>(pitch) * h, 0xCC);  // padding that must be skipped
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x)
            put_le(p, static_cast<std::size_t>(r) * pitch + 3 * x, rgb(x, r), 3);
    return p;
}

static uint32_t icon_rgb(int x, int r)
{
    return static_cast<uint32_t>(((x * 12) << 16) | ((r * 11) << 8) | (x + r * 3));
}

static Bytes gray_table(int n)
{
    Bytes t;
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 4; ++k)
            t.push_back(static_cast<uint8_t>(k < 3 ? 255 - i * 7 - k : 0));
    return t;
}

TEST_F(Bload, Icon24BitBottomUpFillsEveryPixelWithOpaqueAlpha)
{
    open(800, 600, 32);
    const std::string f = write("1.bmp", make_bmp({.width = 20, .height = 22, .pixels = rows24(20, 22, icon_rgb)}));
    void *img = rk_GfxImageCreate(20, 22, 0, 0, 0);
    EXPECT_EQ(load(f, img), 0);
    EXPECT_EQ(rk_ErrorGetNum(), 0);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(px(img, x, y), 0xFF000000u | icon_rgb(x, 21 - y)) << x << "," << y;
    rk_GfxImageDestroy(img);

    // The same file into a 16-bit image: 5-6-5 of each pixel.
    open(64, 48, 16);
    img = rk_GfxImageCreate(20, 22, 0, 0, 0);
    EXPECT_EQ(load(f, img), 0);
    const uint32_t c = icon_rgb(7, 21 - 5);
    EXPECT_EQ(px(img, 7, 5), (((c >> 19) & 31) << 11) | (((c >> 10) & 63) << 5) | ((c >> 3) & 31));
    rk_GfxImageDestroy(img);
}

// Small files are read whole and parsed from memory, larger ones as
// streams: the same bitmap loads alike either way (padded past the size
// where the stream takes over), and as its bytes say.
TEST_F(Bload, FilesReadWholeOrAsStreamsLoadAlike)
{
    open(800, 600, 32);
    std::mt19937 rng(5);
    Bytes pixels(static_cast<std::size_t>(40) * 3 * 30);
    for (auto &v : pixels)
        v = static_cast<uint8_t>(rng());
    const Bytes bmp = make_bmp({.width = 40, .height = 30, .pixels = pixels});
    Bytes padded = bmp;
    padded.resize(70 * 1024, 0x5A);
    void *a = rk_GfxImageCreate(40, 30, 0x123456, 0, 0), *b = rk_GfxImageCreate(40, 30, 0x123456, 0, 0);
    EXPECT_EQ(load(write("small.bmp", bmp), a), 0);
    EXPECT_EQ(load(write("large.bmp", padded), b), 0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const uint8_t *p = pixels.data() + static_cast<std::size_t>(29 - y) * 120 + 3 * x;
            ASSERT_EQ(px(a, x, y), 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0]) << x << "," << y;
            ASSERT_EQ(px(b, x, y), px(a, x, y)) << x << "," << y;
        }
    rk_GfxImageDestroy(a);
    rk_GfxImageDestroy(b);
    EXPECT_EQ(load(path("missing.bmp"), nullptr), 2);
}

TEST_F(Bload, TheProgramsIconsLoadPixelForPixel)
{
    open(800, 600, 32);
    void *img = rk_GfxImageCreate(20, 22, 0, 0, 0);
    for (int i = 1; i <= 6; ++i) {
        const std::string f = (source_dir() / ("gfx/" + std::to_string(i) + ".bmp")).string();
        const Bytes file = read_file(f);
        ASSERT_EQ(file.size(), 54u + 60 * 22) << f;
        ASSERT_EQ(load(f, img), 0) << f;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_EQ(px(img, x, y), 0xFF000000u | get_le(file, 54 + (21 - y) * 60 + 3 * x, 3)) << f;
    }
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, LargerBitmapsAreCroppedSmallerOnesFillTheTopLeft)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(20, 22, 0x123456, 0, 0);
    const std::string big = write("big.bmp", make_bmp({.width = 30, .height = 30, .pixels = rows24(30, 30, icon_rgb)}));
    EXPECT_EQ(load(big, img), 0);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(px(img, x, y), 0xFF000000u | icon_rgb(x, 29 - y));

    const std::string small = write("small.bmp", make_bmp({.width = 5, .height = 4, .pixels = rows24(5, 4, icon_rgb)}));
    rk_GfxImageDestroy(img);
    img = rk_GfxImageCreate(20, 22, 0x123456, 0, 0);
    EXPECT_EQ(load(small, img), 0);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(px(img, x, y), x < 5 && y < 4 ? 0xFF000000u | icon_rgb(x, 3 - y) : 0x123456u);
    rk_GfxImageDestroy(img);

    // Onto the screen: cropped to it, and its lines marked for presentation.
    std::memset(__rk_gfx->dirty, 0, 48);
    EXPECT_EQ(load(big, nullptr), 0);
    EXPECT_EQ(pixel(29, 29), 0xFF000000u | icon_rgb(29, 0));
    EXPECT_EQ(pixel(30, 0), 0xFF000000u);
    EXPECT_EQ(__rk_gfx->dirty[47], 1);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

TEST_F(Bload, TopDownRowsStartAtTheTop)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(4, 3, 0, 0, 0);
    BmpSpec s{.width = 4, .height = -3, .pixels = rows24(4, 3, icon_rgb)};
    EXPECT_EQ(load(write("td.bmp", make_bmp(s)), img), 0);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(px(img, 3, y), 0xFF000000u | icon_rgb(3, y));
    // Run-length data is never stored top-down.
    s.depth = 8;
    s.compression = 1;
    EXPECT_EQ(load(write("td8.bmp", make_bmp(s)), img), 3);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, ThirtyTwoBitAlphaDependsOnCompressionAndMasks)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(2, 1, 0, 0, 0);
    Bytes pix;
    put_le(pix, 0, 0x80112233, 4);
    put_le(pix, 4, 0x00ABCDEF, 4);
    EXPECT_EQ(load(write("a.bmp", make_bmp({.width = 2, .depth = 32, .pixels = pix})), img), 0);
    EXPECT_EQ(px(img, 0, 0), 0x80112233u);
    EXPECT_EQ(px(img, 1, 0), 0x00ABCDEFu);

    Bytes masks;
    put_le(masks, 0, 0xFF0000, 4);
    put_le(masks, 4, 0xFF00, 4);
    put_le(masks, 8, 0xFF, 4);
    EXPECT_EQ(load(write("b.bmp", make_bmp({.width = 2, .depth = 32, .compression = 3, .extra = masks, .pixels = pix})), img), 0);
    EXPECT_EQ(px(img, 0, 0), 0x00112233u);

    // Version 4 header: 10-bit channels and a 2-bit alpha, scaled to 8 bits;
    // the full 2-bit alpha is opaque.
    Bytes wide;
    put_le(wide, 0, (3u << 30) | (0x3FFu << 20) | (0x200u << 10) | 0x001u, 4);
    BmpSpec v4{.header_size = 108, .width = 1, .depth = 32, .compression = 3, .pixels = wide};
    const uint32_t m[4] = {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000};
    std::memcpy(v4.masks, m, sizeof m);
    EXPECT_EQ(load(write("c.bmp", make_bmp(v4)), img), 0);
    EXPECT_EQ(px(img, 0, 0), 0xFFFF8000u);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, SixteenBitIs555UnlessMasksSay565)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(3, 1, 0, 0, 0);
    Bytes pix(8);
    put_le(pix, 0, 0x7FFF, 2);
    put_le(pix, 2, 0x7C00, 2);
    put_le(pix, 4, 0x03E0, 2);
    EXPECT_EQ(load(write("555.bmp", make_bmp({.width = 3, .depth = 16, .pixels = pix})), img), 0);
    EXPECT_EQ(px(img, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(px(img, 1, 0), 0xFFFF0000u);
    EXPECT_EQ(px(img, 2, 0), 0xFF00FF00u);

    Bytes masks, p565(8);
    put_le(masks, 0, 0xF800, 4);
    put_le(masks, 4, 0x07E0, 4);
    put_le(masks, 8, 0x001F, 4);
    put_le(p565, 0, 0x07E0, 2);
    put_le(p565, 2, 0x8410, 2);
    put_le(p565, 4, 0x001F, 2);
    const std::string f = write("565.bmp", make_bmp({.width = 3, .depth = 16, .compression = 3, .extra = masks, .pixels = p565}));
    EXPECT_EQ(load(f, img), 0);
    EXPECT_EQ(px(img, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(px(img, 1, 0), 0xFF848284u);
    EXPECT_EQ(px(img, 2, 0), 0xFF0000FFu);
    rk_GfxImageDestroy(img);

    open(64, 48, 16);
    img = rk_GfxImageCreate(3, 1, 0, 0, 0);
    EXPECT_EQ(load(f, img), 0);
    EXPECT_EQ(px(img, 1, 0), 0x8410u);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, OneBitRowsOfWidthNineSkipTheirPadding)
{
    open(64, 48, 32);
    Bytes table = {0, 0, 0, 0, 255, 255, 255, 0};
    // Two stored rows: 2 bytes of pixels and 2 of padding each.
    Bytes pix = {0xAA, 0x80, 0xFF, 0xFF, 0x55, 0x00, 0xFF, 0xFF};
    void *img = rk_GfxImageCreate(9, 2, 0x777777, 0, 0);
    EXPECT_EQ(load(write("1bit.bmp", make_bmp({.width = 9, .height = 2, .depth = 1, .extra = table, .pixels = pix})), img), 0);
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(px(img, x, 1), x % 2 == 0 ? 0xFFFFFFFFu : 0xFF000000u) << x;
        EXPECT_EQ(px(img, x, 0), x % 2 == 1 && x < 8 ? 0xFFFFFFFFu : 0xFF000000u) << x;
    }
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, BadFilesAndHeadersGiveTheirResultsAndRecordThem)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(4, 4, 0x55, 0, 0);
    EXPECT_EQ(load(path("missing.bmp"), img), 2);
    EXPECT_EQ(rk_ErrorGetNum(), 2);
    EXPECT_EQ(load(write("x.bin", {'X', 1, 2}), img), 3);
    EXPECT_EQ(load(write("empty.bin", {}), img), 3);
    EXPECT_EQ(rk_ErrorGetNum(), 3);

    const BmpSpec good{.width = 2, .height = 2, .pixels = rows24(2, 2, icon_rgb)};
    std::vector<std::pair<const char *, BmpSpec>> bad;
    auto variant = [&](const char *what, auto change) {
        BmpSpec s = good;
        change(s);
        bad.emplace_back(what, s);
    };
    variant("header 13", [](BmpSpec &s) { s.header_size = 13; });
    variant("header 8", [](BmpSpec &s) { s.header_size = 8; });
    variant("width 0", [](BmpSpec &s) { s.width = 0; });
    variant("negative width", [](BmpSpec &s) { s.width = -2; });
    variant("height 0", [](BmpSpec &s) { s.height = 0; });
    variant("compression 4", [](BmpSpec &s) { s.compression = 4; });
    variant("depth 0", [](BmpSpec &s) { s.depth = 0; });
    variant("depth 33", [](BmpSpec &s) { s.depth = 33; });
    variant("RLE8 of 4 bits", [](BmpSpec &s) { s.depth = 4; s.compression = 1; });
    variant("RLE4 of 8 bits", [](BmpSpec &s) { s.depth = 8; s.compression = 2; });
    variant("RLE8 of 24 bits", [](BmpSpec &s) { s.compression = 1; });
    variant("top-down RLE4", [](BmpSpec &s) { s.depth = 4; s.compression = 2; s.height = -2; });
    variant("short rows", [](BmpSpec &s) { s.pixels.resize(11); });
    for (auto &[what, s] : bad) {
        rk_ErrorSetNum(0);
        EXPECT_EQ(load(write("bad.bmp", make_bmp(s)), img), 3) << what;
        EXPECT_EQ(rk_ErrorGetNum(), 3) << what;
    }
    Bytes planes = make_bmp(good);
    put_le(planes, 26, 2, 2);
    EXPECT_EQ(load(write("planes.bmp", planes), img), 3);
    Bytes sig = make_bmp(good);
    sig[1] = 'A';
    EXPECT_EQ(load(write("sig.bmp", sig), img), 3);
    Bytes cut = make_bmp(good);
    cut.resize(30);
    EXPECT_EQ(load(write("cut.bmp", cut), img), 3);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, ColourTableGoesToTheDevicePaletteOrTheCallersArray)
{
    open(64, 48, 32);
    Bytes pix = {0, 1, 255, 0};
    const std::string f = write("8.bmp", make_bmp({.width = 3, .depth = 8, .extra = gray_table(256), .pixels = pix}));
    void *img = rk_GfxImageCreate(3, 1, 0, 0, 0);
    std::memset(__rk_gfx->device_palette, 0x11, 256 * 4);
    EXPECT_EQ(load(f, img), 0);
    // Entry bytes blue, green, red become 0x00BBGGRR.
    EXPECT_EQ(__rk_gfx->device_palette[1], 0x00F8F7F6u);
    EXPECT_EQ(__rk_gfx->device_palette[255], 0x00060504u);
    EXPECT_EQ(px(img, 1, 0), 0xFFF6F7F8u);
    EXPECT_EQ(px(img, 2, 0), 0xFF040506u);

    // With an array the device palette stays, and the pixels still go
    // through it.
    uint32_t pal[256];
    std::memset(__rk_gfx->device_palette, 0, 256 * 4);
    __rk_gfx->device_palette[1] = 0x00030201;
    EXPECT_EQ(load(f, img, pal), 0);
    EXPECT_EQ(pal[1], (0x00F8F7F6u >> 2) & 0x3F3F3Fu);
    EXPECT_EQ(__rk_gfx->device_palette[1], 0x00030201u);
    EXPECT_EQ(px(img, 1, 0), 0xFF010203u);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, ColoursUsedSetsTheTableLengthAndComputedOffset)
{
    open(64, 48, 32);
    Bytes table = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
    Bytes pix = {0, 1, 2, 3};
    // Data offset 0: it follows the three entries.
    const std::string f = write("cu.bmp", make_bmp({.width = 4, .depth = 8, .colors_used = 3, .extra = table, .pixels = pix, .offset = 0}));
    void *img = rk_GfxImageCreate(4, 1, 0, 0, 0);
    std::memset(__rk_gfx->device_palette, 0x11, 256 * 4);
    EXPECT_EQ(load(f, img), 0);
    EXPECT_EQ(px(img, 0, 0), 0xFF1E140Au);
    EXPECT_EQ(px(img, 2, 0), 0xFF5A5046u);
    EXPECT_EQ(px(img, 3, 0), 0xFF000000u);
    EXPECT_EQ(__rk_gfx->device_palette[200], 0u);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, TrueColourIntoAPalettedDestinationChangesNothing)
{
    open(64, 48, 8);
    void *img = rk_GfxImageCreate(2, 2, 7, 0, 0);
    const uint32_t before = __rk_gfx->device_palette[3];
    EXPECT_EQ(load(write("t.bmp", make_bmp({.width = 2, .height = 2, .pixels = rows24(2, 2, icon_rgb)})), img), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(px(img, 0, 0), 7u);
    EXPECT_EQ(__rk_gfx->device_palette[3], before);
    EXPECT_EQ(__rk_gfx->lock_count, 0);

    // Plain memory into a paletted screen is refused before its header is written.
    uint8_t mem[64];
    std::memset(mem, 0xEE, sizeof mem);
    EXPECT_EQ(load(path("t.bmp"), mem), 1);
    EXPECT_EQ(mem[0], 0xEE);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, PlainMemoryReceivesAHeaderForTheWholeBitmap)
{
    open(64, 48, 32);
    const std::string f = write("m.bmp", make_bmp({.width = 5, .height = 3, .pixels = rows24(5, 3, icon_rgb)}));
    Bytes mem(32 + 32 * 3, 0xEE);
    EXPECT_EQ(load(f, mem.data()), 0);
    EXPECT_EQ(get_le(mem, 0, 4), 7u);
    EXPECT_EQ(get_le(mem, 4, 4), 4u);
    EXPECT_EQ(get_le(mem, 8, 4), 5u);
    EXPECT_EQ(get_le(mem, 12, 4), 3u);
    EXPECT_EQ(get_le(mem, 16, 4), 32u);
    EXPECT_EQ(get_le(mem, 20, 4), 0xEEEEEEEEu);  // reserved words left alone
    EXPECT_EQ(px(mem.data(), 4, 2), 0xFF000000u | icon_rgb(4, 0));

    // The compact form on request.
    Bytes small(4 + 5 * 3 * 4, 0xEE);
    EXPECT_EQ(gfx_bload(rk_StrAllocTempDesc(f.c_str()), small.data(), nullptr, false), 0);
    EXPECT_EQ(small[0], (4 | (5 << 3)) & 0xFF);
    EXPECT_EQ(get_le(small, 2, 2), 3u);
    EXPECT_EQ(get_le(small, 4 + (2 * 5 + 4) * 4, 4), 0xFF000000u | icon_rgb(4, 0));
}

// Palette 0x00BBGGRR of index i, index 0 not black so that filled pixels show.
static Bytes rle_table()
{
    Bytes t;
    for (int i = 0; i < 16; ++i) {
        const uint8_t c[4] = {static_cast<uint8_t>(i * 40 + 3), static_cast<uint8_t>(i * 30 + 2),
                              static_cast<uint8_t>(i * 20 + 1), 0};
        t.insert(t.end(), c, c + 4);
    }
    return t;
}

static uint32_t rle_color(int i)
{
    return 0xFF000000u | static_cast<uint32_t>((((i * 20 + 1) & 0xFF) << 16) | (((i * 30 + 2) & 0xFF) << 8) | ((i * 40 + 3) & 0xFF));
}

TEST_F(Bload, RunLengthEightBitRowsWithDeltaAndEarlyEnd)
{
    open(64, 48, 32);
    const Bytes stream = {
        3,  1,  0, 3, 2, 3, 4, 0, 0, 0,  // row 3: 1 1 1 2 3 4 (absolute run padded)
        2,  5,  0, 2, 2, 1,              // row 2: 5 5, then a delta 2 right, 1 up
        10, 6,                           // row 1 from x 4: 6 6, the rest beyond the width
        0,  1,                           // end of bitmap: row 0 left at index 0
    };
    void *img = rk_GfxImageCreate(6, 4, 0x11111111, 0, 0);
    EXPECT_EQ(load(write("rle8.bmp", make_bmp({.width = 6, .height = 4, .depth = 8, .compression = 1, .colors_used = 16,
                                               .extra = rle_table(), .pixels = stream})),
                   img),
              0);
    const int want[4][6] = {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 6, 6}, {5, 5, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 4}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(px(img, x, y), rle_color(want[y][x])) << x << "," << y;

    // A stream that stops before the end keeps the rows it finished.
    rk_GfxImageDestroy(img);
    img = rk_GfxImageCreate(6, 4, 0x11111111, 0, 0);
    const Bytes cut = {6, 7, 0, 0, 3, 8};
    EXPECT_EQ(load(write("cut8.bmp", make_bmp({.width = 6, .height = 4, .depth = 8, .compression = 1, .colors_used = 16,
                                               .extra = rle_table(), .pixels = cut})),
                   img),
              3);
    EXPECT_EQ(px(img, 5, 3), rle_color(7));
    EXPECT_EQ(px(img, 0, 2), 0x11111111u);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, RunLengthFourBitNibblesAlternate)
{
    open(64, 48, 32);
    const Bytes stream = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1};
    void *img = rk_GfxImageCreate(5, 2, 0x11111111, 0, 0);
    EXPECT_EQ(load(write("rle4.bmp", make_bmp({.width = 5, .height = 2, .depth = 4, .compression = 2,
                                               .extra = rle_table(), .pixels = stream})),
                   img),
              0);
    const int want[2][5] = {{3, 4, 5, 0, 0}, {1, 2, 1, 2, 1}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(px(img, x, y), rle_color(want[y][x])) << x << "," << y;
    rk_GfxImageDestroy(img);
}

// Deltas through the rows that lie below a small destination: the rows they
// skip are passed over, and the first row inside it lands where it belongs.
TEST_F(Bload, RunLengthDeltasThroughRowsOutsideTheDestination)
{
    open(64, 48, 32);
    const Bytes stream = {
        0, 2, 0, 255, 0, 2, 0, 255,  // 510 rows up, all below the image
        0, 2, 2, 86,                 // to the image's bottom row, x 2
        2, 9, 0, 0,                  // 9 9 there
        6, 5, 0, 0,                  // the row above: 5 in every pixel
        0, 1,                        // end: the top two rows at index 0
    };
    void *img = rk_GfxImageCreate(6, 4, 0x11111111, 0, 0);
    EXPECT_EQ(load(write("tall8.bmp", make_bmp({.width = 6, .height = 600, .depth = 8, .compression = 1,
                                                .colors_used = 16, .extra = rle_table(), .pixels = stream})),
                   img),
              0);
    const int want[4][6] = {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 5, 5, 5}, {0, 0, 9, 9, 0, 0}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(px(img, x, y), rle_color(want[y][x])) << x << "," << y;
    rk_GfxImageDestroy(img);
}

TEST_F(Bload, HugeSizesFailWithoutTouchingMemory)
{
    open(64, 48, 32);
    for (const int32_t h : {0x7FFFFFFF, static_cast<int32_t>(0x80000000u)}) {
        const Bytes f = make_bmp({.width = 0x7FFFFFFF, .height = h, .depth = 32, .pixels = Bytes(64, 1)});
        const std::string p = write("huge.bmp", f);
        // Plain memory: its pitch would not fit the header.
        Bytes mem(256, 0xEE);
        EXPECT_EQ(load(p, mem.data()), 3);
        EXPECT_EQ(mem[0], 0xEE);
        void *img = rk_GfxImageCreate(4, 4, 0x55, 0, 0);
        EXPECT_EQ(load(p, img), 3);
        EXPECT_EQ(px(img, 0, 0), 0x55u);
        EXPECT_EQ(load(p, nullptr), 3);
        EXPECT_EQ(__rk_gfx->lock_count, 0);
        rk_GfxImageDestroy(img);
    }
}

TEST_F(Bload, CompactImagesKeepEveryRowInsideTheirBuffer)
{
    open(64, 48, 32);
    Bytes pix(8 * 3, 9);
    const std::string f = write("c.bmp", make_bmp({.width = 7, .height = 3, .depth = 8, .extra = gray_table(256), .pixels = pix}));
    // Pixel size 1 on a 4-byte screen: rows lie 28 bytes apart in 21 bytes.
    auto g = bload_driver::compact_image(7, 3, 1);
    EXPECT_EQ(load(f, g.image()), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(g.image()[4], 9);
    std::free(g.block);
    // Matching sizes fill every row.
    g = bload_driver::compact_image(7, 3, 4);
    EXPECT_EQ(load(f, g.image()), 0);
    EXPECT_TRUE(g.intact());
    EXPECT_EQ(get_le(Bytes(g.image(), g.image() + 4 + 84), 4 + 2 * 28 + 24, 4), 0xFFBEBFC0u);
    std::free(g.block);
}

TEST_F(Bload, NoScreenNoLoad)
{
    const std::string f = write("n.bmp", make_bmp({.pixels = rows24(1, 1, icon_rgb)}));
    uint8_t mem[64];
    std::memset(mem, 0xEE, sizeof mem);
    EXPECT_EQ(load(f, mem), 1);
    EXPECT_EQ(rk_ErrorGetNum(), 1);
    EXPECT_EQ(mem[0], 0xEE);
    EXPECT_EQ(load(f, nullptr), 1);
}

TEST_F(Bload, RawFilesIntoImagesMustFitEntirely)
{
    open(64, 48, 32);
    void *src = rk_GfxImageCreate(6, 5, 0x00ABCDEF, 0, 0);
    const uint32_t bytes = 32 + 32 * 5;
    ASSERT_EQ(save(path("img.raw"), src, bytes), 0);
    void *same = rk_GfxImageCreate(6, 5, 0, 0, 0);
    EXPECT_EQ(load(path("img.raw"), same), 0);
    EXPECT_EQ(std::memcmp(same, src, bytes), 0);

    // Too much data for the buffer.
    void *small = rk_GfxImageCreate(3, 3, 0x42, 0, 0);
    const Bytes before(static_cast<uint8_t *>(small), static_cast<uint8_t *>(small) + 32 + 16 * 3);
    EXPECT_EQ(load(path("img.raw"), small), 3);
    EXPECT_EQ(rk_ErrorGetNum(), 3);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(small), static_cast<uint8_t *>(small) + before.size()), before);

    // Few bytes, but a header describing more pixels than the buffer holds.
    Bytes lie = {0xFE};
    put_le(lie, 1, 32, 4);
    const uint32_t hdr[8] = {7, 4, 100, 100, 400, 0, 0, 0};
    for (uint32_t v : hdr)
        put_le(lie, lie.size(), v, 4);
    EXPECT_EQ(load(write("lie.raw", lie), small), 3);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(small), static_cast<uint8_t *>(small) + before.size()), before);

    // The short header, and data cut short by the end of the file.
    Bytes fd = {0xFD, 0, 0, 0, 0};
    put_le(fd, 5, bytes, 2);
    const Bytes all(static_cast<uint8_t *>(src), static_cast<uint8_t *>(src) + bytes);
    fd.insert(fd.end(), all.begin(), all.end() - 20);
    void *part = rk_GfxImageCreate(6, 5, 0x77, 0, 0);
    EXPECT_EQ(load(write("fd.raw", fd), part), 0);
    EXPECT_EQ(std::memcmp(part, src, bytes - 20), 0);
    EXPECT_EQ(px(part, 5, 4), 0x77u);
    for (void *p : {src, same, small, part})
        rk_GfxImageDestroy(p);
}

TEST_F(Bload, RawSavesOfEveryImageFormLoadBackByteForByte)
{
    // On a 32-bit screen as well as on an 8-bit one, images of every pixel
    // size in both header forms come back from their raw file unchanged.
    for (int screen_depth : {32, 8}) {
        open(64, 48, screen_depth);
        for (bool current : {true, false})
            for (int depth : {8, 16, 32}) {
                const int bpp = depth / 8;
                const uint32_t bytes = current ? 32 + ((6 * bpp + 15) & ~15) * 5 : 4 + 6 * 5 * bpp;
                auto *src = static_cast<uint8_t *>(gfx_imagecreate(6, 5, 0x123456, depth, 0, current));
                auto *dst = static_cast<uint8_t *>(gfx_imagecreate(6, 5, 0x654321, depth, 0, current));
                ASSERT_NE(src, nullptr);
                ASSERT_NE(dst, nullptr);
                const uint32_t header = current ? 32 : 4;
                for (uint32_t i = header; i < bytes; ++i)
                    src[i] = static_cast<uint8_t>(i * 7);
                const std::string what = std::to_string(screen_depth) + (current ? " current " : " compact ") +
                                         std::to_string(depth);
                ASSERT_EQ(save(path("img.raw"), src, bytes), 0) << what;
                EXPECT_EQ(load(path("img.raw"), dst), 0) << what;
                EXPECT_EQ(std::memcmp(src, dst, bytes), 0) << what;
                rk_GfxImageDestroy(src);
                rk_GfxImageDestroy(dst);
            }
    }
}

TEST_F(Bload, CorpusFilesStayInsideEveryDestination)
{
    const std::filesystem::path corpus = source_dir() / "fuzz/corpus/bload";
    int files = 0;
    for (int depth : {8, 16, 32}) {
        open(48, 40, depth);
        for (const auto &e : std::filesystem::directory_iterator(corpus)) {
            EXPECT_TRUE(bload_driver::load_every_way(e.path().c_str())) << e.path() << " at depth " << depth;
            EXPECT_EQ(__rk_gfx->lock_count, 0);
            ++files;
        }
    }
    EXPECT_GE(files, 3 * 15);
}
