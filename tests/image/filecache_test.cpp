// Small files whose bytes the loader keeps load exactly as files read
// afresh, into every destination, at every screen depth and from several
// threads; a changed file is always read again.
#include <atomic>
#include <chrono>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fuzz/bload_driver.h"
#include "gfx/image/filecache.h"
#include "gfx/image/imagefile.h"
#include "image_files.h"
#include "rt/rt.h"

using FileCache = ImageFiles;
using namespace bload_driver;

// Everything loads of `path` leave behind: results and error numbers, the
// bytes of images of either form and of plain memory, the palettes, the
// screen's page and the drawing target, starting each time from the same
// state. Each load is made twice, the palette and the image's pixels changed
// between: the second load of a kept bitmap into an image copies its kept
// rows.
static Bytes every_way(const std::string &path)
{
    ScreenState *s = __rk_gfx;
    std::memset(s->device_palette, 0x11, 256 * 4);
    std::memset(s->page[0], 0x22, static_cast<std::size_t>(s->h) * s->pitch);
    Guarded dest[] = {current_image(20, 22, s->bpp), current_image(9, 5, 2), current_image(9, 5, 4),
                      current_image(9, 5, 1),        compact_image(20, 22, s->bpp), compact_image(7, 3, 4),
                      make_guarded(8192)};
    uint32_t palette[256] = {};
    Bytes out;
    auto keep = [&out](const void *p, std::size_t n) {
        out.insert(out.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
    };
    // After each load: the target, the palette and the image.
    auto after_load = [&](const Guarded &g) {
        DrawContext *ctx = rk_hGetContext();
        const int t[] = {ctx->view_x, ctx->view_y, ctx->view_w, ctx->view_h, ctx->target_bpp, ctx->target_pitch};
        keep(t, sizeof t);
        keep(s->device_palette, 256 * 4);
        keep(g.image(), g.bytes);
    };
    for (uint32_t *pal : {static_cast<uint32_t *>(nullptr), palette}) {
        for (Guarded &g : dest)
            for (int twice = 0; twice < 2; ++twice) {
                out.push_back(static_cast<uint8_t>(load(path.c_str(), g.image(), pal) * 16 + rk_ErrorGetNum()));
                after_load(g);
                std::memset(s->device_palette, 0x33, 256 * 4);
                uint32_t type;
                std::memcpy(&type, g.image(), 4);
                if (type == RK_IMAGE_TYPE)
                    std::memset(g.image() + sizeof(ImageHeader), 0x44, g.bytes - sizeof(ImageHeader));
            }
        out.push_back(static_cast<uint8_t>(load(path.c_str(), nullptr, pal)));
    }
    for (Guarded &g : dest) {
        keep(g.block, g.bytes + 2 * kGuard);
        std::free(g.block);
    }
    keep(palette, sizeof palette);
    keep(s->device_palette, 256 * 4);
    keep(s->page[0], static_cast<std::size_t>(s->h) * s->pitch);
    return out;
}

TEST_F(FileCache, KeptFilesLoadAsFreshOnesAndChangesAreSeen)
{
    std::mt19937 rng(11);
    auto random_bytes = [&rng](std::size_t n) {
        Bytes b(n);
        for (auto &v : b)
            v = static_cast<uint8_t>(rng());
        return b;
    };
    const Bytes masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};  // 5-6-5
    Bytes raw = random_bytes(605);
    raw[0] = 0xFE, put_le(raw, 1, 600, 4);
    const Bytes icon = make_bmp({.width = 20, .height = 22, .pixels = random_bytes(60 * 22)});
    const Bytes icon2 = make_bmp({.width = 20, .height = 22, .pixels = random_bytes(60 * 22)});
    const std::vector<Bytes> files = {
        icon,
        Bytes(icon.begin(), icon.begin() + 700),  // rows cut short: 3, with the rows read so far
        make_bmp({.width = 9, .height = 5, .depth = 8, .extra = random_bytes(1024), .pixels = random_bytes(60)}),
        make_bmp({.width = 9, .height = -5, .depth = 16, .compression = 3, .extra = masks,
                  .pixels = random_bytes(100)}),
        raw,
    };
    for (std::size_t i = 0; i < files.size(); ++i)
        write("kept" + std::to_string(i), files[i]);
    constexpr int kMany = 40;  // 480 000 bytes
    std::vector<Bytes> many_bytes;
    std::vector<std::string> many;
    for (int i = 0; i < kMany; ++i)
        many.push_back(write("many" + std::to_string(i), many_bytes.emplace_back(random_bytes(12000))));

    // A file rewritten with the same size in the same second is read again.
    open(64, 48, 32);
    const std::string fresh = write("fresh.bmp", files[0]);
    every_way(fresh);
    write("fresh.bmp", icon2);
    EXPECT_EQ(every_way(fresh), every_way(write("other.bmp", icon2)));

    // Files changed this long ago are kept: each load after the first comes
    // from the cache, into destinations of every form and pixel size.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    for (int depth : {32, 16, 8}) {
        open(64, 48, depth);
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(every_way(path("kept" + std::to_string(i))), every_way(write("copy", files[i])))
                << "file " << i << " at depth " << depth;
    }

    // A kept file rewritten in place with the same size, and one replaced by
    // a rename, are read again.
    const std::string kept = write("kept0", icon2);
    EXPECT_EQ(every_way(kept), every_way(write("copy", icon2)));
    const Bytes other8 =
        make_bmp({.width = 9, .height = 5, .depth = 8, .extra = random_bytes(1024), .pixels = random_bytes(60)});
    std::filesystem::rename(write("new", other8), path("kept2"));
    EXPECT_EQ(every_way(path("kept2")), every_way(write("copy", other8)));

    // Several threads reading more settled files than the cache holds:
    // each gets its file's bytes while others add, find and drop files.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int n = 0; n < 10 * kMany; ++n) {
                const int i = (n + 7 * t) % kMany;
                RkString name{many[i].data(), static_cast<int>(many[i].size()), 0, false};
                ImageFileReader r;
                wrong += !rk_hImageFileOpenRead(&name, &r) || std::memcmp(r.bytes, many_bytes[i].data(), 12000) != 0;
                rk_hImageFileClose(&r);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(wrong, 0);
}

// A child made while another thread is inside the cache (nearly all the
// time) finds it free and whole.
TEST_F(FileCache, ChildOfForkFindsTheCacheFree)
{
    struct stat st = {};
    st.st_ino = 4242;
    st.st_mode = S_IFREG | 0644;
    st.st_size = 4;
    st.st_mtim.tv_sec = st.st_ctim.tv_sec = 1000;  // long settled
    rk_hFileCacheOffer(st, "abcd", 4);
    rk_hFileCacheKeep(st, std::malloc(4), 4);
    std::atomic<bool> stop{false};
    std::thread inside([&] {
        auto linger = [](const void *, std::size_t, void *) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            return true;
        };
        while (!stop && rk_hFileCacheUseKept(st, linger, nullptr)) {
        }
    });
    int status = 0;
    for (int i = 0; i < 20 && status == 0; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(2);
            void *copy = rk_hFileCacheCopy(st);
            _exit(copy && std::memcmp(copy, "abcd", 4) == 0 ? 0 : 1);
        }
        if (child < 0 || waitpid(child, &status, 0) != child)
            status = -1;
    }
    stop = true;
    inside.join();
    EXPECT_EQ(status, 0) << "the child hung or found the cache changed";
}
