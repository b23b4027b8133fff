// Blitters against a channel-by-channel model of the pixel formats, and the
// fast routines against the plain ones on random lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/drivers/blit.h"
#include "support/screen_fixture.h"

namespace {

struct Rgb {
    uint32_t r, g, b;
};

// Source pixel x of framebuffer line y, as 8-bit channels (narrow channels
// widened with zeros below).
Rgb source_rgb(const ScreenState *s, int x, int y)
{
    const uint8_t *line = s->framebuffer + static_cast<std::size_t>(y) * s->pitch;
    if (s->bpp == 1) {
        uint32_t e = s->device_palette[line[x]];
        return {e & 0xFF, (e >> 8) & 0xFF, (e >> 16) & 0xFF};
    }
    if (s->bpp == 2) {
        uint16_t p;
        std::memcpy(&p, line + 2 * x, 2);
        return {static_cast<uint32_t>(p >> 11) << 3, static_cast<uint32_t>((p >> 5) & 63) << 2,
                static_cast<uint32_t>(p & 31) << 3};
    }
    uint32_t p;
    std::memcpy(&p, line + 4 * x, 4);
    return {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
}

// The bytes pixel x of line y must become on a display of `format`.
std::vector<uint8_t> expected_bytes(const ScreenState *s, int format, bool red_low, int x, int y)
{
    Rgb c = source_rgb(s, x, y);
    uint32_t hi = red_low ? c.b : c.r, lo = red_low ? c.r : c.b;
    uint32_t v = 0;
    int n = 0;
    switch (format) {
    case 15: v = ((hi >> 3) << 10) | ((c.g >> 3) << 5) | (lo >> 3); n = 2; break;
    case 16: v = ((hi >> 3) << 11) | ((c.g >> 2) << 5) | (lo >> 3); n = 2; break;
    case 24: v = (hi << 16) | (c.g << 8) | lo; n = 3; break;
    case 32:
        v = (hi << 16) | (c.g << 8) | lo;
        n = 4;
        if (s->bpp == 4 && !red_low)  // a plain copy: the top byte goes through
            std::memcpy(&v, s->framebuffer + static_cast<std::size_t>(y) * s->pitch + 4 * x, 4);
        break;
    }
    std::vector<uint8_t> out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    return out;
}

class BlitTest : public NullScreen {
protected:
    std::mt19937 rng{12345};

    // Random pixels, palette and dirty flags (line 0 always dirty, line 1
    // always clean).
    void randomize()
    {
        ScreenState *s = __rk_gfx;
        for (std::size_t i = 0; i < static_cast<std::size_t>(s->pitch) * s->h; ++i)
            s->framebuffer[i] = static_cast<uint8_t>(rng());
        for (int i = 0; i < 256; ++i)
            s->device_palette[i] = rng() & 0xFFFFFF;
        for (int i = 0; i < s->h * s->scanline_size; ++i)
            s->dirty[i] = rng() & 1;
        s->dirty[0] = 1;
        s->dirty[1] = 0;
    }

    static int bytes_of(int format) { return (format + 7) / 8; }

    // Runs `b` into a display image filled with 0xA5 and returns it.
    static std::vector<uint8_t> run(BlitterFn b, int format, int pad = 8)
    {
        ScreenState *s = __rk_gfx;
        int pitch = s->w * bytes_of(format) + pad;
        std::vector<uint8_t> img(static_cast<std::size_t>(pitch) * s->h * s->scanline_size, 0xA5);
        b(img.data(), pitch);
        return img;
    }

    // Checks every display line of `img` against the model.
    void check(const std::vector<uint8_t> &img, int format, bool red_low)
    {
        ScreenState *s = __rk_gfx;
        int n = bytes_of(format);
        int pitch = s->w * n + 8;
        for (int d = 0; d < s->h * s->scanline_size; ++d) {
            int k = d / s->scanline_size;
            const uint8_t *line = img.data() + static_cast<std::size_t>(d) * pitch;
            for (int x = 0; x < s->w; ++x) {
                std::vector<uint8_t> want = s->dirty[k] ? expected_bytes(s, format, red_low, x, k)
                                                        : std::vector<uint8_t>(static_cast<std::size_t>(n), 0xA5);
                ASSERT_EQ(0, std::memcmp(line + x * n, want.data(), want.size()))
                    << "format " << format << " red_low " << red_low << " line " << d << " x " << x;
            }
            for (int i = s->w * n; i < pitch; ++i)
                ASSERT_EQ(line[i], 0xA5) << "wrote past the line end, line " << d;
        }
    }
};

struct Case {
    int depth, format;
};
const Case kCases[] = {{8, 15}, {8, 16}, {8, 24}, {8, 32}, {16, 15}, {16, 16},
                       {16, 24}, {16, 32}, {32, 15}, {32, 16}, {32, 24}, {32, 32}};

TEST_F(BlitTest, PlainRoutinesFollowThePixelRulesOnOddAndEvenWidths)
{
    for (int w : {37, 64})
        for (const Case &c : kCases)
            for (int red_low : {0, 1}) {
                open(w, 9, c.depth);
                __rk_gfx->flags &= ~SCREEN_HAS_MMX;
                randomize();
                BlitterFn b = rk_hGetBlitter(c.format, red_low);
                ASSERT_NE(b, nullptr);
                check(run(b, c.format), c.format, red_low);
                rk_GfxScreen(0, 0, 0, 0, 0);
            }
}

TEST_F(BlitTest, FastRoutinesEqualThePlainOnes)
{
    for (int w : {4, 12, 28, 800})
        for (const Case &c : kCases)
            for (int red_low : {0, 1}) {
                open(w, 7, c.depth);
                randomize();
                __rk_gfx->flags &= ~SCREEN_HAS_MMX;
                BlitterFn plain = rk_hGetBlitter(c.format, red_low);
                __rk_gfx->flags |= SCREEN_HAS_MMX;
                BlitterFn fast = rk_hGetBlitter(c.format, red_low);
                ASSERT_NE(plain, nullptr);
                ASSERT_NE(fast, nullptr);
                EXPECT_EQ(run(plain, c.format), run(fast, c.format))
                    << "w " << w << " depth " << c.depth << " format " << c.format << " red_low " << red_low;
                if (w == 800 && !(c.depth == 32 && c.format == 32 && !red_low) &&
                    !(c.depth == 16 && c.format == 16 && !red_low)) {
                    EXPECT_NE(plain, fast);
                }
                rk_GfxScreen(0, 0, 0, 0, 0);
            }
}

// Display lines laid out like the framebuffer's take runs of dirty lines
// as one copy: exactly the dirty lines arrive, the clean ones stay.
TEST_F(BlitTest, CopyOfUnpaddedLinesTakesExactlyTheDirtyOnes)
{
    for (int depth : {8, 32}) {
        open(37, 40, depth);
        randomize();
        __rk_gfx->dirty[39] = 1;
        ScreenState *s = __rk_gfx;
        std::vector<uint8_t> img = run(rk_hBlitCopy, depth, 0);
        for (int y = 0; y < s->h; ++y) {
            const uint8_t *line = img.data() + static_cast<std::size_t>(y) * s->pitch;
            if (s->dirty[y])
                ASSERT_EQ(0, std::memcmp(line, s->framebuffer + static_cast<std::size_t>(y) * s->pitch, s->pitch))
                    << y;
            else
                ASSERT_EQ(std::count(line, line + s->pitch, 0xA5), s->pitch) << y;
        }
        rk_GfxScreen(0, 0, 0, 0, 0);
    }
}

TEST_F(BlitTest, FastWideningFollowsAnyTable)
{
    // A table that is neither red layout goes through the table itself.
    open(16, 2, 16);
    randomize();
    rk_hGetBlitter(32, 0);
    for (int i = 0; i < 512; ++i)
        __rk_color_conv_16to32[i] = static_cast<uint32_t>(rng());
    EXPECT_EQ(run(rk_hBlit16to32, 32), run(rk_hBlit16to32MMX, 32));
    EXPECT_EQ(run(rk_hBlit16to24, 24), run(rk_hBlit16to24MMX, 24));
}

TEST_F(BlitTest, NamedPixelValues)
{
    open(4, 1, 32);
    __rk_gfx->dirty[0] = 1;
    uint32_t red = 0xFFFF0000;
    std::memcpy(__rk_gfx->framebuffer, &red, 4);
    std::vector<uint8_t> img = run(rk_hGetBlitter(16, 1), 16);
    EXPECT_EQ(img[0] | img[1] << 8, 0x001F);
    img = run(rk_hGetBlitter(15, 0), 15);
    EXPECT_EQ(img[0] | img[1] << 8, 0x7C00);
    img = run(rk_hGetBlitter(32, 0), 32);
    EXPECT_EQ(img[3], 0xFF);  // the top byte reaches the display unchanged
    rk_GfxScreen(0, 0, 0, 0, 0);

    open(4, 1, 16);
    __rk_gfx->dirty[0] = 1;
    __rk_gfx->framebuffer[0] = __rk_gfx->framebuffer[1] = 0xFF;
    img = run(rk_hGetBlitter(32, 0), 32);
    uint32_t v;
    std::memcpy(&v, img.data(), 4);
    EXPECT_EQ(v, 0x00F8FCF8u);
    rk_GfxScreen(0, 0, 0, 0, 0);

    open(4, 1, 8);
    __rk_gfx->dirty[0] = 1;
    __rk_gfx->framebuffer[0] = 7;
    __rk_gfx->device_palette[7] = 0x00FF0000;
    img = run(rk_hGetBlitter(24, 0), 24);
    EXPECT_EQ(img[0], 0xFF);
    EXPECT_EQ(img[1], 0x00);
    EXPECT_EQ(img[2], 0x00);
}

TEST_F(BlitTest, Selection)
{
    open(800, 4, 32);
    __rk_gfx->flags |= SCREEN_HAS_MMX;
    EXPECT_EQ(rk_hGetBlitter(32, 0), rk_hBlitCopy);
    EXPECT_EQ(rk_hGetBlitter(24, 1), rk_hBlit32to24RGBMMX);
    EXPECT_EQ(rk_hGetBlitter(16, 0), rk_hBlit32to16BGRMMX);
    EXPECT_EQ(rk_hGetBlitter(8, 0), nullptr);  // no true colour on an 8-bit display
    EXPECT_EQ(rk_hGetBlitter(12, 0), nullptr);
    __rk_gfx->flags &= ~SCREEN_HAS_MMX;
    EXPECT_EQ(rk_hGetBlitter(24, 1), rk_hBlit32to24RGB);
    rk_GfxScreen(0, 0, 0, 0, 0);

    open(802, 4, 32);
    __rk_gfx->flags |= SCREEN_HAS_MMX;
    EXPECT_EQ(rk_hGetBlitter(16, 1), rk_hBlit32to16RGB);
    rk_GfxScreen(0, 0, 0, 0, 0);

    open(64, 4, 16);
    EXPECT_EQ(rk_hGetBlitter(8, 0), nullptr);
    rk_GfxScreen(0, 0, 0, 0, 0);

    open(64, 4, 8);
    EXPECT_EQ(rk_hGetBlitter(8, 1), rk_hBlitCopy);
    __rk_gfx->depth = 0;
    EXPECT_EQ(rk_hGetBlitter(32, 0), nullptr);
    rk_GfxScreen(0, 0, 0, 0, 0);

    EXPECT_EQ(rk_hGetBlitter(32, 0), nullptr);  // no screen
}

TEST_F(BlitTest, DoubleScanFillsBothDisplayLines)
{
    // 640 x 200 with 16 colours, every line shown twice.
    rk_GfxScreen(8, 0, 0, 0, 0);
    ASSERT_NE(__rk_gfx, nullptr);
    ASSERT_EQ(__rk_gfx->scanline_size, 2);
    __rk_gfx->flags |= SCREEN_HAS_MMX;
    randomize();
    for (int format : {15, 16, 24, 32}) {
        BlitterFn b = rk_hGetBlitter(format, 0);
        EXPECT_EQ(b, rk_hGetBlitter(format, 0));
        check(run(b, format), format, false);
    }
    std::vector<uint8_t> img = run(rk_hGetBlitter(8, 0), 8, 0);
    for (int d = 0; d < 400; ++d)
        if (__rk_gfx->dirty[d / 2]) {
            ASSERT_EQ(0, std::memcmp(img.data() + d * 640, __rk_gfx->framebuffer + (d / 2) * 640, 640));
        }
}

// Each pixel of a dirty display line becomes factor x factor pixels; clean
// lines and the bytes past each line stay. Widths that end in a partial
// shuffle period, and a double-scan screen, whose display lines follow
// their framebuffer line's flag.
TEST_F(BlitTest, ScalingReplicatesEachPixelOfTheDirtyLines)
{
    auto check_scaling = [&](int bytes, int f) {
        ScreenState *s = __rk_gfx;
        int lines = s->h * s->scanline_size, src_pitch = s->w * bytes + 3, pitch = s->w * f * bytes + 8;
        std::vector<uint8_t> src(static_cast<std::size_t>(src_pitch) * lines);
        for (uint8_t &b : src)
            b = static_cast<uint8_t>(rng());
        for (auto scale : {rk_hBlitScale, rk_hBlitScaleSSSE3, rk_hBlitScalePlain}) {
            std::vector<uint8_t> img(static_cast<std::size_t>(pitch) * lines * f, 0xA5);
            scale(img.data(), pitch, src.data(), src_pitch, bytes, f);
            for (int y = 0; y < lines * f; ++y)
                for (int x = 0; x < pitch; ++x) {
                    int d = y / f, from = x / bytes / f * bytes + x % bytes;
                    bool shown = s->dirty[d / s->scanline_size] && x < s->w * f * bytes;
                    ASSERT_EQ(img[static_cast<std::size_t>(y) * pitch + x],
                              shown ? src[static_cast<std::size_t>(d) * src_pitch + from] : 0xA5)
                        << "bytes " << bytes << " factor " << f << " w " << s->w << " at " << x << "," << y
                        << (scale == rk_hBlitScale ? " fast" : scale == rk_hBlitScaleSSSE3 ? " ssse3" : " plain");
                }
        }
    };
    for (int w : {1, 5, 37, 64}) {
        open(w, 6, 8);
        randomize();
        for (int bytes = 1; bytes <= 4; ++bytes)
            for (int f = 2; f <= 4; ++f)
                check_scaling(bytes, f);
        rk_GfxScreen(0, 0, 0, 0, 0);
    }
    rk_GfxScreen(8, 0, 0, 0, 0);
    ASSERT_EQ(__rk_gfx->scanline_size, 2);
    randomize();
    check_scaling(4, 2);
}

// Converted and replicated a band of lines at a time, a scaled window holds
// what converting the whole frame and replicating it gives, on screens of
// many bands and a last partial one, fast and plain blitters, single and
// double scan; a blitter called afterwards converts every line again.
TEST_F(BlitTest, ScaledConversionInBandsEqualsTheWholeFrame)
{
    struct Screen {
        int w, h, depth, mode, format;  // mode: a numbered screen mode instead of w x h
    };
    for (const Screen &c : {Screen{800, 203, 8, 0, 32}, Screen{800, 203, 16, 0, 24}, Screen{640, 203, 32, 0, 16},
                            Screen{0, 0, 8, 8, 32}}) {
        if (c.mode)
            rk_GfxScreen(c.mode, 0, 0, 0, 0);
        else
            open(c.w, c.h, c.depth);
        ScreenState *s = __rk_gfx;
        ASSERT_NE(s, nullptr);
        s->flags |= SCREEN_HAS_MMX;
        randomize();
        const BlitterFn b = rk_hGetBlitter(c.format, 0);
        ASSERT_TRUE(rk_hBlitScaledStages(b));
        const int n = bytes_of(c.format), f = 2, lines = s->h * s->scanline_size;
        const int staging_pitch = s->w * n, pitch = staging_pitch * f;
        const std::vector<uint8_t> whole = run(b, c.format, 0);
        std::vector<uint8_t> want(static_cast<std::size_t>(pitch) * lines * f, 0xA5), got(want),
            staging(whole.size());
        rk_hBlitScalePlain(want.data(), pitch, whole.data(), staging_pitch, n, f);
        rk_hBlitScaled(b, got.data(), pitch, staging.data(), staging_pitch, n, f);
        EXPECT_TRUE(got == want) << "depth " << c.depth << " to " << c.format;
        EXPECT_TRUE(run(b, c.format, 0) == whole) << "depth " << c.depth << " to " << c.format;
        rk_GfxScreen(0, 0, 0, 0, 0);
    }
}

}  // namespace
