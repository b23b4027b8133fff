#include "gfx/image/bsave.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string.h>  // memrchr

#include "gfx/core/mem.h"
#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/image/imagefile.h"
#include "gfx/image/png.h"
#include "rt/rt.h"
#include "rt/str.h"

// The picture a bitmap save reads.
struct SaveSource {
    uint64_t width, height;
    const uint8_t *rows;
    int bpp;
    uint64_t stride;
};

static void put16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

static void put32(uint8_t *p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

enum SaveFormat { SAVE_RAW, SAVE_BMP, SAVE_PNG };

// The last "." of the whole name, followed by "bmp" or "png" in any case.
static SaveFormat name_format(const RkString *name)
{
    if (!name || !name->data || name->len <= 0)
        return SAVE_RAW;
    const char *dot = static_cast<const char *>(memrchr(name->data, '.', static_cast<std::size_t>(name->len)));
    if (!dot || name->data + name->len - (dot + 1) != 3)
        return SAVE_RAW;
    const char ext[3] = {static_cast<char>(dot[1] | 0x20), static_cast<char>(dot[2] | 0x20),
                         static_cast<char>(dot[3] | 0x20)};
    return std::memcmp(ext, "bmp", 3) == 0 ? SAVE_BMP : std::memcmp(ext, "png", 3) == 0 ? SAVE_PNG : SAVE_RAW;
}

static int describe_source(const void *source, SaveSource *src)
{
    ScreenState *s = __rk_gfx;
    if (!source) {
        if (!s)
            return RK_ERR_STATE;
        src->width = static_cast<uint64_t>(s->w);
        src->height = static_cast<uint64_t>(s->h);
        src->rows = s->page[rk_hGetContext()->work_page];
        src->bpp = s->bpp;
        src->stride = static_cast<uint64_t>(s->pitch);
        return RK_OK;
    }
    ImageBufferInfo info;
    rk_hImageBufferInfo(source, &info);
    src->width = info.width;
    src->height = info.height;
    src->rows = info.pixels;
    if (info.current) {
        src->bpp = info.bpp_field > 4 ? 0 : static_cast<int>(info.bpp_field);
        src->stride = info.pitch;
    } else {
        // A compact header without a pixel size means the screen's.
        if (info.bpp_field == 0 && !s)
            return RK_ERR_STATE;
        src->bpp = info.bpp_field ? static_cast<int>(info.bpp_field) : s->bpp;
        src->stride = info.width * static_cast<uint64_t>(src->bpp);
    }
    return RK_OK;
}

static int save_raw(std::FILE *f, const void *source, uint32_t size, const uint32_t *user_palette)
{
    uint8_t head[5] = {0xFE};
    put32(head + 1, size);
    if (std::fwrite(head, 1, 5, f) != 5)
        return RK_ERR_CONTENTS;
    if (source)
        return std::fwrite(source, 1, size, f) == size ? RK_OK : RK_ERR_CONTENTS;

    ScreenState *s = __rk_gfx;
    rk_GfxLock();
    const std::size_t n = std::min<std::size_t>(size, static_cast<std::size_t>(s->h) * s->pitch);
    int result = std::fwrite(s->page[rk_hGetContext()->work_page], 1, n, f) == n ? RK_OK : RK_ERR_CONTENTS;
    rk_GfxUnlock(1, 0);
    if (s->depth <= 8) {
        // Written even after a failed pixel write, unchecked: the close reports a loss.
        for (int i = 0; i < (1 << s->depth); ++i) {
            uint32_t v = user_palette ? user_palette[i] : (s->device_palette[i] >> 2) & 0x3F3F3F;
            const uint8_t e[3] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16)};
            (void)!std::fwrite(e, 1, 3, f);
        }
    }
    return result;
}

// Row size of the bitmap written for `src`; 0 when the source cannot be
// written as a bitmap (pixel size, rows wider than their stride, or sizes
// that do not fit its fields).
static uint64_t bitmap_row_bytes(const SaveSource &src)
{
    if (src.bpp != 1 && src.bpp != 2 && src.bpp != 4)
        return 0;
    if (src.width == 0 || src.width > 0x7FFFFFFF || src.height > 0x7FFFFFFF)
        return 0;
    if (src.width * static_cast<uint64_t>(src.bpp) > src.stride)
        return 0;
    const uint64_t row = src.bpp == 1 ? (src.width + 3) & ~uint64_t{3} : (3 * src.width + 3) & ~uint64_t{3};
    const uint64_t offset = src.bpp == 1 ? 1078 : 54;
    if (row * src.height > 0xFFFFFFFFu - offset)
        return 0;
    return row;
}

static void fill_row(const SaveSource &src, const uint8_t *p, uint8_t *row, std::size_t row_bytes)
{
    const std::size_t w = static_cast<std::size_t>(src.width);
    if (src.bpp == 1) {
        // One row stride of bytes; the buffer holds row_bytes + 15.
        rk_hMemCpy(row, p, static_cast<std::size_t>(std::min<uint64_t>(src.stride, row_bytes + 15)));
    } else if (src.bpp == 2) {
        for (std::size_t x = 0; x < w; ++x) {
            const uint32_t c = p[2 * x] | (uint32_t{p[2 * x + 1]} << 8);
            const uint32_t r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
            row[3 * x] = static_cast<uint8_t>((b5 << 3) | (b5 >> 2));
            row[3 * x + 1] = static_cast<uint8_t>((g6 << 2) | (g6 >> 4));
            row[3 * x + 2] = static_cast<uint8_t>((r5 << 3) | (r5 >> 2));
        }
    } else {
        // Whole 32-bit stores 3 bytes apart: each overwrites the previous
        // pixel's alpha, and the last one's lands in the first padding byte.
        for (std::size_t x = 0; x < w; ++x)
            std::memcpy(row + 3 * x, p + 4 * x, 4);
    }
}

static int save_bitmap(std::FILE *f, const SaveSource &src, uint64_t row_bytes, const uint32_t *user_palette)
{
    const bool indexed = src.bpp == 1;
    const uint32_t offset = indexed ? 1078 : 54;
    const uint32_t image_size = static_cast<uint32_t>(row_bytes * src.height);
    uint8_t head[54];
    rk_hMemSet(head, 0, sizeof head);
    put16(head, 0x4D42);
    put32(head + 2, offset + image_size);
    put32(head + 10, offset);
    put32(head + 14, 40);
    put32(head + 18, static_cast<uint32_t>(src.width));
    put32(head + 22, static_cast<uint32_t>(src.height));
    put16(head + 26, 1);
    put16(head + 28, indexed ? 8 : 24);
    put32(head + 34, image_size);
    put32(head + 38, 2834);
    put32(head + 42, 2834);
    put32(head + 46, indexed ? 256 : 0);
    put32(head + 50, indexed ? 256 : 0);
    if (std::fwrite(head, 1, sizeof head, f) != sizeof head)
        return RK_ERR_CONTENTS;

    if (indexed) {
        // Caller palettes hold 6-bit channels, the device palette 8-bit ones.
        const uint32_t *pal = user_palette ? user_palette : __rk_gfx->device_palette;
        const int s = user_palette ? 2 : 0;
        uint8_t table[256 * 4];
        for (int i = 0; i < 256; ++i) {
            const uint32_t v = pal[i];
            table[4 * i] = static_cast<uint8_t>(((v >> 16) & 0xFF) << s);
            table[4 * i + 1] = static_cast<uint8_t>(((v >> 8) & 0xFF) << s);
            table[4 * i + 2] = static_cast<uint8_t>((v & 0xFF) << s);
            table[4 * i + 3] = 0;
        }
        (void)!std::fwrite(table, 1, sizeof table, f);
    }

    const std::size_t r = static_cast<std::size_t>(row_bytes);
    auto *row = static_cast<uint8_t *>(std::calloc(r + 15, 1));
    if (!row)
        return RK_ERR_CONTENTS;
    int result = RK_OK;
    for (uint64_t y = src.height; y-- > 0;) {
        fill_row(src, src.rows + y * src.stride, row, r);
        if (std::fwrite(row, 1, r, f) != r) {
            result = RK_ERR_CONTENTS;
            break;
        }
    }
    std::free(row);
    return result;
}

int rk_GfxBsave(RkString *filename, const void *source, uint32_t size, const uint32_t *user_palette)
{
    DrawContext *ctx = rk_hGetContext();
    rk_ErrorSetNum(RK_OK);
    const SaveFormat format = name_format(filename);
    const bool bitmap = format == SAVE_BMP;

    // Refuse what cannot succeed before the file is created or truncated.
    SaveSource src{};
    PngSource png{};
    uint64_t row_bytes = 0;
    int result = RK_OK;
    if (!source && !__rk_gfx)
        result = RK_ERR_STATE;
    else if (format == SAVE_RAW && size == 0)
        result = source ? RK_ERR_FILE : RK_ERR_CONTENTS;
    else if (format != SAVE_RAW && (result = describe_source(source, &src)) == RK_OK) {
        // Caller palettes hold 6-bit channels, the device palette 8-bit ones.
        png = {src.width, src.height, src.rows, src.stride, src.bpp,
               user_palette ? user_palette : __rk_gfx ? __rk_gfx->device_palette : nullptr, user_palette ? 2 : 0};
        if (src.bpp == 1 && !user_palette && !__rk_gfx)
            result = RK_ERR_STATE;
        else if (bitmap ? (row_bytes = bitmap_row_bytes(src)) == 0 : !rk_hPngCanWrite(png))
            result = RK_ERR_CONTENTS;
    }
    if (result != RK_OK) {
        rk_hStrDelTemp(filename);
        return rk_ErrorSetNum(result);
    }

    std::FILE *f = rk_hImageFileCreate(filename);
    if (!f) {
        rk_hStrDelTemp(filename);
        return rk_ErrorSetNum(RK_ERR_FILE);
    }
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF000000u);
    result = bitmap ? save_bitmap(f, src, row_bytes, user_palette)
             : format == SAVE_PNG ? rk_hPngWrite(f, png)
                                  : save_raw(f, source, size, user_palette);
    // Data still buffered is written by the close: its failure is a failed write.
    if (std::fclose(f) != 0 && result == RK_OK)
        result = RK_ERR_CONTENTS;
    rk_hStrDelTemp(filename);
    return rk_ErrorSetNum(result);
}
