// Test support for the picture-file tests: a Null-driver screen, a private
// temporary directory, and a builder for bitmap files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gfx/image/bload.h"
#include "gfx/image/bsave.h"
#include "rt/str.h"
#include "support/screen_fixture.h"

using Bytes = std::vector<uint8_t>;

inline void put_le(Bytes &b, std::size_t at, uint64_t v, int n)
{
    if (b.size() < at + n)
        b.resize(at + n);
    for (int i = 0; i < n; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t get_le(const Bytes &b, std::size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= uint32_t{b[at + i]} << (8 * i);
    return v;
}

// A bitmap file: file header, info header of `header_size` bytes, then
// `extra` (colour table, masks) and `pixels`. The data offset points right
// after `extra` unless `offset` is given.
struct BmpSpec {
    uint32_t header_size = 40;
    int32_t width = 1, height = 1;
    uint16_t depth = 24;
    uint32_t compression = 0;
    uint32_t colors_used = 0;
    uint32_t masks[4] = {};  // written for header sizes of 108 and more
    Bytes extra;
    Bytes pixels;
    int64_t offset = -1;
};

inline Bytes make_bmp(const BmpSpec &s)
{
    Bytes b;
    put_le(b, 0, 0x4D42, 2);
    const uint32_t data = static_cast<uint32_t>(s.offset >= 0 ? s.offset : 14 + s.header_size + s.extra.size());
    put_le(b, 10, data, 4);
    put_le(b, 14, s.header_size, 4);
    if (s.header_size == 12) {
        put_le(b, 18, static_cast<uint16_t>(s.width), 2);
        put_le(b, 20, static_cast<uint16_t>(s.height), 2);
        put_le(b, 22, 1, 2);
        put_le(b, 24, s.depth, 2);
    } else {
        b.resize(14 + s.header_size);
        put_le(b, 18, static_cast<uint32_t>(s.width), 4);
        put_le(b, 22, static_cast<uint32_t>(s.height), 4);
        put_le(b, 26, 1, 2);
        put_le(b, 28, s.depth, 2);
        if (s.header_size >= 20)
            put_le(b, 30, s.compression, 4);
        if (s.header_size >= 40)
            put_le(b, 46, s.colors_used, 4);
        if (s.header_size >= 108)
            for (int c = 0; c < 4; ++c)
                put_le(b, 54 + 4 * c, s.masks[c], 4);
    }
    b.insert(b.end(), s.extra.begin(), s.extra.end());
    if (b.size() < data)
        b.resize(data);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    put_le(b, 2, b.size(), 4);
    return b;
}

inline Bytes read_file(const std::string &p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// The source tree: as CTest names it, else from this file's own path (which
// a compiler cache may have made relative to the build directory).
inline std::filesystem::path source_dir()
{
    if (const char *dir = std::getenv("MALWERK_SOURCE_DIR"))
        return dir;
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

class ImageFiles : public NullScreen {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        NullScreen::SetUp();
        char tmpl[] = "/tmp/malwerk-image-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        std::filesystem::remove_all(dir);
        NullScreen::TearDown();
    }
    std::string path(const std::string &name) const { return (dir / name).string(); }
    std::string write(const std::string &name, const Bytes &data) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char *>(data.data()),
                                                          static_cast<std::streamsize>(data.size()));
        return path(name);
    }
    static int load(const std::string &p, void *dest, uint32_t *palette = nullptr)
    {
        return rk_GfxBload(rk_StrAllocTempDesc(p.c_str()), dest, palette);
    }
    static int save(const std::string &p, const void *src, uint32_t size = 0, const uint32_t *palette = nullptr)
    {
        return rk_GfxBsave(rk_StrAllocTempDesc(p.c_str()), src, size, palette);
    }
    // Pixel (x, y) of a current-form image of any pixel size.
    static uint32_t px(const void *image, int x, int y)
    {
        auto *h = static_cast<const ImageHeader *>(image);
        const uint8_t *p = static_cast<const uint8_t *>(image) + 32 + y * h->pitch + x * h->bpp;
        uint32_t v = 0;
        std::memcpy(&v, p, h->bpp);
        return v;
    }
};
