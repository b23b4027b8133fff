#include "gfx/image/bload.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "gfx/core/color.h"
#include "gfx/core/mem.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/image/convert.h"
#include "gfx/image/filecache.h"
#include "gfx/image/imagefile.h"
#include "gfx/image/png.h"
#include "rt/rt.h"
#include "rt/str.h"

int fread_16_le(std::FILE *f, uint32_t *value)
{
    uint8_t b[2];
    if (std::fread(b, 1, 2, f) != 2)
        return 0;
    *value = b[0] | (uint32_t{b[1]} << 8);
    return 1;
}

int fread_32_le(std::FILE *f, uint32_t *value)
{
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4)
        return 0;
    *value = b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    return 1;
}

static uint32_t le32(const uint8_t *p)
{
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// ---- bit-field converters ----------------------------------------------------

// (source row, destination row, pixel count, normalised masks, shifts, bits)
using BitFieldFn = void (*)(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                            const int *bits);

// Scales a channel of `bits` bits to `t` bits. Widening repeats the channel's
// bits until the low ones are filled, so that a channel's maximum stays the
// maximum even for 1- to 3-bit fields (a 1-bit alpha of 1 is opaque).
static inline uint32_t scale_channel(uint32_t x, int bits, int t)
{
    if (bits > t)
        return x >> (bits - t);
    if (bits == 0)
        return 0;
    uint32_t r = x << (t - bits);
    for (int filled = bits; filled < t; filled *= 2)
        r |= r >> filled;
    return r;
}

template <int N>
static inline uint32_t load_pixel(const uint8_t *p)
{
    uint32_t v = 0;
    for (int i = 0; i < N; ++i)
        v |= uint32_t{p[i]} << (8 * i);
    return v;
}

static inline uint32_t field(uint32_t v, int c, const uint32_t *masks, const int *shifts, const int *bits, int t)
{
    return scale_channel((v >> shifts[c]) & masks[c], bits[c], t);
}

template <int N>
static void bf_to16(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                    const int *bits)
{
    for (int i = 0; i < count; ++i) {
        uint32_t v = load_pixel<N>(src + N * i);
        auto p = static_cast<uint16_t>((field(v, 0, masks, shifts, bits, 5) << 11) |
                                       (field(v, 1, masks, shifts, bits, 6) << 5) | field(v, 2, masks, shifts, bits, 5));
        std::memcpy(dst + 2 * i, &p, 2);
    }
}

// 32-bit pixels; the alpha byte is 0xFF, or the scaled alpha channel when
// `with_alpha` (0 when that channel's mask is empty).
template <int N, bool with_alpha>
static void bf_to32(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                    const int *bits)
{
    for (int i = 0; i < count; ++i) {
        uint32_t v = load_pixel<N>(src + N * i);
        uint32_t a = with_alpha ? (masks[3] ? field(v, 3, masks, shifts, bits, 8) : 0) : 0xFF;
        uint32_t p = (a << 24) | (field(v, 0, masks, shifts, bits, 8) << 16) | (field(v, 1, masks, shifts, bits, 8) << 8) |
                     field(v, 2, masks, shifts, bits, 8);
        std::memcpy(dst + 4 * i, &p, 4);
    }
}

// True when channels 0..n-1 are the 8-bit fields red 16, green 8, blue 0,
// alpha 24: then the pixel bytes already are the screen's 0xAARRGGBB.
static bool byte_channels(const uint32_t *masks, const int *shifts, int n)
{
    static constexpr int kShift[4] = {16, 8, 0, 24};
    for (int c = 0; c < n; ++c)
        if (masks[c] != 0xFF || shifts[c] != kShift[c])
            return false;
    return true;
}

static void convert_bf_16to16(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    static constexpr uint32_t k565[3] = {0x1F, 0x3F, 0x1F};
    static constexpr int k565_shift[3] = {11, 5, 0};
    bool same = true;
    for (int c = 0; c < 3; ++c)
        same = same && masks[c] == k565[c] && shifts[c] == k565_shift[c];
    if (same)
        std::memcpy(dst, src, 2 * static_cast<std::size_t>(count));
    else
        bf_to16<2>(src, dst, count, masks, shifts, bits);
}

static void convert_bf_24to16(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    bf_to16<3>(src, dst, count, masks, shifts, bits);
}

static void convert_bf_32to16(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    bf_to16<4>(src, dst, count, masks, shifts, bits);
}

static void convert_bf_16to32(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    bf_to32<2, false>(src, dst, count, masks, shifts, bits);
}

static void convert_bf_24to32(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    if (byte_channels(masks, shifts, 3))
        rk_image_convert_24bgrto32(src, dst, count);
    else
        bf_to32<3, false>(src, dst, count, masks, shifts, bits);
}

static void convert_bf_32to32(const uint8_t *src, uint8_t *dst, int count, const uint32_t *masks, const int *shifts,
                              const int *bits)
{
    if (byte_channels(masks, shifts, 4))
        rk_image_convert_32bgrto32(src, dst, count);
    else
        bf_to32<4, true>(src, dst, count, masks, shifts, bits);
}

// Palette converters as the loader names them.
static void convert_8to8(const uint8_t *src, uint8_t *dst, int count) { rk_image_convert_8to8(src, dst, count); }
static void convert_8to16(const uint8_t *src, uint8_t *dst, int count) { rk_image_convert_8to16(src, dst, count); }
static void convert_8to32(const uint8_t *src, uint8_t *dst, int count) { rk_image_convert_8to32(src, dst, count); }

// ---- the bitmap load, stage by stage ---------------------------------------------

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

// The header a load writes into plain memory.
enum HeaderKind { HEADER_NONE, HEADER_CURRENT, HEADER_COMPACT };

// Everything one bitmap load knows, filled stage by stage: the headers, the
// colour table and masks, the destination plan, then the row buffers.
struct BmpLoad {
    std::FILE *f;
    long long file_size;

    uint64_t data_offset;
    uint32_t header_size;  // H, the info header's own size
    long long width, height;  // height made positive
    bool top_down;
    uint32_t planes, depth, compression, colors_used;
    uint32_t header_masks[4];  // version 4 and 5 headers

    uint32_t table[256];  // 0x00BBGGRR; entries the file lacks stay black

    uint32_t mask[4];
    uint32_t norm[4];
    int shift[4], bits[4];

    // Destination: row y starts at rows + y * pitch.
    void *dest;
    HeaderKind header_kind;  // written once nothing can fail any more
    uint8_t *rows;
    std::size_t pitch;
    bool row_limited;  // a current-form image: pixels must stay inside its pitch
    int bpp;
    long long copy_w, copy_h;
    RowConvertFn pal_fn;
    BitFieldFn bf_fn;

    // Rows
    std::size_t file_row;  // bytes of one stored row, padding included
    std::size_t packed_row;  // packed depths: bytes before the padding
    bool rows_fit;  // false: the file cannot hold even one row
    std::size_t block_rows;  // stored rows read at once (byte-sized pixels)
    uint8_t *row;  // block_rows stored rows
    uint8_t *index;  // palette indices of a packed or run-length row
};

static int read_headers(BmpLoad *b)
{
    std::FILE *f = b->f;
    uint32_t sig, ignored, offset, v16a, v16b, planes, depth;
    if (!fread_16_le(f, &sig) || !fread_32_le(f, &ignored) || !fread_16_le(f, &ignored) ||
        !fread_16_le(f, &ignored) || !fread_32_le(f, &offset) || !fread_32_le(f, &b->header_size))
        return RK_ERR_CONTENTS;
    b->data_offset = offset;
    const uint32_t h = b->header_size;
    if (h == 12) {
        if (!fread_16_le(f, &v16a) || !fread_16_le(f, &v16b) || !fread_16_le(f, &planes) || !fread_16_le(f, &depth))
            return RK_ERR_CONTENTS;
        b->width = v16a;
        b->height = v16b;
    } else if (h >= 16) {
        uint32_t w, hh;
        if (!fread_32_le(f, &w) || !fread_32_le(f, &hh) || !fread_16_le(f, &planes) || !fread_16_le(f, &depth))
            return RK_ERR_CONTENTS;
        b->width = static_cast<int32_t>(w);
        b->height = static_cast<int32_t>(hh);
        if (h >= 20 && !fread_32_le(f, &b->compression))
            return RK_ERR_CONTENTS;
        if (h >= 24 && !fread_32_le(f, &ignored))  // image size
            return RK_ERR_CONTENTS;
        if (h >= 40) {
            // Resolution, colours used (offset 46) and, from version 4 on,
            // important colours before the masks.
            uint8_t rest[16];
            std::size_t n = h >= 108 ? 16 : 12;
            if (std::fread(rest, 1, n, f) != n)
                return RK_ERR_CONTENTS;
            b->colors_used = le32(rest + 8);
        }
        if (h >= 108)
            for (uint32_t &m : b->header_masks)
                if (!fread_32_le(f, &m))
                    return RK_ERR_CONTENTS;
    } else {
        return RK_ERR_CONTENTS;
    }
    b->planes = planes;
    b->depth = depth;

    if (sig != 0x4D42 || b->planes > 1 || b->width <= 0 || b->height == 0 || b->compression > BI_BITFIELDS)
        return RK_ERR_CONTENTS;
    if (b->height < 0) {
        if (b->compression != BI_RGB && b->compression != BI_BITFIELDS)
            return RK_ERR_CONTENTS;
        b->height = -b->height;
        b->top_down = true;
    }
    if (b->depth == 0 || b->depth > 32)
        return RK_ERR_CONTENTS;
    // Run-length data exists for 8 bits (RLE8) and 4 bits (RLE4) only.
    if ((b->compression == BI_RLE8 && b->depth != 8) || (b->compression == BI_RLE4 && b->depth != 4))
        return RK_ERR_CONTENTS;
    return RK_OK;
}

static int read_color_table(BmpLoad *b)
{
    const int entry_size = b->header_size == 12 ? 3 : 4;
    int entries = 0;
    if (b->depth <= 8) {
        entries = 1 << b->depth;
        // A smaller colours-used count says how many entries the file holds.
        if (b->header_size >= 40 && b->colors_used >= 1 && b->colors_used < static_cast<uint32_t>(entries))
            entries = static_cast<int>(b->colors_used);
    }
    if (b->data_offset == 0)
        b->data_offset = 14 + uint64_t{b->header_size} + static_cast<uint64_t>(entries * entry_size);
    if (std::fseek(b->f, 14 + static_cast<long>(b->header_size), SEEK_SET) != 0)
        return RK_ERR_CONTENTS;
    uint8_t raw[256 * 4];
    const std::size_t bytes = static_cast<std::size_t>(entries * entry_size);
    if (std::fread(raw, 1, bytes, b->f) != bytes)
        return RK_ERR_CONTENTS;
    for (int i = 0; i < entries; ++i) {
        const uint8_t *e = raw + i * entry_size;
        b->table[i] = e[2] | (uint32_t{e[1]} << 8) | (uint32_t{e[0]} << 16);
    }
    return RK_OK;
}

static int read_masks(BmpLoad *b)
{
    if (b->compression == BI_BITFIELDS) {
        if (b->header_size >= 108) {
            std::memcpy(b->mask, b->header_masks, sizeof b->mask);
        } else {
            // The three masks follow the info header and any colour table.
            for (int c = 0; c < 3; ++c)
                if (!fread_32_le(b->f, &b->mask[c]))
                    return RK_ERR_CONTENTS;
            b->mask[3] = 0;
        }
    } else if (b->depth > 16) {
        const uint32_t m[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        std::memcpy(b->mask, m, sizeof m);
    } else {
        const uint32_t m[4] = {0x7C00, 0x03E0, 0x001F, 0};
        std::memcpy(b->mask, m, sizeof m);
    }
    for (int c = 0; c < 4; ++c) {
        uint32_t m = b->mask[c];
        if (!m) {
            b->shift[c] = b->bits[c] = 0;
            b->norm[c] = 0;
            continue;
        }
        b->shift[c] = __builtin_ctz(m);
        b->bits[c] = 31 - __builtin_clz(m) - b->shift[c] + 1;
        b->norm[c] = m >> b->shift[c];
    }
    return RK_OK;
}

// Works out where the rows go and how many pixels of them, without writing
// anything yet.
static int plan_destination(BmpLoad *b, DrawContext *ctx, void *dest, bool current_header)
{
    ScreenState *s = __rk_gfx;
    b->dest = dest;
    if (!dest) {
        b->bpp = s->bpp;
        b->rows = s->page[ctx->work_page];
        b->pitch = static_cast<std::size_t>(s->pitch);
        b->copy_w = std::min<long long>(b->width, s->w);
        b->copy_h = std::min<long long>(b->height, s->h);
        return RK_OK;
    }
    ImageBufferInfo info;
    rk_hImageBufferInfo(dest, &info);
    if (info.current) {
        b->bpp = info.bpp_field > 8 ? 0 : static_cast<int>(info.bpp_field);
        b->rows = info.pixels;
        b->pitch = info.pitch;
        b->row_limited = true;
        b->copy_w = std::min<long long>(b->width, static_cast<long long>(info.width));
        b->copy_h = std::min<long long>(b->height, static_cast<long long>(info.height));
        return RK_OK;
    }
    const int field = static_cast<int>(info.bpp_field);
    if (field == 1 || field == 2 || field == 4) {
        // A compact image's rows are laid out with the screen's pixel size
        // but the buffer holds width x field x height bytes: rows that would
        // end beyond that are dropped.
        b->bpp = field;
        b->rows = info.pixels;
        b->pitch = info.width * static_cast<uint64_t>(s->bpp);
        b->copy_w = std::min<long long>(b->width, static_cast<long long>(info.width));
        b->copy_h = std::min<long long>(b->height, static_cast<long long>(info.height));
        const uint64_t total = info.width * info.height * field;
        const uint64_t row_end = static_cast<uint64_t>(b->copy_w) * field;
        if (b->pitch > 0 && total >= row_end)
            b->copy_h = std::min<long long>(b->copy_h, static_cast<long long>((total - row_end) / b->pitch + 1));
        return RK_OK;
    }
    // Plain memory: it receives a header for the whole bitmap.
    b->bpp = s->bpp;
    b->copy_w = b->width;
    b->copy_h = b->height;
    std::size_t row_bytes;
    if (current_header) {
        if (!rk_hSizeMulAdd(b->width, s->bpp, 15, &row_bytes) || row_bytes > 0x7FFFFFFF)
            return RK_ERR_CONTENTS;
        b->header_kind = HEADER_CURRENT;
        b->pitch = row_bytes & ~std::size_t{15};
        b->rows = static_cast<uint8_t *>(dest) + sizeof(ImageHeader);
    } else {
        if (b->width > 0x1FFF || b->height > 0xFFFF)
            return RK_ERR_CONTENTS;
        b->header_kind = HEADER_COMPACT;
        b->pitch = static_cast<std::size_t>(b->width * s->bpp);
        b->rows = static_cast<uint8_t *>(dest) + 4;
    }
    return RK_OK;
}

static int choose_converter(BmpLoad *b)
{
    const int bpp = b->bpp;
    const int out = bpp == 1 ? 1 : bpp == 2 ? 2 : 4;
    if (bpp < 1 || bpp > 4)
        return RK_ERR_STATE;
    if (b->depth <= 8) {
        b->pal_fn = out == 1 ? convert_8to8 : out == 2 ? convert_8to16 : convert_8to32;
    } else if (out == 1) {
        return RK_ERR_STATE;  // true colour into a paletted destination
    } else if (b->depth <= 16) {
        b->bf_fn = out == 2 ? convert_bf_16to16 : convert_bf_16to32;
    } else if (b->depth <= 24) {
        b->bf_fn = out == 2 ? convert_bf_24to16 : convert_bf_24to32;
    } else {
        b->bf_fn = out == 2 ? convert_bf_32to16 : convert_bf_32to32;
    }
    // A pixel row may never run past its row, whatever a header claims.
    if (b->row_limited)
        b->copy_w = std::min<long long>(b->copy_w, static_cast<long long>(b->pitch / out));
    return RK_OK;
}

// Row sizes, and whether the file can hold even one row: a row that cannot
// be in the file is never allocated.
static void plan_rows(BmpLoad *b)
{
    const uint64_t w = static_cast<uint64_t>(b->width);
    uint64_t needed;
    if (b->depth < 8) {
        const uint64_t per_byte = 8 / b->depth;
        b->packed_row = static_cast<std::size_t>((w + per_byte - 1) / per_byte);
        b->file_row = (b->packed_row + 3) & ~std::size_t{3};
        needed = b->packed_row;
    } else {
        b->file_row = static_cast<std::size_t>((w * ((b->depth + 7) / 8) + 3) & ~uint64_t{3});
        needed = b->file_row;
    }
    const long long avail = b->file_size - static_cast<long long>(std::min<uint64_t>(b->data_offset, LLONG_MAX));
    if (b->compression == BI_RLE8 || b->compression == BI_RLE4)
        b->rows_fit = avail >= 2;
    else
        b->rows_fit = avail >= 0 && needed <= static_cast<uint64_t>(avail);
    // Byte-sized pixels are read in blocks of whole rows (as many as the file
    // holds, up to 32 KiB): fewer reads than row by row, and a block small
    // enough to stay in the cache between the read and the conversion.
    b->block_rows = 1;
    if (b->rows_fit && b->depth >= 8 && b->file_row > 0) {
        const uint64_t rows = std::min<uint64_t>(static_cast<uint64_t>(avail), 1u << 15) / b->file_row;
        b->block_rows = static_cast<std::size_t>(std::clamp<uint64_t>(rows, 1, static_cast<uint64_t>(b->height)));
    }
}

static void write_dest_header(BmpLoad *b)
{
    const ScreenState *s = __rk_gfx;
    auto *p = static_cast<uint8_t *>(b->dest);
    if (b->header_kind == HEADER_CURRENT) {
        // The reserved words are left as they were.
        const uint32_t fields[5] = {RK_IMAGE_TYPE, static_cast<uint32_t>(s->bpp), static_cast<uint32_t>(b->width),
                                    static_cast<uint32_t>(b->height), static_cast<uint32_t>(b->pitch)};
        std::memcpy(p, fields, sizeof fields);
    } else if (b->header_kind == HEADER_COMPACT) {
        p[0] = static_cast<uint8_t>((s->bpp & 7) | (b->width << 3));
        p[1] = static_cast<uint8_t>(b->width >> 5);
        p[2] = static_cast<uint8_t>(b->height);
        p[3] = static_cast<uint8_t>(b->height >> 8);
    }
}

static void install_palette(const BmpLoad *b, uint32_t *user_palette)
{
    const int n = b->depth <= 8 ? 1 << b->depth : 0;
    if (user_palette) {
        for (int i = 0; i < n; ++i)
            user_palette[i] = (b->table[i] >> 2) & 0x3F3F3F;
        return;
    }
    std::memcpy(__rk_gfx->device_palette, b->table, static_cast<std::size_t>(n) * sizeof(uint32_t));
    rk_hRestorePalette();
}

static void emit_row(const BmpLoad *b, long long y, const uint8_t *src)
{
    if (y >= b->copy_h || b->copy_w <= 0)
        return;
    uint8_t *dst = b->rows + static_cast<std::size_t>(y) * b->pitch;
    const int n = static_cast<int>(b->copy_w);
    if (b->pal_fn)
        b->pal_fn(src, dst, n);
    else
        b->bf_fn(src, dst, n, b->norm, b->shift, b->bits);
}

static void unpack_row(const BmpLoad *b)
{
    const int depth = static_cast<int>(b->depth);
    const int per_byte = 8 / depth;
    for (long long j = 0; j < b->copy_w; ++j) {
        const uint8_t byte = b->row[j / per_byte];
        const int k = static_cast<int>(j % per_byte);
        b->index[j] = static_cast<uint8_t>(((byte << (k * depth)) & 0xFF) >> (8 - depth));
    }
}

static long long row_y(const BmpLoad *b, long long r)
{
    return b->top_down ? r : b->height - 1 - r;
}

static int decode_packed(BmpLoad *b)
{
    for (long long r = 0; r < b->height; ++r) {
        if (std::fread(b->row, 1, b->packed_row, b->f) != b->packed_row)
            return RK_ERR_CONTENTS;
        // The padding's own end of file does not matter.
        uint8_t pad[3];
        (void)!std::fread(pad, 1, b->file_row - b->packed_row, b->f);
        if (row_y(b, r) < b->copy_h) {
            unpack_row(b);
            emit_row(b, row_y(b, r), b->index);
        }
    }
    return RK_OK;
}

static int decode_plain(BmpLoad *b)
{
    for (long long r = 0; r < b->height;) {
        // A short block still converts the whole rows it brought.
        const std::size_t want = std::min<std::size_t>(b->block_rows, static_cast<std::size_t>(b->height - r));
        const std::size_t got = std::fread(b->row, 1, want * b->file_row, b->f) / b->file_row;
        for (std::size_t i = 0; i < got; ++i, ++r)
            emit_row(b, row_y(b, r), b->row + i * b->file_row);
        if (got < want)
            return RK_ERR_CONTENTS;
    }
    return RK_OK;
}

// Run-length rows are stored bottom row first. The index row is kept zeroed
// between rows, so pixels a delta or an early end skips are index 0.
struct RleState {
    long long r;  // rows finished, in file order
    long long x;  // next pixel of the current row; every index written lies before it
};

static void finish_row(BmpLoad *b, RleState *st)
{
    emit_row(b, row_y(b, st->r), b->index);
    // Only the written part needs clearing: a delta skips up to 255 rows for
    // four bytes of file, and rows it skips cost nothing this way.
    const long long written = std::min(st->x, b->copy_w);
    if (written > 0)
        std::memset(b->index, 0, static_cast<std::size_t>(written));
    ++st->r;
    st->x = 0;
}

// Finishes the current row and the `count` - 1 rows after it, which stay
// index 0. Rows below the copy height (the first ones in file order) are
// passed over without a step each.
static void finish_rows(BmpLoad *b, RleState *st, long long count)
{
    const long long end = std::min(st->r + count, b->height);
    if (st->r >= end)
        return;
    finish_row(b, st);
    st->r = std::max(st->r, std::min(end, b->height - b->copy_h));
    while (st->r < end)
        finish_row(b, st);
}

static inline void put_index(BmpLoad *b, RleState *st, uint8_t v)
{
    if (st->x < b->copy_w)
        b->index[st->x] = v;
    ++st->x;
}

static int decode_rle(BmpLoad *b)
{
    const bool rle4 = b->compression == BI_RLE4;
    RleState st{0, 0};
    uint8_t code[2], data[256];
    while (st.r < b->height) {
        if (std::fread(code, 1, 2, b->f) != 2)
            return RK_ERR_CONTENTS;
        if (code[0] > 0) {
            for (int i = 0; i < code[0]; ++i)
                put_index(b, &st, rle4 ? static_cast<uint8_t>(i & 1 ? code[1] & 15 : code[1] >> 4) : code[1]);
            continue;
        }
        switch (code[1]) {
        case 0:  // end of line
            finish_row(b, &st);
            break;
        case 1:  // end of bitmap: the rows left are index 0
            finish_rows(b, &st, b->height);
            return RK_OK;
        case 2: {  // delta: right and up
            uint8_t d[2];
            if (std::fread(d, 1, 2, b->f) != 2)
                return RK_ERR_CONTENTS;
            const long long x = st.x + d[0];
            finish_rows(b, &st, d[1]);
            st.x = x;
            break;
        }
        default: {  // absolute run of code[1] pixels, padded to 16 bits
            const int n = code[1];
            const std::size_t bytes = static_cast<std::size_t>(rle4 ? (n + 1) / 2 : n);
            if (std::fread(data, 1, bytes + (bytes & 1), b->f) != bytes + (bytes & 1))
                return RK_ERR_CONTENTS;
            for (int i = 0; i < n; ++i)
                put_index(b, &st, rle4 ? static_cast<uint8_t>(i & 1 ? data[i / 2] & 15 : data[i / 2] >> 4) : data[i]);
            break;
        }
        }
    }
    return RK_OK;
}

// file_size: the bytes in the file.
// ---- converted rows kept for unchanged files --------------------------------------

// A bitmap loaded into an image of 2 or 4 bytes per pixel without a caller's
// palette depends on nothing but its file and the image's form: its
// converted rows are kept beside the file's bytes (gfx/image/filecache.h),
// and loading the unchanged file into an image of the same form again
// copies them instead of decoding. All else such a load does (the palette
// installed and sent to the driver, the drawing target) happens as in a
// decode. The record is followed by copy_h rows of copy_w * out bytes.
struct KeptRows {
    uint64_t bpp_field, width, height, pitch;  // the image's form
    uint32_t depth;                           // the bitmap's, and its colour table
    uint32_t table[256];
    long long copy_w, copy_h;
    int out;  // bytes per converted pixel
};

// Whether a load into `dest` may use kept rows, with the image's form.
static bool keepable(const void *dest, const uint32_t *user_palette, ImageBufferInfo *info)
{
    if (!dest || user_palette)
        return false;
    rk_hImageBufferInfo(dest, info);
    return info->current && (info->bpp_field == 2 || info->bpp_field == 4);
}

static void keep_rows(const BmpLoad *b, const struct stat &st, const ImageBufferInfo &info)
{
    const std::size_t row = static_cast<std::size_t>(b->copy_w) * static_cast<std::size_t>(b->bpp);
    std::size_t size;
    if (!rk_hSizeMulAdd(static_cast<long long>(row), b->copy_h, sizeof(KeptRows), &size))
        return;
    auto *kept = static_cast<uint8_t *>(std::malloc(size));
    if (!kept)
        return;
    KeptRows k{info.bpp_field, info.width, info.height, info.pitch, b->depth, {}, b->copy_w, b->copy_h, b->bpp};
    std::memcpy(k.table, b->table, sizeof k.table);
    std::memcpy(kept, &k, sizeof k);
    for (std::size_t y = 0; y < static_cast<std::size_t>(b->copy_h); ++y)
        std::memcpy(kept + sizeof k + y * row, b->rows + y * b->pitch, row);
    rk_hFileCacheKeep(st, kept, size);
}

// Copies kept rows into the image they were made for, and the bitmap's
// depth and the colour entries it has into `b`; false for another image.
struct KeptLoad {
    const ImageBufferInfo *info;
    BmpLoad *b;
};

static bool copy_kept(const void *made, std::size_t size, void *arg)
{
    auto *load = static_cast<KeptLoad *>(arg);
    const ImageBufferInfo &info = *load->info;
    if (size < sizeof(KeptRows))
        return false;
    const auto *k = static_cast<const KeptRows *>(made);
    const std::size_t row = static_cast<std::size_t>(k->copy_w * k->out);
    if (k->bpp_field != info.bpp_field || k->width != info.width || k->height != info.height ||
        k->pitch != info.pitch || size != sizeof *k + row * static_cast<std::size_t>(k->copy_h))
        return false;
    const auto *rows = static_cast<const uint8_t *>(made) + sizeof *k;
    for (std::size_t y = 0; y < static_cast<std::size_t>(k->copy_h); ++y)
        std::memcpy(info.pixels + y * info.pitch, rows + y * row, row);
    load->b->depth = k->depth;
    if (k->depth <= 8)
        std::memcpy(load->b->table, k->table, (std::size_t{1} << k->depth) * sizeof k->table[0]);
    return true;
}

// Loads the rows kept for the file with status `st` into `dest`, of form
// `info`; false when none are kept for that form (the caller then decodes,
// which leaves the same target).
static bool load_kept(DrawContext *ctx, const struct stat &st, void *dest, const ImageBufferInfo &info)
{
    // The target is left on the image, its view whole, as a decode leaves it.
    rk_hPrepareTarget(ctx, nullptr);
    if (!rk_hPrepareTarget(ctx, dest))
        return false;
    rk_hSetPixelTransfer(ctx, 0xFF000000u);
    BmpLoad b{};
    KeptLoad load{&info, &b};
    rk_GfxLock();
    const bool loaded = rk_hFileCacheUseKept(st, copy_kept, &load);
    if (loaded)
        install_palette(&b, nullptr);
    rk_GfxUnlock(1, 0);
    return loaded;
}

// `whole`: the status of the file when all of it was read (its converted
// rows may then be kept), else null.
static int load_bitmap(DrawContext *ctx, std::FILE *f, long long file_size, void *dest, uint32_t *user_palette,
                       bool current_header, const struct stat *whole)
{
    BmpLoad b{};
    b.f = f;
    // The file's size bounds every row buffer.
    b.file_size = file_size;
    if (std::fseek(f, 0, SEEK_SET) != 0)
        return RK_ERR_CONTENTS;

    int result = read_headers(&b);
    if (result == RK_OK)
        result = read_color_table(&b);
    if (result == RK_OK)
        result = plan_destination(&b, ctx, dest, current_header);
    if (result == RK_OK)
        result = read_masks(&b);
    if (result == RK_OK)
        result = choose_converter(&b);
    if (result != RK_OK)
        return result;
    plan_rows(&b);

    write_dest_header(&b);
    // Without the destination's row table nothing can be loaded, as without
    // a row buffer.
    if (dest && !rk_hPrepareTarget(ctx, dest))
        return RK_ERR_CONTENTS;
    rk_hSetPixelTransfer(ctx, 0xFF000000u);

    const bool rle = b.compression == BI_RLE8 || b.compression == BI_RLE4;
    if (b.rows_fit) {
        if (!rle)
            b.row = static_cast<uint8_t *>(std::malloc(b.block_rows * b.file_row));
        if (rle || b.depth < 8)
            b.index = static_cast<uint8_t *>(std::calloc(static_cast<std::size_t>(std::max<long long>(b.copy_w, 1)), 1));
        if ((!rle && !b.row) || ((rle || b.depth < 8) && !b.index)) {
            std::free(b.row);
            std::free(b.index);
            return RK_ERR_CONTENTS;
        }
    }

    rk_GfxLock();
    install_palette(&b, user_palette);
    if (!b.rows_fit || std::fseek(f, static_cast<long>(b.data_offset), SEEK_SET) != 0)
        result = RK_ERR_CONTENTS;
    else
        result = rle ? decode_rle(&b) : b.depth < 8 ? decode_packed(&b) : decode_plain(&b);
    ImageBufferInfo info;
    if (result == RK_OK && whole && keepable(dest, user_palette, &info))
        keep_rows(&b, *whole, info);
    if (rk_hTargetIsVisible(ctx))
        rk_hMarkDirty(0, __rk_gfx->h - 1);
    rk_GfxUnlock(1, 0);
    std::free(b.row);
    std::free(b.index);
    return result;
}

// A PNG is decoded whole first, so that a damaged one changes nothing; it
// then goes into the destination as a bitmap of its depth would (indexed
// up to 8 bits, else 32).
static int load_png(DrawContext *ctx, std::FILE *f, long long file_size, void *dest, uint32_t *user_palette,
                    bool current_header)
{
    PngPicture pic;
    int result = rk_hPngDecode(f, file_size, &pic);
    if (result != RK_OK)
        return result;
    BmpLoad b{};
    b.width = pic.width;
    b.height = pic.height;
    b.depth = pic.index_bits ? static_cast<uint32_t>(pic.index_bits) : 32;
    std::memcpy(b.table, pic.table, sizeof b.table);
    result = plan_destination(&b, ctx, dest, current_header);
    if (result == RK_OK)
        result = choose_converter(&b);
    if (result == RK_OK) {
        write_dest_header(&b);
        if (dest && !rk_hPrepareTarget(ctx, dest))
            result = RK_ERR_CONTENTS;
    }
    if (result == RK_OK) {
        rk_hSetPixelTransfer(ctx, 0xFF000000u);
        rk_GfxLock();
        install_palette(&b, user_palette);
        const int out = b.bpp == 1 ? 1 : b.bpp == 2 ? 2 : 4;
        for (long long y = 0; y < b.copy_h && b.copy_w > 0; ++y)
            rk_hPngRow(&pic, static_cast<uint32_t>(y), b.rows + static_cast<std::size_t>(y) * b.pitch,
                       static_cast<int>(b.copy_w), out);
        if (rk_hTargetIsVisible(ctx))
            rk_hMarkDirty(0, __rk_gfx->h - 1);
        rk_GfxUnlock(1, 0);
    }
    rk_hPngFree(&pic);
    return result;
}

// ---- the raw memory-image format ---------------------------------------------

// Bytes an image buffer occupies according to its header (the 32-byte form
// must describe a usable image); 0 when the header cannot describe one.
static uint64_t image_bytes(const uint8_t *header, std::size_t header_bytes)
{
    ImageBufferInfo info;
    rk_hImageBufferInfo(header, &info);
    if (info.current) {
        if (header_bytes < sizeof(ImageHeader) || !(info.bpp_field == 1 || info.bpp_field == 2 || info.bpp_field == 4) ||
            info.width * info.bpp_field > info.pitch)
            return 0;
        return sizeof(ImageHeader) + info.pitch * info.height;
    }
    // A compact image holds its pixels in its own size (the screen's when
    // the field is 0); one of pixels narrower than the screen's is never a
    // draw target, so its rows need no more room than that.
    const uint64_t bpp = info.bpp_field ? info.bpp_field : static_cast<uint64_t>(__rk_gfx->bpp);
    return 4 + info.width * info.height * bpp;
}

// Raw data into a recognised image buffer: all of it must fit, and so must
// the image its header then describes; otherwise nothing is written.
static int load_raw_into_image(std::FILE *f, uint8_t *dest, uint64_t capacity, uint32_t len)
{
    if (len > capacity)
        return RK_ERR_CONTENTS;
    // The header the buffer will have: its own bytes overlaid with the data's.
    uint8_t header[sizeof(ImageHeader)] = {}, data[sizeof(ImageHeader)];
    const std::size_t kept = static_cast<std::size_t>(std::min<uint64_t>(capacity, sizeof header));
    std::memcpy(header, dest, kept);
    const std::size_t first = std::min<std::size_t>(len, kept);
    const std::size_t got = std::fread(data, 1, first, f);
    if (got < first && std::ferror(f))
        return RK_ERR_CONTENTS;
    if (got == 0)
        return RK_OK;
    std::memcpy(header, data, got);
    const uint64_t needed = image_bytes(header, kept);
    if (needed == 0 || needed > capacity)
        return RK_ERR_CONTENTS;
    std::memcpy(dest, header, got);
    if (got < first)
        return RK_OK;
    const std::size_t rest = len - got;
    if (std::fread(dest + got, 1, rest, f) != rest && std::ferror(f))
        return RK_ERR_CONTENTS;
    return RK_OK;
}

static int load_raw(DrawContext *ctx, std::FILE *f, int kind, void *dest, uint32_t *user_palette)
{
    uint32_t len, skipped;
    if (kind == 0xFE ? !fread_32_le(f, &len) : (!fread_32_le(f, &skipped) || !fread_16_le(f, &len)))
        return RK_ERR_CONTENTS;

    if (dest) {
        ImageBufferInfo info;
        rk_hImageBufferInfo(dest, &info);
        if (info.current)
            return load_raw_into_image(f, static_cast<uint8_t *>(dest),
                                       sizeof(ImageHeader) + info.pitch * info.height, len);
        if (info.bpp_field == 1 || info.bpp_field == 2 || info.bpp_field == 4)
            return load_raw_into_image(f, static_cast<uint8_t *>(dest),
                                       4 + info.width * info.height * info.bpp_field, len);
        // Plain memory: the caller vouches for its size.
        if (std::fread(dest, 1, len, f) != len && std::ferror(f))
            return RK_ERR_CONTENTS;
        return RK_OK;
    }

    ScreenState *s = __rk_gfx;
    int result = RK_OK;
    rk_GfxLock();
    const std::size_t n = std::min<std::size_t>(len, static_cast<std::size_t>(s->h) * s->pitch);
    if (std::fread(s->page[ctx->work_page], 1, n, f) != n && std::ferror(f))
        result = RK_ERR_CONTENTS;
    if (ctx->work_page == s->visible_page)
        rk_hMarkDirty(0, s->h - 1);
    if (result == RK_OK && !std::feof(f) && s->depth <= 8) {
        // Entries beyond the end of the file keep their values.
        for (int i = 0; i < (1 << s->depth); ++i) {
            uint8_t e[3];
            if (std::fread(e, 1, 3, f) != 3)
                break;
            const uint32_t v = e[0] | (uint32_t{e[1]} << 8) | (uint32_t{e[2]} << 16);
            if (user_palette)
                user_palette[i] = v;
            else
                s->device_palette[i] = (v << 2) & 0xFCFCFC;
        }
        if (!user_palette)
            rk_hRestorePalette();
    }
    rk_GfxUnlock(1, 0);
    return result;
}

// ---- entry points --------------------------------------------------------------------

int gfx_bload(RkString *filename, void *dest, uint32_t *user_palette, bool current_header)
{
    DrawContext *ctx = rk_hGetContext();
    rk_ErrorSetNum(RK_OK);
    // Both formats need the screen: its pixel size, palette and lock.
    if (!__rk_gfx) {
        rk_hStrDelTemp(filename);
        return rk_ErrorSetNum(RK_ERR_STATE);
    }
    // An unchanged bitmap whose rows were kept costs one status check
    // (gfx/image/filewatch.h), as does a missing file.
    ImageBufferInfo info;
    struct stat st;
    if (keepable(dest, user_palette, &info)) {
        const bool found = rk_hImageFileStat(filename, &st);
        if (!found || load_kept(ctx, st, dest, info)) {
            rk_hStrDelTemp(filename);
            return rk_ErrorSetNum(found ? RK_OK : RK_ERR_FILE);
        }
    }
    ImageFileReader file;
    if (!rk_hImageFileOpenRead(filename, &file)) {
        rk_hStrDelTemp(filename);
        return rk_ErrorSetNum(RK_ERR_FILE);
    }
    std::FILE *f = file.f;
    rk_hPrepareTarget(ctx, nullptr);
    rk_hSetPixelTransfer(ctx, 0xFF000000u);

    int result;
    switch (const int kind = std::fgetc(f)) {
    case 0xFD:
    case 0xFE:
        result = load_raw(ctx, f, kind, dest, user_palette);
        break;
    case 'B':
        result = load_bitmap(ctx, f, file.size, dest, user_palette, current_header, file.bytes ? &file.st : nullptr);
        break;
    case kPngSignature[0]:
        result = load_png(ctx, f, file.size, dest, user_palette, current_header);
        break;
    default:
        result = RK_ERR_CONTENTS;
        break;
    }
    rk_hImageFileClose(&file);
    rk_hStrDelTemp(filename);
    return rk_ErrorSetNum(result);
}

int rk_GfxBload(RkString *filename, void *dest, uint32_t *user_palette)
{
    return gfx_bload(filename, dest, user_palette, true);
}
