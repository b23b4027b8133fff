// libFuzzer target: the input is a program of drawing calls (lines, boxes,
// ellipses and arcs, flood fills, puts, strings, views, clears) with raw
// 32-bit arguments, so NaN, infinities and huge coordinates all occur. The
// targets are the screen, images made by the layer, and hand-built images
// with arbitrary headers placed between guard bytes in buffers exactly as
// large as their headers claim.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/draw/clear.h"
#include "gfx/draw/ellipse.h"
#include "gfx/draw/line.h"
#include "gfx/draw/paint.h"
#include "gfx/draw/put.h"
#include "gfx/draw/text.h"
#include "gfx/drivers/driver.h"
#include "rt/str.h"

namespace {

class Input {
public:
    Input(const uint8_t *data, std::size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    uint32_t word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(byte()) << (8 * i);
        return v;
    }
    // Mostly small coordinates, sometimes any float at all.
    float coord()
    {
        uint8_t kind = byte();
        if (kind < 200)
            return static_cast<float>(static_cast<int8_t>(byte())) * (kind & 1 ? 1.0f : 0.5f);
        return std::bit_cast<float>(word());
    }
    int small_int()
    {
        uint8_t kind = byte();
        if (kind < 200)
            return static_cast<int8_t>(byte());
        return static_cast<int>(word());
    }
    std::vector<uint8_t> bytes(std::size_t max)
    {
        std::size_t n = std::min<std::size_t>(byte() % (max + 1), static_cast<std::size_t>(end_ - p_));
        std::vector<uint8_t> v(p_, p_ + n);
        p_ += n;
        return v;
    }

private:
    const uint8_t *p_, *end_;
};

constexpr std::size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0x5C;

// A hand-built image: an arbitrary header in a buffer of the size that the
// header describes (when it describes a sane one), between guards.
struct HandImage {
    std::vector<uint8_t> block;
    std::size_t bytes = 0;
    uint8_t *image() { return block.data() + kGuard; }
    bool intact() const
    {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (block[i] != kGuardByte || block[kGuard + bytes + i] != kGuardByte)
                return false;
        return true;
    }
};

HandImage make_hand_image(Input &in)
{
    HandImage h;
    uint8_t header[32] = {};
    std::size_t claimed;
    if (in.byte() & 1) {
        // 32-byte header with small fields, any of which may be wrong.
        uint32_t bpp = in.byte() % 6, w = in.byte() % 40, hgt = in.byte() % 40, pitch = in.byte() % 200;
        uint32_t fields[5] = {RK_IMAGE_TYPE, bpp, w, hgt, pitch};
        std::memcpy(header, fields, sizeof fields);
        claimed = 32 + static_cast<std::size_t>(pitch) * hgt;
    } else {
        header[0] = in.byte();
        header[1] = in.byte() % 4;
        header[2] = in.byte() % 40;
        header[3] = 0;
        int bpp = header[0] & 7;
        int w = (header[0] >> 3) | (header[1] << 5);
        // The buffer holds what its own pixel size describes; one that
        // leaves it open is read with the target's, so it gets room for the
        // largest.
        claimed = 4 + static_cast<std::size_t>(w) * (bpp ? bpp : 4) * header[2];
    }
    h.bytes = claimed;
    h.block.assign(claimed + 2 * kGuard, kGuardByte);
    std::memcpy(h.image(), header, std::min<std::size_t>(claimed, 32));
    std::vector<uint8_t> pixels = in.bytes(64);
    for (std::size_t i = 0; i + 32 < claimed && i < pixels.size(); ++i)
        h.image()[32 + i] = pixels[i];
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static int depth;
    if (!depth)
        __rk_gfx_driver_name = "null";
    Input in(data, size);
    const uint8_t pick_depth = in.byte();
    const int want = pick_depth % 3 == 0 ? 8 : pick_depth % 3 == 1 ? 16 : 32;
    const int flags = (in.byte() & 1) ? RK_MODE_ALPHA_PRIMITIVES : 0;
    if (want != depth || !__rk_gfx || (static_cast<int>(__rk_gfx->flags & SCREEN_ALPHA_PRIMITIVES) != 0) != (flags != 0)) {
        if (rk_GfxScreenRes(64, 48, want, 2, flags, 0) != 0)
            std::abort();
        depth = want;
    }
    rk_GfxView(RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, RK_VIEW_OMITTED, 0, 0,
               RK_FLAG_NO_COLOR | RK_FLAG_NO_COLOR2);

    static const int depths[] = {0, 8, 16, 32, 12, 24};
    std::vector<void *> made;
    for (int i = 0, n = 1 + in.byte() % 3; i < n; ++i) {
        int w = 1 + in.byte() % 40, h = 1 + in.byte() % 40, d = depths[in.byte() % 6];
        bool current = in.byte() & 1;
        if (void *img = gfx_imagecreate(w, h, in.word(), d, in.byte() & 1 ? RK_FLAG_NO_COLOR : 0, current))
            made.push_back(img);
    }
    std::vector<HandImage> hand;
    for (int i = 0, n = in.byte() % 3; i < n; ++i)
        hand.push_back(make_hand_image(in));

    auto pick = [&]() -> void * {
        uint8_t k = in.byte() % 8;
        if (k < 3 || (made.empty() && hand.empty()))
            return nullptr;
        if (k < 6 && !made.empty())
            return made[k % made.size()];
        return hand.empty() ? made[k % made.size()] : hand[k % hand.size()].image();
    };

    for (int steps = 0; steps < 24 && !in.empty(); ++steps) {
        switch (in.byte() % 8) {
        case 0: {
            void *t = pick();
            float x1 = in.coord(), y1 = in.coord(), x2 = in.coord(), y2 = in.coord();
            uint32_t color = in.word();
            int kind = static_cast<int>(in.byte() % 4) - 1;
            uint32_t style = in.word();
            uint32_t fl = in.word();
            rk_GfxLine(t, x1, y1, x2, y2, color, kind, style, fl);
            break;
        }
        case 1: {
            void *t = pick();
            float x = in.coord(), y = in.coord(), r = in.coord(), aspect = in.coord();
            float start = 0, end = RK_ELLIPSE_FULL;
            if (in.byte() & 1) {
                start = in.coord();
                end = in.coord();
            }
            uint32_t color = in.word();
            int fill = in.byte() & 1;
            rk_GfxEllipse(t, x, y, r, color, aspect, start, end, fill, in.word());
            break;
        }
        case 2: {
            void *t = pick();
            float x = in.coord(), y = in.coord();
            uint32_t fill = in.word(), border = in.word();
            std::vector<uint8_t> tile = in.bytes(255);
            RkString *s = (in.byte() & 1) ? rk_StrAllocTempBytes(reinterpret_cast<const char *>(tile.data()),
                                                                 tile.size())
                                          : nullptr;
            int mode = in.byte() % 3;
            rk_GfxPaint(t, x, y, fill, border, s, mode, in.word());
            break;
        }
        case 3: {
            void *t = pick();
            void *src = pick();
            float x = in.coord(), y = in.coord();
            int sx1 = (in.byte() & 1) ? RK_NO_RECT : in.small_int();
            int sy1 = in.small_int(), sx2 = in.small_int(), sy2 = in.small_int();
            int coord_mode = in.byte() % 5;
            int mode = (in.byte() & 1) ? RK_PUT_ALPHA : 0;
            BlenderFn blender = (in.byte() % 4) ? rk_hPutTrans : nullptr;
            rk_GfxPut(t, x, y, src ? src : made.empty() ? nullptr : made[0], sx1, sy1, sx2, sy2, coord_mode, mode,
                      blender, in.word(), 0, nullptr);
            break;
        }
        case 4: {
            void *t = pick();
            float x = in.coord(), y = in.coord();
            uint32_t fl = in.word();
            std::vector<uint8_t> text = in.bytes(40);
            RkString *s = rk_StrAllocTempBytes(reinterpret_cast<const char *>(text.data()), text.size());
            uint32_t color = in.word();
            const void *font = (in.byte() & 1) ? pick() : nullptr;
            int mode = (in.byte() & 1) ? RK_PUT_ALPHA : 0;
            BlenderFn blender = (in.byte() % 4) ? rk_hPutTrans : nullptr;
            rk_GfxDrawString(t, x, y, fl, s, color, font, mode, blender, in.word(), nullptr);
            break;
        }
        case 5: {
            int x1 = in.small_int(), y1 = in.small_int(), x2 = in.small_int(), y2 = in.small_int();
            if (in.byte() & 1)
                x1 = y1 = x2 = y2 = RK_VIEW_OMITTED;
            uint32_t fill = in.word(), border = in.word();
            rk_GfxView(x1, y1, x2, y2, fill, border, in.word());
            break;
        }
        case 6:
            rk_GfxClear(in.byte() & 1 ? static_cast<int>(0xFFFF0000u) : in.byte() % 4);
            break;
        default:
            rk_GfxPageSet(in.byte() % 3, in.byte() % 3);
            break;
        }
        for (auto &h : hand)
            if (!h.intact())
                std::abort();
    }
    for (void *img : made)
        rk_GfxImageDestroy(img);
    // Leave the screen as the target: the hand-built images are gone.
    rk_hPrepareTarget(rk_hGetContext(), nullptr);
    return 0;
}
