// Loads one file into every kind of destination the loader knows, each
// placed between guard bytes: shared by the fuzz targets and the regression
// test that replays their corpus. Needs an open screen (fuzz_file opens one).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "gfx/image/bload.h"
#include "rt/str.h"

namespace bload_driver {

inline constexpr std::size_t kGuard = 64;
inline constexpr uint8_t kGuardByte = 0xA5;

// An image buffer of `bytes` bytes (header included) between two guards.
struct Guarded {
    uint8_t *block;
    std::size_t bytes;
    uint8_t *image() const { return block + kGuard; }
    bool intact() const
    {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (block[i] != kGuardByte || block[kGuard + bytes + i] != kGuardByte)
                return false;
        return true;
    }
};

inline Guarded make_guarded(std::size_t bytes)
{
    Guarded g{static_cast<uint8_t *>(std::malloc(bytes + 2 * kGuard)), bytes};
    if (!g.block)
        std::abort();
    std::memset(g.block, kGuardByte, bytes + 2 * kGuard);
    std::memset(g.image(), 0, bytes);
    return g;
}

// A current-form image: 32-byte header, rows padded to 16 bytes.
inline Guarded current_image(int w, int h, int bpp)
{
    const uint32_t pitch = static_cast<uint32_t>((w * bpp + 15) & ~15);
    Guarded g = make_guarded(sizeof(ImageHeader) + static_cast<std::size_t>(pitch) * h);
    const ImageHeader hdr{RK_IMAGE_TYPE, static_cast<uint32_t>(bpp), static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                          pitch, 0, {0, 0}};
    std::memcpy(g.image(), &hdr, sizeof hdr);
    return g;
}

// A compact image: 4-byte header, rows of w x bpp bytes.
inline Guarded compact_image(int w, int h, int bpp)
{
    Guarded g = make_guarded(4 + static_cast<std::size_t>(w) * h * bpp);
    uint8_t *p = g.image();
    p[0] = static_cast<uint8_t>((bpp & 7) | (w << 3));
    p[1] = static_cast<uint8_t>(w >> 5);
    p[2] = static_cast<uint8_t>(h);
    p[3] = static_cast<uint8_t>(h >> 8);
    return g;
}

inline int load(const char *path, void *dest, uint32_t *palette)
{
    return rk_GfxBload(rk_StrAllocTempDesc(path), dest, palette);
}

// Loads `path` into images of the screen's pixel size and of other sizes,
// current and compact, into the screen, with and without a palette array.
// False when any load wrote outside its destination.
inline bool load_every_way(const char *path)
{
    const int screen_bpp = __rk_gfx->bpp;
    Guarded images[] = {
        current_image(20, 22, screen_bpp), current_image(3, 2, screen_bpp), current_image(9, 5, 4),
        current_image(9, 5, 2),            current_image(9, 5, 1),         compact_image(20, 22, screen_bpp),
        compact_image(7, 3, 1),            compact_image(7, 3, 4),
    };
    bool ok = true;
    uint32_t palette[256 + 1];
    palette[256] = 0x5A5A5A5A;
    for (Guarded &g : images) {
        load(path, g.image(), nullptr);
        load(path, g.image(), palette);
        ok = ok && g.intact();
        std::free(g.block);
    }
    load(path, nullptr, nullptr);
    load(path, nullptr, palette);
    return ok && palette[256] == 0x5A5A5A5A;
}

// One step of a fuzz target: `choice` picks the Null screen's depth (8, 16
// or 32 by its remainder of 3, so that every converter runs), the bytes
// become the file, which is loaded every way. Aborts on any fault.
inline void fuzz_file(uint8_t choice, const uint8_t *file, std::size_t size)
{
    static int file_fd = -1, depth;
    static char file_path[64];
    if (file_fd < 0) {
        __rk_gfx_driver_name = "null";
        file_fd = memfd_create("bload_fuzz", 0);
        if (file_fd < 0)
            std::abort();
        std::snprintf(file_path, sizeof file_path, "/proc/self/fd/%d", file_fd);
    }
    const int want = choice % 3 == 0 ? 8 : choice % 3 == 1 ? 16 : 32;
    if (want != depth) {
        if (rk_GfxScreenRes(48, 40, want, 0, 0, 0) != 0)
            std::abort();
        depth = want;
    }
    if (ftruncate(file_fd, 0) != 0 || pwrite(file_fd, file, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    if (!load_every_way(file_path))
        std::abort();
}

}  // namespace bload_driver
