// PNG files through libpng: every colour type and bit depth, interlaced or
// not, decoded whole into memory before anything else changes; and the
// writing of screens and image buffers as PNG.
#pragma once
#include <cstdint>
#include <cstdio>

// A PNG file starts with these 8 bytes.
inline constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A decoded picture. Transparent pixels are composited over white: neither
// the screen nor 8- and 16-bit pixels hold an alpha channel, and a 32-bit
// destination gets the same colours, so a picture looks the same whatever it
// is loaded into (the paint program's canvas is a white sheet).
// Palette pictures and grey ones of up to 8 bits are indexed, like the
// colour-table bitmaps: their pixels are indices into `table`.
struct PngPicture {
    uint32_t width, height;
    int index_bits;  // 1 to 8 for an indexed picture, 0 for true colour
    int bytes;       // bytes per stored pixel: 1 (index), 3 (blue, green, red) or 4 (the same and 0xFF)
    uint8_t *rows;   // row y at rows + y * stride
    std::size_t stride;
    uint32_t table[256];  // indexed: 0x00BBGGRR, the device palette's form; entries the file lacks are black
    uint32_t argb[256];   // the same entries as opaque 0xAARRGGBB pixels
};

// Decodes the PNG file `f` (positioned anywhere; `file_size` bytes long).
// Returns 0, or 3 for a damaged or truncated file, a picture larger than
// 65535 pixels a side or 1 GiB decoded or than `file_size` bytes can hold
// compressed, or no memory; then nothing is held.
int rk_hPngDecode(std::FILE *f, long long file_size, PngPicture *pic);
void rk_hPngFree(PngPicture *pic);
// Writes the first `count` pixels of row `y` into `dst` as pixels of `bpp`
// bytes: 1 (the indices, masked as the screen's colour mask says; indexed
// pictures only), 2 (5-6-5) or 4 (0xAARRGGBB, opaque).
void rk_hPngRow(const PngPicture *pic, uint32_t y, uint8_t *dst, int count, int bpp);

// Pixels to write: `bpp` 1 (indices with a 256-entry palette of 0x00BBGGRR
// entries whose channels are shifted left by `palette_shift` bits), 2
// (5-6-5) or 4 (0xAARRGGBB, alpha dropped).
struct PngSource {
    uint64_t width, height;
    const uint8_t *rows;
    uint64_t stride;
    int bpp;
    const uint32_t *palette;
    int palette_shift;
};
// True when `src` can be written: a pixel size above, rows inside their
// stride, and 1 to 1000000 pixels a side (libpng's limit).
bool rk_hPngCanWrite(const PngSource &src);
// Writes `src` to `f` as an 8-bit RGB or palette PNG; 0, or 3 when a write
// fails or memory runs out.
int rk_hPngWrite(std::FILE *f, const PngSource &src);
