// libFuzzer target: arbitrary bytes as a PNG file with right checksums
// (fuzz/png_driver.h), loaded into image buffers of every form and into the
// screen of the Null driver.
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz/bload_driver.h"
#include "fuzz/png_driver.h"
#include "gfx/drivers/driver.h"

static int file_fd = -1;
static char file_path[64];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static int depth;
    if (file_fd < 0) {
        __rk_gfx_driver_name = "null";
        file_fd = memfd_create("png_fuzz", 0);
        if (file_fd < 0)
            std::abort();
        std::snprintf(file_path, sizeof file_path, "/proc/self/fd/%d", file_fd);
    }
    // The last byte picks the screen's depth, so that every conversion runs.
    const int want = size ? (data[size - 1] % 3 == 0 ? 8 : data[size - 1] % 3 == 1 ? 16 : 32) : 32;
    if (want != depth) {
        if (rk_GfxScreenRes(48, 40, want, 0, 0, 0) != 0)
            std::abort();
        depth = want;
    }
    const std::vector<uint8_t> png = png_driver::with_checksums(data, size);
    if (ftruncate(file_fd, 0) != 0 || pwrite(file_fd, png.data(), png.size(), 0) != static_cast<ssize_t>(png.size()))
        std::abort();
    if (!bload_driver::load_every_way(file_path))
        std::abort();
    return 0;
}
