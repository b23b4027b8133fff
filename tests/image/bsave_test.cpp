#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gfx/core/screen.h"
#include "image_files.h"
#include "rt/rt.h"

using Bsave = ImageFiles;

static void set_px(void *image, int x, int y, uint32_t v)
{
    auto *h = static_cast<ImageHeader *>(image);
    std::memcpy(static_cast<uint8_t *>(image) + 32 + y * h->pitch + x * h->bpp, &v, h->bpp);
}

TEST_F(Bsave, CanvasBitmapIsTwentyFourBitBottomRowFirst)
{
    open(800, 600, 32);
    void *canvas = rk_GfxImageCreate(719, 553, 0xFFFFFF, 0, 0);
    set_px(canvas, 0, 552, 0xFF102030);
    set_px(canvas, 718, 0, 0xFF405060);
    ASSERT_EQ(save(path("bild.bmp"), canvas), 0);
    const Bytes f = read_file(path("bild.bmp"));
    ASSERT_EQ(f.size(), 1194534u);
    EXPECT_EQ(get_le(f, 0, 2), 0x4D42u);
    EXPECT_EQ(get_le(f, 2, 4), 1194534u);
    EXPECT_EQ(get_le(f, 10, 4), 54u);
    EXPECT_EQ(get_le(f, 14, 4), 40u);
    EXPECT_EQ(get_le(f, 18, 4), 719u);
    EXPECT_EQ(get_le(f, 22, 4), 553u);
    EXPECT_EQ(get_le(f, 28, 2), 24u);
    EXPECT_EQ(get_le(f, 34, 4), 2160u * 553u);
    EXPECT_EQ(get_le(f, 38, 4), 2834u);
    EXPECT_EQ(get_le(f, 46, 4), 0u);
    EXPECT_EQ(get_le(f, 54, 3), 0x102030u);                   // bottom row first
    EXPECT_EQ(get_le(f, 54 + 552 * 2160 + 718 * 3, 3), 0x405060u);  // top row last
    EXPECT_EQ(get_le(f, 54 + 3, 3), 0xFFFFFFu);

    // Without ".bmp" and with size 0 nothing can be written: an existing
    // file keeps its contents, a missing one is not created.
    write("bild", {1, 2, 3});
    EXPECT_EQ(save(path("bild"), canvas), 2);
    EXPECT_EQ(rk_ErrorGetNum(), 2);
    EXPECT_EQ(read_file(path("bild")), (Bytes{1, 2, 3}));
    EXPECT_EQ(save(path("neu"), canvas), 2);
    EXPECT_FALSE(std::filesystem::exists(path("neu")));
    rk_GfxImageDestroy(canvas);
}

TEST_F(Bsave, TheLastDotDecidesTheFormat)
{
    open(64, 48, 32);
    void *img = rk_GfxImageCreate(2, 2, 0x00FF00, 0, 0);
    std::filesystem::create_directory(path("a.b"));
    const std::pair<const char *, bool> names[] = {
        {"BILD.BMP", true}, {"bild.Bmp", true}, {"a.b/pic", false}, {"pic.bmp.old", false}, {"pic.bmpx", false},
    };
    for (auto [name, bitmap] : names) {
        ASSERT_EQ(save(path(name), img, 40), 0) << name;
        const Bytes f = read_file(path(name));
        EXPECT_EQ(f[0], bitmap ? 'B' : 0xFE) << name;
        EXPECT_EQ(f.size(), bitmap ? 54u + 2 * 8 : 5u + 40) << name;
    }
    // Backslashes are path separators.
    ASSERT_EQ(save(path("a.b\\x.bmp"), img), 0);
    EXPECT_TRUE(std::filesystem::exists(path("a.b/x.bmp")));
    rk_GfxImageDestroy(img);
}

TEST_F(Bsave, SixteenBitPixelsWidenAndRoundTripExactly)
{
    open(64, 48, 16);
    void *img = rk_GfxImageCreate(64, 2, 0, 0, 0);
    set_px(img, 0, 1, 0xFFFF);
    set_px(img, 1, 1, 0xF800);
    for (int g = 0; g < 64; ++g)
        set_px(img, g, 0, static_cast<uint32_t>((g << 5) | (g & 31) | ((g & 31) << 11)));
    ASSERT_EQ(save(path("p.bmp"), img), 0);
    const Bytes f = read_file(path("p.bmp"));
    EXPECT_EQ(get_le(f, 54, 3), 0xFFFFFFu);
    EXPECT_EQ(get_le(f, 54 + 3, 3), 0xFF0000u);  // blue, green, red: 00 00 FF

    // Every 6-bit green and 5-bit red and blue value comes back unchanged.
    void *back = rk_GfxImageCreate(64, 2, 0, 0, 0);
    ASSERT_EQ(load(path("p.bmp"), back), 0);
    for (int x = 0; x < 64; ++x)
        ASSERT_EQ(px(back, x, 0), px(img, x, 0)) << x;
    rk_GfxImageDestroy(img);
    rk_GfxImageDestroy(back);
}

TEST_F(Bsave, ThirtyTwoBitRoundTripKeepsColoursAndMakesThemOpaque)
{
    open(64, 48, 32);
    std::mt19937 rng(7);
    for (int w : {1, 5, 19}) {
        void *img = rk_GfxImageCreate(w, 3, 0, 0, 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < w; ++x)
                set_px(img, x, y, static_cast<uint32_t>(rng()));
        ASSERT_EQ(save(path("r.bmp"), img), 0);
        // The last pixel's alpha byte lands in the row's first padding byte.
        const Bytes f = read_file(path("r.bmp"));
        if (w % 4) {
            EXPECT_EQ(f[54 + 3 * w], px(img, w - 1, 2) >> 24);
        }
        void *back = rk_GfxImageCreate(w, 3, 0, 0, 0);
        ASSERT_EQ(load(path("r.bmp"), back), 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(px(back, x, y), px(img, x, y) | 0xFF000000u);
        rk_GfxImageDestroy(img);
        rk_GfxImageDestroy(back);
    }
}

TEST_F(Bsave, EightBitScreensWriteTheirPalette)
{
    open(320, 200, 8);
    uint8_t *page = rk_GfxScreenPtr();
    for (int i = 0; i < 320 * 200; ++i)
        page[i] = static_cast<uint8_t>(i * 7);
    for (int i = 0; i < 256; ++i)
        __rk_gfx->device_palette[i] = static_cast<uint32_t>(i * 0x010203) & 0xFCFCFC;
    ASSERT_EQ(save(path("s.bmp"), nullptr), 0);
    Bytes f = read_file(path("s.bmp"));
    EXPECT_EQ(f.size(), 1078u + 320 * 200);
    EXPECT_EQ(get_le(f, 10, 4), 1078u);
    EXPECT_EQ(get_le(f, 28, 2), 8u);
    EXPECT_EQ(get_le(f, 46, 4), 256u);
    EXPECT_EQ(get_le(f, 50, 4), 256u);
    const uint32_t e = __rk_gfx->device_palette[5];
    EXPECT_EQ(get_le(f, 54 + 4 * 5, 4), ((e & 0xFF) << 16) | (e & 0xFF00) | ((e >> 16) & 0xFF));

    // A caller's 6-bit palette is written times 4.
    uint32_t pal[256];
    for (int i = 0; i < 256; ++i)
        pal[i] = static_cast<uint32_t>(i & 63) * 0x010101u;
    ASSERT_EQ(save(path("u.bmp"), nullptr, 0, pal), 0);
    f = read_file(path("u.bmp"));
    EXPECT_EQ(get_le(f, 54 + 4 * 33, 4), 132u * 0x010101u);

    // Read back: the same indices and the same palette.
    const std::vector<uint32_t> saved(__rk_gfx->device_palette, __rk_gfx->device_palette + 256);
    const Bytes pixels(page, page + 320 * 200);
    std::memset(page, 0, 320 * 200);
    std::memset(__rk_gfx->device_palette, 0, 1024);
    ASSERT_EQ(load(path("s.bmp"), nullptr), 0);
    EXPECT_EQ(Bytes(page, page + 320 * 200), pixels);
    EXPECT_EQ(std::vector<uint32_t>(__rk_gfx->device_palette, __rk_gfx->device_palette + 256), saved);
}

TEST_F(Bsave, RawScreenSaveAddsThePaletteAndLoadsBack)
{
    open(320, 200, 8);
    uint8_t *page = rk_GfxScreenPtr();
    for (int i = 0; i < 320 * 200; ++i)
        page[i] = static_cast<uint8_t>(i * 13);
    __rk_gfx->device_palette[9] = 0x00FC8004;
    ASSERT_EQ(save(path("screen.raw"), nullptr, 64000), 0);
    const Bytes f = read_file(path("screen.raw"));
    ASSERT_EQ(f.size(), 5u + 64000 + 768);
    EXPECT_EQ(f[0], 0xFE);
    EXPECT_EQ(get_le(f, 1, 4), 64000u);
    EXPECT_EQ(get_le(f, 5 + 64000 + 27, 3), 0x3F2001u);

    const Bytes pixels(page, page + 64000);
    std::memset(page, 0, 64000);
    __rk_gfx->device_palette[9] = 0;
    ASSERT_EQ(load(path("screen.raw"), nullptr), 0);
    EXPECT_EQ(Bytes(page, page + 64000), pixels);
    EXPECT_EQ(__rk_gfx->device_palette[9], 0x00FC8004u);
    uint32_t pal[256] = {};
    ASSERT_EQ(load(path("screen.raw"), nullptr, pal), 0);
    EXPECT_EQ(pal[9], 0x3F2001u);

    // Size 0 from the screen is refused before the file is touched.
    EXPECT_EQ(save(path("screen.raw"), nullptr, 0), 3);
    EXPECT_EQ(read_file(path("screen.raw")).size(), f.size());
}

TEST_F(Bsave, FailuresAreReportedAndLeaveFilesAlone)
{
    // No screen: the screen cannot be saved, a buffer can.
    EXPECT_EQ(save(path("none.bmp"), nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(path("none.bmp")));
    Bytes buf(32 + 16, 0);
    const uint32_t hdr[5] = {7, 4, 2, 1, 16};
    std::memcpy(buf.data(), hdr, sizeof hdr);
    EXPECT_EQ(save(path("buf.bmp"), buf.data()), 0);
    EXPECT_EQ(read_file(path("buf.bmp")).size(), 54u + 8);

    open(64, 48, 32);
    // Three bytes per pixel cannot be written.
    const uint32_t three[5] = {7, 3, 2, 1, 16};
    std::memcpy(buf.data(), three, sizeof three);
    write("keep.bmp", {9, 9});
    EXPECT_EQ(save(path("keep.bmp"), buf.data()), 3);
    EXPECT_EQ(read_file(path("keep.bmp")), (Bytes{9, 9}));
    // Nor can a header whose rows are wider than its pitch (as a raw file
    // loaded into plain memory may leave): its pixels lie beyond the buffer.
    Bytes narrow(32 + 2 * 16, 0);
    const uint32_t wide_rows[5] = {7, 4, 100, 2, 16};
    std::memcpy(narrow.data(), wide_rows, sizeof wide_rows);
    EXPECT_EQ(save(path("keep.bmp"), narrow.data()), 3);
    EXPECT_EQ(read_file(path("keep.bmp")), (Bytes{9, 9}));
    EXPECT_EQ(save(path("no/such/dir.bmp"), nullptr), 2);
    // Writes beyond the file-size limit fail; so does data that is only
    // written when the file is flushed at its close.
    void (*xfsz)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 50;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int full_bitmap = save(path("full.bmp"), nullptr), full_png = save(path("full.png"), nullptr);
    void *img = rk_GfxImageCreate(4, 4, 0, 0, 0);
    const int full_raw = save(path("full.raw"), img, 100);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, xfsz);
    EXPECT_EQ(full_bitmap, 3);
    EXPECT_EQ(full_png, 3);
    EXPECT_EQ(full_raw, 3);
    rk_GfxImageDestroy(img);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}

// Only regular files are read and written. A FIFO with or without a peer, a
// device or a directory is refused with 2 at once, never waited on.
TEST_F(Bsave, FifosDevicesAndDirectoriesAreRefusedAtOnce)
{
    open(16, 8, 32);
    void *img = rk_GfxImageCreate(4, 4, 0x123456, 0, 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(path("fifo.bmp").c_str(), 0600), 0);
    std::filesystem::create_directory(path("dir.bmp"));
    alarm(20);  // a blocked open ends the test instead of hanging it
    for (const std::string &name : {path("fifo"), path("fifo.bmp"), std::string("/dev/null"), std::string("/dev/zero"),
                                   path("dir.bmp")}) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(load(name, img), 2) << name;
        EXPECT_EQ(load(name, nullptr), 2) << name;
        EXPECT_EQ(save(name, img, 100), 2) << name;
        EXPECT_EQ(save(name, nullptr, 100), 2) << name;
        EXPECT_EQ(rk_ErrorGetNum(), 2) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << name;
    }
    // A FIFO that has a reader is refused as well, and the reader sees the
    // end of the data without any.
    const int reader = ::open(path("fifo.bmp").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(save(path("fifo.bmp"), img), 2);
    char c;
    EXPECT_EQ(read(reader, &c, 1), 0);
    close(reader);
    alarm(0);
    // The names were left as they were.
    EXPECT_TRUE(std::filesystem::is_fifo(path("fifo")));
    EXPECT_TRUE(std::filesystem::is_directory(path("dir.bmp")));
    rk_GfxImageDestroy(img);
    EXPECT_EQ(__rk_gfx->lock_count, 0);
}
