#include <cstring>
#include <random>
#include <vector>

#include "gfx/core/pixel.h"
#include "support/screen_fixture.h"

TEST(Blend, PlainAndFastResults)
{
    EXPECT_EQ(rk_hBlendPixel(0xFF0000FF, 0x80FF0000), 0x807F007Fu);
    // The fast variant blends the alpha byte too: 255 + floor(-127 * 128 / 256).
    EXPECT_EQ(rk_hBlendPixelMMX(0xFF0000FF, 0x80FF0000), 0xBF7F007Fu);
    EXPECT_EQ(rk_hBlendPixel(0x12345678, 0x00ABCDEF), 0x00345678u);

    // Both give d + floor((s - d) * a / 256) in every colour channel.
    std::mt19937 rng(1);
    for (int i = 0; i < 200000; ++i) {
        uint32_t d = rng(), s = rng();
        uint32_t plain = rk_hBlendPixel(d, s), fast = rk_hBlendPixelMMX(d, s);
        int a = static_cast<int>(s >> 24);
        for (int sh = 0; sh < 24; sh += 8) {
            int sc = (s >> sh) & 0xFF, dc = (d >> sh) & 0xFF;
            int want = dc + static_cast<int>(std::floor((sc - dc) * a / 256.0));
            ASSERT_EQ(static_cast<int>((plain >> sh) & 0xFF), want) << std::hex << d << " " << s;
            ASSERT_EQ(static_cast<int>((fast >> sh) & 0xFF), want);
        }
        ASSERT_EQ(plain >> 24, s >> 24);
    }
}

// Runs `fast` and `plain` on copies of the same random buffer at every
// offset and length up to 80 elements and compares the whole buffers.
template <typename F, typename G>
static void compare_fills(F fast, G plain, int elem)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> a(512 + 64), b;
    for (int off = 0; off < 40; off += elem)
        for (std::size_t n = 0; n < 80; ++n) {
            for (auto &v : a)
                v = static_cast<uint8_t>(rng());
            b = a;
            uint32_t c = rng();
            fast(a.data() + off, c, n);
            plain(b.data() + off, c, n);
            ASSERT_EQ(a, b) << "offset " << off << " count " << n;
        }
}

TEST(PixelRoutines, FastFillsMatchPlain)
{
    compare_fills(rk_hPixelSet4MMX, rk_hPixelSet4, 4);
    compare_fills(rk_hPixelSet2MMX, rk_hPixelSet2, 2);
    compare_fills(rk_hPixelSetAlpha4MMX,
                  [](void *d, uint32_t c, std::size_t n) {
                      auto *p = static_cast<uint8_t *>(d);
                      for (std::size_t i = 0; i < n; ++i) {
                          uint32_t v;
                          std::memcpy(&v, p + 4 * i, 4);
                          v = rk_hBlendPixelMMX(v, c);
                          std::memcpy(p + 4 * i, &v, 4);
                      }
                  },
                  4);
    compare_fills([](void *d, uint32_t c, std::size_t n) { rk_hMemSetMMX(d, static_cast<int>(c), n); },
                  [](void *d, uint32_t c, std::size_t n) { std::memset(d, static_cast<int>(c & 0xFF), n); }, 1);
    // A large fill crosses every store width.
    std::vector<uint32_t> big(100003, 0), ref(100003, 0);
    rk_hPixelSet4MMX(big.data() + 1, 0xCAFEBABE, 100001);
    rk_hPixelSet4(ref.data() + 1, 0xCAFEBABE, 100001);
    EXPECT_EQ(big, ref);
}

TEST(PixelRoutines, FastCopyMatchesMemcpy)
{
    std::mt19937 rng(3);
    std::vector<uint8_t> src(4096 + 64), a(4096 + 64), b(4096 + 64);
    for (auto &v : src)
        v = static_cast<uint8_t>(rng());
    for (std::size_t n : {0, 1, 7, 15, 16, 31, 33, 127, 128, 129, 1000, 4096})
        for (int off = 0; off < 5; ++off) {
            std::fill(a.begin(), a.end(), 0xEE);
            std::fill(b.begin(), b.end(), 0xEE);
            rk_hMemCpyMMX(a.data() + off, src.data() + 3, n);
            std::memcpy(b.data() + off, src.data() + 3, n);
            ASSERT_EQ(a, b) << n;
        }
}

// Every store path this processor runs, on random spans from empty to well
// past the size where the string instructions take over, at every
// alignment within a cache line: fills of each pattern period against a
// byte loop, copies against memcpy, with the bytes around the span checked.
TEST(PixelRoutines, EveryStorePathMatchesPlain)
{
    std::mt19937 rng(11);
    std::vector<uint8_t> a(20000), b(20000), src(20000);
    int tried = 0;
    for (const StorePath &path : rk_hStorePaths()) {
        if (!path.usable())
            continue;
        ++tried;
        for (int round = 0; round < 1200; ++round) {
            std::size_t n = rng() % 4 == 0 ? rng() % 12000 : rng() % 300;
            std::size_t off = rng() % 64;
            for (std::size_t i = 0; i < a.size(); ++i)
                a[i] = b[i] = src[i] = static_cast<uint8_t>(rng());
            static constexpr uint32_t periods[] = {0x01010101, 0x00010001, 1};
            uint32_t word = static_cast<uint32_t>(rng());
            word = (word & (0xFFFFFFFFu >> (8 * (4 - (1u << (round % 3)))))) * periods[round % 3];
            path.fill(a.data() + off, word, n);
            for (std::size_t i = 0; i < n; ++i)
                b[off + i] = static_cast<uint8_t>(word >> (8 * (i % 4)));
            ASSERT_EQ(a, b) << path.name << " fill of " << n << " at " << off;
            std::size_t from = rng() % 64;
            path.copy(a.data() + off, src.data() + from, n);
            std::memcpy(b.data() + off, src.data() + from, n);
            ASSERT_EQ(a, b) << path.name << " copy of " << n << " at " << off << " from " << from;
        }
    }
    EXPECT_GE(tried, 2);  // SSE2 everywhere, with or without the string instructions
    EXPECT_TRUE(rk_hStorePath().usable());
}

using AlphaPrimitives = NullScreen;

TEST_F(AlphaPrimitives, TranslucentColoursBlendOnlyWhenEnabled)
{
    open(8, 8, 32, 0, RK_MODE_ALPHA_PRIMITIVES);
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hPixelSetSolid(ctx->line[0], 0xFF0000FF, 8);
    rk_hSetPixelTransfer(ctx, 0x80FF0000);
    ctx->put_pixel(ctx, 1, 0, 0x80FF0000);
    // The processor has the fast routines here, which blend the alpha byte too.
    EXPECT_EQ(pixel(1, 0), rk_hBlendPixelMMX(0xFF0000FF, 0x80FF0000));
    EXPECT_EQ(pixel(0, 0), 0xFF0000FFu);
    rk_hSetPixelTransfer(ctx, 0xFF00FF00);  // opaque: written as it is
    ctx->put_pixel(ctx, 2, 0, 0xFF00FF00);
    EXPECT_EQ(pixel(2, 0), 0xFF00FF00u);

    open(8, 8, 32);  // without the flag every colour is written as it is
    ctx = rk_hGetContext();
    rk_hSetPixelTransfer(ctx, 0x80FF0000);
    ctx->put_pixel(ctx, 1, 0, 0x80FF0000);
    EXPECT_EQ(pixel(1, 0), 0x80FF0000u);
}

TEST_F(AlphaPrimitives, RoutinesFollowTheTargetPixelSize)
{
    open(8, 8, 16);
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFFFF);
    ctx->put_pixel(ctx, 3, 1, 0xABCD);
    EXPECT_EQ(pixel(3, 1), 0xABCDu);
    EXPECT_EQ(pixel(2, 1), 0u);
    EXPECT_EQ(pixel(4, 1), 0u);
    void *img = rk_GfxImageCreate(4, 4, 0x11223344, 32, 0);
    EXPECT_EQ(ctx->target_bpp, 4);
    EXPECT_EQ(ctx->get_pixel(ctx, 3, 3), 0x11223344u);
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFFFF);
    EXPECT_EQ(ctx->target_bpp, 2);
    EXPECT_EQ(ctx->get_pixel(ctx, 3, 1), 0xABCDu);
    rk_GfxImageDestroy(img);
}
