#include "gfx/image/png.h"

#include <png.h>

#include <cstdlib>
#include <cstring>

#include "gfx/image/convert.h"
#include "rt/rt.h"

// Limits of what is decoded: a side, the decoded bytes, and the expansion
// of the file's bytes into pixel data (deflate gives at most 258 bytes for
// 2 bits). The last bounds every allocation by the size of the file.
constexpr uint32_t kMaxSide = 65535;
constexpr uint64_t kMaxDecoded = uint64_t{1} << 30;
constexpr uint64_t kMaxInflation = 1032;

// libpng and its zlib allocate through the C library's malloc, so that the
// tests that make allocations fail reach their allocations too.
static png_voidp allocate(png_structp, png_alloc_size_t size)
{
    return std::malloc(size);
}

static void release(png_structp, png_voidp p)
{
    std::free(p);
}

// A libpng error ends the call in progress by a jump back to run_guarded;
// warnings (ancillary chunks it skips) do not concern the caller.
[[noreturn]] static void on_error(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

static void on_warning(png_structp, png_const_charp) {}

// Runs `stage` with libpng's errors jumping back here, which gives 3. No
// frame between here and the jump has a destructor to skip: a stage and the
// callbacks keep everything they allocate in `job`, whose owner frees it.
template <typename Job>
static int run_guarded(Job *job, int (*stage)(Job *))
{
    if (setjmp(png_jmpbuf(job->png)))
        return RK_ERR_CONTENTS;
    return stage(job);
}

// ---- reading -----------------------------------------------------------------

struct PngRead {
    png_structp png;
    png_infop info;
    std::FILE *f;
    long long file_size;
    PngPicture *pic;
    int passes;
};

static void read_bytes(png_structp png, png_bytep out, std::size_t n)
{
    auto *r = static_cast<PngRead *>(png_get_io_ptr(png));
    if (std::fread(out, 1, n, r->f) != n)
        png_error(png, "truncated");
}

// c over white with alpha a, rounded: c * a / 255 + (255 - a).
static inline uint8_t over_white(uint32_t c, uint32_t a)
{
    const uint32_t t = c * a + 255 * (255 - a) + 128;
    return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

// The colours of an indexed picture: the palette with its alpha values, or
// the grey levels of the bit depth with the one transparent level.
static void build_table(PngRead *r, int type, int depth)
{
    uint8_t rgb[256][3] = {}, alpha[256];
    std::memset(alpha, 255, sizeof alpha);
    png_bytep trans = nullptr;
    int num_trans = 0;
    png_color_16p trans_color = nullptr;
    const bool has_trans = png_get_tRNS(r->png, r->info, &trans, &num_trans, &trans_color) != 0;
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp plte = nullptr;
        int n = 0;
        png_get_PLTE(r->png, r->info, &plte, &n);
        for (int i = 0; i < n && i < 256; ++i) {
            rgb[i][0] = plte[i].red;
            rgb[i][1] = plte[i].green;
            rgb[i][2] = plte[i].blue;
        }
        for (int i = 0; has_trans && trans && i < num_trans && i < 256; ++i)
            alpha[i] = trans[i];
    } else {
        const int levels = 1 << depth;
        for (int i = 0; i < levels; ++i)
            std::memset(rgb[i], i * 255 / (levels - 1), 3);
        if (has_trans && trans_color && trans_color->gray < levels)
            alpha[trans_color->gray] = 0;
    }
    for (int i = 0; i < 256; ++i) {
        const uint32_t red = over_white(rgb[i][0], alpha[i]), green = over_white(rgb[i][1], alpha[i]),
                       blue = over_white(rgb[i][2], alpha[i]);
        r->pic->table[i] = red | (green << 8) | (blue << 16);
        r->pic->argb[i] = 0xFF000000u | (red << 16) | (green << 8) | blue;
    }
}

// The header and the chunks before the pixels; sets libpng's transforms so
// that rows come as 1-byte indices or as 8-bit blue, green, red (and alpha),
// and allocates the rows.
static int read_header(PngRead *r)
{
    png_structp png = r->png;
    PngPicture *pic = r->pic;
    png_set_read_fn(png, r, read_bytes);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, r->info);
    png_uint_32 w, h;
    int depth, type, interlace;
    png_get_IHDR(png, r->info, &w, &h, &depth, &type, &interlace, nullptr, nullptr);
    const uint64_t data_bytes = (uint64_t{w} * png_get_channels(png, r->info) * depth * h + 7) / 8;
    if (data_bytes / kMaxInflation > static_cast<uint64_t>(r->file_size))
        return RK_ERR_CONTENTS;

    pic->width = w;
    pic->height = h;
    if (type == PNG_COLOR_TYPE_PALETTE || (type == PNG_COLOR_TYPE_GRAY && depth <= 8)) {
        pic->index_bits = depth;
        png_set_packing(png);
        build_table(r, type, depth);
    } else {
        // 16-bit samples keep their high byte, as most decoders do.
        if (png_get_valid(png, r->info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(png);
        if (!(type & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(png);
        png_set_strip_16(png);
        png_set_bgr(png);
    }
    r->passes = png_set_interlace_handling(png);
    png_read_update_info(png, r->info);
    pic->bytes = png_get_channels(png, r->info);
    pic->stride = png_get_rowbytes(png, r->info);
    if (pic->stride != uint64_t{w} * pic->bytes || pic->stride * uint64_t{h} > kMaxDecoded)
        return RK_ERR_CONTENTS;
    pic->rows = static_cast<uint8_t *>(std::malloc(pic->stride * h));
    return pic->rows ? RK_OK : RK_ERR_CONTENTS;
}

// Every pass of the rows, then the chunks up to the end: a file cut short
// anywhere fails.
static int read_pixels(PngRead *r)
{
    PngPicture *pic = r->pic;
    for (int pass = 0; pass < r->passes; ++pass)
        for (uint32_t y = 0; y < pic->height; ++y)
            png_read_row(r->png, pic->rows + y * pic->stride, nullptr);
    png_read_end(r->png, nullptr);
    return RK_OK;
}

static void composite_over_white(PngPicture *pic)
{
    for (uint32_t y = 0; y < pic->height; ++y) {
        uint8_t *p = pic->rows + y * pic->stride;
        for (uint32_t x = 0; x < pic->width; ++x, p += 4)
            if (p[3] != 255) {
                for (int c = 0; c < 3; ++c)
                    p[c] = over_white(p[c], p[3]);
                p[3] = 255;
            }
    }
}

int rk_hPngDecode(std::FILE *f, long long file_size, PngPicture *pic)
{
    std::memset(pic, 0, sizeof *pic);
    uint8_t sig[8];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(sig, 1, 8, f) != 8 || std::memcmp(sig, kPngSignature, 8) != 0)
        return RK_ERR_CONTENTS;
    PngRead r{};
    r.f = f;
    r.file_size = file_size;
    r.pic = pic;
    r.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, nullptr, allocate, release);
    if (r.png)
        r.info = png_create_info_struct(r.png);
    int result = r.info ? run_guarded(&r, read_header) : RK_ERR_CONTENTS;
    if (result == RK_OK)
        result = run_guarded(&r, read_pixels);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    if (result != RK_OK)
        rk_hPngFree(pic);
    else if (pic->bytes == 4)
        composite_over_white(pic);
    return result;
}

void rk_hPngFree(PngPicture *pic)
{
    std::free(pic->rows);
    pic->rows = nullptr;
}

void rk_hPngRow(const PngPicture *pic, uint32_t y, uint8_t *dst, int count, int bpp)
{
    const uint8_t *src = pic->rows + y * pic->stride;
    if (pic->index_bits && bpp == 1) {
        rk_image_convert_8to8(src, dst, count);
    } else if (pic->index_bits) {
        // The picture's own colours, whichever palette received its table.
        for (int i = 0; i < count; ++i) {
            const uint32_t c = pic->argb[src[i]];
            if (bpp == 2)
                rk_image_convert_32bgrto16(reinterpret_cast<const uint8_t *>(&c), dst + 2 * i, 1);
            else
                std::memcpy(dst + 4 * i, &c, 4);
        }
    } else if (pic->bytes == 3) {
        (bpp == 2 ? rk_image_convert_24bgrto16 : rk_image_convert_24bgrto32)(src, dst, count);
    } else {
        (bpp == 2 ? rk_image_convert_32bgrto16 : rk_image_convert_32bgrto32)(src, dst, count);
    }
}

// ---- writing -----------------------------------------------------------------

struct PngWrite {
    png_structp png;
    png_infop info;
    std::FILE *f;
    const PngSource *src;
    uint8_t *row;  // a 5-6-5 row widened to red, green, blue
};

static void write_bytes(png_structp png, png_bytep data, std::size_t n)
{
    auto *w = static_cast<PngWrite *>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, n, w->f) != n)
        png_error(png, "write failed");
}

// The stream's close writes what is buffered and reports its failure.
static void flush_nothing(png_structp) {}

static void widen_565(const uint8_t *src, uint8_t *row, uint64_t width)
{
    for (uint64_t x = 0; x < width; ++x, row += 3) {
        const uint32_t c = src[2 * x] | (uint32_t{src[2 * x + 1]} << 8);
        const uint32_t r5 = c >> 11, g6 = (c >> 5) & 63, b5 = c & 31;
        row[0] = static_cast<uint8_t>((r5 << 3) | (r5 >> 2));
        row[1] = static_cast<uint8_t>((g6 << 2) | (g6 >> 4));
        row[2] = static_cast<uint8_t>((b5 << 3) | (b5 >> 2));
    }
}

// Compression level and row filters stay libpng's defaults (zlib level 6,
// filters chosen per row for RGB).
static int write_picture(PngWrite *w)
{
    png_structp png = w->png;
    const PngSource &s = *w->src;
    const bool indexed = s.bpp == 1;
    png_set_write_fn(png, w, write_bytes, flush_nothing);
    png_set_IHDR(png, w->info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height), 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_color plte[256];
        for (int i = 0; i < 256; ++i) {
            const uint32_t v = s.palette[i];
            plte[i].red = static_cast<uint8_t>((v & 0xFF) << s.palette_shift);
            plte[i].green = static_cast<uint8_t>(((v >> 8) & 0xFF) << s.palette_shift);
            plte[i].blue = static_cast<uint8_t>(((v >> 16) & 0xFF) << s.palette_shift);
        }
        png_set_PLTE(png, w->info, plte, 256);
    }
    png_write_info(png, w->info);
    if (s.bpp == 4) {
        // 0xAARRGGBB in memory is blue, green, red, alpha: libpng drops the alpha.
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (uint64_t y = 0; y < s.height; ++y) {
        const uint8_t *p = s.rows + y * s.stride;
        if (s.bpp == 2) {
            widen_565(p, w->row, s.width);
            p = w->row;
        }
        png_write_row(png, p);
    }
    png_write_end(png, nullptr);
    return RK_OK;
}

bool rk_hPngCanWrite(const PngSource &src)
{
    return (src.bpp == 1 || src.bpp == 2 || src.bpp == 4) && src.width >= 1 && src.width <= PNG_USER_WIDTH_MAX &&
           src.height >= 1 && src.height <= PNG_USER_HEIGHT_MAX && src.width * src.bpp <= src.stride;
}

int rk_hPngWrite(std::FILE *f, const PngSource &src)
{
    PngWrite w{};
    w.f = f;
    w.src = &src;
    if (src.bpp == 2 && !(w.row = static_cast<uint8_t *>(std::malloc(3 * src.width))))
        return RK_ERR_CONTENTS;
    w.png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, nullptr, allocate, release);
    if (w.png)
        w.info = png_create_info_struct(w.png);
    const int result = w.info ? run_guarded(&w, write_picture) : RK_ERR_CONTENTS;
    png_destroy_write_struct(&w.png, &w.info);
    std::free(w.row);
    return result;
}
