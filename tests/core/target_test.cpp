#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "gfx/core/pixel.h"
#include "gfx/core/target.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"
#include "rt/rt.h"
#include "rt/str.h"
#include "support/fail_alloc.h"
#include "support/screen_fixture.h"

using Targets = NullScreen;

static const ImageHeader *header(const void *img)
{
    return static_cast<const ImageHeader *>(img);
}

static uint32_t image_pixel4(const void *img, int x, int y)
{
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t *>(img) + 32 + y * header(img)->pitch + 4 * x, 4);
    return v;
}

TEST_F(Targets, CanvasImageOfThePaintProgram)
{
    open(800, 600, 32);
    void *img = rk_GfxImageCreate(719, 553, 0, 0, RK_FLAG_NO_COLOR);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(img) % 16, 0u);
    EXPECT_EQ(header(img)->type, 7u);
    EXPECT_EQ(header(img)->bpp, 4u);
    EXPECT_EQ(header(img)->width, 719u);
    EXPECT_EQ(header(img)->height, 553u);
    EXPECT_EQ(header(img)->pitch, 2880u);
    // Every pixel, the row padding included, holds the transparent colour.
    for (int y = 0; y < 553; ++y)
        for (int x = 0; x < 720; ++x)
            ASSERT_EQ(image_pixel4(img, x, y), 0xFFFF00FFu) << x << "," << y;
    // The new image stays the current target, with a view of its own size.
    DrawContext *ctx = rk_hGetContext();
    EXPECT_EQ(ctx->last_target, img);
    EXPECT_EQ(ctx->view_w, 719);
    EXPECT_EQ(ctx->view_h, 553);
    rk_GfxImageDestroy(img);
}

TEST_F(Targets, ImagePitchDepthAndColour)
{
    open(64, 64, 32);
    void *a = rk_GfxImageCreate(21, 20, 0x123456, 0, 0);
    EXPECT_EQ(header(a)->pitch, 96u);
    EXPECT_EQ(image_pixel4(a, 20, 19), 0x123456u);
    void *b = rk_GfxImageCreate(21, 20, 7, 8, 0);
    EXPECT_EQ(header(b)->pitch, 32u);
    EXPECT_EQ(header(b)->bpp, 1u);
    EXPECT_EQ(rk_GfxImageCreate(4, 4, 0, 24, 0), nullptr);
    EXPECT_EQ(rk_GfxImageCreate(4, 4, 0, 33, 0), nullptr);
    void *c = rk_GfxImageCreate(3, 2, 0xFF0000, 12, 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(header(c)->bpp, 2u);
    uint16_t px;
    std::memcpy(&px, static_cast<uint8_t *>(c) + 32 + 16 + 2, 2);
    EXPECT_EQ(px, 0xF800u);
    EXPECT_EQ(rk_GfxImageCreate(0, 5, 0, 0, 0), nullptr);
    EXPECT_EQ(rk_GfxImageCreate(5, -1, 0, 0, 0), nullptr);
    for (void *img : {a, b, c})
        rk_GfxImageDestroy(img);
}

TEST(TargetsWithoutScreen, ImageCreationNeedsAScreen)
{
    EXPECT_EQ(rk_GfxImageCreate(4, 4, 0, 32, 0), nullptr);
}

TEST_F(Targets, OverflowingImageSizesFailWithoutWriting)
{
    open(16, 16, 32);
    int max = std::numeric_limits<int>::max();
    EXPECT_EQ(rk_GfxImageCreate(max, max, 0, 32, 0), nullptr);
    EXPECT_EQ(rk_GfxImageCreate(max / 2, 2, 0, 32, 0), nullptr);
    // Far too large to allocate, though its size fits the address space.
    EXPECT_EQ(rk_GfxImageCreate(0x1FFFFFFF, 0x7FFFFFFF, 0, 8, 0), nullptr);
    // The compact header cannot describe more than 8191 x 65535.
    EXPECT_EQ(gfx_imagecreate(8192, 1, 0, 32, 0, false), nullptr);
    EXPECT_EQ(gfx_imagecreate(1, 65536, 0, 32, 0, false), nullptr);
}

TEST_F(Targets, CompactImagesTakeTheScreenPixelSize)
{
    open(64, 64, 8);
    // Leave 4-byte routines selected by a 32-bit image first.
    void *wide = rk_GfxImageCreate(4, 4, 0, 32, 0);
    auto *img = static_cast<uint8_t *>(gfx_imagecreate(300, 3, 0x5A, 32, 0, false));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img[0], static_cast<uint8_t>(4 | (300 << 3)));
    EXPECT_EQ(img[1], 300 >> 5);
    EXPECT_EQ(img[2], 3);
    EXPECT_EQ(img[3], 0);
    ImageGeometry g;
    ASSERT_TRUE(rk_hImageGeometry(img, &g));
    EXPECT_EQ(g.width, 300);
    EXPECT_EQ(g.height, 3);
    EXPECT_EQ(g.bpp, 1);  // the screen's, whatever the header says
    DrawContext *ctx = rk_hGetContext();
    rk_hPrepareTarget(ctx, img);
    EXPECT_EQ(ctx->target_bpp, 1);
    EXPECT_EQ(ctx->target_pitch, 300);
    // The pixel writer matches the target's size, so the last pixel of the
    // last row stays inside the buffer.
    ctx->put_pixel = rk_hPutPixelSolid;
    ctx->put_pixel(ctx, 299, 2, 0x77);
    EXPECT_EQ(img[4 + 2 * 300 + 299], 0x77);
    rk_GfxImageDestroy(img);
    rk_GfxImageDestroy(wide);
}

// Rows of a compact image are drawn with the screen's pixel size. An image
// made with fewer bytes per pixel has no room for such rows, and one whose
// header claims impossible geometry has no room for what it claims: neither
// is drawn into.
TEST_F(Targets, ImagesTooSmallForTheirRowsAreNotDrawnInto)
{
    open(64, 64, 32);
    auto *narrow = static_cast<uint8_t *>(gfx_imagecreate(8, 8, 0x11, 8, 0, false));
    ASSERT_NE(narrow, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(narrow[4 + i], 0x11) << i;
    rk_GfxLine(narrow, 0, 0, 7, 7, 0x22, RK_LINE_FILLED_BOX, 0xFFFF, 0);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(narrow[4 + i], 0x11) << i;
    ImageGeometry g;
    EXPECT_FALSE(rk_hImageGeometry(narrow, &g));
    rk_GfxImageDestroy(narrow);

    // 32-byte headers: a pixel size of 3, and rows longer than the pitch.
    alignas(16) uint8_t buffer[32 + 4 * 16] = {};
    const uint32_t bad[][5] = {{7, 3, 4, 4, 16}, {7, 4, 16, 4, 16}, {7, 4, 4, 0x80000000u, 16}};
    for (const auto &fields : bad) {
        std::memset(buffer, 0, sizeof buffer);
        std::memcpy(buffer, fields, sizeof fields);
        EXPECT_FALSE(rk_hImageGeometry(buffer, &g)) << fields[1] << " " << fields[2];
        rk_GfxLine(buffer, 0, 0, 15, 3, 0xFFFFFFFF, RK_LINE_FILLED_BOX, 0xFFFF, 0);
        for (std::size_t i = 32; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0) << i;
    }
    rk_hPrepareTarget(rk_hGetContext(), nullptr);
}

TEST_F(Targets, DestroyedTargetIsForgotten)
{
    open(100, 80, 32);
    DrawContext *ctx = rk_hGetContext();
    void *img = rk_GfxImageCreate(10, 5, 0, 0, 0);
    EXPECT_EQ(ctx->view_w, 10);
    rk_GfxImageDestroy(img);
    EXPECT_EQ(ctx->last_target, nullptr);
    EXPECT_EQ(ctx->view_w, 100);
    EXPECT_EQ(ctx->view_h, 80);
    // A new image prepared afterwards gets its own geometry even if it
    // reuses the address.
    void *again = rk_GfxImageCreate(20, 7, 0, 0, 0);
    rk_hPrepareTarget(ctx, again);
    EXPECT_EQ(ctx->view_w, 20);
    EXPECT_EQ(ctx->view_h, 7);
    rk_GfxImageDestroy(again);
}

// An image taller than the screen needs a longer row table. When it cannot
// grow, the image is not made the target: the operation reports error 4 and
// draws nothing, the screen stays the target with its view, and the next
// operation on the image tries again.
TEST_F(Targets, ARowTableThatCannotGrowLeavesTheTargetAlone)
{
    open(64, 48, 32);
    DrawContext *ctx = rk_hGetContext();
    rk_GfxView(2, 3, 40, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    auto expect_screen_target = [&](const char *what) {
        EXPECT_EQ(ctx->last_target, nullptr) << what;
        EXPECT_EQ(ctx->view_x, 2) << what;
        EXPECT_EQ(ctx->view_h, 28) << what;
    };
    // Creation: the image, then the row table.
    fail_alloc::arm(2);
    EXPECT_EQ(rk_GfxImageCreate(16, 100, 0, 0, 0), nullptr);
    fail_alloc::disarm();
    EXPECT_EQ(fail_alloc::failed(), 1);
    EXPECT_EQ(fail_alloc::live(), 0);
    expect_screen_target("create");

    void *tall = rk_GfxImageCreate(16, 100, 0x000000, 0, 0);
    void *dot = rk_GfxImageCreate(2, 2, 0xFFFFFF, 0, 0);
    ASSERT_NE(tall, nullptr);
    ASSERT_NE(dot, nullptr);
    // Each operation covers pixel (8, 90); `text` is made before the
    // allocations are counted, and released by every operation.
    using Draw = void (*)(void *image, void *dot, RkString *text);
    const std::pair<const char *, Draw> ops[] = {
        {"line", [](void *i, void *, RkString *t) {
             rk_hStrDelTemp(t);
             rk_GfxLine(i, 0, 90, 15, 90, 0xFFFFFF, RK_LINE, 0xFFFF, 0);
         }},
        {"ellipse", [](void *i, void *, RkString *t) {
             rk_hStrDelTemp(t);
             rk_GfxEllipse(i, 8, 90, 3, 0xFFFFFF, 0, 0, RK_ELLIPSE_FULL, 1, 0);
         }},
        {"paint", [](void *i, void *, RkString *t) { rk_GfxPaint(i, 8, 90, 0xFFFFFF, 0xFFFFFF, t, 0, 0); }},
        {"put", [](void *i, void *d, RkString *t) {
             rk_hStrDelTemp(t);
             rk_GfxPut(i, 8, 90, d, RK_NO_RECT, 0, 0, 0, 0, 0, rk_hPutTrans, 0, 0, nullptr);
         }},
        {"text", [](void *i, void *, RkString *t) { rk_GfxDrawString(i, 8, 88, 0, t, 0xFFFFFF, nullptr, 0, nullptr, 0, nullptr); }},
    };
    const std::size_t bytes = 32 + 64 * 100;
    for (const auto &[what, draw] : ops) {
        // A new screen starts with a row table of its own height.
        open(64, 48, 32);
        rk_GfxView(2, 3, 40, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
        std::memset(static_cast<uint8_t *>(tall) + 32, 0, 64 * 100);
        const std::vector<uint8_t> before(static_cast<uint8_t *>(tall), static_cast<uint8_t *>(tall) + bytes);
        rk_ErrorSetNum(0);
        RkString *text = rk_StrAllocTempDesc("\xDB");
        fail_alloc::arm(1);
        draw(tall, dot, text);
        fail_alloc::disarm();
        EXPECT_EQ(fail_alloc::failed(), 1) << what;
        EXPECT_EQ(rk_ErrorGetNum(), 4) << what;
        EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t *>(tall), static_cast<uint8_t *>(tall) + bytes), before)
            << what;
        expect_screen_target(what);
        draw(tall, dot, rk_StrAllocTempDesc("\xDB"));
        EXPECT_EQ(image_pixel4(tall, 8, 90) & 0xFFFFFF, 0xFFFFFFu) << what;
        EXPECT_EQ(__rk_gfx->lock_count, 0) << what;
    }
    rk_GfxImageDestroy(tall);
    rk_GfxImageDestroy(dot);
}

TEST(Coordinates, RoundHalfAwayFromZeroAndSaturate)
{
    EXPECT_EQ(rk_hRoundCoord(2.5f), 3);
    EXPECT_EQ(rk_hRoundCoord(-2.5f), -3);
    EXPECT_EQ(rk_hRoundCoord(-0.4f), 0);
    EXPECT_EQ(rk_hRoundCoord(0.4f), 0);
    EXPECT_EQ(rk_hRoundCoord(0.49999997f), 0);
    EXPECT_EQ(rk_hRoundCoord(std::nanf("")), 0);
    EXPECT_EQ(rk_hRoundCoord(INFINITY), std::numeric_limits<int>::max());
    EXPECT_EQ(rk_hRoundCoord(-INFINITY), std::numeric_limits<int>::min());
    EXPECT_EQ(rk_hRoundCoord(3e9f), std::numeric_limits<int>::max());
}

TEST_F(Targets, RelativeModesAndViewOrigin)
{
    open(64, 64, 32);
    DrawContext *ctx = rk_hGetContext();
    ctx->last_x = 10;
    ctx->last_y = 20;
    float x = 1, y = 1;
    rk_hFixRelative(ctx, 5, &x, &y, nullptr, nullptr);
    EXPECT_FLOAT_EQ(x, 11);
    EXPECT_FLOAT_EQ(y, 21);
    EXPECT_FLOAT_EQ(ctx->last_x, 11);
    EXPECT_FLOAT_EQ(ctx->last_y, 21);

    float x1 = 1, y1 = 2, x2 = 3, y2 = 4;
    rk_hFixRelative(ctx, 3, &x1, &y1, &x2, &y2);
    EXPECT_FLOAT_EQ(x1, 12);
    EXPECT_FLOAT_EQ(y1, 23);
    EXPECT_FLOAT_EQ(x2, 15);
    EXPECT_FLOAT_EQ(y2, 27);
    EXPECT_FLOAT_EQ(ctx->last_x, 15);
    x1 = 1, y1 = 2, x2 = 3, y2 = 4;
    rk_hFixRelative(ctx, 1, &x1, &y1, &x2, &y2);
    EXPECT_FLOAT_EQ(x2, 4);
    EXPECT_FLOAT_EQ(y2, 6);
    x1 = 1, y1 = 2, x2 = 3, y2 = 4;
    rk_hFixRelative(ctx, 6, &x1, &y1, &x2, &y2);
    EXPECT_FLOAT_EQ(x1, 1);
    EXPECT_FLOAT_EQ(x2, 3);

    // A view offsets coordinates, unless it was set in screen mode; huge
    // values saturate instead of overflowing.
    rk_GfxView(10, 5, 40, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    int ix, iy;
    rk_hTranslateCoord(ctx, 2.5f, -0.4f, &ix, &iy);
    EXPECT_EQ(ix, 13);
    EXPECT_EQ(iy, 5);
    rk_hTranslateCoord(ctx, 3e9f, std::nanf(""), &ix, &iy);
    EXPECT_EQ(ix, std::numeric_limits<int>::max());
    EXPECT_EQ(iy, 5);
    rk_GfxView(10, 5, 40, 30, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2 | 1);
    rk_hTranslateCoord(ctx, 2, 3, &ix, &iy);
    EXPECT_EQ(ix, 2);
    EXPECT_EQ(iy, 3);

    int a = 5, b = 9, c = 1, d = 2;
    rk_hFixCoordsOrder(&a, &b, &c, &d);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(c, 5);
    EXPECT_EQ(d, 9);
}

TEST_F(Targets, ViewClipsToTheScreenAndResets)
{
    open(64, 48, 32);
    DrawContext *ctx = rk_hGetContext();
    rk_GfxView(50, 40, 10, 20, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    EXPECT_EQ(ctx->view_x, 10);
    EXPECT_EQ(ctx->view_y, 20);
    EXPECT_EQ(ctx->view_w, 41);
    EXPECT_EQ(ctx->view_h, 21);
    EXPECT_TRUE(ctx->flags & CTX_VIEW_SET);
    // Corners off the screen keep the view inside it and inside the corners.
    rk_GfxView(-10, -5, 20, 100, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    EXPECT_EQ(ctx->view_x, 0);
    EXPECT_EQ(ctx->view_y, 0);
    EXPECT_EQ(ctx->view_w, 21);
    EXPECT_EQ(ctx->view_h, 48);
    rk_GfxView(RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, 0, 0,
               RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    EXPECT_EQ(ctx->view_x, 0);
    EXPECT_EQ(ctx->view_w, 64);
    EXPECT_EQ(ctx->view_h, 48);
    EXPECT_FALSE(ctx->flags & CTX_VIEW_SET);
    // Preparing an image and the screen again keeps the screen's view.
    rk_GfxView(1, 2, 3, 4, 0, 0, RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);
    void *img = rk_GfxImageCreate(5, 5, 0, 0, 0);
    rk_hPrepareTarget(ctx, nullptr);
    EXPECT_EQ(ctx->view_x, 1);
    EXPECT_EQ(ctx->view_w, 3);
    rk_GfxImageDestroy(img);
}

TEST_F(Targets, ViewBorderAndFill)
{
    open(16, 16, 32);
    rk_GfxView(4, 4, 7, 6, 0x00FF00, 0xFF0000, 0);
    EXPECT_EQ(pixel(3, 3), 0xFF0000u);  // border corner
    EXPECT_EQ(pixel(8, 7), 0xFF0000u);
    EXPECT_EQ(pixel(5, 7), 0xFF0000u);
    EXPECT_EQ(pixel(4, 4), 0x00FF00u);  // filled view
    EXPECT_EQ(pixel(7, 6), 0x00FF00u);
    EXPECT_EQ(pixel(9, 9), 0xFF000000u);
    EXPECT_EQ(pixel(2, 2), 0xFF000000u);
    // The background colour is back to what it was.
    EXPECT_EQ(rk_hGetContext()->bg_color, 0xFF000000u);
}

TEST_F(Targets, PalettePortSequence)
{
    ASSERT_EQ(rk_GfxScreen(13, 0, 0, 0, 0), 0);
    EXPECT_EQ(rk_GfxOut(0x3C8, 1), 0);
    EXPECT_EQ(rk_GfxOut(0x3C9, 63), 0);
    EXPECT_EQ(rk_GfxOut(0x3C9, 0), 0);
    EXPECT_EQ(rk_GfxOut(0x3C9, 0), 0);
    EXPECT_EQ(__rk_gfx->device_palette[1], 0x0000FFu);
    // The index moved on to 2.
    rk_GfxOut(0x3C9, 0);
    rk_GfxOut(0x3C9, 0);
    rk_GfxOut(0x3C9, 63);
    EXPECT_EQ(__rk_gfx->device_palette[2], 0xFF0000u);
    // Reading back gives 6-bit components in order.
    rk_GfxOut(0x3C7, 1);
    EXPECT_EQ(rk_GfxIn(0x3C9), 63);
    EXPECT_EQ(rk_GfxIn(0x3C9), 0);
    EXPECT_EQ(rk_GfxIn(0x3C9), 0);
    EXPECT_EQ(rk_GfxIn(0x3C9), 0);  // entry 2 red
    EXPECT_EQ(rk_GfxIn(0x3DA), 8);
    EXPECT_EQ(rk_GfxIn(0x60), -1);
    EXPECT_EQ(rk_GfxOut(0x60, 1), -1);

    // In the 16-colour modes the written colour goes to the associated attributes.
    ASSERT_EQ(rk_GfxScreen(7, 0, 0, 0, 0), 0);
    rk_GfxOut(0x3C8, 4);
    rk_GfxOut(0x3C9, 10);
    rk_GfxOut(0x3C9, 20);
    rk_GfxOut(0x3C9, 30);
    EXPECT_EQ(__rk_gfx->device_palette[4], (30u << 18) | (20u << 10) | (10u << 2));

    // Modes without an association table show attribute i in colour i.
    ASSERT_EQ(rk_GfxScreen(11, 0, 0, 0, 0), 0);
    rk_GfxOut(0x3C8, 1);
    rk_GfxOut(0x3C9, 63);
    rk_GfxOut(0x3C9, 63);
    rk_GfxOut(0x3C9, 0);
    EXPECT_EQ(__rk_gfx->device_palette[1], 0x00FCFCu);
    EXPECT_EQ(__rk_gfx->device_palette[0], 0u);

    open(16, 16, 32);
    EXPECT_EQ(rk_GfxOut(0x3C8, 1), -1);
}
