// PNG files made at test time by tests/image/png_cases.py (Pillow's own
// files and every colour type, bit depth and interlacing), each compared
// with Pillow's decoding; saves read back by Pillow; damaged files.
#include "fuzz/png_driver.h"
#include "gfx/core/screen.h"
#include "image_files.h"
#include "rt/rt.h"

class Png : public ImageFiles {
protected:
    // Runs the case script with `args` (the cases into `dir` without any); what it printed.
    Bytes script(const std::string &args = "")
    {
        const std::string cmd = std::string(MALWERK_PYTHON) + " '" + (source_dir() / "tests/image/png_cases.py").string() +
                                "' " + (args.empty() ? "'" + dir.string() + "'" : args);
        Bytes out;
        std::FILE *p = popen(cmd.c_str(), "r");
        for (int c; p && (c = std::fgetc(p)) != EOF;)
            out.push_back(static_cast<uint8_t>(c));
        EXPECT_TRUE(p && pclose(p) == 0) << cmd;
        return out;
    }
    static uint32_t rgb_at(const Bytes &rgb, int i)
    {
        return 0xFF000000u | (uint32_t{rgb[3 * i]} << 16) | (uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
    }
    // Index i's device palette entry (0x00BBGGRR) as 0xFFRRGGBB.
    static uint32_t device_colour(uint32_t i)
    {
        const uint32_t e = __rk_gfx->device_palette[i];
        return 0xFF000000u | ((e & 0xFF) << 16) | (e & 0xFF00) | ((e >> 16) & 0xFF);
    }
    static uint32_t to565(uint32_t c) { return (((c >> 19) & 31) << 11) | (((c >> 10) & 63) << 5) | ((c >> 3) & 31); }
};

TEST_F(Png, EveryKindLoadsAsPillowDecodesItAtEveryDepth)
{
    script();
    struct Case {
        std::string name;
        int w, h, indexed;
    };
    std::vector<Case> cases;
    std::ifstream manifest(dir / "manifest");
    for (Case c; manifest >> c.name >> c.w >> c.h >> c.indexed;)
        cases.push_back(c);
    ASSERT_GE(cases.size(), 150u);
    for (const int depth : {32, 16, 8}) {
        open(64, 48, depth);
        uint32_t device[256], array[256];
        std::memcpy(device, __rk_gfx->device_palette, sizeof device);
        for (const Case &c : cases) {
            const Bytes rgb = read_file(path(c.name + ".rgb"));
            ASSERT_EQ(rgb.size(), 3u * c.w * c.h) << c.name;
            void *img = rk_GfxImageCreate(c.w, c.h, 0, 0, 0);
            // With an array for the palette the device palette stays; the colours are the picture's own.
            const int result = load(path(c.name + ".png"), img, depth == 16 ? array : nullptr);
            if (depth == 8 && !c.indexed) {
                EXPECT_EQ(result, 1) << c.name;  // true colour has no place in a paletted image
            } else {
                ASSERT_EQ(result, 0) << c.name << " at depth " << depth;
                ASSERT_EQ(depth == 32 ? load(path(c.name + ".png"), nullptr) : 0, 0);  // and onto the screen
                int wrong = 0;
                for (int i = 0; i < c.w * c.h; ++i) {
                    const uint32_t got = px(img, i % c.w, i / c.w), want = rgb_at(rgb, i);
                    const uint32_t *screen = reinterpret_cast<uint32_t *>(__rk_gfx->page[0] + i / c.w * __rk_gfx->pitch);
                    wrong += depth == 32 ? got != want || screen[i % c.w] != want
                             : depth == 16 ? got != to565(want) : device_colour(got) != want;
                }
                EXPECT_EQ(wrong, 0) << c.name << " at depth " << depth;
            }
            rk_GfxImageDestroy(img);
        }
        EXPECT_TRUE(depth != 16 || std::memcmp(device, __rk_gfx->device_palette, sizeof device) == 0);
    }
}

TEST_F(Png, SavesReadBackInPillowAndHere)
{
    const uint32_t user[256] = {0x3F2010, 0x01023F, 0x000A00};
    struct Save {
        const char *name;
        int depth;  // of the screen and the image
        bool screen, with_array;
        const char *mode;  // as Pillow opens the file
    };
    const Save saves[] = {
        {"bild.png", 32, false, false, "RGB"}, {"BILD.PNG", 16, true, false, "RGB"},
        {"s.Png", 8, true, false, "P"},       {"u.pNG", 8, false, true, "P"},
    };
    for (const Save &s : saves) {
        SCOPED_TRACE(s.name);
        open(37, 23, s.depth);
        void *img = rk_GfxImageCreate(37, 23, 0, 0, 0);
        const int bpp = __rk_gfx->bpp;
        uint8_t *rows = s.screen ? __rk_gfx->page[0] : static_cast<uint8_t *>(img) + 32;
        const uint32_t pitch = s.screen ? static_cast<uint32_t>(__rk_gfx->pitch) : static_cast<ImageHeader *>(img)->pitch;
        std::vector<uint32_t> value(37 * 23);
        for (int i = 0; i < 37 * 23; ++i) {
            const uint32_t v = static_cast<uint32_t>(i) * 2654435761u;
            value[i] = bpp == 4 ? v : v & ((1u << 8 * bpp) - 1);
            std::memcpy(rows + (i / 37) * pitch + (i % 37) * bpp, &v, static_cast<std::size_t>(bpp));
        }
        ASSERT_EQ(save(path(s.name), s.screen ? nullptr : img, 0, s.with_array ? user : nullptr), 0);
        const Bytes out = script("--decode '" + path(s.name) + "'");
        const std::string head = std::string(s.mode) + " 37 23\n";
        ASSERT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(std::min(out.size(), head.size()))), head);
        const Bytes rgb(out.begin() + static_cast<long>(head.size()), out.end());
        ASSERT_EQ(rgb.size(), 3u * 37 * 23);
        void *back = rk_GfxImageCreate(37, 23, 0x123456, 0, 0);
        ASSERT_EQ(load(path(s.name), back), 0);
        for (int i = 0; i < 37 * 23; ++i) {
            const uint32_t v = value[i], got = rgb_at(rgb, i), u = user[v & 0xFF];  // 6-bit channels
            if (bpp == 2)
                ASSERT_EQ(to565(got), v) << i;
            else
                ASSERT_EQ(got, bpp == 4        ? v | 0xFF000000u
                               : s.with_array ? 0xFF000000u | ((u & 0xFF) << 18) | ((u & 0xFF00) << 2) | ((u >> 14) & 0x3FC)
                                              : device_colour(v)) << i;
            // And loaded here: the same pixels, opaque.
            ASSERT_EQ(px(back, i % 37, i / 37), bpp == 4 ? v | 0xFF000000u : v) << i;
        }
        rk_GfxImageDestroy(back);
        rk_GfxImageDestroy(img);
    }
    // Only a whole last extension of "png" makes a PNG.
    for (const char *raw : {"pic.png.old", "pic.pngx", "pic.pn"}) {
        ASSERT_EQ(save(path(raw), nullptr, 40), 0);
        EXPECT_EQ(read_file(path(raw))[0], 0xFE) << raw;
    }
}

// Damaged and cut-short files give 3 and change neither the destination,
// the screen nor any palette; so do pictures too large for the file.
TEST_F(Png, DamagedFilesFailAndChangeNothing)
{
    script();
    struct Damage {
        const char *what;
        long at;  // from the file's start; 0 and below: from the first IDAT's deflate data, its end
        uint8_t value;
        bool xor_, fix_crcs;  // the value xor-ed into the byte or put in its place
    };
    const Damage damages[] = {
        {"signature", 1, 1, true, false},
        {"IHDR CRC", 29, 1, true, false},
        {"IDAT without its CRC", 0, 0x10, true, false},
        {"deflate block type 3", 0, 0xFF, false, true},
        {"zlib checksum", -1, 1, true, true},
        {"width beyond 65535", 17, 1, false, true},
        {"65285 wide in a small file", 18, 0xFF, false, true},
        {"bit depth 3", 24, 3, false, true},
        {"colour type 5", 25, 5, false, true},
    };
    open(48, 40, 32);
    for (const char *name : {"pil-RGBA-5x3.png", "own-t3-d4-trns-adam7-5x3.png", "own-t2-d16-trns-5x3.png"}) {
        const Bytes good = read_file(path(name));
        const std::size_t idat = std::string(good.begin(), good.end()).find("IDAT") + 4,
                          idat_end = idat + (good[idat - 6] << 8 | good[idat - 5]);
        std::vector<std::pair<std::string, Bytes>> files;
        for (std::size_t keep = 0; keep < good.size(); ++keep)
            files.emplace_back("cut at " + std::to_string(keep), Bytes(good.begin(), good.begin() + static_cast<long>(keep)));
        for (const Damage &d : damages) {
            Bytes b = good;
            const std::size_t at = d.at > 0 ? static_cast<std::size_t>(d.at) : d.at ? idat_end + d.at : idat + 2;
            b[at] = d.xor_ ? b[at] ^ d.value : d.value;
            files.emplace_back(d.what, d.fix_crcs ? png_driver::with_checksums(b.data(), b.size()) : b);
        }
        for (const auto &[what, bytes] : files) {
            SCOPED_TRACE(std::string(name) + ": " + what);
            const std::string file = write("damaged.png", bytes);
            void *img = rk_GfxImageCreate(3, 2, 0x5A5A5A, 0, 0);
            const Bytes image_before(static_cast<uint8_t *>(img), static_cast<uint8_t *>(img) + 32 + 2 * 16);
            const Bytes screen_before(__rk_gfx->page[0], __rk_gfx->page[0] + 40 * __rk_gfx->pitch);
            uint32_t device[256], array[256] = {};
            std::memcpy(device, __rk_gfx->device_palette, sizeof device);
            EXPECT_EQ(load(file, img, array), 3);
            EXPECT_EQ(rk_ErrorGetNum(), 3);
            EXPECT_EQ(load(file, nullptr), 3);
            EXPECT_EQ(Bytes(static_cast<uint8_t *>(img), static_cast<uint8_t *>(img) + 32 + 2 * 16), image_before);
            EXPECT_EQ(Bytes(__rk_gfx->page[0], __rk_gfx->page[0] + 40 * __rk_gfx->pitch), screen_before);
            EXPECT_EQ(std::memcmp(device, __rk_gfx->device_palette, sizeof device), 0);
            EXPECT_EQ(array[0] | array[255], 0u);
            rk_GfxImageDestroy(img);
        }
    }
    // A picture that cannot be written leaves an existing file alone.
    ImageHeader three_bytes{RK_IMAGE_TYPE, 3, 2, 2, 16, 0, {0, 0}};
    write("keep.png", {1, 2, 3});
    EXPECT_EQ(save(path("keep.png"), &three_bytes), 3);
    EXPECT_EQ(read_file(path("keep.png")), (Bytes{1, 2, 3}));
}
